// Batch entries: creation and default names, the accessor rules, the status texts and the
// probe-failure messages.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "converter/engine/convertorder.h"
#include "converter/engine/exceptions.h"
#include "converter/engine/strings.h"
#include "media/contract/errortext.h"
#include "tests/support/testenv.h"

namespace tav {
namespace {

void Touch(const std::string& path, const std::string& bytes = "x") {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string PlatformText(HRESULT hr) {
  char buf[161] = {};
  return AMGetErrorTextA(hr, buf, 160) ? std::string(buf) : std::string();
}

// ---- creation -------------------------------------------------------------------------

TEST(EngineConvertOrder, Create_DefaultNamesAndSubtitleFound) {
  const std::string dir = tavtest::MakeTempSubdir("create");
  Touch(dir + "/clip.avi");
  Touch(dir + "/clip.smi");
  CConvertOrder entry(dir + "/clip.avi");
  EXPECT_TRUE(entry.IsChecked());
  EXPECT_TRUE(entry.UsesSubtitles());
  EXPECT_EQ(entry.SubtitlePath().Full(), dir + "/clip.smi");
  EXPECT_EQ(entry.OutputPath().Full(), dir + "/[QVF]-clip.qvf");
  EXPECT_FALSE(std::filesystem::exists(dir + "/[QVF]-clip.qvf"));  // created and deleted again
  EXPECT_EQ(entry.GetSubtitleSize(), "A551CAEA-E6D4-4e47-8422-9128EEEE0D46");
  EXPECT_EQ(entry.GetSubtitleLanguage(), "en-us");
  EXPECT_EQ(entry.GetFrameWidth(), 320);
  EXPECT_EQ(entry.GetFrameHeight(), 240);
  EXPECT_EQ(entry.GetFrameRate(), 30.0);
  EXPECT_EQ(entry.GetScreenFit(), 2);
  EXPECT_EQ(entry.GetDuration(), kUnknownTime);
  EXPECT_EQ(entry.GetState(), CConvertOrder::kReady);
}

TEST(EngineConvertOrder, Create_WithoutSubtitleFile_SwitchesSubtitlesOff) {
  const std::string dir = tavtest::MakeTempSubdir("nosubs");
  Touch(dir + "/clip.mp4");
  std::filesystem::create_directory(dir + "/clip.smi");  // a folder is no subtitle file
  CConvertOrder entry(dir + "/clip.mp4");
  EXPECT_FALSE(entry.UsesSubtitles());
  EXPECT_TRUE(entry.SubtitlePath().IsEmpty());
}

TEST(EngineConvertOrder, Create_FindsOtherSubtitleFormatsBesideTheMovie) {
  const std::string dir = tavtest::MakeTempSubdir("otherformats");
  for (const char* ext : {".srt", ".SRT", ".sami", ".VTT", ".ass", ".ssa"}) {
    Touch(dir + "/m" + ext + ".avi");
    Touch(dir + "/m" + ext + ext);
    CConvertOrder entry(dir + "/m" + ext + ".avi");
    EXPECT_TRUE(entry.UsesSubtitles()) << ext;
    EXPECT_EQ(entry.SubtitlePath().Full(), dir + "/m" + ext + ext);
  }
  // ".smi" comes first, then SubRip, ".sami", WebVTT and SSA/ASS.
  Touch(dir + "/both.avi");
  Touch(dir + "/both.vtt");
  Touch(dir + "/both.sami");
  EXPECT_EQ(CConvertOrder(dir + "/both.avi").SubtitlePath().Full(), dir + "/both.sami");
  Touch(dir + "/both.srt");
  EXPECT_EQ(CConvertOrder(dir + "/both.avi").SubtitlePath().Full(), dir + "/both.srt");
  Touch(dir + "/both.smi");
  EXPECT_EQ(CConvertOrder(dir + "/both.avi").SubtitlePath().Full(), dir + "/both.smi");
}

TEST(EngineConvertOrder, Create_ExistingOutputs_AreNumbered) {
  const std::string dir = tavtest::MakeTempSubdir("numbered");
  Touch(dir + "/clip.avi");
  Touch(dir + "/[QVF]-clip.qvf", "keep");
  Touch(dir + "/[QVF]-clip[1].qvf", "keep");
  CConvertOrder entry(dir + "/clip.avi");
  EXPECT_EQ(entry.OutputPath().Full(), dir + "/[QVF]-clip[2].qvf");
  // Existing files are never touched.
  std::ifstream in(dir + "/[QVF]-clip.qvf");
  std::string text;
  in >> text;
  EXPECT_EQ(text, "keep");

  // A source already numbered continues its numbering.
  Touch(dir + "/part[3].avi");
  Touch(dir + "/[QVF]-part[3].qvf");
  CConvertOrder numbered(dir + "/part[3].avi");
  EXPECT_EQ(numbered.OutputPath().Full(), dir + "/[QVF]-part[4].qvf");
}

TEST(EngineConvertOrder, Create_UnwritableFolder_RaisesFileException) {
  const std::string dir = tavtest::MakeTempSubdir("unwritable");
  try {
    CConvertOrder entry(dir + "/missing/clip.avi");
    FAIL() << "no exception";
  } catch (const FileException& e) {
    EXPECT_EQ(e.Path(), dir + "/missing/[QVF]-clip.qvf");
    EXPECT_EQ(e.Errno(), ENOENT);
    EXPECT_NE(std::string(e.what()).find("[QVF]-clip.qvf"), std::string::npos);
  }
}

// ---- accessor rules -------------------------------------------------------------------

TEST(EngineConvertOrder, FourByThreeSource_AlwaysFit) {
  CConvertOrder entry;
  entry.SetScreenFit(3);
  EXPECT_EQ(entry.GetScreenFit(), 3);
  for (auto [w, h] : {std::pair{640, 480}, std::pair{320, 240}}) {
    entry.SetSourceInfo(kUnknownTime, w, h, true);
    EXPECT_TRUE(entry.Is4by3());
    EXPECT_EQ(entry.GetScreenFit(), 2);  // the stored Crop is ignored
    entry.SetScreenFit(0);
    EXPECT_EQ(entry.GetScreenFit(), 2);
  }
  entry.SetSourceInfo(kUnknownTime, 720, 480, true);
  EXPECT_FALSE(entry.Is4by3());
  EXPECT_EQ(entry.GetScreenFit(), 2);  // stored as Fit while 4:3
  entry.SetScreenFit(0);
  EXPECT_EQ(entry.GetScreenFit(), 0);
  entry.SetSourceInfo(kUnknownTime, 0, 0, false);
  EXPECT_FALSE(entry.Is4by3());  // 0 x 0 is no 4:3 source... and no crash
}

TEST(EngineConvertOrder, NonSeekableSource_NeverSplits) {
  CConvertOrder entry;
  entry.SetSplitSize(33554432);
  EXPECT_EQ(entry.GetSplitSize(), 0u);
  entry.SetSourceInfo(kUnknownTime, 0, 0, true);
  EXPECT_EQ(entry.GetSplitSize(), 0u);  // stored 0 while it could not seek
  entry.SetSplitSize(33554432);
  EXPECT_EQ(entry.GetSplitSize(), 33554432u);
  entry.SetSourceInfo(kUnknownTime, 0, 0, false);
  EXPECT_EQ(entry.GetSplitSize(), 0u);
}

TEST(EngineConvertOrder, TrimPoints_ValidOnlyWhenBothSet) {
  CConvertOrder entry;
  REFERENCE_TIME s = 0, e = 0;
  EXPECT_FALSE(entry.GetTrimPoints(&s, &e));
  EXPECT_EQ(s, -1);
  entry.SetTrimPoints(10, -1);
  EXPECT_FALSE(entry.GetTrimPoints(&s, &e));
  entry.SetTrimPoints(-1, 10);
  EXPECT_FALSE(entry.GetTrimPoints(&s, &e));
  entry.SetTrimPoints(0, 10);
  EXPECT_TRUE(entry.GetTrimPoints(&s, &e));
  EXPECT_EQ(e, 10);
}

TEST(EngineConvertOrder, FileSize_ReadOnceAndZeroWhenMissing) {
  const std::string dir = tavtest::MakeTempSubdir("size");
  Touch(dir + "/a.avi", std::string(1234, 'a'));
  CConvertOrder entry(dir + "/a.avi");
  ::chmod((dir + "/a.avi").c_str(), 0);  // attributes only: no read access needed
  EXPECT_EQ(entry.GetFileSize(), 1234);
  Touch(dir + "/a.avi", std::string(10, 'a'));
  EXPECT_EQ(entry.GetFileSize(), 1234);  // cached

  CConvertOrder missing;
  missing.SetSourcePath(dir + "/none.avi");
  EXPECT_EQ(missing.GetFileSize(), 0);
  Touch(dir + "/none.avi");
  EXPECT_EQ(missing.GetFileSize(), 0);  // the 0 is cached too
}

// ---- states and status texts ----------------------------------------------------------

TEST(EngineConvertOrderStatus, RunStatesAndPlayStates) {
  CConvertOrder entry;
  EXPECT_EQ(entry.GetStatusText(), "Ready");
  entry.SetConverting();
  EXPECT_EQ(entry.GetStatusText(), "Converting");
  entry.SetFinished(true, 0);
  EXPECT_EQ(entry.GetStatusText(), "Converted");
  entry.SetFinished(false, 0);
  EXPECT_EQ(entry.GetStatusText(), "Interrupted");
  entry.SetFinished(false, 3725LL * 10000000);
  EXPECT_EQ(entry.GetStatusText(), "Interrupted at 1:02:05");
  entry.SetPlayState(true);
  EXPECT_EQ(entry.GetStatusText(), "Playing");
  entry.SetPlayState(false);
  EXPECT_EQ(entry.GetStatusText(), "Paused");
  entry.ClearPlayState();
  entry.ResetState();
  EXPECT_EQ(entry.GetStatusText(), "Ready");
}

TEST(EngineConvertOrderStatus, ErrorState_TextAndCode) {
  CConvertOrder entry;
  entry.SetFailed(S_FALSE);
  EXPECT_EQ(entry.GetStatusText(), "Error");  // not a failure code: no code shown

  const HRESULT known = VFW_E_CANNOT_RENDER;
  const std::string text = PlatformText(known);
  ASSERT_FALSE(text.empty()) << "the platform has a text for VFW_E_CANNOT_RENDER";
  entry.SetFailed(known);
  EXPECT_EQ(entry.GetStatusText(), "Error: " + text + " (0x80040218)");

  const HRESULT unknown = TAV_HR(0xA0001234);
  ASSERT_TRUE(PlatformText(unknown).empty()) << "the test needs a code the platform has no text for";
  entry.SetFailed(unknown);
  EXPECT_EQ(entry.GetStatusText(), "Error (0xA0001234)");
}

TEST(EngineConvertOrderStatus, SubtitleFailure_IsAnErrorStateNotAProbeError) {
  CConvertOrder entry;
  entry.SetProbeResult(TAV_E_SUBTITLE_LOAD, MediaTypeValue(), "");
  EXPECT_FALSE(entry.HasProbeError());
  EXPECT_EQ(entry.GetState(), CConvertOrder::kError);
  const std::string text = PlatformText(TAV_E_SUBTITLE_LOAD);
  if (text.empty())
    EXPECT_EQ(entry.GetStatusText(), "Invalid file of subtitles (0x80040301)");
  else
    EXPECT_EQ(entry.GetStatusText(), "Error: " + text + " (0x80040301)");
  // A playing entry shows its play state first.
  entry.SetPlayState(true);
  EXPECT_EQ(entry.GetStatusText(), "Playing");
}

TEST(EngineConvertOrderStatus, SuccessfulProbe_ClearsEverything) {
  CConvertOrder entry;
  MediaTypeValue mt;
  mt.majortype = MEDIATYPE_Video;
  entry.SetProbeResult(VFW_E_CANNOT_RENDER, mt, "x");
  EXPECT_TRUE(entry.HasProbeError());
  entry.SetProbeResult(S_OK, mt, "ignored");
  EXPECT_FALSE(entry.HasProbeError());
  EXPECT_EQ(entry.GetResultCode(), S_OK);
  EXPECT_TRUE(entry.GetFailedMediaType().IsEmpty());
  EXPECT_EQ(entry.GetProbeMessage(), "");
  EXPECT_EQ(entry.GetStatusText(), "Ready");

  // An error (here a subtitle file that did not read) is undone by a good probe ...
  entry.SetProbeResult(TAV_E_SUBTITLE_LOAD, MediaTypeValue(), "");
  entry.SetProbeResult(S_OK, mt, "");
  EXPECT_EQ(entry.GetState(), CConvertOrder::kReady);
  // ... but selecting a finished entry to preview it keeps the run's outcome.
  entry.SetFinished(true, 0);
  entry.SetProbeResult(S_OK, mt, "");
  EXPECT_EQ(entry.GetStatusText(), "Converted");
  entry.SetFinished(false, 120'000'000);
  entry.SetProbeResult(S_OK, mt, "");
  EXPECT_EQ(entry.GetState(), CConvertOrder::kInterrupted);
  EXPECT_EQ(entry.GetInterruptedAt(), 120'000'000);
}

class EngineProbeFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    text_ = PlatformText(kCode);
    ASSERT_FALSE(text_.empty()) << "the platform has a text for VFW_E_CANNOT_RENDER";
  }
  std::string Status(const MediaTypeValue& mt, HRESULT hr = kCode, const std::string& message = "") {
    CConvertOrder entry;
    entry.SetProbeResult(hr, mt, message);
    entry.SetPlayState(true);  // a probe error outranks the play state
    return entry.GetStatusText();
  }
  static MediaTypeValue Type(const GUID& major, const GUID& sub, const GUID& format, std::vector<BYTE> block = {}) {
    MediaTypeValue mt;
    mt.majortype = major;
    mt.subtype = sub;
    mt.formattype = format;
    mt.format = std::move(block);
    return mt;
  }
  static std::vector<BYTE> Wave(WORD tag, const GUID* subFormat = nullptr) {
    WAVEFORMATEXTENSIBLE wfx{};
    wfx.Format.wFormatTag = tag;
    size_t size = sizeof(WAVEFORMATEX);
    if (subFormat) {
      wfx.SubFormat = *subFormat;
      wfx.Format.cbSize = 22;
      size = sizeof wfx;
    }
    std::vector<BYTE> block(size);
    std::memcpy(block.data(), &wfx, size);
    return block;
  }
  static constexpr HRESULT kCode = VFW_E_CANNOT_RENDER;
  std::string text_;
};

TEST_F(EngineProbeFailure, Video_NamesTheFourccOrMpeg2) {
  EXPECT_EQ(Status(Type(MEDIATYPE_Video, MEDIASUBTYPE_DIVX, FORMAT_VideoInfo)),
            "Cannot decode DIVX video: this program has no decoder for it");
  EXPECT_EQ(Status(Type(MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO, FORMAT_VideoInfo2)),
            "Cannot decode MPEG 2 video: this program has no decoder for it");
  // No name: the generic text.
  EXPECT_EQ(Status(Type(MEDIATYPE_Video, MEDIASUBTYPE_DIVX, FORMAT_MPEGVideo)), "Cannot read. " + text_ + " ");
  // A subtype that is no four-character code: unprintable bytes are not copied into the text.
  const std::string odd = Status(Type(MEDIATYPE_Video, MEDIASUBTYPE_RGB24, FORMAT_VideoInfo));
  EXPECT_EQ(odd, "Cannot decode }?6? video: this program has no decoder for it");
}

TEST_F(EngineProbeFailure, Audio_NamesTheFormatTag) {
  const GUID dts = {0xE06D8033, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
  EXPECT_EQ(Status(Type(MEDIATYPE_Audio, dts, FORMAT_None)),
            "Cannot decode DTS media: this program has no decoder for it");
  EXPECT_EQ(Status(Type(MEDIATYPE_Audio, MEDIASUBTYPE_DOLBY_AC3, FORMAT_WaveFormatEx, Wave(0x2000))),
            "Cannot decode AC3 media: this program has no decoder for it");
  const auto tag = [&](WORD t) {
    return Status(Type(MEDIATYPE_Audio, FourccSubtype(t), FORMAT_WaveFormatEx, Wave(t)));
  };
  EXPECT_EQ(tag(1), "Cannot decode PCM audio: this program has no decoder for it");
  EXPECT_EQ(tag(0x2000), "Cannot decode AC3 audio: this program has no decoder for it");
  EXPECT_EQ(tag(0x2001), "Cannot decode DTS audio: this program has no decoder for it");
  EXPECT_EQ(tag(0x0055), "Cannot decode 0x00000055 audio: this program has no decoder for it");

  const GUID sub = MEDIASUBTYPE_PCM;
  const std::string name = GuidName(sub);
  const std::string extensible =
      Status(Type(MEDIATYPE_Audio, MEDIASUBTYPE_WAVE_EXTENSIBLE, FORMAT_WaveFormatEx, Wave(0xFFFE, &sub)));
  if (name.empty())
    EXPECT_EQ(extensible, "Cannot read. " + text_ + " ");
  else
    EXPECT_EQ(extensible, "Cannot decode " + name + " audio: this program has no decoder for it");

  // A format block too short for the tag, or for the extensible part: no name, no crash.
  EXPECT_EQ(Status(Type(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, {0x01})), "Cannot read. " + text_ + " ");
  EXPECT_EQ(Status(Type(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, Wave(0xFFFE))),
            "Cannot read. " + text_ + " ");
  // Another format type: no name.
  EXPECT_EQ(Status(Type(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_None)), "Cannot read. " + text_ + " ");
}

TEST_F(EngineProbeFailure, OtherMajorTypes_UseTheGuidNameOrTheProbeMessage) {
  EXPECT_EQ(Status(Type(GUID_NULL, GUID_NULL, GUID_NULL), kCode, "X-Reader"),
            "Cannot decode X-Reader media: this program has no decoder for it");
  EXPECT_EQ(Status(Type(GUID_NULL, GUID_NULL, GUID_NULL), kCode, ""), "Cannot read. " + text_ + " ");
  const std::string name = GuidName(MEDIASUBTYPE_MPEG1System);
  const std::string stream = Status(Type(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG1System, GUID_NULL));
  if (name.empty())
    EXPECT_EQ(stream, "Cannot read. " + text_ + " ");
  else
    EXPECT_EQ(stream, "Cannot decode " + name + " media: this program has no decoder for it");
  const GUID unknown = {0x12345678, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
  EXPECT_EQ(Status(Type(MEDIATYPE_Stream, unknown, GUID_NULL)), "Cannot read. " + text_ + " ");
  // A stream no splitter recognised has no subtype: nothing to name ("GUID_NULL" helps nobody).
  EXPECT_EQ(Status(Type(MEDIATYPE_Stream, GUID_NULL, GUID_NULL)), "Cannot read. " + text_ + " ");
}

TEST_F(EngineProbeFailure, ClassNotRegistered_EndsWithTheProbeMessage) {
  const std::string text = PlatformText(REGDB_E_CLASSNOTREG);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(Status(Type(MEDIATYPE_Video, MEDIASUBTYPE_DIVX, FORMAT_VideoInfo), REGDB_E_CLASSNOTREG, "Subtitle Filter"),
            "Cannot read. " + text + " Subtitle Filter");
}

TEST_F(EngineProbeFailure, NoPlatformText_OrNoFailure_JustCannotRead) {
  const HRESULT unknown = TAV_HR(0xA0001234);
  ASSERT_TRUE(PlatformText(unknown).empty()) << "the test needs a code the platform has no text for";
  EXPECT_EQ(Status(Type(MEDIATYPE_Video, MEDIASUBTYPE_DIVX, FORMAT_VideoInfo), unknown), "Cannot read");
  EXPECT_EQ(Status(Type(MEDIATYPE_Video, MEDIASUBTYPE_DIVX, FORMAT_VideoInfo), S_FALSE), "Cannot read");
}

}  // namespace
}  // namespace tav

namespace tav {
namespace {

// A source that is gone is said to be gone, whichever failure found it; Modify source
// forgets all that was known of the old movie.
TEST(EngineConvertOrderStatus, MissingSource_IsToldAsGone_AndReplaceSourceForgetsTheOldMovie) {
  const std::string dir = tavtest::MakeTempSubdir("gone");
  Touch(dir + "/a.avi", "RIFF");
  CConvertOrder entry(dir + "/a.avi");
  MediaTypeValue none;
  entry.SetProbeResult(VFW_E_CANNOT_RENDER, none, "File Source");
  const std::string present = entry.GetStatusText();
  EXPECT_EQ(present.find("not there"), std::string::npos) << present;
  ::unlink((dir + "/a.avi").c_str());
  EXPECT_EQ(entry.GetStatusText(), "The file " + dir + "/a.avi is not there any more");
  entry.SetProbeResult(S_OK, none, "");
  entry.SetFailed(VFW_E_NOT_FOUND);
  EXPECT_EQ(entry.GetStatusText(), "The file " + dir + "/a.avi is not there any more");

  Touch(dir + "/b.avi", "RIFF");
  entry.SetSourceInfo(50'000'000, 640, 360, true);
  entry.SetTrimPoints(10, 20);
  entry.SetResumePoint(15, 2);
  entry.SetFrameRate(15.0);
  entry.ReplaceSource(dir + "/b.avi");
  EXPECT_EQ(entry.SourcePath().Full(), dir + "/b.avi");
  EXPECT_EQ(entry.GetStatusText(), "Ready");
  EXPECT_FALSE(entry.HasProbeError());
  EXPECT_EQ(entry.GetDuration(), kUnknownTime);
  EXPECT_EQ(entry.GetSourceWidth(), 0);
  EXPECT_FALSE(entry.GetTrimPoints(nullptr, nullptr));
  EXPECT_FALSE(entry.CanResume());
  EXPECT_EQ(entry.GetFrameRate(), 15.0) << "the settings stay";
}

}  // namespace
}  // namespace tav
