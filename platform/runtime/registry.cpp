// The registry store: the Reg* calls over two text hives (machine: classes root and local
// machine; user: current user).
//
// Each process keeps a copy of every hive it has touched and re-reads a hive when the file
// changed (identity, size or time). Changes are applied to the copy at once and kept in a
// journal until they are written: writing takes an exclusive lock on "<hive>.lock", re-reads
// the file if another process replaced it, replays the journal on top, writes a temporary
// file, flushes it and renames it over the hive. So concurrent writers lose nothing and a
// writer killed at any point leaves either the old or the new file, never a torn one.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "media/contract/registry.h"
#include "media/contract/trace.h"
#include "platform/runtime/registry_hive.h"

TAV_TRACE_SOURCE(kRegistry, nullptr);

using tav::reg::Change;
using tav::reg::Key;
using tav::reg::Value;

namespace {

constexpr size_t kMaxKeyNameChars = 255;
constexpr size_t kMaxPendingChanges = 20000;
constexpr auto kMaxPendingAge = std::chrono::seconds(1);

std::string JoinPath(const std::vector<std::string>& path) {
  std::string out;
  for (const std::string& part : path) {
    if (!out.empty()) out += '\\';
    out += part;
  }
  return out;
}

const char* ChangeName(Change::Kind kind) {
  switch (kind) {
    case Change::Kind::CreateKey: return "create";
    case Change::Kind::SetValue: return "set";
    case Change::Kind::DeleteValue: return "delete value";
    case Change::Kind::DeleteKey: return "delete key";
    case Change::Kind::DeleteTree: return "delete tree";
    case Change::Kind::ClearKey: return "clear";
  }
  return "?";
}

struct FileStamp {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  int64_t mtimeNs = 0;
  int64_t ctimeNs = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const struct stat& st) {
  FileStamp s;
  s.exists = true;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  s.ctimeNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return s;
}

enum HiveId { kMachineHive = 0, kUserHive = 1, kHiveCount = 2 };

struct Hive {
  std::string path;                   // the hive file
  std::vector<std::string> rootNames;  // top-level keys this hive holds
  Key root;                           // file contents plus the journal
  FileStamp loaded;                   // the file 'root' was read from
  bool loadedValid = false;           // false: read the file on next access
  bool loadedCorrupt = false;         // the loaded file could not be parsed
  std::vector<Change> journal;        // changes not yet written
  std::chrono::steady_clock::time_point firstChange;
  int openHandles = 0;                // handles (not predefined roots) into this hive
};

struct OpenKey {
  HiveId hive;
  std::vector<std::string> path;  // from the hive root
};

class Registry {
 public:
  // Guards everything: configuration, the hives' cached trees and journals, and the
  // handle table. Registry calls are short, and writing a hive (under this lock) takes
  // well under a millisecond for hives of ordinary size.
  std::mutex mutex;

  void ConfigureLocked();
  void RefreshLocked(Hive& h);
  LSTATUS FlushLocked(Hive& h);
  LSTATUS MaybeFlushLocked(Hive& h);
  LSTATUS FlushAllLocked();
  LSTATUS LookupLocked(HKEY key, HiveId* hive, std::vector<std::string>* path);
  HKEY NewHandleLocked(HiveId hive, std::vector<std::string> path);
  LSTATUS CloseHandleLocked(HKEY key);
  // Records a change (applied to the tree already by the caller) and writes when due.
  LSTATUS RecordLocked(HiveId hive, Change change);
  Hive& HiveLocked(HiveId id) {
    ConfigureLocked();
    return hives_[id];
  }
  void ResetLocked();
  const std::string& DirectoryLocked() {
    ConfigureLocked();
    return dir_;
  }
  void BeginBatchLocked() { ++batchDepth_; }
  LSTATUS EndBatchLocked() {
    if (batchDepth_ > 0 && --batchDepth_ == 0) return FlushAllLocked();
    return ERROR_SUCCESS;
  }

 private:
  bool configured_ = false;
  std::string dir_;
  Hive hives_[kHiveCount];
  std::unordered_map<uintptr_t, OpenKey> handles_;
  uintptr_t nextHandle_ = 0x1000;
  int batchDepth_ = 0;
  std::set<std::string> reported_;  // problems already told on stderr
};

Registry& Reg() {
  // Never destroyed: component libraries may still use the registry from their own
  // destructors at exit. ExitFlusher writes what is pending.
  static Registry* registry = new Registry;
  return *registry;
}

struct ExitFlusher {
  ~ExitFlusher() {
    Registry& r = Reg();
    std::lock_guard lock(r.mutex);
    r.FlushAllLocked();
  }
} exitFlusher;

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return (v && *v) ? std::string(v) : fallback;
}

void Registry::ConfigureLocked() {
  if (configured_) return;
  configured_ = true;
  const std::string home = EnvOr("HOME", "/tmp");
  std::string machineDir, userDir;
  if (const char* dir = std::getenv("TAVRION_REGISTRY_DIR"); dir && *dir) {
    machineDir = userDir = dir;
  } else {
    machineDir = EnvOr("XDG_DATA_HOME", home + "/.local/share") + "/tavrion";
    userDir = EnvOr("XDG_CONFIG_HOME", home + "/.config") + "/tavrion";
  }
  dir_ = machineDir;
  hives_[kMachineHive].path = machineDir + "/machine.reg";
  hives_[kMachineHive].rootNames = {"HKEY_CLASSES_ROOT", "HKEY_LOCAL_MACHINE"};
  hives_[kUserHive].path = userDir + "/user.reg";
  hives_[kUserHive].rootNames = {"HKEY_CURRENT_USER"};
}

void Registry::ResetLocked() {
  for (Hive& h : hives_) {
    h.loadedValid = false;
    h.root = Key{};
  }
  configured_ = false;
}

bool ReadAll(int fd, std::string* out) {
  out->clear();
  char buf[65536];
  while (true) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out->append(buf, static_cast<size_t>(n));
  }
}

void Registry::RefreshLocked(Hive& h) {
  // Every call asks this, so the usual answer (unchanged) costs one stat, not an open, a
  // fstat and a close; the stamp that counts is still the one of the file actually read.
  if (h.loadedValid) {
    struct stat st;
    if (stat(h.path.c_str(), &st) == 0) {
      if (StampOf(st) == h.loaded) return;
    } else if ((errno == ENOENT || errno == ENOTDIR) && !h.loaded.exists) {
      return;
    }
  }
  FileStamp stamp;
  std::string text;
  bool readable = true;
  const int fd = open(h.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    struct stat st;
    if (fstat(fd, &st) == 0) stamp = StampOf(st);
    if (h.loadedValid && stamp == h.loaded) {
      close(fd);
      return;
    }
    readable = ReadAll(fd, &text);
    close(fd);
  } else {
    if (errno != ENOENT && errno != ENOTDIR) readable = false;
    if (readable && h.loadedValid && !h.loaded.exists) return;
  }

  std::string error;
  h.loadedCorrupt = false;
  if (!readable) {
    error = std::string("cannot read: ") + std::strerror(errno);
    h.root = Key{};
  } else if (!tav::reg::Parse(text, &h.root, &error)) {
    h.loadedCorrupt = true;
  } else {
    error.clear();
  }
  if (!error.empty()) {
    const std::string what = h.path + '\n' + std::to_string(stamp.ino) + ':' + std::to_string(stamp.mtimeNs);
    if (reported_.insert(what).second) {
      std::fprintf(stderr,
                   "tavrion registry: %s is damaged (%s); it is treated as empty and will be kept "
                   "beside the hive as %s.corrupt-<time> when the hive is next written\n",
                   h.path.c_str(), error.c_str(), h.path.c_str());
    }
  }
  for (const std::string& name : h.rootNames) h.root.AddChild(name);
  for (const Change& c : h.journal) tav::reg::Apply(h.root, c);
  h.loaded = stamp;
  h.loadedValid = true;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

LSTATUS Registry::FlushLocked(Hive& h) {
  if (h.journal.empty()) return ERROR_SUCCESS;
  const std::filesystem::path hivePath(h.path);
  std::error_code ec;
  std::filesystem::create_directories(hivePath.parent_path(), ec);

  const std::string lockPath = h.path + ".lock";
  const int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (lockFd < 0) return tav::Win32ErrorFromErrno(errno);
  while (flock(lockFd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      const int e = errno;
      close(lockFd);
      return tav::Win32ErrorFromErrno(e);
    }
  }

  // Another process may have written since we last read: start from its file.
  RefreshLocked(h);
  LSTATUS status = ERROR_SUCCESS;
  if (h.loadedCorrupt && h.loaded.exists) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".corrupt-%lld-%d", static_cast<long long>(std::time(nullptr)),
                  static_cast<int>(getpid()));
    const std::string kept = h.path + suffix;
    if (rename(h.path.c_str(), kept.c_str()) != 0) status = tav::Win32ErrorFromErrno(errno);
    else std::fprintf(stderr, "tavrion registry: damaged hive kept as %s\n", kept.c_str());
  }

  const std::string tempPath = h.path + ".tmp";
  if (status == ERROR_SUCCESS) {
    const std::string text = tav::reg::Serialize(h.root);
    const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
      status = tav::Win32ErrorFromErrno(errno);
    } else {
      // Each version of the hive gets a later modification time than the one it replaces,
      // even within one clock tick and with a recycled inode number, so readers comparing
      // stamps never miss a change.
      struct timespec now;
      clock_gettime(CLOCK_REALTIME, &now);
      int64_t mtimeNs = static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
      if (h.loaded.exists && mtimeNs <= h.loaded.mtimeNs) mtimeNs = h.loaded.mtimeNs + 1;
      const struct timespec times[2] = {{0, UTIME_OMIT}, {mtimeNs / 1000000000, mtimeNs % 1000000000}};
      if (!WriteAll(fd, text) || futimens(fd, times) != 0 || fsync(fd) != 0) {
        status = tav::Win32ErrorFromErrno(errno ? errno : EIO);
      }
      if (close(fd) != 0 && status == ERROR_SUCCESS) status = tav::Win32ErrorFromErrno(errno);
      if (status == ERROR_SUCCESS && rename(tempPath.c_str(), h.path.c_str()) != 0) {
        status = tav::Win32ErrorFromErrno(errno);
      }
      if (status != ERROR_SUCCESS) unlink(tempPath.c_str());
    }
  }
  TAV_TRACE("wrote %zu changes to %s: %ld", h.journal.size(), h.path.c_str(), static_cast<long>(status));
  if (status == ERROR_SUCCESS) {
    struct stat st;
    if (stat(h.path.c_str(), &st) == 0) {
      h.loaded = StampOf(st);
      h.loadedCorrupt = false;
      h.journal.clear();
    } else {
      h.loadedValid = false;
    }
  } else {
    const std::string what = "write " + h.path;
    if (reported_.insert(what).second) {
      std::fprintf(stderr, "tavrion registry: cannot write %s (error %ld)\n", h.path.c_str(),
                   static_cast<long>(status));
    }
  }
  flock(lockFd, LOCK_UN);
  close(lockFd);
  return status;
}

LSTATUS Registry::MaybeFlushLocked(Hive& h) {
  if (batchDepth_ > 0) return ERROR_SUCCESS;
  if (h.openHandles == 0 || h.journal.size() > kMaxPendingChanges ||
      std::chrono::steady_clock::now() - h.firstChange > kMaxPendingAge) {
    return FlushLocked(h);
  }
  return ERROR_SUCCESS;
}

LSTATUS Registry::FlushAllLocked() {
  if (!configured_) return ERROR_SUCCESS;
  LSTATUS status = ERROR_SUCCESS;
  for (Hive& h : hives_) {
    const LSTATUS s = FlushLocked(h);
    if (status == ERROR_SUCCESS) status = s;
  }
  return status;
}

LSTATUS Registry::RecordLocked(HiveId hive, Change change) {
  Hive& h = HiveLocked(hive);
  const bool valueChange = change.kind == Change::Kind::SetValue || change.kind == Change::Kind::DeleteValue;
  TAV_TRACE("%s %s%s%s", ChangeName(change.kind), JoinPath(change.path).c_str(), valueChange ? " : " : "",
            valueChange ? (change.name.empty() ? "@" : change.name.c_str()) : "");
  if (h.journal.empty()) h.firstChange = std::chrono::steady_clock::now();
  h.journal.push_back(std::move(change));
  return MaybeFlushLocked(h);
}

LSTATUS Registry::LookupLocked(HKEY key, HiveId* hive, std::vector<std::string>* path) {
  ConfigureLocked();
  if (key == HKEY_CLASSES_ROOT || key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER) {
    *hive = key == HKEY_CURRENT_USER ? kUserHive : kMachineHive;
    *path = {key == HKEY_CLASSES_ROOT    ? "HKEY_CLASSES_ROOT"
             : key == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE"
                                         : "HKEY_CURRENT_USER"};
    return ERROR_SUCCESS;
  }
  const auto it = handles_.find(reinterpret_cast<uintptr_t>(key));
  if (it == handles_.end()) return ERROR_INVALID_HANDLE;
  *hive = it->second.hive;
  *path = it->second.path;
  return ERROR_SUCCESS;
}

HKEY Registry::NewHandleLocked(HiveId hive, std::vector<std::string> path) {
  const uintptr_t id = nextHandle_;
  nextHandle_ += 4;
  handles_.emplace(id, OpenKey{hive, std::move(path)});
  ++hives_[hive].openHandles;
  return reinterpret_cast<HKEY>(id);
}

LSTATUS Registry::CloseHandleLocked(HKEY key) {
  const auto it = handles_.find(reinterpret_cast<uintptr_t>(key));
  if (it == handles_.end()) return ERROR_INVALID_HANDLE;
  Hive& h = hives_[it->second.hive];
  handles_.erase(it);
  --h.openHandles;
  // Closing a key writes what is pending, so a closed key's changes are on disk and
  // visible to other processes. Failures are reported on stderr and retried later.
  if (batchDepth_ == 0) FlushLocked(h);
  return ERROR_SUCCESS;
}

// Appends the parts of a subkey path ("a\b\c"); empty parts are skipped.
LSTATUS AppendSubKey(LPCSTR subKey, std::vector<std::string>* path) {
  if (!subKey) return ERROR_SUCCESS;
  std::string_view rest(subKey);
  while (!rest.empty()) {
    const size_t bs = rest.find('\\');
    const std::string_view part = rest.substr(0, bs);
    if (!part.empty()) {
      if (part.size() > kMaxKeyNameChars) return ERROR_INVALID_PARAMETER;
      for (char c : part) {
        if (static_cast<unsigned char>(c) < 0x20) return ERROR_INVALID_PARAMETER;
      }
      path->emplace_back(part);
    }
    if (bs == std::string_view::npos) break;
    rest.remove_prefix(bs + 1);
  }
  return ERROR_SUCCESS;
}

// Everything a call needs about the key a handle names: the hive (fresh), the key's
// path and node. Status ERROR_KEY_DELETED when the handle's key has gone.
struct Target {
  Registry& reg;
  std::lock_guard<std::mutex> lock;
  LSTATUS status = ERROR_SUCCESS;
  HiveId hive = kMachineHive;
  std::vector<std::string> path;
  Key* key = nullptr;

  explicit Target(HKEY handle) : reg(Reg()), lock(reg.mutex) {
    status = reg.LookupLocked(handle, &hive, &path);
    if (status != ERROR_SUCCESS) return;
    Hive& h = reg.HiveLocked(hive);
    reg.RefreshLocked(h);
    key = h.root.Find(path);
    if (!key) status = ERROR_KEY_DELETED;
  }
  Key& Root() { return reg.HiveLocked(hive).root; }
};

LSTATUS CopyOut(const std::string& bytes, BYTE* data, DWORD* cbData) {
  if (!cbData) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  const auto need = static_cast<DWORD>(bytes.size());
  if (!data) {
    *cbData = need;
    return ERROR_SUCCESS;
  }
  if (*cbData < need) {
    *cbData = need;
    return ERROR_MORE_DATA;
  }
  if (need) std::memcpy(data, bytes.data(), need);
  *cbData = need;
  return ERROR_SUCCESS;
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

}  // namespace

LSTATUS RegOpenKeyEx(HKEY key, LPCSTR subKey, DWORD, REGSAM, HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  Target t(key);
  if (t.status != ERROR_SUCCESS) return t.status;
  std::vector<std::string> path = t.path;
  if (const LSTATUS s = AppendSubKey(subKey, &path); s != ERROR_SUCCESS) return s;
  if (!t.Root().Find(path)) return ERROR_FILE_NOT_FOUND;
  *result = t.reg.NewHandleLocked(t.hive, std::move(path));
  return ERROR_SUCCESS;
}

LSTATUS RegOpenKey(HKEY key, LPCSTR subKey, HKEY* result) { return RegOpenKeyEx(key, subKey, 0, KEY_ALL_ACCESS, result); }

LSTATUS RegCreateKeyEx(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM, void*, HKEY* result,
                       DWORD* disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  Target t(key);
  if (t.status != ERROR_SUCCESS) return t.status;
  std::vector<std::string> path = t.path;
  if (const LSTATUS s = AppendSubKey(subKey, &path); s != ERROR_SUCCESS) return s;
  bool created = false;
  t.Root().Create(path, &created);
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = t.reg.NewHandleLocked(t.hive, path);
  if (created) {
    // The new handle keeps the hive from being written here, so this cannot fail.
    t.reg.RecordLocked(t.hive, Change{Change::Kind::CreateKey, std::move(path), {}, 0, {}});
  }
  return ERROR_SUCCESS;
}

LSTATUS RegCreateKey(HKEY key, LPCSTR subKey, HKEY* result) {
  return RegCreateKeyEx(key, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, result, nullptr);
}

LSTATUS RegCloseKey(HKEY key) {
  if (key == HKEY_CLASSES_ROOT || key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER) return ERROR_SUCCESS;
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  return r.CloseHandleLocked(key);
}

LSTATUS RegQueryValueEx(HKEY key, LPCSTR valueName, DWORD*, DWORD* type, BYTE* data, DWORD* cbData) {
  if (data && !cbData) return ERROR_INVALID_PARAMETER;
  Target t(key);
  if (t.status != ERROR_SUCCESS) return t.status;
  const Value* v = t.key->FindValue(valueName ? valueName : "");
  if (!v) return ERROR_FILE_NOT_FOUND;
  if (type) *type = v->type;
  return CopyOut(v->data, data, cbData);
}

LSTATUS RegSetValueEx(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD cbData) {
  if (!data && cbData) return ERROR_INVALID_PARAMETER;
  Target t(key);
  if (t.status != ERROR_SUCCESS) return t.status;
  std::string bytes(reinterpret_cast<const char*>(data), data ? cbData : 0);
  // Strings are kept terminated, so readers never get an unterminated one back.
  if ((IsStringType(type) && (bytes.empty() || bytes.back() != '\0'))) bytes += '\0';
  if (type == REG_MULTI_SZ) {
    while (bytes.size() < 2 || bytes.compare(bytes.size() - 2, 2, std::string_view("\0\0", 2)) != 0) bytes += '\0';
  }
  const std::string name = valueName ? valueName : "";
  t.key->SetValue(name, type, bytes);
  return t.reg.RecordLocked(t.hive, Change{Change::Kind::SetValue, t.path, name, type, std::move(bytes)});
}

LSTATUS RegQueryValue(HKEY key, LPCSTR subKey, LPSTR data, LONG* cbData) {
  if (data && !cbData) return ERROR_INVALID_PARAMETER;
  Target t(key);
  if (t.status != ERROR_SUCCESS) return t.status;
  std::vector<std::string> path = t.path;
  if (const LSTATUS s = AppendSubKey(subKey, &path); s != ERROR_SUCCESS) return s;
  Key* k = t.Root().Find(path);
  if (!k) return ERROR_FILE_NOT_FOUND;
  // An unset default value reads as an empty string, as on the platform.
  std::string text(1, '\0');
  if (const Value* v = k->FindValue("")) {
    if (!IsStringType(v->type)) return ERROR_INVALID_DATA;
    text = v->data;
  }
  if (!cbData) return ERROR_SUCCESS;
  DWORD cb = *cbData < 0 ? 0 : static_cast<DWORD>(*cbData);
  const LSTATUS s = CopyOut(text, reinterpret_cast<BYTE*>(data), &cb);
  *cbData = static_cast<LONG>(cb);
  return s;
}

LSTATUS RegSetValue(HKEY key, LPCSTR subKey, DWORD type, LPCSTR data, DWORD) {
  if (type != REG_SZ || !data) return ERROR_INVALID_PARAMETER;
  Target t(key);
  if (t.status != ERROR_SUCCESS) return t.status;
  std::vector<std::string> path = t.path;
  if (const LSTATUS s = AppendSubKey(subKey, &path); s != ERROR_SUCCESS) return s;
  std::string bytes(data);
  bytes += '\0';
  t.Root().Create(path)->SetValue("", REG_SZ, bytes);
  return t.reg.RecordLocked(t.hive, Change{Change::Kind::SetValue, std::move(path), "", REG_SZ, std::move(bytes)});
}

LSTATUS RegEnumKeyEx(HKEY key, DWORD index, LPSTR name, DWORD* cchName, DWORD*, LPSTR cls, DWORD* cchClass, void*) {
  if (!name || !cchName) return ERROR_INVALID_PARAMETER;
  Target t(key);
  if (t.status != ERROR_SUCCESS) return t.status;
  if (index >= t.key->children.size()) return ERROR_NO_MORE_ITEMS;
  auto it = t.key->children.begin();
  std::advance(it, index);
  const std::string& childName = it->second->name;
  if (childName.size() + 1 > *cchName) return ERROR_MORE_DATA;
  std::memcpy(name, childName.c_str(), childName.size() + 1);
  *cchName = static_cast<DWORD>(childName.size());
  if (cls && cchClass && *cchClass) cls[0] = '\0';
  if (cchClass) *cchClass = 0;
  return ERROR_SUCCESS;
}

LSTATUS RegEnumKey(HKEY key, DWORD index, LPSTR name, DWORD cchName) {
  return RegEnumKeyEx(key, index, name, &cchName, nullptr, nullptr, nullptr, nullptr);
}

LSTATUS RegEnumValue(HKEY key, DWORD index, LPSTR valueName, DWORD* cchValueName, DWORD*, DWORD* type, BYTE* data,
                     DWORD* cbData) {
  if (!valueName || !cchValueName) return ERROR_INVALID_PARAMETER;
  if (data && !cbData) return ERROR_INVALID_PARAMETER;
  Target t(key);
  if (t.status != ERROR_SUCCESS) return t.status;
  if (index >= t.key->values.size()) return ERROR_NO_MORE_ITEMS;
  const Value& v = t.key->values[index];
  if (v.name.size() + 1 > *cchValueName) return ERROR_MORE_DATA;
  std::memcpy(valueName, v.name.c_str(), v.name.size() + 1);
  *cchValueName = static_cast<DWORD>(v.name.size());
  if (type) *type = v.type;
  return CopyOut(v.data, data, cbData);
}

LSTATUS RegQueryInfoKey(HKEY key, LPSTR cls, DWORD* cchClass, DWORD*, DWORD* subKeys, DWORD* maxSubKeyLen,
                        DWORD* maxClassLen, DWORD* values, DWORD* maxValueNameLen, DWORD* maxValueLen,
                        DWORD* securityDescriptor, void*) {
  Target t(key);
  if (t.status != ERROR_SUCCESS) return t.status;
  if (cls && cchClass && *cchClass) cls[0] = '\0';
  if (cchClass) *cchClass = 0;
  DWORD maxSub = 0, maxName = 0, maxData = 0;
  for (const auto& [folded, child] : t.key->children) maxSub = std::max(maxSub, static_cast<DWORD>(child->name.size()));
  for (const Value& v : t.key->values) {
    maxName = std::max(maxName, static_cast<DWORD>(v.name.size()));
    maxData = std::max(maxData, static_cast<DWORD>(v.data.size()));
  }
  if (subKeys) *subKeys = static_cast<DWORD>(t.key->children.size());
  if (maxSubKeyLen) *maxSubKeyLen = maxSub;
  if (maxClassLen) *maxClassLen = 0;
  if (values) *values = static_cast<DWORD>(t.key->values.size());
  if (maxValueNameLen) *maxValueNameLen = maxName;
  if (maxValueLen) *maxValueLen = maxData;
  if (securityDescriptor) *securityDescriptor = 0;
  return ERROR_SUCCESS;
}

LSTATUS RegDeleteValue(HKEY key, LPCSTR valueName) {
  Target t(key);
  if (t.status != ERROR_SUCCESS) return t.status;
  const std::string name = valueName ? valueName : "";
  if (!t.key->RemoveValue(name)) return ERROR_FILE_NOT_FOUND;
  return t.reg.RecordLocked(t.hive, Change{Change::Kind::DeleteValue, t.path, name, 0, {}});
}

LSTATUS RegDeleteKey(HKEY key, LPCSTR subKey) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  Target t(key);
  if (t.status != ERROR_SUCCESS) return t.status;
  std::vector<std::string> path = t.path;
  if (const LSTATUS s = AppendSubKey(subKey, &path); s != ERROR_SUCCESS) return s;
  if (path.size() < 2) return ERROR_ACCESS_DENIED;  // the roots cannot be deleted
  Key* k = t.Root().Find(path);
  if (!k) return ERROR_FILE_NOT_FOUND;
  if (!k->children.empty()) return ERROR_ACCESS_DENIED;
  Change c{Change::Kind::DeleteKey, std::move(path), {}, 0, {}};
  tav::reg::Apply(t.Root(), c);
  return t.reg.RecordLocked(t.hive, std::move(c));
}

LSTATUS RegDeleteTree(HKEY key, LPCSTR subKey) {
  Target t(key);
  if (t.status != ERROR_SUCCESS) return t.status;
  std::vector<std::string> path = t.path;
  if (const LSTATUS s = AppendSubKey(subKey, &path); s != ERROR_SUCCESS) return s;
  if (!t.Root().Find(path)) return ERROR_FILE_NOT_FOUND;
  // A null subkey (or a root) keeps the key itself and removes what is in it.
  const bool clearOnly = !subKey || !*subKey || path.size() < 2 || path.size() == t.path.size();
  Change c{clearOnly ? Change::Kind::ClearKey : Change::Kind::DeleteTree, std::move(path), {}, 0, {}};
  tav::reg::Apply(t.Root(), c);
  return t.reg.RecordLocked(t.hive, std::move(c));
}

LSTATUS RegFlushKey(HKEY key) {
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  HiveId hive;
  std::vector<std::string> path;
  if (const LSTATUS s = r.LookupLocked(key, &hive, &path); s != ERROR_SUCCESS) return s;
  return r.FlushLocked(r.HiveLocked(hive));
}

namespace tav {

const char* RegistryDirectory() {
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  // Stable until the next RegistryReload.
  return r.DirectoryLocked().c_str();
}

void RegistryReload() {
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  r.FlushAllLocked();
  r.ResetLocked();
}

void RegistryBeginBatch() {
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  r.BeginBatchLocked();
}

LSTATUS RegistryEndBatch() {
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  return r.EndBatchLocked();
}

}  // namespace tav
