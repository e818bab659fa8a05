// The ".qvf" extension, shell association and player keys, in the test's private registry.
#include <gtest/gtest.h>

#include "libs/qvfreader/qvfreader.h"
#include "libs/qvfreader/qvfregistration.h"
#include "media/contract/registry.h"
#include "media/contract/shellapi.h"
#include "registrysnapshot.h"

namespace {

const GUID kReader = CLSID_QvfReaderFilter;

void SetDefault(const std::string& key, const std::string& value) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, key.c_str(), &k), ERROR_SUCCESS);
  RegSetValueEx(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), DWORD(value.size() + 1));
  RegCloseKey(k);
}

class qvfreader_Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* key : {".avi", ".wmv", ".qvf", "qvfFile", "AVIFile", "WMVFile", "Media Type"})
      RegDeleteTree(HKEY_CLASSES_ROOT, key);
    RegDeleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft");
  }
};

TEST_F(qvfreader_Registration, WritesExactlyTheExtensionShellAndPlayerKeys_AndTwiceChangesNothing) {
  SetDefault(".avi", "AVIFile");
  SetDefault("AVIFile\\DefaultIcon", "player,2");
  SetDefault("AVIFile\\shell\\open\\command", "player --open \"%1\"");
  SetDefault("AVIFile\\shell\\play\\command", "player --play \"%1\"");
  auto before = qvftest::SnapshotRegistry();
  size_t notices = tav::ShellNotificationsSent().size();

  qvfreader::RegisterQvfExtension(kReader);
  auto after = qvftest::SnapshotRegistry();
  const std::string wmp = "HKLM\\SOFTWARE\\Microsoft\\Multimedia\\WMPlayer\\Extensions\\.qvf";
  const std::string player = "HKLM\\SOFTWARE\\Microsoft\\MediaPlayer\\Player\\Extensions";
  std::set<std::string> expected = {
      "K HKCR\\Media Type",
      "K HKCR\\Media Type\\Extensions",
      "K HKCR\\Media Type\\Extensions\\.qvf",
      "V HKCR\\Media Type\\Extensions\\.qvf|Source Filter=1:{1616D96D-5D93-43EC-AC7B-C2AA3B41A5F7}",
      "K HKCR\\.qvf",
      "V HKCR\\.qvf|=1:qvfFile",
      "K HKCR\\qvfFile",
      "K HKCR\\qvfFile\\DefaultIcon",
      "V HKCR\\qvfFile\\DefaultIcon|=1:player,2",
      "K HKCR\\qvfFile\\shell",
      "K HKCR\\qvfFile\\shell\\open",
      "K HKCR\\qvfFile\\shell\\open\\command",
      "V HKCR\\qvfFile\\shell\\open\\command|=1:player --open \"%1\"",
      "K HKCR\\qvfFile\\shell\\play",
      "K HKCR\\qvfFile\\shell\\play\\command",
      "V HKCR\\qvfFile\\shell\\play\\command|=1:player --play \"%1\"",
      "K HKLM\\SOFTWARE\\Microsoft",
      "K HKLM\\SOFTWARE\\Microsoft\\Multimedia",
      "K HKLM\\SOFTWARE\\Microsoft\\Multimedia\\WMPlayer",
      "K HKLM\\SOFTWARE\\Microsoft\\Multimedia\\WMPlayer\\Extensions",
      "K " + wmp,
      "V " + wmp + "|AlreadyRegistered=1:yes",
      "V " + wmp + "|Permissions=4:15",
      "V " + wmp + "|Runtime=4:7",
      "K HKLM\\SOFTWARE\\Microsoft\\MediaPlayer",
      "K HKLM\\SOFTWARE\\Microsoft\\MediaPlayer\\Player",
      "K " + player,
      "K " + player + "\\Descriptions",
      "V " + player + "\\Descriptions|856=1:QVF (*.qvf)",
      "K " + player + "\\MUIDescriptions",
      "V " + player + "\\MUIDescriptions|856=1:QVF",
      "K " + player + "\\Types",
      "V " + player + "\\Types|856=1:*.qvf",
  };
  auto added = qvftest::Added(before, after);
  // HKLM\SOFTWARE may or may not exist before; it is not ours to count.
  added.erase("K HKLM\\SOFTWARE");
  EXPECT_EQ(added, expected);
  EXPECT_EQ(qvftest::Added(after, before).size(), 0u) << "nothing may be removed";

  auto sent = tav::ShellNotificationsSent();
  ASSERT_EQ(sent.size(), notices + 2);
  EXPECT_EQ(sent[notices].eventId, SHCNE_ASSOCCHANGED);
  EXPECT_EQ(sent[notices + 1].eventId, SHCNE_UPDATEIMAGE);
  EXPECT_EQ(sent[notices + 1].flags, SHCNF_DWORD);

  qvfreader::RegisterQvfExtension(kReader);
  EXPECT_EQ(qvftest::SnapshotRegistry(), after);
}

TEST_F(qvfreader_Registration, WithoutAvi_TakesWmvClass_AndAMissingPlayVerbLeavesAnEmptyKey) {
  SetDefault(".wmv", "WMVFile");
  SetDefault("WMVFile\\DefaultIcon", "wmv-icon");
  SetDefault("WMVFile\\shell\\open\\command", "wmv-open \"%1\"");
  qvfreader::RegisterQvfExtension(kReader);
  auto snap = qvftest::SnapshotRegistry();
  EXPECT_TRUE(snap.count("V HKCR\\qvfFile\\DefaultIcon|=1:wmv-icon"));
  EXPECT_TRUE(snap.count("V HKCR\\qvfFile\\shell\\open\\command|=1:wmv-open \"%1\""));
  EXPECT_TRUE(snap.count("K HKCR\\qvfFile\\shell\\play\\command"));
  for (const auto& e : snap) EXPECT_EQ(e.rfind("V HKCR\\qvfFile\\shell\\play", 0), std::string::npos) << e;
}

TEST_F(qvfreader_Registration, WithNoSourceClass_SkipsTheShellStepOnly) {
  SetDefault(".avi", "");  // a class name that is empty counts as none
  qvfreader::RegisterQvfExtension(kReader);
  auto snap = qvftest::SnapshotRegistry();
  EXPECT_FALSE(snap.count("K HKCR\\.qvf"));
  EXPECT_FALSE(snap.count("K HKCR\\qvfFile"));
  EXPECT_TRUE(snap.count("V HKCR\\Media Type\\Extensions\\.qvf|Source Filter=1:{1616D96D-5D93-43EC-AC7B-C2AA3B41A5F7}"));
  EXPECT_TRUE(snap.count("V HKLM\\SOFTWARE\\Microsoft\\MediaPlayer\\Player\\Extensions\\Types|856=1:*.qvf"));

  // An extension without its dot is never registered.
  qvfreader::RegisterSourceExtension("qvf", kReader);
  EXPECT_FALSE(qvftest::SnapshotRegistry().count("K HKCR\\Media Type\\Extensions\\qvf"));
}

}  // namespace
