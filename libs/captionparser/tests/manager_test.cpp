// The Subtitle Manager through ISubtitleManager: strings in and out, loading, languages and
// size classes, the caption lookup and the argument checks of the drawing methods.
#include <gtest/gtest.h>

#include <string>

#include "libs/captionparser/subtitlemanager.h"
#include "libs/captionparser/tests/testutil.h"
#include "media/contract/com.h"
#include "media/contract/comptr.h"

using tavtest::WriteTempFile;

namespace {

const std::string kTwoLanguages = std::string(captiontest::kKoreanEnglishSami) +
                                  "<SYNC Start=1000><P Class=KRCC>annyeong\n"
                                  "<SYNC Start=1000><P Class=ENCC>hello\n"
                                  "<SYNC Start=2500><P Class=ENCC>world\n"
                                  "</BODY></SAMI>";

constexpr const char* kSubRip =
    "1\n00:00:01,000 --> 00:00:02,000\nfirst\n\n"
    "2\n00:00:03,000 --> 00:00:04,000\nsecond\n\n";

ComPtr<ISubtitleManager> NewManager() {
  HRESULT hr = E_FAIL;
  CUnknown* object = CSubtitleManager::CreateInstance(nullptr, &hr);
  EXPECT_EQ(S_OK, hr);
  ComPtr<ISubtitleManager> manager;
  object->NonDelegatingQueryInterface(IID_ISubtitleManager, manager.AsVoidOut());
  return manager;
}

// Takes a returned block: checks it is a 512-byte task-allocator block and frees it.
std::u16string Take(WCHAR* block) {
  if (!block) return u"<null>";
  std::u16string s(block);
  CoTaskMemFree(block);
  return s;
}

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

const captionparser::CCaptionStyle* CurrentSize(ISubtitleManager* m) {
  return static_cast<CSubtitleManager*>(m)->State().CurrentSize();
}
const captionparser::CCaptionEntry* CaptionAt(ISubtitleManager* m, REFERENCE_TIME t) {
  return static_cast<CSubtitleManager*>(m)->State().CaptionAt(t);
}

}  // namespace

TEST(captionparser_Manager, AnswersOnlyItsInterfacesAndIUnknown) {
  ComPtr<ISubtitleManager> m = NewManager();
  ComPtr<IUnknown> unk;
  EXPECT_EQ(S_OK, m->QueryInterface(IID_IUnknown, unk.AsVoidOut()));
  ComPtr<IBurnInFilter> none;
  EXPECT_EQ(E_NOINTERFACE, m->QueryInterface(IID_IBurnInFilter, none.AsVoidOut()));
  ComPtr<ISubtitleFileInfo> info;
  ASSERT_EQ(S_OK, m->QueryInterface(IID_ISubtitleFileInfo, info.AsVoidOut()));
  ComPtr<IUnknown> same;
  ASSERT_EQ(S_OK, info->QueryInterface(IID_IUnknown, same.AsVoidOut()));
  EXPECT_EQ(same.Get(), unk.Get());
}

TEST(captionparser_Manager, ReaderNameSaysWhenALenientReaderTookTheFile) {
  ComPtr<ISubtitleManager> m = NewManager();
  ComPtr<ISubtitleFileInfo> info;
  ASSERT_EQ(S_OK, m->QueryInterface(IID_ISubtitleFileInfo, info.AsVoidOut()));
  WCHAR* name = nullptr;
  EXPECT_EQ(E_INVALIDARG, info->GetReaderName(nullptr));
  EXPECT_EQ(S_FALSE, info->GetReaderName(&name));
  EXPECT_EQ(Take(name), u"");
  const struct {
    const char* file;
    std::string_view text;
    HRESULT hr;
    const char16_t* reader;
  } cases[] = {
      {"a.smi", kTwoLanguages, S_FALSE, u"SAMI"},
      {"b.srt", kSubRip, S_FALSE, u"SubRip"},
      {"c.vtt", "WEBVTT\n\n00:01.000 --> 00:02.000\nx\n", S_OK, u"WebVTT"},
      {"d.ass", "[Events]\nDialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,x\n", S_OK, u"SSA/ASS"},
      {"e.srt", "00:00:01,000 --> 00:00:02,000\nx\n", S_OK, u"SubRip (tolerant)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    ASSERT_EQ(S_OK, m->LoadFile(Wide(tavtest::WriteTempFile(c.file, c.text)).c_str(), FALSE));
    EXPECT_EQ(c.hr, info->GetReaderName(&name));
    EXPECT_EQ(Take(name), c.reader);
  }
  // A refused file leaves nothing loaded.
  EXPECT_EQ(TAV_E_SUBTITLE_LOAD, m->LoadFile(Wide(tavtest::WriteTempFile("f.vtt", "WEBVTT\n")).c_str(), FALSE));
  EXPECT_EQ(S_FALSE, info->GetReaderName(&name));
  EXPECT_EQ(Take(name), u"");
}

TEST(captionparser_Manager, NullArgumentsGiveInvalidArg) {
  ComPtr<ISubtitleManager> m = NewManager();
  EXPECT_EQ(E_INVALIDARG, m->GetFileName(nullptr));
  EXPECT_EQ(E_INVALIDARG, m->LoadFile(nullptr, FALSE));
  EXPECT_EQ(E_INVALIDARG, m->SelectLanguageByName(nullptr));
  EXPECT_EQ(E_INVALIDARG, m->SelectLanguageByCode(nullptr));
  EXPECT_EQ(E_INVALIDARG, m->GetLanguageCount(nullptr));
  EXPECT_EQ(E_INVALIDARG, m->GetLanguageName(0, nullptr));
  EXPECT_EQ(E_INVALIDARG, m->GetLanguageCode(0, nullptr));
  EXPECT_EQ(E_INVALIDARG, m->SelectSizeByName(nullptr));
  EXPECT_EQ(E_INVALIDARG, m->SelectSizeById(nullptr));
  EXPECT_EQ(E_INVALIDARG, m->GetSizeCount(nullptr));
  EXPECT_EQ(E_INVALIDARG, m->GetSizeName(0, nullptr));
  EXPECT_EQ(E_INVALIDARG, m->GetSizeId(0, nullptr));
}

TEST(captionparser_Manager, LoadFailureForgetsThePathAndReportsTheSubtitleCode) {
  ComPtr<ISubtitleManager> m = NewManager();
  WCHAR* name = nullptr;
  ASSERT_EQ(S_OK, m->GetFileName(&name));
  EXPECT_EQ(u"", Take(name));

  const std::string good = WriteTempFile("good.srt", kSubRip);
  ASSERT_EQ(S_OK, m->LoadFile(Wide(good).c_str(), FALSE));
  ASSERT_EQ(S_OK, m->GetFileName(&name));
  EXPECT_EQ(Wide(good), Take(name));

  const std::string bad = WriteTempFile("bad.txt", "neither sami nor subrip\n");
  EXPECT_EQ(TAV_HR(0x80040301), m->LoadFile(Wide(bad).c_str(), FALSE));
  EXPECT_EQ(TAV_HR(0x80040301), m->LoadFile(u"/no/such/file.smi", FALSE));
  ASSERT_EQ(S_OK, m->GetFileName(&name));
  EXPECT_EQ(u"", Take(name));
  // A manager whose load failed draws nothing: DrawOnBitmap refuses it.
  BITMAPINFOHEADER h{sizeof(BITMAPINFOHEADER), 4, 4, 1, 32, BI_RGB, 64, 0, 0, 0, 0};
  BYTE bits[64] = {};
  EXPECT_EQ(E_FAIL, m->DrawOnBitmap(&h, bits, 0));
}

TEST(captionparser_Manager, PathLongerThanTheInterfaceBufferIsRefusedNotCut) {
  ComPtr<ISubtitleManager> m = NewManager();
  const std::string good = WriteTempFile("keep.srt", kSubRip);
  ASSERT_EQ(S_OK, m->LoadFile(Wide(good).c_str(), FALSE));
  const std::u16string longPath = u"/" + std::u16string(300, u'a') + u".srt";
  EXPECT_EQ(E_INVALIDARG, m->LoadFile(longPath.c_str(), FALSE));
  WCHAR* name = nullptr;
  ASSERT_EQ(S_OK, m->GetFileName(&name));
  EXPECT_EQ(Wide(good), Take(name)) << "a refused path leaves the loaded file alone";
}

TEST(captionparser_Manager, ListsAndSelectsLanguages) {
  ComPtr<ISubtitleManager> m = NewManager();
  ASSERT_EQ(S_OK, m->LoadFile(Wide(WriteTempFile("two.smi", kTwoLanguages)).c_str(), FALSE));
  int count = -1;
  ASSERT_EQ(S_OK, m->GetLanguageCount(&count));
  EXPECT_EQ(2, count);
  WCHAR* s = nullptr;
  ASSERT_EQ(S_OK, m->GetLanguageName(1, &s));
  EXPECT_EQ(u"English", Take(s));
  ASSERT_EQ(S_OK, m->GetLanguageCode(0, &s));
  EXPECT_EQ(u"ko-KR", Take(s));
  for (int bad : {-1, 2, 1000}) {
    ASSERT_EQ(S_OK, m->GetLanguageName(bad, &s));
    EXPECT_EQ(u"", Take(s)) << bad;
  }

  ASSERT_EQ(S_OK, m->SelectLanguageByCode(u"EN-us"));
  const REFERENCE_TIME ms = 10'000;
  ASSERT_NE(nullptr, CaptionAt(m.Get(), 1000 * ms));
  EXPECT_EQ(captiontest::DumpEntry(*CaptionAt(m.Get(), 1000 * ms)), "1000 [hello]");
  ASSERT_EQ(S_OK, m->SelectLanguageByName(u"korean"));
  EXPECT_EQ(captiontest::DumpEntry(*CaptionAt(m.Get(), 3000 * ms)), "1000 [annyeong]");
  ASSERT_EQ(S_OK, m->SelectLanguage(1));
  EXPECT_EQ(captiontest::DumpEntry(*CaptionAt(m.Get(), 3000 * ms)), "2500 [world]");
  // No language: the default list, which this file leaves empty.
  ASSERT_EQ(S_OK, m->SelectLanguageByCode(u"fr-FR"));
  EXPECT_EQ(nullptr, CaptionAt(m.Get(), 3000 * ms));
  ASSERT_EQ(S_OK, m->SelectLanguage(5));
  EXPECT_EQ(nullptr, CaptionAt(m.Get(), 3000 * ms));
}

TEST(captionparser_Manager, SizeClassesAreBuiltInAndSelectedByIdOrName) {
  ComPtr<ISubtitleManager> m = NewManager();
  ASSERT_EQ(S_OK, m->LoadFile(Wide(WriteTempFile("two.smi", kTwoLanguages)).c_str(), FALSE));
  int count = 0;
  ASSERT_EQ(S_OK, m->GetSizeCount(&count));
  ASSERT_EQ(3, count);
  WCHAR* s = nullptr;
  ASSERT_EQ(S_OK, m->GetSizeId(0, &s));
  EXPECT_EQ(kCaptionSizeNormal, Take(s));
  ASSERT_EQ(S_OK, m->GetSizeName(2, &s));
  EXPECT_EQ(u"Debug Small", Take(s));
  ASSERT_EQ(S_OK, m->GetSizeId(3, &s));
  EXPECT_EQ(u"", Take(s));
  EXPECT_EQ(nullptr, CurrentSize(m.Get())) << "no size class is current until one is selected";

  ASSERT_EQ(S_OK, m->SelectSizeById(u"9f0194ea-d60a-43d2-b994-cb0fdde02c3e"));
  ASSERT_NE(nullptr, CurrentSize(m.Get()));
  EXPECT_EQ("Debug Big", CurrentSize(m.Get())->name);
  ASSERT_EQ(S_OK, m->SelectSizeByName(u"DEBUG SMALL"));
  EXPECT_EQ("Debug Small", CurrentSize(m.Get())->name);
  ASSERT_EQ(S_OK, m->SelectSize(0));
  EXPECT_EQ("Debug Normal", CurrentSize(m.Get())->name);
  ASSERT_EQ(S_OK, m->SelectSizeById(u"#A551CAEA-E6D4-4e47-8422-9128EEEE0D46"));
  EXPECT_EQ(nullptr, CurrentSize(m.Get())) << "the identifier is compared without its '#'";
  ASSERT_EQ(S_OK, m->SelectSize(0));
  ASSERT_EQ(S_OK, m->SelectSize(-1));
  EXPECT_EQ(nullptr, CurrentSize(m.Get()));

  // A reload starts from scratch: still three built-in classes, none current.
  ASSERT_EQ(S_OK, m->SelectSize(1));
  ASSERT_EQ(S_OK, m->LoadFile(Wide(WriteTempFile("again.srt", kSubRip)).c_str(), FALSE));
  ASSERT_EQ(S_OK, m->GetSizeCount(&count));
  EXPECT_EQ(3, count);
  EXPECT_EQ(nullptr, CurrentSize(m.Get()));
}

TEST(captionparser_Manager, SubRipHasNoLanguagesAndLooksUpAtBoundaries) {
  ComPtr<ISubtitleManager> m = NewManager();
  ASSERT_EQ(S_OK, m->LoadFile(Wide(WriteTempFile("a.srt", kSubRip)).c_str(), FALSE));
  int count = -1;
  ASSERT_EQ(S_OK, m->GetLanguageCount(&count));
  EXPECT_EQ(0, count);
  ASSERT_EQ(S_OK, m->SelectLanguage(0));  // whatever is selected, the default list is used
  const REFERENCE_TIME second = 10'000'000;
  EXPECT_EQ(nullptr, CaptionAt(m.Get(), second - 1));
  ASSERT_NE(nullptr, CaptionAt(m.Get(), second));
  // SubRip end times become blank entries; each entry shows until the next one starts.
  EXPECT_EQ(captiontest::DumpEntry(*CaptionAt(m.Get(), second)), "1000 [first]/c=FFFFFF");
  EXPECT_EQ(captiontest::DumpEntry(*CaptionAt(m.Get(), 2 * second - 1)), "1000 [first]/c=FFFFFF");
  EXPECT_EQ(captiontest::DumpEntry(*CaptionAt(m.Get(), 3 * second - 1)), "2000 [ ]/c=FFFFFF");
  EXPECT_EQ(captiontest::DumpEntry(*CaptionAt(m.Get(), 3 * second)), "3000 [second]/c=FFFFFF");
  EXPECT_EQ(captiontest::DumpEntry(*CaptionAt(m.Get(), 3600 * second)), "4000 [ ]/c=FFFFFF");
  EXPECT_EQ(nullptr, CaptionAt(m.Get(), -1));
}

TEST(captionparser_Manager, DrawOnBitmapRefusesWhatItCannotDraw) {
  ComPtr<ISubtitleManager> m = NewManager();
  BITMAPINFOHEADER h{sizeof(BITMAPINFOHEADER), 8, 8, 1, 32, BI_RGB, 256, 0, 0, 0, 0};
  BYTE bits[8 * 8 * 4] = {};
  EXPECT_EQ(E_FAIL, m->DrawOnBitmap(&h, bits, 0)) << "nothing loaded";
  ASSERT_EQ(S_OK, m->LoadFile(Wide(WriteTempFile("a.srt", kSubRip)).c_str(), FALSE));
  EXPECT_EQ(E_FAIL, m->DrawOnBitmap(nullptr, bits, 0));
  EXPECT_EQ(E_FAIL, m->DrawOnBitmap(&h, nullptr, 0));
  for (WORD bitCount : {1, 4, 8, 15, 48}) {
    h.biBitCount = bitCount;
    EXPECT_EQ(E_FAIL, m->DrawOnBitmap(&h, bits, 0)) << bitCount;
  }
  h.biBitCount = 32;
  h.biCompression = 3;  // bit fields
  h.biPlanes = 2;
  EXPECT_EQ(E_FAIL, m->DrawOnBitmap(&h, bits, 0));
  h.biPlanes = 1;
  // Before the first caption nothing is due: success, frame untouched.
  EXPECT_EQ(S_OK, m->DrawOnBitmap(&h, bits, 0));
  for (BYTE b : bits) ASSERT_EQ(0, b);
}
