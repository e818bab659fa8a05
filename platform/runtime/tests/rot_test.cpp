// The running object table: registration the way a graph registers itself, item monikers,
// and listing a process's entries from outside it (rotlist). The objects registered are
// released by hand: their counts are part of what the tests check.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "media/contract/codepage.h"
#include "media/contract/comptr.h"
#include "media/contract/objidl.h"
#include "tests/support/testenv.h"

namespace {

namespace fs = std::filesystem;

constexpr HRESULT kAlreadyRegistered = TAV_HR(0x000401E7);

// A plain object that counts its references.
class Counted : public IUnknown {
 public:
  explicit Counted(std::function<void()> onDestroy = {}) : onDestroy_(std::move(onDestroy)) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid != IID_IUnknown) return E_NOINTERFACE;
    *ppv = this;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG r = --refs;
    if (r == 0) {
      if (onDestroy_) onDestroy_();
      delete this;
    }
    return r;
  }
  std::atomic<ULONG> refs{1};

 private:
  virtual ~Counted() = default;
  std::function<void()> onDestroy_;
};

// The item name a graph uses: "FilterGraph %08x pid %08x".
std::u16string GraphItem(unsigned id) {
  char buf[64];
  snprintf(buf, sizeof buf, "FilterGraph %08x pid %08x", id, unsigned(getpid()));
  return tav::Utf8ToUtf16(buf);
}

ComPtr<IMoniker> Item(const std::u16string& item) {
  ComPtr<IMoniker> m;
  EXPECT_EQ(CreateItemMoniker(u"!", item.c_str(), m.ReleaseAndGetAddressOf()), S_OK);
  return m;
}

ComPtr<IRunningObjectTable> Rot() {
  ComPtr<IRunningObjectTable> rot;
  EXPECT_EQ(GetRunningObjectTable(0, rot.ReleaseAndGetAddressOf()), S_OK);
  return rot;
}

std::string Rotlist(const std::string& args, int* status = nullptr) {
  return tavtest::Capture("'" + tavtest::ProgramPath("rotlist") + "' " + args, status);
}

std::string PublishedFile(pid_t pid) {
  return std::string(std::getenv("XDG_RUNTIME_DIR")) + "/tavrion-rot/" + std::to_string(pid);
}

TEST(RuntimeRot, RegisterKeepsAReferenceUntilRevoked) {
  auto rot = Rot();
  ASSERT_TRUE(rot);
  auto* obj = new Counted;
  auto name = Item(GraphItem(0x1234));
  DWORD cookie = 0;
  ASSERT_EQ(rot->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, obj, name.Get(), &cookie), S_OK);
  EXPECT_NE(cookie, 0u);
  EXPECT_EQ(obj->refs.load(), 2u);

  // Lookups go by name, not by moniker object.
  auto same = Item(GraphItem(0x1234));
  EXPECT_EQ(rot->IsRunning(same.Get()), S_OK);
  ComPtr<IUnknown> found;
  ASSERT_EQ(rot->GetObject(same.Get(), found.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(found.Get(), obj);
  found = nullptr;

  // A second registration under the same name is kept, and says so.
  DWORD second = 0;
  EXPECT_EQ(rot->Register(0, obj, same.Get(), &second), kAlreadyRegistered);
  EXPECT_NE(second, cookie);
  EXPECT_EQ(rot->Revoke(second), S_OK);

  EXPECT_EQ(rot->Revoke(cookie), S_OK);
  EXPECT_EQ(obj->refs.load(), 1u);
  EXPECT_EQ(rot->Revoke(cookie), E_INVALIDARG);
  EXPECT_EQ(rot->IsRunning(name.Get()), S_FALSE);
  EXPECT_EQ(rot->GetObject(name.Get(), found.ReleaseAndGetAddressOf()), MK_E_UNAVAILABLE);
  EXPECT_EQ(rot->Register(0, nullptr, name.Get(), &cookie), E_INVALIDARG);
  EXPECT_EQ(rot->Register(0, obj, name.Get(), nullptr), E_POINTER);
  obj->Release();
}

TEST(RuntimeRot, EnumRunningListsTheRegisteredNames) {
  auto rot = Rot();
  auto* obj = new Counted;
  DWORD a = 0, b = 0;
  rot->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, obj, Item(u"first").Get(), &a);
  rot->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, obj, Item(u"second").Get(), &b);
  ComPtr<IEnumMoniker> en;
  ASSERT_EQ(rot->EnumRunning(en.ReleaseAndGetAddressOf()), S_OK);
  std::vector<std::u16string> names;
  IMoniker* m = nullptr;
  ULONG fetched = 0;
  while (en->Next(1, &m, &fetched) == S_OK) {
    LPOLESTR name = nullptr;
    ASSERT_EQ(m->GetDisplayName(nullptr, nullptr, &name), S_OK);
    names.emplace_back(name);
    CoTaskMemFree(name);
    m->Release();
  }
  EXPECT_EQ(names, (std::vector<std::u16string>{u"!first", u"!second"}));
  EXPECT_EQ(en->Reset(), S_OK);
  EXPECT_EQ(en->Skip(5), S_FALSE);
  rot->Revoke(a);
  rot->Revoke(b);
  obj->Release();
}

TEST(RuntimeRot, ItemMonikerNamesComparesAndBindsThroughTheTable) {
  auto m = Item(GraphItem(0xABCDEF01));
  LPOLESTR name = nullptr;
  ASSERT_EQ(m->GetDisplayName(nullptr, nullptr, &name), S_OK);
  EXPECT_EQ(tav::Utf16ToUtf8(name), "!FilterGraph abcdef01 pid " + [] {
    char b[16];
    snprintf(b, sizeof b, "%08x", unsigned(getpid()));
    return std::string(b);
  }());
  CoTaskMemFree(name);
  EXPECT_EQ(m->IsEqual(Item(GraphItem(0xABCDEF01)).Get()), S_OK);
  EXPECT_EQ(m->IsEqual(Item(GraphItem(0xABCDEF02)).Get()), S_FALSE);
  CLSID clsid{};
  EXPECT_EQ(m->GetClassID(&clsid), S_OK);
  EXPECT_NE(clsid, GUID_NULL);

  ComPtr<IBindCtx> bc;
  ASSERT_EQ(CreateBindCtx(0, bc.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<IUnknown> bound;
  EXPECT_EQ(m->BindToObject(bc.Get(), nullptr, IID_IUnknown, reinterpret_cast<void**>(bound.ReleaseAndGetAddressOf())),
            MK_E_NOOBJECT);
  auto* obj = new Counted;
  DWORD cookie = 0;
  auto rot = Rot();
  rot->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, obj, m.Get(), &cookie);
  ASSERT_EQ(m->BindToObject(bc.Get(), nullptr, IID_IUnknown, reinterpret_cast<void**>(bound.ReleaseAndGetAddressOf())),
            S_OK);
  EXPECT_EQ(bound.Get(), obj);
  bound = nullptr;

  // The bind context holds what is registered with it until released.
  EXPECT_EQ(bc->RegisterObjectBound(obj), S_OK);
  EXPECT_EQ(obj->refs.load(), 3u);
  EXPECT_EQ(bc->ReleaseBoundObjects(), S_OK);
  EXPECT_EQ(obj->refs.load(), 2u);
  rot->Revoke(cookie);
  obj->Release();
}

TEST(RuntimeRot, ObjectReleasedByRevokeMayCallBackIntoTheTable) {
  auto rot = Rot();
  DWORD other = 0;
  auto* keeper = new Counted;
  rot->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, keeper, Item(u"other").Get(), &other);
  keeper->Release();
  // Like a graph whose destructor revokes its own registration.
  auto* obj = new Counted([&] { EXPECT_EQ(rot->Revoke(other), S_OK); });
  DWORD cookie = 0;
  rot->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, obj, Item(u"self").Get(), &cookie);
  obj->Release();
  EXPECT_EQ(rot->Revoke(cookie), S_OK);  // destroys obj, which revokes "other"
  EXPECT_EQ(rot->IsRunning(Item(u"other").Get()), S_FALSE);
}

TEST(RuntimeRotListing, RotlistShowsThisProcessesEntriesUntilRevoked) {
  auto rot = Rot();
  auto* obj = new Counted;
  DWORD cookie = 0;
  const std::u16string item = GraphItem(0x00C0FFEE);
  ASSERT_EQ(rot->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, obj, Item(item).Get(), &cookie), S_OK);
  const std::string pid = std::to_string(getpid());
  int status = -1;
  const std::string all = Rotlist("", &status);
  EXPECT_EQ(status, 0);
  const std::string program = fs::path(fs::read_symlink("/proc/self/exe")).filename().string();
  EXPECT_NE(all.find(pid + "\t" + program + "\t!" + tav::Utf16ToUtf8(item) + "\n"), std::string::npos) << all;
  EXPECT_EQ(Rotlist(pid, &status), all);
  EXPECT_EQ(status, 0);

  rot->Revoke(cookie);
  obj->Release();
  EXPECT_EQ(Rotlist(pid, &status), "");
  EXPECT_NE(status, 0);
  EXPECT_FALSE(fs::exists(PublishedFile(getpid())));
}

TEST(RuntimeRotListing, StaleFilesAreIgnoredAndCleanedUp) {
  const std::string folder = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/tavrion-rot";
  fs::create_directories(folder);
  // A pid above any kernel's pid_max, and init with a start time that is not its own.
  const std::string dead = folder + "/4194999";
  std::ofstream(dead) << "tavrion-rot 1\npid 4194999\nstart 1\nexe /bin/x\nname !FilterGraph dead\n";
  const std::string reused = folder + "/1";
  std::ofstream(reused) << "tavrion-rot 1\npid 1\nstart 999999999999\nexe /bin/x\nname !FilterGraph reused\n";
  std::ofstream(folder + "/junk") << "not a table";
  std::ofstream(folder + "/77") << "something else entirely";
  int status = -1;
  const std::string out = Rotlist("", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out.find("dead"), std::string::npos) << out;
  EXPECT_EQ(out.find("reused"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_EQ(Rotlist("not-a-pid", &status), "");
  EXPECT_EQ(status, 2);
}

TEST(RuntimeRotListing, EntriesOfAProcessThatEndedDisappear) {
  // The child registers, lists itself through rotlist, and exits without revoking.
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  int status = -1;
  const std::string out = tavtest::Capture("TAVTEST_ROT_CHILD=1 '" + self +
                                               "' --gtest_filter=RuntimeRotChild.* --gtest_also_run_disabled_tests",
                                           &status);
  EXPECT_EQ(status, 0) << out;
  const size_t at = out.find("child pid ");
  ASSERT_NE(at, std::string::npos) << out;
  const std::string childPid = out.substr(at + 10, out.find('\n', at) - at - 10);
  EXPECT_NE(out.find(childPid + "\t"), std::string::npos) << "the child did not see itself listed:\n" << out;
  EXPECT_EQ(Rotlist(childPid, &status), "");
  EXPECT_FALSE(fs::exists(PublishedFile(pid_t(std::stoi(childPid)))));
}

TEST(RuntimeRotChild, DISABLED_RegistersListsItselfAndExits) {
  if (!std::getenv("TAVTEST_ROT_CHILD")) GTEST_SKIP() << "runs only as the child of EntriesOfAProcessThatEndedDisappear";
  auto rot = Rot();
  DWORD cookie = 0;
  auto* obj = new Counted;
  ASSERT_EQ(rot->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, obj, Item(GraphItem(7)).Get(), &cookie), S_OK);
  obj->Release();
  printf("child pid %d\n%s", int(getpid()), Rotlist(std::to_string(getpid())).c_str());
  fflush(stdout);
}

TEST(RuntimeRotListing, ConcurrentRegistrationsKeepThePublishedFileWhole) {
  auto rot = Rot();
  std::atomic<bool> stop{false};
  std::atomic<int> damaged{0};
  const std::string file = PublishedFile(getpid());
  std::thread reader([&] {
    while (!stop) {
      std::ifstream in(file);
      std::string first;
      if (in && std::getline(in, first) && first != "tavrion-rot 1") damaged++;
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t)
    writers.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        auto* obj = new Counted;
        DWORD cookie = 0;
        rot->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, obj, Item(GraphItem(unsigned(t * 1000 + i))).Get(), &cookie);
        obj->Release();
        rot->Revoke(cookie);
      }
    });
  for (auto& w : writers) w.join();
  stop = true;
  reader.join();
  EXPECT_EQ(damaged.load(), 0);
  EXPECT_FALSE(fs::exists(file));  // the last revoke removed it
  ComPtr<IEnumMoniker> en;
  rot->EnumRunning(en.ReleaseAndGetAddressOf());
  IMoniker* m = nullptr;
  EXPECT_EQ(en->Next(1, &m, nullptr), S_FALSE);
}

}  // namespace
