#include "converter/engine/startup.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "converter/engine/path.h"
#include "converter/engine/strings.h"
#include "media/contract/com.h"
#include "media/contract/folders.h"
#include "media/contract/mediatypes.h"
#include "media/contract/profile.h"
#include "media/contract/registry.h"

namespace tav {
namespace {

TAV_DEFINE_GUID(kClsidAsyncReader, 0xE436EBB5, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
// "VXCMN Cam Holder Object" of the camera movie writer library.
TAV_DEFINE_GUID(kClsidCamHolder, 0x61E01FDD, 0x8154, 0x41D3, 0xB0, 0x4F, 0xAA, 0x0E, 0x6E, 0x02, 0x3E, 0xE4);

constexpr const char* kRiffCheckBytes = "0,4,,52494646";

// Closes a registry key when it goes out of scope.
class RegKey {
 public:
  RegKey() = default;
  ~RegKey() {
    if (key_) RegCloseKey(key_);
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  HKEY* Out() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

std::vector<std::string> SubkeyNames(HKEY key) {
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    char name[1024];
    DWORD length = sizeof name;
    const LSTATUS rc = RegEnumKeyEx(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) continue;  // a name too long for any key of interest
    names.emplace_back(name, length);
  }
  return names;
}

// A string value (REG_SZ) of key; false when missing or of another type.
bool QueryString(HKEY key, const char* name, std::string* out) {
  DWORD type = 0, size = 0;
  if (RegQueryValueEx(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) return false;
  std::string data(size, '\0');
  if (RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
    return false;
  data.resize(std::min<size_t>(size, data.size()));
  while (!data.empty() && data.back() == '\0') data.pop_back();
  *out = std::move(data);
  return true;
}

// True when some string value of key holds the RIFF check bytes.
bool HasRiffCheckBytes(HKEY key) {
  for (DWORD i = 0;; ++i) {
    char name[1024];
    DWORD nameLength = sizeof name;
    DWORD type = 0;
    std::string data(512, '\0');
    DWORD size = DWORD(data.size());
    LSTATUS rc = RegEnumValue(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    if (rc == ERROR_MORE_DATA) {
      data.assign(size, '\0');
      nameLength = sizeof name;
      rc = RegEnumValue(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    }
    if (rc == ERROR_NO_MORE_ITEMS) return false;
    if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
    data.resize(std::min<size_t>(size, data.size()));
    if (data.find(kRiffCheckBytes) != std::string::npos) return true;
  }
}

std::string NormalisedStem(std::string fileName) {
  if (fileName.rfind("lib", 0) == 0) fileName.erase(0, 3);
  if (const size_t dot = fileName.find(".so"); dot != std::string::npos) fileName.erase(dot);
  std::string out;
  for (char c : ToLowerAscii(fileName))
    if (c != '_' && c != '-') out += c;
  return out;
}

bool IsLookedAfter(const std::string& stem, const std::vector<std::string>& names) {
  if (names.empty()) {
    static const char* const kSystem[] = {"captionparser", "vxvideokit",  "captionpainter",
                                          "vxcamwriter",   "qvfreader",   "subtypeshim"};
    for (const char* name : kSystem)
      if (stem == name) return true;
    return stem.size() > 7 && stem.compare(stem.size() - 7, 7, "filters") == 0;
  }
  for (const std::string& name : names)
    if (stem == NormalisedStem(name)) return true;
  return false;
}

std::string Canonical(const std::string& path) {
  std::error_code ec;
  const auto p = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : p.string();
}

// Library files named by the class keys of the classes root.
std::set<std::string> RegisteredServers() {
  std::set<std::string> servers, named;
  RegKey clsid;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, clsid.Out()) != ERROR_SUCCESS) return servers;
  for (const std::string& name : SubkeyNames(clsid.Get())) {
    RegKey server;
    if (RegOpenKeyEx(clsid.Get(), (name + "\\InprocServer32").c_str(), 0, KEY_READ, server.Out()) != ERROR_SUCCESS)
      continue;
    std::string path;
    if (QueryString(server.Get(), "", &path) && !path.empty()) named.insert(std::move(path));
  }
  // Most classes share a few libraries: each name is resolved once.
  for (const std::string& path : named) servers.insert(Canonical(path));
  return servers;
}

// Loads a library, calls its DllRegisterServer when it has one (and, when requireServer,
// only when it is a component server), and unloads it. True when registration ran.
bool CallRegisterServer(const std::string& path, bool requireServer) {
  HMODULE module = LoadLibrary(path.c_str());
  if (!module) return false;
  bool ran = false;
  auto registerServer = reinterpret_cast<PFN_DllRegisterServer>(GetProcAddress(module, "DllRegisterServer"));
  if (registerServer && (!requireServer || GetProcAddress(module, "DllGetClassObject"))) {
    registerServer();  // result ignored, as every repair step
    ran = true;
  }
  FreeLibrary(module);
  return ran;
}

// Starts a program without waiting for it (a grandchild, so nothing is left to reap).
void StartDetached(const std::string& program) {
  const pid_t child = ::fork();
  if (child < 0) return;
  if (child == 0) {
    if (::fork() == 0) {
      ::setsid();
      ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    }
    ::_exit(0);
  }
  int status;
  ::waitpid(child, &status, 0);
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string RegistryProblem() {
  const std::string dir = RegistryDirectory();
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) return "the registry folder " + dir + " cannot be made: " + ec.message();
  if (::access(dir.c_str(), W_OK | X_OK) != 0)
    return "the registry folder " + dir + " cannot be written: " + std::strerror(errno);
  return std::string();
}

void RepairRiffSourceFilter() {
  RegKey streams;
  const std::string path = "Media Type\\" + GuidToString(MEDIATYPE_Stream);
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_ALL_ACCESS, streams.Out()) != ERROR_SUCCESS) return;
  for (const std::string& subtype : SubkeyNames(streams.Get())) {
    bool foreign = false;
    {
      RegKey key;
      if (RegOpenKeyEx(streams.Get(), subtype.c_str(), 0, KEY_ALL_ACCESS, key.Out()) != ERROR_SUCCESS) continue;
      std::string source;
      if (HasRiffCheckBytes(key.Get()) && QueryString(key.Get(), "Source Filter", &source)) {
        // Compared as identifiers: the same class in lower case is no stranger.
        GUID clsid;
        foreign = !GuidFromString(source, &clsid) || clsid != kClsidAsyncReader;
      }
    }
    if (foreign) RegDeleteTree(streams.Get(), subtype.c_str());
  }
}

void TuneFfdshow() {
  RegKey ffdshow;
  if (RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\GNU\\ffdshow", 0, KEY_READ | KEY_WRITE, ffdshow.Out()) !=
      ERROR_SUCCESS)
    return;
  for (const char* name : {"default", "high_resolution"}) {
    RegKey key;
    if (RegOpenKeyEx(ffdshow.Get(), name, 0, KEY_READ | KEY_WRITE, key.Out()) != ERROR_SUCCESS) continue;
    const DWORD zero = 0;
    RegSetValueEx(key.Get(), "outChangeCompatOnly", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof zero);
  }
}

// The component libraries of libraryFolder (the program's "../lib" when empty) that
// libraryNames looks after, by their canonical paths, sorted.
std::vector<std::string> ComponentLibraries(const std::string& libraryFolder,
                                            const std::vector<std::string>& libraryNames) {
  const std::string folder = Canonical(libraryFolder.empty() ? ProgramFolder() + "/../lib" : libraryFolder);
  std::error_code ec;
  std::vector<std::string> found;
  for (const auto& item : std::filesystem::directory_iterator(folder, ec)) {
    if (!item.is_regular_file(ec)) continue;
    const std::string file = item.path().filename().string();
    if (file.size() < 4 || file.compare(file.size() - 3, 3, ".so") != 0) continue;
    if (IsLookedAfter(NormalisedStem(file), libraryNames)) found.push_back(Canonical(item.path().string()));
  }
  std::sort(found.begin(), found.end());
  return found;
}

int PreloadComponentLibraries(const std::string& libraryFolder, const std::vector<std::string>& libraryNames) {
  int loaded = 0;
  for (const std::string& path : ComponentLibraries(libraryFolder, libraryNames)) {
    // Loaded as the class store loads a server, so that its own load later finds this one.
    // The handle is kept on purpose: the library stays for the life of the process.
    if (dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) ++loaded;
  }
  return loaded;
}

std::vector<std::string> ReregisterCodecs(const std::string& libraryFolder,
                                          const std::vector<std::string>& libraryNames) {
  std::vector<std::string> registered;

  // The platform's own tools and codec libraries, when this system has them.
  const std::string system = KnownFolder(CSIDL_SYSTEM);
  if (!system.empty()) {
    const std::string tool = system + "/dxdllreg.exe";
    if (IsExecutableFile(tool)) StartDetached(tool);
    for (const char* name : {"l3codecx.ax", "quartz.dll", "mpg4ds32.ax"}) {
      const std::string path = system + "/" + name;
      struct stat st;
      if (::stat(path.c_str(), &st) == 0 && CallRegisterServer(path, false)) registered.push_back(path);
    }
  }

  // The system's component libraries: register again any whose class keys are gone.
  const std::vector<std::string> candidates = ComponentLibraries(libraryFolder, libraryNames);
  if (candidates.empty()) return registered;
  const std::set<std::string> servers = RegisteredServers();
  for (const std::string& path : candidates)
    if (!servers.count(path) && CallRegisterServer(path, true)) registered.push_back(path);
  return registered;
}

StartupFolders ResolveStartupFolders(const std::string& profileName) {
  StartupFolders f;
  f.programFolder = ProgramFolder();
  while (f.programFolder.size() > 1 && f.programFolder.back() == '/') f.programFolder.pop_back();
  f.documentsFolder = KnownFolder(CSIDL_PERSONAL);
  if (f.documentsFolder.empty()) f.documentsFolder = f.programFolder;
  f.videosFolder = KnownFolder(CSIDL_MYVIDEO);
  if (f.videosFolder.empty()) f.videosFolder = f.documentsFolder;
  f.dataFolder = KnownFolder(CSIDL_APPDATA);
  if (!f.dataFolder.empty()) {
    f.dataFolder += "/" + res::Text(res::IDS_COMPANY_FOLDER) + "/" + CPath(ProgramFileName()).Title();
    CreateFolderPath(f.dataFolder);
  } else {
    f.dataFolder = f.programFolder;
  }
  f.profilePath = f.dataFolder + "/" + profileName;
  return f;
}

bool IsFilterAllowedByIni(const std::string& programFolder, const std::string& clsidText) {
  const std::string file = programFolder + "/codecs.ini";
  if (GetPrivateProfileInt("DSBLACKLIST", "*", 0, file.c_str()) != 0) return true;
  return GetPrivateProfileInt("DSBLACKLIST", clsidText.c_str(), 1, file.c_str()) != 0;
}

// ---- the application object's engine half ---------------------------------------------

CTavrionConverterApp::CTavrionConverterApp() { folders_.programFolder = ProgramFolder(); }

CTavrionConverterApp::~CTavrionConverterApp() { exporterHolder_ = nullptr; }

void CTavrionConverterApp::InitEnvironment(const std::string& profileName) {
  res::LoadSatelliteStrings(ProgramFileName(), res::MessageLocale());
  RepairRiffSourceFilter();
  TuneFfdshow();
  ReregisterCodecs();
  const std::string programFolder = folders_.programFolder;
  folders_ = ResolveStartupFolders(profileName);
  if (!programFolder.empty()) folders_.programFolder = programFolder;
  // No call is made on the holder: it only keeps the exporter library loaded.
  CoCreateInstance(kClsidCamHolder, nullptr, CLSCTX_ALL, IID_IUnknown, exporterHolder_.AsVoidOut());
}

void CTavrionConverterApp::ExitEnvironment() { exporterHolder_ = nullptr; }

bool CTavrionConverterApp::IsFilterAllowed(void*, const std::string& clsidText) {
  return IsFilterAllowedByIni(folders_.programFolder, clsidText);
}

}  // namespace tav
