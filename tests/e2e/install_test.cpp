// Installation as a user does it: `cmake --install` into a fresh prefix, then the installed
// program starts (offscreen), finds its libraries in the prefix and registers the component
// libraries from there; the software centres' metainfo beside the desktop entry is valid and
// lists what the entry opens; the Debian package holds the programs, libraries, desktop
// entry, metainfo, icons, MIME types, translations and man pages and declares its
// dependencies.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "tests/support/testenv.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

constexpr char kMetainfo[] = "share/metainfo/org.tavrion.converter.metainfo.xml";

// The "Key=a;b;c;" list of a desktop entry.
std::vector<std::string> DesktopList(const std::string& entry, const std::string& key) {
  std::vector<std::string> items;
  const size_t at = entry.find("\n" + key + "=");
  if (at == std::string::npos) return items;
  const size_t start = at + key.size() + 2;
  std::istringstream list(entry.substr(start, entry.find('\n', start) - start));
  for (std::string item; std::getline(list, item, ';');)
    if (!item.empty()) items.push_back(item);
  return items;
}

TEST(Install, InstalledProgramStartsAndUsesItsOwnLibraries) {
  const std::string prefix = tavtest::MakeTempSubdir("prefix");
  int status = -1;
  const std::string log =
      tavtest::Capture("cmake --install " + Quote(tavtest::BuildDir()) + " --prefix " + Quote(prefix) + " 2>&1", &status);
  ASSERT_EQ(status, 0) << log;
  for (const char* file :
       {"bin/tavrion-converter", "bin/tavrion-convert", "bin/tavrion-probe", "lib/libtavrionrt.so",
        "share/applications/tavrion-converter.desktop", "share/mime/packages/tavrion-converter.xml",
        "share/icons/hicolor/scalable/apps/tavrion-converter.svg",
        "share/icons/hicolor/48x48/apps/tavrion-converter.png", "share/man/man1/tavrion-convert.1.gz", "share/man/man1/tavrion-probe.1.gz", kMetainfo,
        "share/tavrion-converter/translations/tavrion-converter_ko.qm", "share/man/ko/man1/tavrion-converter.1.gz"})
    EXPECT_TRUE(fs::exists(prefix + "/" + file)) << file;

  // Every library resolves, and the platform's from the prefix, not from the build tree.
  const std::string ldd = tavtest::Capture("ldd " + Quote(prefix + "/bin/tavrion-converter"));
  EXPECT_EQ(ldd.find("not found"), std::string::npos) << ldd;
  EXPECT_NE(ldd.find(prefix + "/bin/../lib/libtavrionrt.so"), std::string::npos) << ldd;

  // The program runs until stopped; on its way up it registers the component libraries of
  // its own lib folder in a private registry.
  const std::string home = tavtest::MakeTempSubdir("home");
  const std::string run = "env HOME=" + Quote(home) + " XDG_DATA_HOME=" + Quote(home + "/data") +
                          " XDG_CONFIG_HOME=" + Quote(home + "/config") + " TAVRION_REGISTRY_DIR=" +
                          Quote(home + "/registry") + " QT_QPA_PLATFORM=offscreen timeout -s TERM 8 " +
                          Quote(prefix + "/bin/tavrion-converter") + " 2>&1";
  const std::string out = tavtest::Capture(run, &status);
  EXPECT_EQ(status, 124) << "the installed program ended by itself:\n" << out;
  const std::string registry = ReadAll(home + "/registry/machine.reg");
  EXPECT_NE(registry.find(prefix + "/lib/libvxcamwriter.so"), std::string::npos);
  EXPECT_NE(registry.find(prefix + "/lib/libtavrionfilters.so"), std::string::npos);
  EXPECT_EQ(registry.find(tavtest::BuildDir() + "/lib/"), std::string::npos);
}

TEST(Install, MetainfoIsValidAndListsWhatTheDesktopEntryOpens) {
  const std::string prefix = tavtest::MakeTempSubdir("prefix");
  int status = -1;
  const std::string log = tavtest::Capture(
      "cmake --install " + Quote(tavtest::BuildDir()) + " --prefix " + Quote(prefix) + " 2>&1", &status);
  ASSERT_EQ(status, 0) << log;
  const std::string metainfo = prefix + "/" + kMetainfo;
  const std::string check = tavtest::Capture("appstreamcli validate --no-net " + Quote(metainfo) + " 2>&1", &status);
  EXPECT_EQ(status, 0) << check;

  const std::string xml = ReadAll(metainfo);
  const std::string desktop = ReadAll(prefix + "/share/applications/tavrion-converter.desktop");
  EXPECT_NE(xml.find("<launchable type=\"desktop-id\">tavrion-converter.desktop</launchable>"), std::string::npos);
  const std::vector<std::string> types = DesktopList(desktop, "MimeType");
  EXPECT_GT(types.size(), 5u);
  for (const std::string& type : types)
    EXPECT_NE(xml.find("<mediatype>" + type + "</mediatype>"), std::string::npos) << type << " missing from " << xml;
}

TEST(Install, DebianPackageHoldsTheDesktopFilesAndDeclaresDependencies) {
  if (tavtest::Run("command -v cpack >/dev/null && command -v dpkg-deb >/dev/null") != 0) {
    // A CI machine without them would skip the packaging check and still read green.
    if (tavtest::InCi()) FAIL() << "CI=true: cpack and dpkg-deb are needed";
    GTEST_SKIP() << "cpack or dpkg-deb is missing";
  }
  const std::string out = tavtest::MakeTempSubdir("package");
  int status = -1;
  const std::string log = tavtest::Capture("cd " + Quote(tavtest::BuildDir()) + " && cpack -G DEB -B " + Quote(out) +
                                               " 2>&1",
                                           &status);
  ASSERT_EQ(status, 0) << log;
  std::string deb;
  for (const auto& e : fs::directory_iterator(out))
    if (e.path().extension() == ".deb") deb = e.path().string();
  ASSERT_FALSE(deb.empty()) << log;

  const std::string files = tavtest::Capture("dpkg-deb -c " + Quote(deb));
  for (const char* file :
       {"./usr/bin/tavrion-converter", "./usr/bin/tavrion-convert", "./usr/bin/tavrion-probe", "./usr/lib/libtavrionrt.so",
        "./usr/share/applications/tavrion-converter.desktop", "./usr/share/metainfo/org.tavrion.converter.metainfo.xml",
        "./usr/share/tavrion-converter/translations/tavrion-converter_ko.qm",
        "./usr/share/icons/hicolor/scalable/apps/tavrion-converter.svg",
        "./usr/share/icons/hicolor/256x256/apps/tavrion-converter.png",
        "./usr/share/mime/packages/tavrion-converter.xml", "./usr/share/man/man1/tavrion-convert.1.gz",
         "./usr/share/man/man1/tavrion-probe.1.gz"})
    EXPECT_NE(files.find(file), std::string::npos) << file << " missing from\n" << files;
  const std::string depends = tavtest::Capture("dpkg-deb -f " + Quote(deb) + " Depends");
  for (const char* package :
       {"libqt6widgets6", "libqt6svg6", "libavcodec59", "libyuv0", "libpcre3", "shared-mime-info",
        // opened at run time, so not found by the shared-library scan
        "libavfilter8", "libsdl2-2.0-0"})
    EXPECT_NE(depends.find(package), std::string::npos) << package << " not in " << depends;
}

}  // namespace
