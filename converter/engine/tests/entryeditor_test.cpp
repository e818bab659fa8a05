// The entry editor: what the form's controls show for one or several entries, and how a
// change reaches exactly the entries it concerns.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "converter/engine/entryeditor.h"
#include "converter/engine/strings.h"
#include "tests/support/testenv.h"

namespace tav {
namespace {

constexpr REFERENCE_TIME kSecond = 10000000;

// An entry as a probe leaves it: a wide or 4:3 source that can or cannot seek.
std::unique_ptr<CConvertOrder> Entry(const std::string& name, bool fourByThree = false, bool seekable = true) {
  auto e = std::make_unique<CConvertOrder>();
  e->SetSourcePath("/movies/" + name + ".avi");
  e->SetOutputPath("/movies/[QVF]-" + name + ".qvf");
  e->SetSourceInfo(10 * kSecond, 320, fourByThree ? 240 : 180, seekable);
  return e;
}

class EntryEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a", "b", "c"}) owned_.push_back(Entry(name));
  }
  EntryEditor All() const {
    std::vector<CConvertOrder*> all;
    for (const auto& e : owned_) all.push_back(e.get());
    return EntryEditor(all);
  }
  CConvertOrder& At(size_t i) { return *owned_[i]; }
  std::vector<std::unique_ptr<CConvertOrder>> owned_;
};

TEST_F(EntryEditorTest, SharedValues_ShowAsTheirItem_DifferentOnesAsMixed) {
  EntryEditor editor = All();
  // New entries share the defaults: 320 x 240, 30 fps, Fit, unlimited.
  EXPECT_EQ(editor.FrameSizeItem(), 0);
  EXPECT_EQ(editor.FrameRateItem(), 1);
  EXPECT_EQ(editor.ScreenFitItem(), 0);
  EXPECT_EQ(editor.SplitItem(), 0);
  EXPECT_EQ(editor.OutputFolder(), "/movies/");

  At(1).SetFrameSize(640, 480);
  At(2).SetFrameRate(15.0);
  At(0).SetScreenFit(CConvertOrder::kStretch);
  At(2).SetSplitSize(64ull << 20);
  At(1).SetOutputPath("/elsewhere/b.qvf");
  EXPECT_EQ(editor.FrameSizeItem(), EntryEditor::kMixed);
  EXPECT_EQ(editor.FrameRateItem(), EntryEditor::kMixed);
  EXPECT_EQ(editor.ScreenFitItem(), EntryEditor::kMixed);
  EXPECT_EQ(editor.SplitItem(), EntryEditor::kMixed);
  EXPECT_EQ(editor.OutputFolder(), std::nullopt);

  // One entry shows its own values; the old crop value 1 shows as Crop, a rate no item
  // offers as no item.
  EntryEditor one({&At(1)});
  EXPECT_EQ(one.FrameSizeItem(), 1);
  At(1).SetScreenFit(1);
  EXPECT_EQ(one.ScreenFitItem(), 1);
  At(1).SetFrameRate(25.0);
  EXPECT_EQ(one.FrameRateItem(), EntryEditor::kNoItem);
  EXPECT_EQ(one.OutputFolder(), "/elsewhere/");
  EXPECT_EQ(one.OutputTitle(), "b");

  EXPECT_EQ(EntryEditor().FrameSizeItem(), EntryEditor::kNoItem);
  EXPECT_EQ(EntryEditor().OutputFolder(), "");
}

TEST_F(EntryEditorTest, OneChange_ReachesEveryEntry_AndAMixedListLeftAloneChangesNothing) {
  At(0).SetFrameRate(15.0);
  At(1).SetOutputPath("/elsewhere/b.qvf");
  EntryEditor editor = All();
  ASSERT_EQ(editor.FrameRateItem(), EntryEditor::kMixed);

  EXPECT_TRUE(editor.SetFrameSizeItem(1));
  EXPECT_FALSE(editor.SetFrameSizeItem(1)) << "nothing left to change";
  for (const auto& e : owned_) {
    EXPECT_EQ(e->GetFrameWidth(), 640);
    EXPECT_EQ(e->GetFrameHeight(), 480);
  }
  // The mixed rate list reports no item: nothing changes.
  EXPECT_FALSE(editor.SetFrameRateItem(editor.FrameRateItem()));
  EXPECT_FALSE(editor.SetFrameRateItem(EntryEditor::kNoItem));
  EXPECT_FALSE(editor.SetFrameRateItem(7));
  EXPECT_DOUBLE_EQ(At(0).GetFrameRate(), 15.0);
  EXPECT_DOUBLE_EQ(At(1).GetFrameRate(), 30.0);
  EXPECT_FALSE(editor.SetOutputFolder(""));
  EXPECT_EQ(At(1).OutputPath().Full(), "/elsewhere/b.qvf");

  // One folder for all: each output keeps its own name.
  EXPECT_TRUE(editor.SetOutputFolder("/out"));
  EXPECT_EQ(At(0).OutputPath().Full(), "/out/[QVF]-a.qvf");
  EXPECT_EQ(At(1).OutputPath().Full(), "/out/b.qvf");
  EXPECT_EQ(editor.OutputFolder(), "/out/");
  EXPECT_TRUE(editor.SetFrameRateItem(0));
  EXPECT_EQ(editor.FrameRateItem(), 0);
}

TEST_F(EntryEditorTest, FitAndSplit_GoOnlyWhereTheSourceTakesThem) {
  owned_.push_back(Entry("square", true, true));    // exactly 4:3: always fits
  owned_.push_back(Entry("stream", false, false));  // cannot seek: never splits
  CConvertOrder& square = At(3);
  CConvertOrder& stream = At(4);
  EntryEditor editor = All();
  EXPECT_TRUE(editor.CanChangeScreenFit());
  EXPECT_TRUE(editor.CanSplit());

  EXPECT_TRUE(editor.SetScreenFitItem(1));
  EXPECT_TRUE(editor.SetSplitItem(3));
  EXPECT_EQ(square.GetScreenFit(), CConvertOrder::kFit);
  EXPECT_EQ(stream.GetSplitSize(), 0u);
  EXPECT_EQ(At(0).GetScreenFit(), CConvertOrder::kCrop);
  EXPECT_EQ(At(0).GetSplitSize(), 128ull << 20);
  // The lists show what the entries that take the setting have.
  EXPECT_EQ(editor.ScreenFitItem(), 1);
  EXPECT_EQ(editor.SplitItem(), 3);

  // Alone, a 4:3 source shows Fit and a stream "unlimited", neither changeable.
  EntryEditor onlySquare({&square}), onlyStream({&stream});
  EXPECT_FALSE(onlySquare.CanChangeScreenFit());
  EXPECT_EQ(onlySquare.ScreenFitItem(), 0);
  EXPECT_FALSE(onlyStream.CanSplit());
  EXPECT_EQ(onlyStream.SplitItem(), 0);

  // A split stored for a movie not probed yet is kept, not read as "unlimited".
  CConvertOrder unprobed;
  unprobed.SetSourceInfo(kUnknownTime, 0, 0, true);
  unprobed.SetSplitSize(256ull << 20);
  unprobed.SetSourceInfo(kUnknownTime, 0, 0, false);
  EntryEditor({&unprobed}).SetSplitItem(1);
  EXPECT_EQ(unprobed.GetStoredSplitSize(), 256ull << 20);
}

TEST_F(EntryEditorTest, Subtitles_SizeAndLanguageOnlyWhereThereAreSubtitles) {
  for (size_t i = 0; i < 2; ++i) {
    At(i).SetSubtitlePath("/movies/" + std::string(1, char('a' + i)) + ".smi");
    At(i).SetUseSubtitles(true);
    At(i).SetSubtitleLanguage("en-us");
  }
  At(2).SetUseSubtitles(false);
  At(2).SetSubtitleSize("keep");
  EntryEditor editor = All();
  EXPECT_EQ(editor.UseSubtitles(), EntryEditor::Check::kMixed);
  EXPECT_EQ(editor.SubtitleLanguage(), "en-us");

  EXPECT_TRUE(editor.SetSubtitleSize("9F0194EA-D60A-43d2-B994-CB0FDDE02C3E"));
  EXPECT_EQ(At(0).GetSubtitleSize(), "9F0194EA-D60A-43d2-B994-CB0FDDE02C3E");
  EXPECT_EQ(At(1).GetSubtitleSize(), "9F0194EA-D60A-43d2-B994-CB0FDDE02C3E");
  EXPECT_EQ(At(2).GetSubtitleSize(), "keep");
  // A language goes only to the entries whose file offers it.
  const auto offered = [&](const CConvertOrder& e, const std::string&) { return &e == &At(1); };
  EXPECT_TRUE(editor.SetSubtitleLanguage("fr-fr", offered));
  EXPECT_EQ(At(0).GetSubtitleLanguage(), "en-us");
  EXPECT_EQ(At(1).GetSubtitleLanguage(), "fr-fr");
  EXPECT_EQ(editor.SubtitleLanguage(), std::nullopt);
  EXPECT_EQ(EntryEditor({&At(2)}).SubtitleSize(), "") << "no subtitles: nothing to show, nothing mixed";

  // Switched on for several, only the entries with a file take subtitles.
  At(2).SetSubtitlePath("");
  EXPECT_TRUE(editor.SetUseSubtitles(false));
  EXPECT_EQ(editor.UseSubtitles(), EntryEditor::Check::kOff);
  EXPECT_TRUE(editor.SetUseSubtitles(true));
  EXPECT_TRUE(At(1).UsesSubtitles());
  EXPECT_FALSE(At(2).UsesSubtitles());
  EXPECT_EQ(editor.UseSubtitles(), EntryEditor::Check::kMixed);
  EXPECT_FALSE(editor.SetUseSubtitles(true)) << "nothing more takes them";
}

// The lists show the string table's items; the editor's choices are their values, in
// the same order.
TEST(EntryEditorChoices, MatchTheItemsTheListsShow) {
  const std::vector<std::string> sizes = res::SplitItems(res::Text(res::IDS_FRAMESIZE_ITEMS));
  ASSERT_EQ(sizes.size(), std::size(kFrameSizeChoices));
  for (size_t i = 0; i < sizes.size(); ++i) {
    int w = 0, h = 0;
    ASSERT_EQ(std::sscanf(sizes[i].c_str(), "%i x %i", &w, &h), 2) << sizes[i];
    EXPECT_EQ(w, kFrameSizeChoices[i].width);
    EXPECT_EQ(h, kFrameSizeChoices[i].height);
  }
  const std::vector<std::string> rates = res::SplitItems(res::Text(res::IDS_FRAMERATE_ITEMS));
  ASSERT_EQ(rates.size(), std::size(kFrameRateChoices));
  for (size_t i = 0; i < rates.size(); ++i) EXPECT_DOUBLE_EQ(std::stod(rates[i]), kFrameRateChoices[i]) << rates[i];
  EXPECT_EQ(res::SplitItems(res::Text(res::IDS_SCREENFIT_ITEMS)).size(), std::size(kScreenFitChoices));
  EXPECT_EQ(res::SplitItems(res::Text(res::IDS_FORMAT_ITEMS)).size(), size_t(kOutputFormatCount));
  // "unlimited", then megabytes.
  const std::vector<std::string> splits = res::SplitItems(res::Text(res::IDS_SPLIT_ITEMS));
  ASSERT_EQ(splits.size(), std::size(kSplitSizeChoices));
  EXPECT_EQ(kSplitSizeChoices[0], 0u);
  for (size_t i = 1; i < splits.size(); ++i) EXPECT_EQ(std::stoull(splits[i]) << 20, kSplitSizeChoices[i]) << splits[i];
}

TEST_F(EntryEditorTest, SingleEntry_SubtitleTextAndOutputName) {
  CConvertOrder& e = At(0);
  EntryEditor editor({&e});
  // A file beside the movie or below it is typed relative to it; one elsewhere in full.
  e.SetSubtitlePath("/movies/subs/a.smi");
  EXPECT_EQ(editor.SubtitleFileText(), "subs/a.smi");
  e.SetSubtitlePath("/other/a.smi");
  EXPECT_EQ(editor.SubtitleFileText(), "/other/a.smi");
  EXPECT_TRUE(editor.SetSubtitleFileText("a.srt"));
  EXPECT_EQ(e.SubtitlePath().Full(), "/movies/a.srt");
  EXPECT_EQ(All().SubtitleFileText(), "") << "several entries have no one file";
  EXPECT_FALSE(All().SetSubtitleFileText("x.smi"));

  std::string problem;
  EXPECT_FALSE(editor.SetOutputTitle("sub/name", &problem));
  EXPECT_NE(problem.find("folder separator"), std::string::npos) << problem;
  EXPECT_FALSE(editor.SetOutputTitle(".."));
  EXPECT_FALSE(editor.SetOutputTitle(std::string(300, 'n')));
  EXPECT_EQ(e.OutputPath().Full(), "/movies/[QVF]-a.qvf");
  EXPECT_TRUE(editor.SetOutputTitle("clip", &problem));
  EXPECT_EQ(problem, "");
  EXPECT_EQ(e.OutputPath().Full(), "/movies/clip.qvf");
  // An output without extension gets the camera movie's.
  e.SetOutputPath("/movies/bare");
  EXPECT_TRUE(editor.SetOutputTitle("named"));
  EXPECT_EQ(e.OutputPath().Full(), "/movies/named.qvf");
  EXPECT_FALSE(All().SetOutputTitle("same")) << "several entries never take one name";
}

TEST(EntryEditorFolders, CheckAndMakeTheOutputFolder) {
  const std::string dir = tavtest::MakeTempSubdir("outfolders");
  EXPECT_EQ(CheckOutputFolder(dir), OutputFolderState::kUsable);
  EXPECT_EQ(CheckOutputFolder(dir + "/"), OutputFolderState::kUsable);
  EXPECT_EQ(CheckOutputFolder(""), OutputFolderState::kMissing);
  const std::string nested = dir + "/a/b";
  EXPECT_EQ(CheckOutputFolder(nested), OutputFolderState::kMissing);
  std::string why;
  EXPECT_TRUE(MakeOutputFolder(nested, &why)) << why;
  EXPECT_EQ(CheckOutputFolder(nested), OutputFolderState::kUsable);
  std::ofstream(dir + "/plain") << "x";
  EXPECT_EQ(CheckOutputFolder(dir + "/plain"), OutputFolderState::kNotAFolder);
  EXPECT_FALSE(MakeOutputFolder(dir + "/plain/below", &why));
  EXPECT_FALSE(why.empty());
  // Read-only only where the test's user is refused writing (not as root).
  const std::string locked = dir + "/locked";
  std::filesystem::create_directory(locked);
  std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  if (::access(locked.c_str(), W_OK) != 0) {
    EXPECT_EQ(CheckOutputFolder(locked), OutputFolderState::kReadOnly);
  }
  std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
}

}  // namespace
}  // namespace tav
