// scripts/setup.sh installs everything the build, the scripts and the tests need on a fresh
// Debian 12: each program they start comes from a package of its PACKAGES list, from a
// package those depend on, or from the base system every Debian has (Essential or of
// priority "required"). The programs are found by reading the scripts, the C++ sources and
// the CMake files, plus the helpers other programs start for us; a program that is installed
// here but from a package setup.sh does not name fails, since a fresh machine will not have
// it. The README's dependency table names the same packages.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/testenv.h"
#include "tests/tree/programs.h"
#include "tests/tree/sourcetree.h"

namespace {

using treetest::FilesUnder;
using treetest::ReadText;

// Programs started by other programs, which no source of ours names as a command: CMake's
// build (the generator, the compiler cache and pkg-config), cpack's Debian generator (file
// and dpkg-shlibdeps for the shared-library dependencies, which runs objdump; strip), and the
// programs the scripts and tests cannot do without, so that their absence is reported here
// too rather than only as a skipped test.
const char* const kStartedByOthers[] = {"cmake",    "ctest",      "cpack",      "ninja",          "ccache",  "c++",
                                        "g++",      "pkg-config", "file",       "dpkg-shlibdeps", "objdump", "strip",
                                        "gzip",     "ffmpeg",     "ffprobe",    "Xvfb",           "xdotool", "xwd",
                                        "xwininfo", "convert",    "dbus-daemon"};

// Shell builtins: whatever the script names, the shell runs them itself.
bool Builtin(const std::string& word) {
  static const std::set<std::string> kBuiltins = {
      "alias", "break",   "cd",     "command", "continue", "echo",   "eval", "exec", "exit",     "export",
      "false", "getopts", "hash",   "kill",    "local",    "printf", "pwd",  "read", "readonly", "return",
      "set",   "shift",   "source", "test",    "times",    "trap",   "true", "type", "ulimit",   "umask",
      "unset", "wait",    "case",   "esac",    "for",      "in",     "fi",   "done", "function", "select"};
  return kBuiltins.count(word) != 0;
}

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\n");
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(" \t\n") - b + 1);
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string part;
  std::istringstream in(s);
  while (std::getline(in, part, sep)) out.push_back(part);
  return out;
}

// The PACKAGES=( ... ) list of scripts/setup.sh.
std::vector<std::string> SetupPackages() {
  const std::string script = ReadText(tavtest::SourceDir() + "/scripts/setup.sh");
  const size_t open = script.find("PACKAGES=(");
  const size_t close = script.find(')', open);
  std::vector<std::string> out;
  if (open == std::string::npos || close == std::string::npos) return out;
  std::istringstream words(script.substr(open + 10, close - open - 10));
  std::string line;
  while (std::getline(words, line)) {
    std::istringstream in(line.substr(0, line.find('#')));
    std::string w;
    while (in >> w) out.push_back(w);
  }
  return out;
}

// Every program named as a command in the tree, with the first file that names it.
std::map<std::string, std::string> ProgramsCalled() {
  const std::string src = tavtest::SourceDir();
  std::map<std::string, std::string> out;
  auto add = [&](const std::set<std::string>& words, const std::string& file) {
    for (const std::string& w : words)
      if (!Builtin(w)) out.emplace(w, file);
  };
  std::vector<std::string> shell = FilesUnder(src, "", {".sh"});
  for (const char* f : {".ci/run", ".githooks/commit-msg"}) shell.push_back(f);
  for (const std::string& f : shell) add(treetest::ShellCommandWords(ReadText(src + "/" + f)), f);
  for (const std::string& f : FilesUnder(src, "", {".cpp", ".h"}))
    add(treetest::CppCommandWords(ReadText(src + "/" + f)), f);
  for (const std::string& f : FilesUnder(src, "", {"CMakeLists.txt", ".cmake"}))
    add(treetest::CMakeProgramNames(ReadText(src + "/" + f)), f);
  for (const char* p : kStartedByOthers) out.emplace(p, "(started by other programs)");
  return out;
}

// Where a Debian package would have put the program: the system's own folders, never
// /usr/local or a home folder.
std::string SystemProgram(const std::string& name) {
  for (const char* dir : {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"}) {
    struct stat st;
    const std::string path = dir + name;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111)) return path;
  }
  return std::string();
}

// dpkg's name for the file: the path, or with /usr merged into / (or back), or the file an
// alternatives link ends at.
std::vector<std::string> OwnerQueries(const std::string& path) {
  std::vector<std::string> q = {path};
  char real[4096];
  if (::realpath(path.c_str(), real)) q.push_back(real);
  for (size_t i = 0, n = q.size(); i < n; ++i) {
    if (q[i].rfind("/usr/", 0) == 0) q.push_back(q[i].substr(4));
    else q.push_back("/usr" + q[i]);
  }
  return q;
}

// path -> the packages dpkg says hold it.
std::map<std::string, std::vector<std::string>> Owners(const std::set<std::string>& paths) {
  std::string cmd = "LC_ALL=C dpkg-query -S";
  for (const std::string& p : paths) cmd += " '" + p + "'";
  std::map<std::string, std::vector<std::string>> out;
  std::istringstream lines(tavtest::Capture(cmd + " 2>/dev/null"));
  std::string line;
  while (std::getline(lines, line)) {
    // "pkg1, pkg2:amd64: /path"; diversions read "diversion by ...".
    const size_t colon = line.find(": /");
    if (colon == std::string::npos || line.rfind("diversion", 0) == 0) continue;
    for (std::string pkg : Split(line.substr(0, colon), ',')) {
      pkg = Trim(pkg);
      out[line.substr(colon + 2)].push_back(pkg.substr(0, pkg.find(':')));
    }
  }
  return out;
}

// The installed packages a fresh Debian 12 with setup.sh's packages holds: the list, the
// base system, and everything they depend on (any installed alternative of a choice, and
// the installed packages that provide a virtual one).
std::set<std::string> PackagesOfAFreshMachine(const std::vector<std::string>& listed) {
  struct Info {
    bool base = false;
    std::vector<std::string> depends;
  };
  std::map<std::string, Info> installed;
  std::map<std::string, std::vector<std::string>> providers;
  std::istringstream lines(tavtest::Capture(
      "dpkg-query -W -f='${db:Status-Abbrev}\\t${Package}\\t${Essential}\\t${Priority}\\t${Pre-Depends}, "
      "${Depends}\\t${Provides}\\n'"));
  std::string line;
  while (std::getline(lines, line)) {
    const std::vector<std::string> f = Split(line, '\t');
    if (f.size() < 5 || f[0].rfind("ii", 0) != 0) continue;
    Info& info = installed[f[1]];
    info.base = info.base || f[2] == "yes" || f[3] == "required";
    for (const std::string& group : Split(f[4], ','))
      for (const std::string& alt : Split(group, '|')) {
        std::string name = Trim(alt.substr(0, alt.find('(')));
        name = name.substr(0, name.find(':'));
        if (!name.empty()) info.depends.push_back(name);
      }
    if (f.size() > 5)
      for (const std::string& p : Split(f[5], ',')) {
        std::string name = Trim(p.substr(0, p.find('(')));
        name = name.substr(0, name.find(':'));
        if (!name.empty()) providers[name].push_back(f[1]);
      }
  }
  std::set<std::string> have;
  std::vector<std::string> todo(listed.begin(), listed.end());
  for (const auto& [name, info] : installed)
    if (info.base) todo.push_back(name);
  while (!todo.empty()) {
    const std::string name = todo.back();
    todo.pop_back();
    if (installed.count(name)) {
      if (!have.insert(name).second) continue;
      for (const std::string& d : installed[name].depends) todo.push_back(d);
    }
    for (const std::string& p : providers[name])
      if (!have.count(p)) todo.push_back(p);
  }
  return have;
}

TEST(SetupPackages, EveryProgramCalledComesFromThem) {
  if (tavtest::Run("command -v dpkg-query >/dev/null 2>&1") != 0) GTEST_SKIP() << "not a Debian system (no dpkg-query)";
  const std::vector<std::string> listed = SetupPackages();
  ASSERT_GT(listed.size(), 10u) << "scripts/setup.sh's PACKAGES list was not found";
  const std::map<std::string, std::string> called = ProgramsCalled();
  // The reading found the programs it must (a change that blinds it fails here, not later).
  for (const char* p :
       {"Xvfb", "xwd", "xdotool", "ffmpeg", "ffprobe", "dbus-daemon", "timeout", "iconv", "dpkg-deb", "gzip", "awk",
        "appstreamcli"})
    EXPECT_TRUE(called.count(p)) << p;

  std::map<std::string, std::string> found;  // program -> its file
  std::set<std::string> queries;
  for (const auto& [name, where] : called) {
    const std::string path = SystemProgram(name);
    if (path.empty()) {
      // A word that reads as a command but names none of the system's programs (a function
      // of the script, a program we build) is not checked; those every run needs must exist.
      EXPECT_NE(where, "(started by other programs)") << name << " is not installed; scripts/setup.sh must install it";
      continue;
    }
    found[name] = path;
    for (const std::string& q : OwnerQueries(path)) queries.insert(q);
  }
  const auto owners = Owners(queries);
  const std::set<std::string> fresh = PackagesOfAFreshMachine(listed);
  for (const std::string& p : listed) EXPECT_TRUE(fresh.count(p)) << p << " (in setup.sh) is not installed";

  for (const auto& [name, path] : found) {
    std::set<std::string> from;
    for (const std::string& q : OwnerQueries(path)) {
      const auto it = owners.find(q);
      if (it != owners.end()) from.insert(it->second.begin(), it->second.end());
    }
    const bool ok = std::any_of(from.begin(), from.end(), [&](const std::string& p) { return fresh.count(p) != 0; });
    std::string list;
    for (const std::string& p : from) list += (list.empty() ? "" : ", ") + p;
    EXPECT_TRUE(ok) << name << " (" << called.at(name) << ") is " << path << " from "
                    << (list.empty() ? std::string("no package") : "package " + list)
                    << ", which scripts/setup.sh does not install: add it to PACKAGES";
  }
}

// The build runs Qt Linguist's tools from Qt's own tool folder, and the program loads Qt's
// Korean catalog from Qt's translations folder: both are outside the search of the test
// above, and both must come from setup.sh's packages.
TEST(SetupPackages, TranslationToolsAndQtCatalogsComeFromThem) {
  if (tavtest::Run("command -v dpkg-query >/dev/null 2>&1") != 0) GTEST_SKIP() << "not a Debian system (no dpkg-query)";
  const auto query = [](const char* what) { return Trim(tavtest::Capture(std::string("qtpaths6 --query ") + what)); };
  const std::string bins = query("QT_HOST_BINS");
  const std::string translations = query("QT_INSTALL_TRANSLATIONS");
  ASSERT_FALSE(bins.empty() || translations.empty()) << "qtpaths6 (qt6-base-dev) does not answer";
  const std::vector<std::string> files = {bins + "/lrelease", bins + "/lupdate", translations + "/qtbase_ko.qm"};
  std::set<std::string> queries;
  for (const std::string& f : files)
    for (const std::string& q : OwnerQueries(f)) queries.insert(q);
  const auto owners = Owners(queries);
  const std::set<std::string> fresh = PackagesOfAFreshMachine(SetupPackages());
  for (const std::string& f : files) {
    bool ok = false;
    for (const std::string& q : OwnerQueries(f)) {
      const auto it = owners.find(q);
      if (it != owners.end())
        ok = ok || std::any_of(it->second.begin(), it->second.end(), [&](const std::string& p) { return fresh.count(p); });
    }
    EXPECT_TRUE(ok) << f << " is missing or comes from a package that scripts/setup.sh does not install";
  }
}

TEST(SetupPackages, ReadmeNamesEachOne) {
  const std::string readme = ReadText(tavtest::SourceDir() + "/README.md");
  const size_t section = readme.find("\n## Dependencies");
  ASSERT_NE(section, std::string::npos) << "README.md has no Dependencies section";
  const size_t end = readme.find("\n## ", section + 1);
  const std::string table = readme.substr(section, end == std::string::npos ? std::string::npos : end - section);
  for (const std::string& p : SetupPackages()) {
    // As a whole word: "libgtest-dev" must not count for "gtest".
    bool named = false;
    for (size_t at = table.find(p); at != std::string::npos && !named; at = table.find(p, at + 1)) {
      const auto boundary = [](char c) {
        return !(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '+');
      };
      named = (at == 0 || boundary(table[at - 1])) && (at + p.size() >= table.size() || boundary(table[at + p.size()]));
    }
    EXPECT_TRUE(named) << p << " (installed by scripts/setup.sh) is not in the README's Dependencies table";
  }
}

}  // namespace
