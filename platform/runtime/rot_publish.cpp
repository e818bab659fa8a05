// The per-process files behind tav::rt::PublishRunningObjects.
#include "platform/runtime/rot_publish.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "media/contract/folders.h"

namespace tav::rt {
namespace {

constexpr const char* kMagic = "tavrion-rot 1";

// Field 22 of /proc/<pid>/stat: when the process started, in clock ticks since boot.
std::string StartTimeOf(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/stat");
  std::string stat;
  if (!std::getline(in, stat)) return {};
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return {};
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  for (int i = 3; i <= 22; ++i)
    if (!(fields >> field)) return {};
  return field;
}

// Display names may hold any character; keep one name per line.
std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      const char n = s[++i];
      out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      out += s[i];
    }
  }
  return out;
}

// A folder only this user can write, or empty.
bool PrivateFolder(const std::string& path) {
  mkdir(path.c_str(), 0700);
  struct stat st{};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid();
}

// Guards the published file's path; PublishRunningObjects callers are already serialised
// by the table, this covers the exit handler.
std::mutex g_publishLock;
std::string g_publishedFile;  // guarded by g_publishLock; empty while nothing is published
pid_t g_publishedBy = 0;      // guarded by g_publishLock; a forked child must not remove it

void RemovePublishedFileAtExit() {
  std::lock_guard lock(g_publishLock);
  if (!g_publishedFile.empty() && g_publishedBy == getpid()) unlink(g_publishedFile.c_str());
  g_publishedFile.clear();
}

}  // namespace

std::string RunningObjectFolder() {
  const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
  if (runtimeDir && runtimeDir[0] == '/') return std::string(runtimeDir) + "/tavrion-rot";
  return "/tmp/tavrion-rot-" + std::to_string(getuid());
}

void PublishRunningObjects(const std::vector<std::string>& names) {
  static std::once_flag atExit;
  std::call_once(atExit, [] { std::atexit(RemovePublishedFileAtExit); });

  const std::string folder = RunningObjectFolder();
  const std::string pid = std::to_string(getpid());
  const std::string file = folder + "/" + pid;
  std::lock_guard lock(g_publishLock);
  if (names.empty()) {
    unlink(file.c_str());
    g_publishedFile.clear();
    return;
  }
  // Publishing is a convenience for inspection: a folder that cannot be made is no error
  // for the program that registers.
  if (!PrivateFolder(folder)) return;
  std::string text = std::string(kMagic) + "\npid " + pid + "\nstart " + StartTimeOf("self") + "\nexe " +
                     Escape(tav::ProgramFileName()) + "\n";
  for (const std::string& n : names) text += "name " + Escape(n) + "\n";

  const std::string tmp = file + ".tmp";
  const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += size_t(n);
  }
  close(fd);
  if (done != text.size() || rename(tmp.c_str(), file.c_str()) != 0) {
    unlink(tmp.c_str());
    return;
  }
  g_publishedFile = file;
  g_publishedBy = getpid();
}

std::vector<PublishedProcess> ReadPublishedRunningObjects() {
  std::vector<PublishedProcess> out;
  const std::string folder = RunningObjectFolder();
  DIR* dir = opendir(folder.c_str());
  if (!dir) return out;
  while (const dirent* d = readdir(dir)) {
    const std::string name = d->d_name;
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    const std::string path = folder + "/" + name;
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line) || line != kMagic) continue;
    PublishedProcess p;
    std::string start;
    while (std::getline(in, line)) {
      if (line.rfind("pid ", 0) == 0) p.pid = DWORD(std::strtoul(line.c_str() + 4, nullptr, 10));
      else if (line.rfind("start ", 0) == 0) start = line.substr(6);
      else if (line.rfind("exe ", 0) == 0) p.exe = Unescape(line.substr(4));
      else if (line.rfind("name ", 0) == 0) p.names.push_back(Unescape(line.substr(5)));
    }
    // Alive, and the same process that wrote the file (not a later one with its pid).
    bool alive = std::to_string(p.pid) == name;
    if (alive && kill(pid_t(p.pid), 0) != 0 && errno != EPERM) alive = false;
    const std::string nowStart = alive ? StartTimeOf(name) : std::string();
    if (!alive || (!nowStart.empty() && nowStart != start)) {
      unlink(path.c_str());
      continue;
    }
    out.push_back(std::move(p));
  }
  closedir(dir);
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
  return out;
}

}  // namespace tav::rt
