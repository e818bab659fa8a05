// The registry store: the calls' result codes, the hive text, and several processes
// sharing one private registry (TAVRION_REGISTRY_DIR, set by the test main).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "media/contract/registry.h"
#include "tests/support/testenv.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string MachineHive() { return std::string(tav::RegistryDirectory()) + "/machine.reg"; }

LSTATUS SetString(HKEY key, const char* name, const std::string& text) {
  return RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
}

LSTATUS SetDword(HKEY key, const char* name, DWORD v) {
  return RegSetValueEx(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
}

std::string GetString(HKEY key, const char* name) {
  char buf[512];
  DWORD cb = sizeof buf, type = 0;
  if (RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &cb) != ERROR_SUCCESS) return "<missing>";
  return type == REG_SZ ? std::string(buf) : "<type " + std::to_string(type) + ">";
}

// A fresh registry folder for one test, so tests in one process do not see each other.
class RuntimeRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = tavtest::MakeTempSubdir("registry");
    setenv("TAVRION_REGISTRY_DIR", dir_.c_str(), 1);
    tav::RegistryReload();
  }
  std::string dir_;
};

TEST_F(RuntimeRegistry, KeysAndValues_FollowThePlatformsResultCodes) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "CLSID\\{X}", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, "CLSID\\{X}\\InprocServer32", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                           &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  ASSERT_EQ(SetString(key, nullptr, "/lib/x.so"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, "ThreadingModel", "Both"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "Merit", 0x200000), ERROR_SUCCESS);
  RegCloseKey(key);

  // Names compare case-insensitively; the case first given is kept.
  ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, "clsid\\{x}\\INPROCSERVER32", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                           &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(GetString(key, "threadingmodel"), "Both");
  EXPECT_EQ(GetString(key, ""), "/lib/x.so");

  // Size queries and short buffers.
  DWORD type = 0, cb = 0;
  ASSERT_EQ(RegQueryValueEx(key, "ThreadingModel", nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
  EXPECT_EQ(cb, 5u);
  char small[3];
  cb = sizeof small;
  EXPECT_EQ(RegQueryValueEx(key, "ThreadingModel", nullptr, &type, reinterpret_cast<BYTE*>(small), &cb),
            ERROR_MORE_DATA);
  EXPECT_EQ(cb, 5u);
  DWORD merit = 0;
  cb = sizeof merit;
  ASSERT_EQ(RegQueryValueEx(key, "MERIT", nullptr, &type, reinterpret_cast<BYTE*>(&merit), &cb), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(merit, 0x200000u);
  EXPECT_EQ(RegQueryValueEx(key, "Nope", nullptr, &type, nullptr, &cb), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValue(key, "merit"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValue(key, "merit"), ERROR_FILE_NOT_FOUND);

  // Enumeration: values in the order set, then ERROR_NO_MORE_ITEMS.
  char name[64];
  DWORD cch = sizeof name;
  ASSERT_EQ(RegEnumValue(key, 0, name, &cch, nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(cch, 0u);  // the default value
  cch = sizeof name;
  ASSERT_EQ(RegEnumValue(key, 1, name, &cch, nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "ThreadingModel");
  EXPECT_EQ(cch, 14u);
  cch = 5;
  EXPECT_EQ(RegEnumValue(key, 1, name, &cch, nullptr, &type, nullptr, nullptr), ERROR_MORE_DATA);
  cch = sizeof name;
  EXPECT_EQ(RegEnumValue(key, 2, name, &cch, nullptr, &type, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);

  // Subkeys enumerate sorted; RegDeleteKey refuses a key with subkeys, RegDeleteTree does not.
  HKEY clsid = nullptr;
  ASSERT_EQ(RegOpenKey(HKEY_CLASSES_ROOT, "CLSID", &clsid), ERROR_SUCCESS);
  HKEY tmp;
  ASSERT_EQ(RegCreateKey(clsid, "{A}", &tmp), ERROR_SUCCESS);
  RegCloseKey(tmp);
  ASSERT_EQ(RegEnumKey(clsid, 0, name, sizeof name), ERROR_SUCCESS);
  EXPECT_STREQ(name, "{A}");
  ASSERT_EQ(RegEnumKey(clsid, 1, name, sizeof name), ERROR_SUCCESS);
  EXPECT_STREQ(name, "{X}");
  EXPECT_EQ(RegEnumKey(clsid, 2, name, sizeof name), ERROR_NO_MORE_ITEMS);
  DWORD subKeys = 0, values = 9, maxSub = 0;
  ASSERT_EQ(RegQueryInfoKey(clsid, nullptr, nullptr, nullptr, &subKeys, &maxSub, nullptr, &values, nullptr, nullptr,
                            nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 2u);
  EXPECT_EQ(maxSub, 3u);
  EXPECT_EQ(values, 0u);
  EXPECT_EQ(RegDeleteKey(clsid, "{X}"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKey(clsid, "{A}"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKey(clsid, "{A}"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteTree(clsid, "{X}"), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKey(HKEY_CLASSES_ROOT, "CLSID\\{X}\\InprocServer32", &tmp), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, ""), ERROR_ACCESS_DENIED);
  RegCloseKey(clsid);
}

TEST_F(RuntimeRegistry, DefaultValueCalls_AndHandlesOfDeletedKeys) {
  ASSERT_EQ(RegSetValue(HKEY_CLASSES_ROOT, ".qvf", REG_SZ, "qvfFile", 0), ERROR_SUCCESS);
  char buf[64];
  LONG cb = sizeof buf;
  ASSERT_EQ(RegQueryValue(HKEY_CLASSES_ROOT, ".QVF", buf, &cb), ERROR_SUCCESS);
  EXPECT_STREQ(buf, "qvfFile");
  EXPECT_EQ(cb, 8);
  // A key without a default value reads as an empty string; a missing key does not.
  HKEY k;
  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, "qvfFile\\shell\\play\\command", &k), ERROR_SUCCESS);
  cb = sizeof buf;
  ASSERT_EQ(RegQueryValue(HKEY_CLASSES_ROOT, "qvfFile\\shell\\play\\command", buf, &cb), ERROR_SUCCESS);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(RegQueryValue(HKEY_CLASSES_ROOT, "nothere", buf, &cb), ERROR_FILE_NOT_FOUND);
  // A handle whose key was deleted answers ERROR_KEY_DELETED instead of touching anything.
  ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "qvfFile"), ERROR_SUCCESS);
  EXPECT_EQ(SetString(k, "x", "y"), ERROR_KEY_DELETED);
  RegCloseKey(k);
  // The three roots are separate.
  ASSERT_EQ(RegSetValue(HKEY_CURRENT_USER, "Software\\Tavrion", REG_SZ, "user", 0), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "Software\\Tavrion", &k), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKey(HKEY_CLASSES_ROOT, "Software\\Tavrion", &k), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(fs::exists(dir_ + "/user.reg"));
}

TEST_F(RuntimeRegistry, EveryValueKind_SurvivesTheTextHive) {
  HKEY key;
  ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, "Software\\Kinds", &key), ERROR_SUCCESS);
  const std::string binary("\x00\x01\xff\"\\\n", 6);
  const std::string multi("one\0two \"q\"\0\0", 13);
  const std::string odd("no\nterm\0inside\0", 15);  // embedded terminator: kept byte for byte
  const uint64_t big = 0x0123456789ABCDEFull;
  ASSERT_EQ(SetString(key, "Text", "caf\xc3\xa9 \"quoted\" \\ back\ttab"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueEx(key, "Expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>("%HOME%/x"), 8),
            ERROR_SUCCESS);  // no terminator given: one is added
  ASSERT_EQ(RegSetValueEx(key, "Bin", 0, REG_BINARY, reinterpret_cast<const BYTE*>(binary.data()), 6), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueEx(key, "Multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi.data()), 13),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueEx(key, "Odd", 0, REG_SZ, reinterpret_cast<const BYTE*>(odd.data()), 15), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueEx(key, "Q", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&big), 8), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "D", 7), ERROR_SUCCESS);
  RegCloseKey(key);

  const std::string text = ReadFile(MachineHive());
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\Kinds]"), std::string::npos) << text;
  EXPECT_NE(text.find("\"D\"=dword:00000007"), std::string::npos) << text;

  tav::RegistryReload();
  ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\kinds", &key), ERROR_SUCCESS);
  auto raw = [&](const char* name, DWORD* type) {
    BYTE buf[256];
    DWORD cb = sizeof buf;
    EXPECT_EQ(RegQueryValueEx(key, name, nullptr, type, buf, &cb), ERROR_SUCCESS) << name;
    return std::string(reinterpret_cast<char*>(buf), cb);
  };
  DWORD type = 0;
  EXPECT_EQ(raw("Text", &type), std::string("caf\xc3\xa9 \"quoted\" \\ back\ttab", 25) + '\0');
  EXPECT_EQ(raw("Expand", &type), std::string("%HOME%/x\0", 9));
  EXPECT_EQ(type, REG_EXPAND_SZ);
  EXPECT_EQ(raw("Bin", &type), binary);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(raw("Multi", &type), multi);
  EXPECT_EQ(type, REG_MULTI_SZ);
  EXPECT_EQ(raw("Odd", &type), odd);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(raw("Q", &type), std::string(reinterpret_cast<const char*>(&big), 8));
  EXPECT_EQ(type, REG_QWORD);
  RegCloseKey(key);
}

// Writes count values "prefix<i>" = i under HKLM\Software\Shared, closing the key (and
// so writing the hive) after every perWrite values.
void WriteValues(const std::string& prefix, int count, int perWrite) {
  HKEY key = nullptr;
  for (int i = 0; i < count; ++i) {
    if (!key) RegCreateKey(HKEY_LOCAL_MACHINE, "Software\\Shared", &key);
    SetDword(key, (prefix + std::to_string(i)).c_str(), static_cast<DWORD>(i));
    if ((i + 1) % perWrite == 0) {
      RegCloseKey(key);
      key = nullptr;
    }
  }
  if (key) RegCloseKey(key);
}

int CountValues(const char* prefix) {
  HKEY key;
  if (RegOpenKey(HKEY_LOCAL_MACHINE, "Software\\Shared", &key) != ERROR_SUCCESS) return 0;
  int n = 0;
  char name[64];
  for (DWORD i = 0;; ++i) {
    DWORD cch = sizeof name;
    if (RegEnumValue(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (std::strncmp(name, prefix, std::strlen(prefix)) == 0) ++n;
  }
  RegCloseKey(key);
  return n;
}

TEST_F(RuntimeRegistry, TwoProcessesWritingAtOnce_LoseNothing) {
  std::vector<pid_t> children;
  for (const char* prefix : {"a", "b"}) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      tav::RegistryReload();
      WriteValues(prefix, 1000, /*perWrite=*/5);  // 200 interleaved hive writes each
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  // This process sees the other processes' writes without being told.
  EXPECT_EQ(CountValues("a"), 1000);
  EXPECT_EQ(CountValues("b"), 1000);
}

TEST_F(RuntimeRegistry, SameSizeChangesByAnotherProcess_AreSeenByTheNextRead) {
  // Same size each time: the cached copy must notice the replaced file all the same.
  ASSERT_EQ(RegSetValue(HKEY_CLASSES_ROOT, "Seen", REG_SZ, "v00", 0), ERROR_SUCCESS);
  for (int i = 1; i < 12; ++i) {
    char text[16];
    std::snprintf(text, sizeof text, "v%02d", i);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(RegSetValue(HKEY_CLASSES_ROOT, "Seen", REG_SZ, text, 0) == ERROR_SUCCESS ? 0 : 1);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    char buf[16];
    LONG cb = sizeof buf;
    ASSERT_EQ(RegQueryValue(HKEY_CLASSES_ROOT, "Seen", buf, &cb), ERROR_SUCCESS);
    ASSERT_STREQ(buf, text);
  }
}

TEST_F(RuntimeRegistry, WriterKilledMidWrite_LeavesEveryEarlierValue) {
  WriteValues("base", 50, 50);
  for (int round = 0; round < 4; ++round) {
    int pipeFd[2];
    ASSERT_EQ(pipe(pipeFd), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(pipeFd[0]);
      tav::RegistryReload();
      for (int i = 0;; ++i) {
        WriteValues("r" + std::to_string(round) + "_" + std::to_string(i) + "_", 1, 1);
        // Reported only once written.
        if (write(pipeFd[1], &i, sizeof i) != sizeof i) _exit(1);
      }
    }
    close(pipeFd[1]);
    int last = -1, got = 0;
    const int stopAfter = 5 + round * 13;
    while (got < stopAfter && read(pipeFd[0], &last, sizeof last) == sizeof last) ++got;
    kill(pid, SIGKILL);
    while (read(pipeFd[0], &last, sizeof last) == sizeof last) ++got;
    close(pipeFd[0]);
    waitpid(pid, nullptr, 0);

    tav::RegistryReload();
    EXPECT_EQ(CountValues("base"), 50);
    EXPECT_GE(CountValues(("r" + std::to_string(round) + "_").c_str()), got) << "round " << round;
  }
  // The surviving file is a complete hive, not a torn one.
  const std::string text = ReadFile(MachineHive());
  EXPECT_NE(text.find("; end of hive"), std::string::npos);
  for (const auto& entry : fs::directory_iterator(dir_)) {
    EXPECT_EQ(entry.path().filename().string().find("corrupt"), std::string::npos);
  }
}

TEST_F(RuntimeRegistry, ThreadsSharingTheStore_AndBatchesDeferTheWrite) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] { WriteValues("t" + std::to_string(t) + "_", 200, 20); });
  }
  for (auto& th : threads) th.join();
  tav::RegistryReload();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(CountValues(("t" + std::to_string(t) + "_").c_str()), 200);

  // Inside a batch nothing reaches the file; the end of the outermost batch writes it all.
  const std::string before = ReadFile(MachineHive());
  {
    tav::RegistryBatch outer;
    tav::RegistryBeginBatch();
    WriteValues("batched", 10, 1);
    EXPECT_EQ(tav::RegistryEndBatch(), ERROR_SUCCESS);
    EXPECT_EQ(ReadFile(MachineHive()), before);
    EXPECT_EQ(CountValues("batched"), 10);  // this process sees its own changes at once
  }
  EXPECT_NE(ReadFile(MachineHive()).find("\"batched9\"=dword:00000009"), std::string::npos);
}

TEST_F(RuntimeRegistry, CorruptHive_IsReportedTreatedAsEmptyAndKept) {
  {
    std::ofstream out(MachineHive());
    out << "Tavrion Registry Hive 1\n\n[HKEY_CLASSES_ROOT\\A]\n\"v\"=dword:zz\n";
  }
  tav::RegistryReload();
  testing::internal::CaptureStderr();
  HKEY key;
  EXPECT_EQ(RegOpenKey(HKEY_CLASSES_ROOT, "A", &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKey(HKEY_CLASSES_ROOT, "A", &key), ERROR_FILE_NOT_FOUND);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("damaged"), std::string::npos);
  EXPECT_EQ(err.find("damaged"), err.rfind("damaged")) << "reported more than once: " << err;

  testing::internal::CaptureStderr();
  ASSERT_EQ(RegSetValue(HKEY_CLASSES_ROOT, "B", REG_SZ, "fresh", 0), ERROR_SUCCESS);
  testing::internal::GetCapturedStderr();
  int kept = 0;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    if (entry.path().filename().string().rfind("machine.reg.corrupt-", 0) == 0) {
      ++kept;
      EXPECT_NE(ReadFile(entry.path().string()).find("dword:zz"), std::string::npos);
    }
  }
  EXPECT_EQ(kept, 1);
  tav::RegistryReload();
  char buf[16];
  LONG cb = sizeof buf;
  ASSERT_EQ(RegQueryValue(HKEY_CLASSES_ROOT, "B", buf, &cb), ERROR_SUCCESS);
  EXPECT_STREQ(buf, "fresh");
}

TEST_F(RuntimeRegistry, HandEditedHive_WithCommentsCrLfAndByteOrderMark_Reads) {
  {
    std::ofstream out(MachineHive(), std::ios::binary);
    out << "\xEF\xBB\xBFTavrion Registry Hive 1\r\n; edited by hand\r\n"
           "[HKEY_CLASSES_ROOT\\.qvf]\r\n@=\"qvfFile\"\r\n\"Size\"=dword:0000002a\r\n; end of hive\r\n";
  }
  tav::RegistryReload();
  char buf[16];
  LONG cb = sizeof buf;
  ASSERT_EQ(RegQueryValue(HKEY_CLASSES_ROOT, ".qvf", buf, &cb), ERROR_SUCCESS);
  EXPECT_STREQ(buf, "qvfFile");
}

TEST_F(RuntimeRegistry, TruncatedOrForeignFiles_AreDamagedAndAMissingHiveIsEmpty) {
  HKEY key;
  EXPECT_EQ(RegOpenKey(HKEY_CURRENT_USER, "Software", &key), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegSetValue(HKEY_CLASSES_ROOT, "Keep", REG_SZ, "x", 0), ERROR_SUCCESS);
  std::string text = ReadFile(MachineHive());
  {
    std::ofstream out(MachineHive(), std::ios::trunc);
    out << text.substr(0, text.size() - 5);  // cut inside the end line
  }
  testing::internal::CaptureStderr();
  tav::RegistryReload();
  EXPECT_EQ(RegOpenKey(HKEY_CLASSES_ROOT, "Keep", &key), ERROR_FILE_NOT_FOUND);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("truncated"), std::string::npos);
}

}  // namespace
