// Start-up pieces against the test's private registry and folders: the RIFF source
// repair, the ffdshow setting, self-healing registration, folders, codecs.ini and the
// running object table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "converter/engine/graphregistration.h"
#include "converter/engine/startup.h"
#include "media/contract/codepage.h"
#include "media/contract/com.h"
#include "media/contract/comptr.h"
#include "media/contract/folders.h"
#include "media/contract/objidl.h"
#include "media/contract/registry.h"
#include "tests/support/testenv.h"

namespace tav {
namespace {

constexpr const char* kStreamKey = "Media Type\\{E436EB83-524F-11CE-9F53-0020AF0BA770}";
constexpr const char* kAsyncReader = "{E436EBB5-524F-11CE-9F53-0020AF0BA770}";

void SetString(HKEY root, const std::string& key, const char* name, const std::string& value) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyEx(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueEx(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), DWORD(value.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(k);
}

void SetDword(HKEY root, const std::string& key, const char* name, DWORD value) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyEx(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueEx(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value), ERROR_SUCCESS);
  RegCloseKey(k);
}

bool KeyExists(HKEY root, const std::string& key) {
  HKEY k = nullptr;
  if (RegOpenKeyEx(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

bool ReadDword(HKEY root, const std::string& key, const char* name, DWORD* out) {
  HKEY k = nullptr;
  if (RegOpenKeyEx(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  DWORD type = 0, size = sizeof *out;
  const bool ok = RegQueryValueEx(k, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &size) == ERROR_SUCCESS &&
                  type == REG_DWORD;
  RegCloseKey(k);
  return ok;
}

TEST(EngineRepairRiffSourceFilter, RemovesOnlyForeignRiffSources) {
  const std::string base = kStreamKey;
  // A foreign source for RIFF files: removed with its whole key.
  SetString(HKEY_CLASSES_ROOT, base + "\\{11111111-0000-0000-0000-000000000001}", "0", "0,4,,52494646");
  SetString(HKEY_CLASSES_ROOT, base + "\\{11111111-0000-0000-0000-000000000001}", "Source Filter",
            "{DEADBEEF-0000-0000-0000-000000000000}");
  SetString(HKEY_CLASSES_ROOT, base + "\\{11111111-0000-0000-0000-000000000001}\\deeper", "x", "y");
  // The platform's file source: kept, also when written in lower case.
  SetString(HKEY_CLASSES_ROOT, base + "\\{22222222-0000-0000-0000-000000000002}", "0", "0,4,,52494646,8,4,,41564920");
  SetString(HKEY_CLASSES_ROOT, base + "\\{22222222-0000-0000-0000-000000000002}", "Source Filter", kAsyncReader);
  SetString(HKEY_CLASSES_ROOT, base + "\\{33333333-0000-0000-0000-000000000003}", "1", "0,4,,52494646");
  SetString(HKEY_CLASSES_ROOT, base + "\\{33333333-0000-0000-0000-000000000003}", "Source Filter",
            "{e436ebb5-524f-11ce-9f53-0020af0ba770}");
  // Other check bytes with a foreign source: not the RIFF case, kept.
  SetString(HKEY_CLASSES_ROOT, base + "\\{44444444-0000-0000-0000-000000000004}", "0", "0,4,,000001BA");
  SetString(HKEY_CLASSES_ROOT, base + "\\{44444444-0000-0000-0000-000000000004}", "Source Filter",
            "{DEADBEEF-0000-0000-0000-000000000000}");
  // RIFF check bytes without any source value: kept.
  SetString(HKEY_CLASSES_ROOT, base + "\\{55555555-0000-0000-0000-000000000005}", "0", "0,4,,52494646");
  // A foreign source that is no identifier at all: removed.
  SetString(HKEY_CLASSES_ROOT, base + "\\{66666666-0000-0000-0000-000000000006}", "0", "0,4,,52494646");
  SetString(HKEY_CLASSES_ROOT, base + "\\{66666666-0000-0000-0000-000000000006}", "Source Filter", "rubbish");

  RepairRiffSourceFilter();

  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, base + "\\{11111111-0000-0000-0000-000000000001}"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, base + "\\{22222222-0000-0000-0000-000000000002}"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, base + "\\{33333333-0000-0000-0000-000000000003}"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, base + "\\{44444444-0000-0000-0000-000000000004}"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, base + "\\{55555555-0000-0000-0000-000000000005}"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, base + "\\{66666666-0000-0000-0000-000000000006}"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, base));
}

TEST(EngineRepairRiffSourceFilter, MissingKey_ChangesNothing) {
  RepairRiffSourceFilter();
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Media Type"));
}

TEST(EngineTuneFfdshow, SetsTheFlagOnlyWhereKeysExist) {
  TuneFfdshow();
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\GNU"));  // nothing created

  SetDword(HKEY_CURRENT_USER, "Software\\GNU\\ffdshow\\default", "outChangeCompatOnly", 1);
  SetDword(HKEY_CURRENT_USER, "Software\\GNU\\ffdshow\\default", "other", 7);
  TuneFfdshow();
  DWORD v = 99;
  ASSERT_TRUE(ReadDword(HKEY_CURRENT_USER, "Software\\GNU\\ffdshow\\default", "outChangeCompatOnly", &v));
  EXPECT_EQ(v, 0u);
  ASSERT_TRUE(ReadDword(HKEY_CURRENT_USER, "Software\\GNU\\ffdshow\\default", "other", &v));
  EXPECT_EQ(v, 7u);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\GNU\\ffdshow\\high_resolution"));

  SetDword(HKEY_CURRENT_USER, "Software\\GNU\\ffdshow\\high_resolution", "x", 1);
  TuneFfdshow();
  ASSERT_TRUE(ReadDword(HKEY_CURRENT_USER, "Software\\GNU\\ffdshow\\high_resolution", "outChangeCompatOnly", &v));
  EXPECT_EQ(v, 0u);
}

TEST(EngineReregisterCodecs, RegistersLibrariesWhoseClassKeysAreGone) {
  const std::string folder = tavtest::MakeTempSubdir("libs");
  const std::string probe = tavtest::LibraryPath("engine_regprobe");
  ASSERT_TRUE(std::filesystem::exists(probe)) << probe;
  std::filesystem::copy_file(probe, folder + "/libengine_regprobe.so");
  std::filesystem::copy_file(probe, folder + "/libnot_looked_after.so");
  const std::string key = "CLSID\\{C0FFEE00-1234-4321-ABCD-0123456789AB}\\InprocServer32";

  auto done = ReregisterCodecs(folder, {"engine_regprobe"});
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0], folder + "/libengine_regprobe.so");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key));

  // Registered: left alone.
  EXPECT_TRUE(ReregisterCodecs(folder, {"engine_regprobe"}).empty());

  // Lost: registered again.
  ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "CLSID\\{C0FFEE00-1234-4321-ABCD-0123456789AB}"), ERROR_SUCCESS);
  ASSERT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key));
  EXPECT_EQ(ReregisterCodecs(folder, {"engine_regprobe"}).size(), 1u);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, key));

  // The system's own list does not look after a stranger's library.
  ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "CLSID\\{C0FFEE00-1234-4321-ABCD-0123456789AB}"), ERROR_SUCCESS);
  EXPECT_TRUE(ReregisterCodecs(folder).empty());
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key));
  // A folder that does not exist: nothing to do.
  EXPECT_TRUE(ReregisterCodecs(folder + "/none", {"engine_regprobe"}).empty());
}

TEST(EngineStartupFolders, DataFolderUnderApplicationData) {
  const StartupFolders f = ResolveStartupFolders("TavrionConverter.ini");
  EXPECT_EQ(f.programFolder, ProgramFolder());
  EXPECT_FALSE(f.documentsFolder.empty());
  EXPECT_FALSE(f.videosFolder.empty());
  const std::string appData = KnownFolder(CSIDL_APPDATA);
  ASSERT_FALSE(appData.empty());
  const std::string exe = std::filesystem::path(ProgramFileName()).stem().string();
  EXPECT_EQ(f.dataFolder, appData + "/Merolan/" + exe);
  EXPECT_TRUE(std::filesystem::is_directory(f.dataFolder));
  EXPECT_EQ(f.profilePath, f.dataFolder + "/TavrionConverter.ini");
  // The private home of the test process, never the user's.
  EXPECT_EQ(f.dataFolder.rfind(tavtest::TempDir(), 0), 0u) << f.dataFolder;
}

TEST(EngineCodecsIni, Blacklist) {
  const std::string dir = tavtest::MakeTempSubdir("program");
  const std::string avi = "{1B544C20-FD0B-11CE-8C63-00AA0044B51E}";
  EXPECT_TRUE(IsFilterAllowedByIni(dir, avi));  // no file: everything allowed

  std::ofstream(dir + "/codecs.ini") << "[DSBLACKLIST]\n" << avi << "=0\n"
                                     << "1B544C20-FD0B-11CE-8C63-00AA0044B51F=0\n"
                                     << "{AAAAAAAA-0000-0000-0000-000000000000}=5\n";
  EXPECT_FALSE(IsFilterAllowedByIni(dir, avi));
  EXPECT_TRUE(IsFilterAllowedByIni(dir, "{AAAAAAAA-0000-0000-0000-000000000000}"));
  EXPECT_TRUE(IsFilterAllowedByIni(dir, "{CF49D4E0-1115-11CE-B03A-0020AF0BA770}"));  // not listed
  // Without braces the key names no registry text: no effect.
  EXPECT_TRUE(IsFilterAllowedByIni(dir, "{1B544C20-FD0B-11CE-8C63-00AA0044B51F}"));

  std::ofstream(dir + "/codecs.ini") << "[DSBLACKLIST]\n*=1\n" << avi << "=0\n";
  EXPECT_TRUE(IsFilterAllowedByIni(dir, avi));  // "*" switches the list off

  CTavrionConverterApp app;
  app.SetProgramFolder(dir);
  std::ofstream(dir + "/codecs.ini") << "[DSBLACKLIST]\n*=0\n" << avi << "=0\n";
  EXPECT_FALSE(app.IsFilterAllowed(nullptr, avi));
}

// A counted object standing in for a graph.
class FakeGraph : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }
  ULONG Refs() const { return refs_; }

 private:
  std::atomic<ULONG> refs_{1};
};

TEST(EngineGraphRegistration, ItemName) {
  EXPECT_EQ(GraphRegistration::ItemName(reinterpret_cast<void*>(0x1234), 0x42), "FilterGraph 00001234 pid 00000042");
  EXPECT_EQ(GraphRegistration::ItemName(reinterpret_cast<void*>(0x7f00deadbeef), 0x12345678),
            "FilterGraph 7f00deadbeef pid 12345678");
}

TEST(EngineGraphRegistration, RegistersInTheRunningObjectTable) {
  FakeGraph graph;
  GraphRegistration reg;
  EXPECT_EQ(reg.RegisterGraph(nullptr), E_POINTER);
  EXPECT_EQ(reg.RevokeGraph(), E_FAIL);
  ASSERT_EQ(reg.RegisterGraph(&graph), S_OK);
  EXPECT_EQ(reg.RegisterGraph(&graph), S_FALSE);
  EXPECT_GT(graph.Refs(), 1u);  // kept alive by the table

  // The table holds it under "!FilterGraph <pointer> pid <pid>".
  const std::u16string name = u"!" + Utf8ToUtf16(GraphRegistration::ItemName(&graph, DWORD(::getpid())));
  ComPtr<IRunningObjectTable> rot;
  ASSERT_EQ(GetRunningObjectTable(0, &rot), S_OK);
  ComPtr<IMoniker> moniker;
  ASSERT_EQ(CreateItemMoniker(u"!", name.c_str() + 1, &moniker), S_OK);
  EXPECT_EQ(rot->IsRunning(moniker.Get()), S_OK);
  ComPtr<IEnumMoniker> running;
  ASSERT_EQ(rot->EnumRunning(&running), S_OK);
  bool found = false;
  for (;;) {
    ComPtr<IMoniker> m;
    ULONG fetched = 0;
    if (running->Next(1, &m, &fetched) != S_OK || fetched == 0) break;
    LPOLESTR display = nullptr;
    if (SUCCEEDED(m->GetDisplayName(nullptr, nullptr, &display)) && display) {
      found = found || std::u16string(display) == name;
      CoTaskMemFree(display);
    }
  }
  EXPECT_TRUE(found);

  EXPECT_EQ(reg.RevokeGraph(), S_OK);
  EXPECT_EQ(reg.RevokeGraph(), E_FAIL);
  EXPECT_NE(rot->IsRunning(moniker.Get()), S_OK);
  EXPECT_EQ(graph.Refs(), 1u);

  // A registration still held when its holder goes is revoked.
  {
    GraphRegistration scoped;
    ASSERT_EQ(scoped.RegisterGraph(&graph), S_OK);
  }
  EXPECT_EQ(graph.Refs(), 1u);
}

}  // namespace
}  // namespace tav
