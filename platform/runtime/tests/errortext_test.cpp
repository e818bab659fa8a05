// Error texts and identifier names, as the batch entries' status texts use them.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "media/contract/errortext.h"
#include "media/contract/hresult.h"
#include "media/contract/mediatypes.h"
#include "tests/support/testenv.h"

namespace {

std::string Text(HRESULT hr) {
  char buf[256];
  const DWORD n = AMGetErrorTextA(hr, buf, sizeof buf);
  EXPECT_EQ(n, strlen(buf));
  return std::string(buf, n);
}

TEST(RuntimeErrorText, EveryStreamingCodeOfTheContractHasItsOwnText) {
  // Read the codes from the header itself, so a code added there without a text fails here.
  std::ifstream header(tavtest::SourceDir() + "/media/contract/hresult.h");
  ASSERT_TRUE(header) << "source tree not found";
  std::stringstream all;
  all << header.rdbuf();
  const std::string text = all.str();
  const std::regex code(R"(constexpr HRESULT (VFW_[ES]_\w+) = TAV_HR\((0x[0-9A-Fa-f]+)\))");
  int count = 0;
  std::set<std::string> texts;
  for (std::sregex_iterator it(text.begin(), text.end(), code), end; it != end; ++it) {
    const HRESULT hr = HRESULT(std::stoul((*it)[2].str(), nullptr, 16));
    const std::string t = Text(hr);
    EXPECT_GT(t.size(), 10u) << (*it)[1] << " has no text: add one to platform/runtime/errortext.cpp";
    EXPECT_TRUE(texts.insert(t).second) << (*it)[1] << " repeats another code's text: " << t;
    ++count;
  }
  EXPECT_GE(count, 100);
}

TEST(RuntimeErrorText, CommonCodesHaveTextsAndUnknownOnesNone) {
  for (HRESULT hr : {E_FAIL, E_POINTER, E_INVALIDARG, E_OUTOFMEMORY, E_NOTIMPL, E_NOINTERFACE, E_UNEXPECTED,
                     E_ACCESSDENIED, REGDB_E_CLASSNOTREG, CLASS_E_NOAGGREGATION, CO_E_DLLNOTFOUND,
                     HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
                     HRESULT_FROM_WIN32(ERROR_DISK_FULL), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)})
    EXPECT_FALSE(Text(hr).empty()) << std::hex << hr;
  // The subtitle source's load failure has no platform text: the entry shows its own.
  EXPECT_EQ(Text(TAV_E_SUBTITLE_LOAD), "");
  EXPECT_EQ(Text(TAV_HR(0x80049999)), "");
  EXPECT_EQ(Text(HRESULT_FROM_WIN32(4999)), "");
}

TEST(RuntimeErrorText, TextIsCutToTheCallersBuffer) {
  const std::string full = Text(VFW_E_NOT_CONNECTED);
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(AMGetErrorTextA(VFW_E_NOT_CONNECTED, buf, 8), 7u);
  EXPECT_EQ(std::string(buf), full.substr(0, 7));
  EXPECT_EQ(AMGetErrorTextA(VFW_E_NOT_CONNECTED, buf, 0), 0u);
  EXPECT_EQ(AMGetErrorTextA(VFW_E_NOT_CONNECTED, nullptr, 8), 0u);
}

TEST(RuntimeErrorText, GuidNamesFollowTheHeaderNames) {
  EXPECT_EQ(tav::GuidName(MEDIASUBTYPE_RGB24), "MEDIASUBTYPE_RGB24");
  EXPECT_EQ(tav::GuidName(MEDIATYPE_Audio), "MEDIATYPE_Audio");
  EXPECT_EQ(tav::GuidName(FORMAT_VideoInfo2), "FORMAT_VideoInfo2");
  EXPECT_EQ(tav::GuidName(FORMAT_WaveFormatEx), "FORMAT_WaveFormatEx");
  EXPECT_EQ(tav::GuidName(MEDIASUBTYPE_DOLBY_AC3), "MEDIASUBTYPE_DOLBY_AC3");
  EXPECT_EQ(tav::GuidName(MEDIASUBTYPE_DTS), "MEDIASUBTYPE_DTS");
  // The extensible sub-format of PCM audio is the PCM subtype.
  EXPECT_EQ(tav::GuidName(KSDATAFORMAT_SUBTYPE_PCM), "MEDIASUBTYPE_PCM");
  EXPECT_EQ(tav::GuidName(FourccSubtype(MAKEFOURCC('Z', 'Z', 'Z', 'Z'))), "");

  EXPECT_EQ(tav::WaveFormatTagName(WAVE_FORMAT_PCM), "WAVE_FORMAT_PCM");
  EXPECT_EQ(tav::WaveFormatTagName(WAVE_FORMAT_MPEGLAYER3), "WAVE_FORMAT_MPEGLAYER3");
  EXPECT_EQ(tav::WaveFormatTagName(0x2001), "WAVE_FORMAT_DTS");
  EXPECT_EQ(tav::WaveFormatTagName(0x4242), "");
}

}  // namespace
