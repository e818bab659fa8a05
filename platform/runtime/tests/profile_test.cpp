// Private profile files as the engine uses them: codecs.ini's blacklist, compress.ini's
// bit rate, and the application's own settings.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "media/contract/profile.h"
#include "tests/support/testenv.h"

namespace {

std::string Write(const std::string& name, const std::string& text) {
  const std::string path = tavtest::MakeTempSubdir("profile") + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string GetString(const char* section, const char* key, const char* def, const std::string& file) {
  char buf[256];
  GetPrivateProfileString(section, key, def, buf, sizeof buf, file.c_str());
  return buf;
}

TEST(RuntimeProfile, CodecsBlacklist_StarAndBracedClassKeys) {
  const std::string codecs = Write("codecs.ini",
                                   "; filters the user does not want\r\n"
                                   "[DSBLACKLIST]\r\n"
                                   "{1B544C20-FD0B-11CE-8C63-00AA0044B51E}=0\r\n"
                                   "  {04FE9017-F873-410E-871E-AB91661A4EF7} = 2 \r\n"
                                   "38BE3000-DBF4-11D0-860E-00A024CFEF6D=0\r\n");
  // The section and key names compare case-insensitively; the value is the leading number.
  EXPECT_EQ(GetPrivateProfileInt("dsblacklist", "*", 0, codecs.c_str()), 0u);
  EXPECT_EQ(GetPrivateProfileInt("DSBLACKLIST", "{1b544c20-fd0b-11ce-8c63-00aa0044b51e}", 1, codecs.c_str()), 0u);
  EXPECT_EQ(GetPrivateProfileInt("DSBLACKLIST", "{04FE9017-F873-410E-871E-AB91661A4EF7}", 1, codecs.c_str()), 2u);
  // Listed without braces: the braced form asked for is simply absent.
  EXPECT_EQ(GetPrivateProfileInt("DSBLACKLIST", "{38BE3000-DBF4-11D0-860E-00A024CFEF6D}", 1, codecs.c_str()), 1u);
  EXPECT_EQ(GetPrivateProfileInt("DSBLACKLIST", "{00000000-0000-0000-0000-000000000000}", 1, codecs.c_str()), 1u);

  // "*" switches the blacklist off; written through the same calls.
  ASSERT_TRUE(WritePrivateProfileString("DSBLACKLIST", "*", "1", codecs.c_str()));
  EXPECT_EQ(GetPrivateProfileInt("DSBLACKLIST", "*", 0, codecs.c_str()), 1u);
  EXPECT_EQ(GetPrivateProfileInt("DSBLACKLIST", "{1B544C20-FD0B-11CE-8C63-00AA0044B51E}", 1, codecs.c_str()), 0u);
  // The comment, the other keys and the line endings survive.
  const std::string text = Read(codecs);
  EXPECT_EQ(text.rfind("; filters the user does not want\r\n", 0), 0u) << text;
  EXPECT_NE(text.find("*=1\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("38BE3000-DBF4-11D0-860E-00A024CFEF6D=0\r\n"), std::string::npos);

  // Without the file every default holds.
  const std::string missing = tavtest::TempDir() + "/nothere/codecs.ini";
  EXPECT_EQ(GetPrivateProfileInt("DSBLACKLIST", "*", 0, missing.c_str()), 0u);
  EXPECT_EQ(GetPrivateProfileInt("DSBLACKLIST", "{1B544C20-FD0B-11CE-8C63-00AA0044B51E}", 1, missing.c_str()), 1u);
}

TEST(RuntimeProfile, CompressBitrate_NumbersAndTheirOddities) {
  const std::string compress = Write("compress.ini",
                                     "[ZR44]\nBITRATE=1200kbps\n[other]\nBITRATE=7\nEmpty=\nWord=abc\nNeg=-5\n"
                                     "Quoted=\"  spaced  \"\n");
  EXPECT_EQ(GetPrivateProfileInt("zr44", "bitrate", 800, compress.c_str()), 1200u);
  EXPECT_EQ(GetPrivateProfileInt("other", "BITRATE", 800, compress.c_str()), 7u);
  EXPECT_EQ(GetPrivateProfileInt("other", "Empty", 800, compress.c_str()), 800u);
  EXPECT_EQ(GetPrivateProfileInt("other", "Word", 800, compress.c_str()), 0u);
  EXPECT_EQ(static_cast<INT>(GetPrivateProfileInt("other", "Neg", 0, compress.c_str())), -5);
  EXPECT_EQ(GetPrivateProfileInt("missing", "BITRATE", 800, compress.c_str()), 800u);
  EXPECT_EQ(GetString("other", "Quoted", "", compress), "  spaced  ");
  EXPECT_EQ(GetString("other", "nope", "fallback  ", compress), "fallback");

  // Short buffers are cut and terminated; the count excludes the terminator.
  char small[5];
  EXPECT_EQ(GetPrivateProfileString("ZR44", "BITRATE", "", small, sizeof small, compress.c_str()), 4u);
  EXPECT_STREQ(small, "1200");
  // Null section or key list names, each terminated, the list ended by an empty one.
  char list[64];
  const DWORD n = GetPrivateProfileString("other", nullptr, "", list, sizeof list, compress.c_str());
  EXPECT_EQ(std::string(list, n), std::string("BITRATE\0Empty\0Word\0Neg\0Quoted\0", 30));
  const DWORD s = GetPrivateProfileString(nullptr, nullptr, "", list, sizeof list, compress.c_str());
  EXPECT_EQ(std::string(list, s), std::string("ZR44\0other\0", 11));
}

TEST(RuntimeProfile, Writes_CreateReplaceAndDelete) {
  const std::string dir = tavtest::MakeTempSubdir("app");
  const std::string file = dir + "/converter.ini";
  ASSERT_TRUE(WritePrivateProfileString("SRCFILES", "Dir", "/home/me/movies", file.c_str()));
  ASSERT_TRUE(WritePrivateProfileString("MAINFRAME", "x", "10", file.c_str()));
  ASSERT_TRUE(WritePrivateProfileString("srcfiles", "Ext", ".avi", file.c_str()));
  ASSERT_TRUE(WritePrivateProfileString("SRCFILES", "dir", "/media", file.c_str()));
  EXPECT_EQ(Read(file), "[SRCFILES]\nDir=/media\nExt=.avi\n\n[MAINFRAME]\nx=10\n");

  ASSERT_TRUE(WritePrivateProfileString("SRCFILES", "DIR", nullptr, file.c_str()));  // null value: the key goes
  EXPECT_EQ(GetString("SRCFILES", "Dir", "gone", file), "gone");
  EXPECT_EQ(GetString("SRCFILES", "Ext", "", file), ".avi");
  ASSERT_TRUE(WritePrivateProfileString("SRCFILES", nullptr, nullptr, file.c_str()));  // null key: the section goes
  EXPECT_EQ(Read(file), "[MAINFRAME]\nx=10\n");
  // Lines that would not read back as written are refused, and nothing changes.
  EXPECT_FALSE(WritePrivateProfileString("MAINFRAME", "a=b", "1", file.c_str()));
  EXPECT_FALSE(WritePrivateProfileString("MAINFRAME", "k", "two\nlines", file.c_str()));
  EXPECT_EQ(Read(file), "[MAINFRAME]\nx=10\n");
  // A missing folder is an error, not a crash.
  EXPECT_FALSE(WritePrivateProfileString("A", "b", "c", (dir + "/no/such/dir/x.ini").c_str()));
}

TEST(RuntimeProfile, ConcurrentWriters_LoseNoKey) {
  const std::string file = tavtest::MakeTempSubdir("shared") + "/shared.ini";
  std::vector<pid_t> children;
  for (int p = 0; p < 2; ++p) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int i = 0; i < 50; ++i) {
        const std::string key = "p" + std::to_string(p) + "_" + std::to_string(i);
        if (!WritePrivateProfileString("S", key.c_str(), "1", file.c_str())) _exit(1);
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int p = 0; p < 2; ++p) {
    for (int i = 0; i < 50; ++i) {
      const std::string key = "p" + std::to_string(p) + "_" + std::to_string(i);
      EXPECT_EQ(GetPrivateProfileInt("S", key.c_str(), 0, file.c_str()), 1u) << key;
    }
  }
}

}  // namespace
