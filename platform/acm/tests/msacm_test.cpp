// The audio compression manager: its drivers, tags and formats, suggestions, conversions
// through every driver (measured on a test tone) and the result codes of misuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "media/contract/msacm.h"
#include "platform/acm/tests/tone.h"

namespace {

WAVEFORMATEX Pcm(WORD channels, DWORD rate, WORD bits) {
  WAVEFORMATEX w{};
  w.wFormatTag = WAVE_FORMAT_PCM;
  w.nChannels = channels;
  w.nSamplesPerSec = rate;
  w.wBitsPerSample = bits;
  w.nBlockAlign = WORD(channels * bits / 8);
  w.nAvgBytesPerSec = rate * w.nBlockAlign;
  return w;
}

// A format suggested for `src` with the given tag (asserts that there is one).
std::vector<BYTE> SuggestTag(const WAVEFORMATEX& src, WORD tag) {
  DWORD size = 0;
  EXPECT_EQ(MMSYSERR_NOERROR, acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &size));
  std::vector<BYTE> dst(std::max<DWORD>(size, sizeof(WAVEFORMATEX)), 0);
  reinterpret_cast<WAVEFORMATEX*>(dst.data())->wFormatTag = tag;
  EXPECT_EQ(MMSYSERR_NOERROR, acmFormatSuggest(nullptr, const_cast<WAVEFORMATEX*>(&src),
                                               reinterpret_cast<WAVEFORMATEX*>(dst.data()), DWORD(dst.size()),
                                               ACM_FORMATSUGGESTF_WFORMATTAG));
  return dst;
}

WAVEFORMATEX* W(std::vector<BYTE>& b) { return reinterpret_cast<WAVEFORMATEX*>(b.data()); }

// Pushes `input` through a stream from `src` to `dst` in pieces of `srcChunk` bytes into a
// destination buffer of `dstChunk` bytes, then drains it with END. What did not fit in one
// call comes out in the next, so the result does not depend on the buffer sizes.
std::vector<BYTE> ConvertAll(WAVEFORMATEX* src, WAVEFORMATEX* dst, const std::vector<BYTE>& input, DWORD srcChunk,
                             DWORD dstChunk) {
  HACMSTREAM stream = nullptr;
  EXPECT_EQ(MMSYSERR_NOERROR, acmStreamOpen(&stream, nullptr, src, dst, nullptr, 0, 0, 0));
  if (!stream) return {};
  std::vector<BYTE> srcBuffer(srcChunk), dstBuffer(dstChunk), out;
  ACMSTREAMHEADER h{};
  h.cbStruct = sizeof h;
  h.pbSrc = srcBuffer.data();
  h.cbSrcLength = srcChunk;
  h.pbDst = dstBuffer.data();
  h.cbDstLength = dstChunk;
  EXPECT_EQ(MMSYSERR_NOERROR, acmStreamPrepareHeader(stream, &h, 0));
  size_t at = 0;
  DWORD held = 0;  // source bytes the last call left in the buffer
  for (int guard = 0; guard < 1000000; ++guard) {
    const DWORD fresh = DWORD(std::min<size_t>(srcChunk - held, input.size() - at));
    std::copy_n(input.begin() + at, fresh, srcBuffer.begin() + held);
    at += fresh;
    h.cbSrcLength = held + fresh;
    const bool last = at == input.size();
    const MMRESULT r = acmStreamConvert(stream, &h, last ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN);
    EXPECT_EQ(MMSYSERR_NOERROR, r);
    if (r != MMSYSERR_NOERROR) break;
    EXPECT_TRUE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE);
    out.insert(out.end(), dstBuffer.begin(), dstBuffer.begin() + h.cbDstLengthUsed);
    held = h.cbSrcLength - h.cbSrcLengthUsed;
    std::copy(srcBuffer.begin() + h.cbSrcLengthUsed, srcBuffer.begin() + h.cbSrcLength, srcBuffer.begin());
    if (last && h.cbDstLengthUsed == 0 && h.cbSrcLengthUsed == 0) break;
  }
  h.cbSrcLength = srcChunk;
  EXPECT_EQ(MMSYSERR_NOERROR, acmStreamUnprepareHeader(stream, &h, 0));
  EXPECT_EQ(MMSYSERR_NOERROR, acmStreamClose(stream, 0));
  return out;
}

BOOL CollectDriver(HACMDRIVERID id, DWORD_PTR instance, DWORD) {
  reinterpret_cast<std::vector<HACMDRIVERID>*>(instance)->push_back(id);
  return TRUE;
}

BOOL CollectTag(HACMDRIVERID, LPACMFORMATTAGDETAILSA details, DWORD_PTR instance, DWORD) {
  reinterpret_cast<std::vector<DWORD>*>(instance)->push_back(details->dwFormatTag);
  return TRUE;
}

struct FormatList {
  std::vector<std::vector<BYTE>> formats;
  std::vector<std::string> texts;
  size_t stopAfter = 0;  // 0: never stop
};

BOOL CollectFormat(HACMDRIVERID, LPACMFORMATDETAILSA details, DWORD_PTR instance, DWORD) {
  auto* list = reinterpret_cast<FormatList*>(instance);
  const auto* p = reinterpret_cast<const BYTE*>(details->pwfx);
  const DWORD size = details->pwfx->wFormatTag == WAVE_FORMAT_PCM ? 16 : 18 + details->pwfx->cbSize;
  list->formats.emplace_back(p, p + size);
  list->texts.push_back(details->szFormat);
  return list->stopAfter == 0 || list->formats.size() < list->stopAfter;
}

}  // namespace

TEST(Acm, DriversFormatTagsAndFormatsListMp3AndPcm) {
  std::vector<HACMDRIVERID> ids;
  ASSERT_EQ(MMSYSERR_NOERROR, acmDriverEnum(CollectDriver, DWORD_PTR(&ids), 0));
  DWORD count = 0;
  ASSERT_EQ(MMSYSERR_NOERROR, acmMetrics(nullptr, ACM_METRIC_COUNT_DRIVERS, &count));
  EXPECT_EQ(ids.size(), count);
  std::set<std::string> names;
  for (HACMDRIVERID id : ids) {
    ACMDRIVERDETAILSA d{};
    d.cbStruct = sizeof d;
    ASSERT_EQ(MMSYSERR_NOERROR, acmDriverDetailsA(id, &d, 0));
    EXPECT_EQ(ACMDRIVERDETAILS_FCCTYPE_AUDIOCODEC, d.fccType);
    EXPECT_GE(d.cFormatTags, 1u);
    names.insert(d.szShortName);
  }
  EXPECT_TRUE(names.count("MPEG Layer-3"));
  EXPECT_TRUE(names.count("PCM Converter"));
  EXPECT_TRUE(names.count("IMA ADPCM"));
  EXPECT_TRUE(names.count("CCITT G.711"));

  // Short structures are filled as far as they go.
  ACMDRIVERDETAILSA partial{};
  partial.cbStruct = 24;
  ASSERT_EQ(MMSYSERR_NOERROR, acmDriverDetailsA(ids[0], &partial, 0));
  EXPECT_EQ(24u, partial.cbStruct);
  EXPECT_EQ(0, partial.szShortName[0]);

  std::vector<DWORD> tags;
  ACMFORMATTAGDETAILSA tagDetails{};
  tagDetails.cbStruct = sizeof tagDetails;
  ASSERT_EQ(MMSYSERR_NOERROR, acmFormatTagEnumA(nullptr, &tagDetails, CollectTag, DWORD_PTR(&tags), 0));
  for (DWORD tag : {WAVE_FORMAT_PCM, WAVE_FORMAT_MPEGLAYER3, WAVE_FORMAT_IMA_ADPCM, WAVE_FORMAT_ALAW, WAVE_FORMAT_MULAW})
    EXPECT_EQ(1, std::count(tags.begin(), tags.end(), tag)) << "tag " << tag;

  DWORD maxSize = 0;
  ASSERT_EQ(MMSYSERR_NOERROR, acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &maxSize));
  EXPECT_EQ(sizeof(MPEGLAYER3WAVEFORMAT), maxSize);

  // Every MP3 format is well formed; 44.1 kHz stereo at 128 kbit/s is among them.
  std::vector<BYTE> buffer(maxSize);
  ACMFORMATDETAILSA fd{};
  fd.cbStruct = sizeof fd;
  fd.pwfx = W(buffer);
  fd.cbwfx = maxSize;
  fd.dwFormatTag = WAVE_FORMAT_MPEGLAYER3;
  fd.pwfx->wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  FormatList mp3;
  ASSERT_EQ(MMSYSERR_NOERROR, acmFormatEnumA(nullptr, &fd, CollectFormat, DWORD_PTR(&mp3), ACM_FORMATENUMF_WFORMATTAG));
  ASSERT_FALSE(mp3.formats.empty());
  bool found = false;
  for (size_t i = 0; i < mp3.formats.size(); ++i) {
    const auto& m = *reinterpret_cast<const MPEGLAYER3WAVEFORMAT*>(mp3.formats[i].data());
    ASSERT_EQ(WAVE_FORMAT_MPEGLAYER3, m.wfx.wFormatTag);
    EXPECT_EQ(MPEGLAYER3_WFX_EXTRA_BYTES, m.wfx.cbSize);
    EXPECT_EQ(MPEGLAYER3_ID_MPEG, m.wID);
    EXPECT_EQ(1, m.wfx.nBlockAlign);
    if (m.wfx.nSamplesPerSec == 44100 && m.wfx.nChannels == 2 && m.wfx.nAvgBytesPerSec == 16000) {
      found = true;
      EXPECT_EQ(417, m.nBlockSize);
      EXPECT_EQ("128 kBit/s, 44.100 kHz, Stereo", mp3.texts[i]);
    }
  }
  EXPECT_TRUE(found);

  // The formats convertible from 16-bit stereo PCM at 44.1 kHz, restricted to stereo: PCM
  // ones and compressed ones, all at 44.1 kHz when compressed, and the callback can stop it.
  WAVEFORMATEX source = Pcm(2, 44100, 16);
  std::memcpy(buffer.data(), &source, sizeof source);
  fd.dwFormatTag = WAVE_FORMAT_UNKNOWN;
  FormatList convertible;
  ASSERT_EQ(MMSYSERR_NOERROR, acmFormatEnumA(nullptr, &fd, CollectFormat, DWORD_PTR(&convertible),
                                             ACM_FORMATENUMF_CONVERT | ACM_FORMATENUMF_NCHANNELS));
  std::set<WORD> seen;
  for (const auto& f : convertible.formats) {
    const auto& w = *reinterpret_cast<const WAVEFORMATEX*>(f.data());
    seen.insert(w.wFormatTag);
    EXPECT_EQ(2, w.nChannels);
    if (w.wFormatTag != WAVE_FORMAT_PCM) {
      EXPECT_EQ(44100u, w.nSamplesPerSec);
    }
  }
  EXPECT_TRUE(seen.count(WAVE_FORMAT_PCM) && seen.count(WAVE_FORMAT_MPEGLAYER3) && seen.count(WAVE_FORMAT_IMA_ADPCM));
  std::memcpy(buffer.data(), &source, sizeof source);
  FormatList three;
  three.stopAfter = 3;
  ASSERT_EQ(MMSYSERR_NOERROR, acmFormatEnumA(nullptr, &fd, CollectFormat, DWORD_PTR(&three), ACM_FORMATENUMF_CONVERT));
  EXPECT_EQ(3u, three.formats.size());
}

TEST(Acm, SuggestGivesFormatsAStreamAccepts) {
  WAVEFORMATEX pcm = Pcm(2, 44100, 16);
  std::vector<BYTE> mp3 = SuggestTag(pcm, WAVE_FORMAT_MPEGLAYER3);
  const auto& m = *reinterpret_cast<const MPEGLAYER3WAVEFORMAT*>(mp3.data());
  EXPECT_EQ(WAVE_FORMAT_MPEGLAYER3, m.wfx.wFormatTag);
  EXPECT_EQ(2, m.wfx.nChannels);
  EXPECT_EQ(44100u, m.wfx.nSamplesPerSec);
  EXPECT_EQ(MPEGLAYER3_WFX_EXTRA_BYTES, m.wfx.cbSize);
  EXPECT_GT(m.wfx.nAvgBytesPerSec, 0u);
  EXPECT_EQ(MMSYSERR_NOERROR, acmStreamOpen(nullptr, nullptr, &pcm, W(mp3), nullptr, 0, 0, ACM_STREAMOPENF_QUERY));

  // And back: the suggestion for MP3 is 16-bit PCM of the same rate and channels.
  std::vector<BYTE> back = SuggestTag(*W(mp3), WAVE_FORMAT_PCM);
  EXPECT_EQ(0, std::memcmp(&pcm, back.data(), sizeof(PCMWAVEFORMAT)));

  std::vector<BYTE> ima = SuggestTag(pcm, WAVE_FORMAT_IMA_ADPCM);
  const auto& i = *reinterpret_cast<const IMAADPCMWAVEFORMAT*>(ima.data());
  EXPECT_EQ(2048, i.wfx.nBlockAlign);
  EXPECT_EQ(2041, i.wSamplesPerBlock);
  EXPECT_EQ(MMSYSERR_NOERROR, acmStreamOpen(nullptr, nullptr, &pcm, W(ima), nullptr, 0, 0, ACM_STREAMOPENF_QUERY));

  // Without a tag the PCM converter answers first; the fields named by flags are kept.
  WAVEFORMATEX out{};
  out.nSamplesPerSec = 22050;
  out.nChannels = 1;
  ASSERT_EQ(MMSYSERR_NOERROR, acmFormatSuggest(nullptr, &pcm, &out, sizeof out,
                                               ACM_FORMATSUGGESTF_NSAMPLESPERSEC | ACM_FORMATSUGGESTF_NCHANNELS));
  EXPECT_EQ(WAVE_FORMAT_PCM, out.wFormatTag);
  EXPECT_EQ(22050u, out.nSamplesPerSec);
  EXPECT_EQ(1, out.nChannels);
  EXPECT_EQ(16, out.wBitsPerSample);
  EXPECT_EQ(2, out.nBlockAlign);
  EXPECT_EQ(44100u, out.nAvgBytesPerSec);
  EXPECT_EQ(0, out.cbSize);

  // No MP3 at a rate the codec lacks, and no room for an MP3 format in 18 bytes.
  WAVEFORMATEX odd = Pcm(2, 37000, 16);
  std::vector<BYTE> none(64, 0);
  W(none)->wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  EXPECT_EQ(ACMERR_NOTPOSSIBLE, acmFormatSuggest(nullptr, &odd, W(none), 64, ACM_FORMATSUGGESTF_WFORMATTAG));
  EXPECT_EQ(ACMERR_NOTPOSSIBLE, acmFormatSuggest(nullptr, &pcm, W(none), 18, ACM_FORMATSUGGESTF_WFORMATTAG));
}

TEST(Acm, Mp3RoundTripKeepsTheTone) {
  WAVEFORMATEX pcm = Pcm(2, 44100, 16);
  std::vector<BYTE> mp3 = SuggestTag(pcm, WAVE_FORMAT_MPEGLAYER3);
  const std::vector<BYTE> tone = tavtest::ToBytes(tavtest::SineTone(1000, 44100, 2, 1.0));
  // A destination smaller than one MP3 frame: what does not fit waits for the next call.
  const std::vector<BYTE> coded = ConvertAll(&pcm, W(mp3), tone, 4096, 300);
  ASSERT_GT(coded.size(), 1000u);
  EXPECT_EQ(0xFF, coded[0]);
  EXPECT_EQ(0xE0, coded[1] & 0xE0) << "starts with a frame sync";
  // About one second at the format's bit rate.
  EXPECT_NEAR(double(coded.size()), double(W(mp3)->nAvgBytesPerSec), W(mp3)->nAvgBytesPerSec * 0.15);

  std::vector<BYTE> decoded = ConvertAll(W(mp3), &pcm, coded, 777, 8192);
  ASSERT_GE(decoded.size(), tone.size());
  EXPECT_LT(decoded.size(), tone.size() + 8 * 1152 * 4) << "only the codec's delay and padding are added";
  for (int channel = 0; channel < 2; ++channel) {
    const auto x = tavtest::Channel(decoded, 16, 2, channel);
    EXPECT_NEAR(1000.0, tavtest::MeasureHz(x, 44100), 5.0);
    EXPECT_NEAR(0.5 * 32767 / std::sqrt(2.0), tavtest::Rms(x), 2000);
  }
}

TEST(Acm, EveryCodecAndThePcmConverterKeepTheTone) {
  struct Case {
    WAVEFORMATEX src;
    WORD tag;
    int rate;
  };
  const Case cases[] = {
      {Pcm(1, 22050, 16), WAVE_FORMAT_IMA_ADPCM, 22050}, {Pcm(2, 8000, 16), WAVE_FORMAT_ALAW, 8000},
      {Pcm(1, 11025, 16), WAVE_FORMAT_MULAW, 11025},     {Pcm(1, 16000, 16), WAVE_FORMAT_MPEGLAYER3, 16000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("tag " + std::to_string(c.tag));
    WAVEFORMATEX src = c.src;
    std::vector<BYTE> coded_format = SuggestTag(src, c.tag);
    const std::vector<BYTE> tone = tavtest::ToBytes(tavtest::SineTone(440, c.rate, src.nChannels, 0.8));
    const std::vector<BYTE> coded = ConvertAll(&src, W(coded_format), tone, 1000, 4096);
    ASSERT_FALSE(coded.empty());
    EXPECT_EQ(0u, coded.size() % W(coded_format)->nBlockAlign) << "whole blocks";
    // acmStreamSize's estimate holds the whole output.
    HACMSTREAM s = nullptr;
    ASSERT_EQ(MMSYSERR_NOERROR, acmStreamOpen(&s, nullptr, &src, W(coded_format), nullptr, 0, 0, 0));
    DWORD estimate = 0;
    ASSERT_EQ(MMSYSERR_NOERROR, acmStreamSize(s, DWORD(tone.size()), &estimate, ACM_STREAMSIZEF_SOURCE));
    EXPECT_GE(estimate, coded.size());
    acmStreamClose(s, 0);

    const std::vector<BYTE> decoded = ConvertAll(W(coded_format), &src, coded, 999, 3000);
    EXPECT_NEAR(440.0, tavtest::MeasureHz(tavtest::Channel(decoded, 16, src.nChannels, 0), c.rate), 3.0);
  }

  // The PCM converter: 44.1 kHz 16-bit stereo to 22.05 kHz 8-bit mono.
  WAVEFORMATEX from = Pcm(2, 44100, 16), to = Pcm(1, 22050, 8);
  const std::vector<BYTE> tone = tavtest::ToBytes(tavtest::SineTone(600, 44100, 2, 0.5));
  const std::vector<BYTE> out = ConvertAll(&from, &to, tone, 4000, 1001);
  EXPECT_NEAR(double(out.size()), 0.5 * 22050, 200);
  EXPECT_NEAR(600.0, tavtest::MeasureHz(tavtest::Channel(out, 8, 1, 0), 22050), 3.0);
}

TEST(Acm, MisuseGivesTheManagersResultCodes) {
  WAVEFORMATEX pcm = Pcm(2, 44100, 16);
  std::vector<BYTE> mp3 = SuggestTag(pcm, WAVE_FORMAT_MPEGLAYER3);
  auto* bogusDriver = reinterpret_cast<HACMDRIVER>(0x1234);
  auto* bogusStream = reinterpret_cast<HACMSTREAM>(0x5678);
  auto* bogusId = reinterpret_cast<HACMDRIVERID>(0x9abc);

  // Handles, pointers and flags.
  EXPECT_EQ(MMSYSERR_INVALPARAM, acmDriverEnum(nullptr, 0, 0));
  EXPECT_EQ(MMSYSERR_INVALFLAG, acmDriverEnum(CollectDriver, 0, 1));
  ACMDRIVERDETAILSA dd{};
  dd.cbStruct = sizeof dd;
  EXPECT_EQ(MMSYSERR_INVALHANDLE, acmDriverDetailsA(bogusId, &dd, 0));
  EXPECT_EQ(MMSYSERR_INVALFLAG, acmDriverDetailsA(bogusId, &dd, 1));
  dd.cbStruct = 0;
  std::vector<HACMDRIVERID> ids;
  acmDriverEnum(CollectDriver, DWORD_PTR(&ids), 0);
  EXPECT_EQ(MMSYSERR_INVALPARAM, acmDriverDetailsA(ids[0], &dd, 0));
  HACMDRIVER had = nullptr;
  EXPECT_EQ(MMSYSERR_INVALHANDLE, acmDriverOpen(&had, bogusId, 0));
  EXPECT_EQ(MMSYSERR_INVALPARAM, acmDriverOpen(nullptr, ids[0], 0));
  EXPECT_EQ(MMSYSERR_INVALHANDLE, acmDriverClose(bogusDriver, 0));
  DWORD value = 0;
  EXPECT_EQ(MMSYSERR_INVALHANDLE, acmMetrics(reinterpret_cast<HACMOBJ>(ids[0]), ACM_METRIC_COUNT_DRIVERS, &value));
  EXPECT_EQ(MMSYSERR_INVALPARAM, acmMetrics(nullptr, ACM_METRIC_COUNT_DRIVERS, nullptr));
  EXPECT_EQ(MMSYSERR_NOTSUPPORTED, acmMetrics(nullptr, 9999, &value));
  ACMFORMATTAGDETAILSA td{};
  td.cbStruct = sizeof td - 1;
  EXPECT_EQ(MMSYSERR_INVALPARAM, acmFormatTagEnumA(nullptr, &td, CollectTag, 0, 0));
  td.cbStruct = sizeof td;
  EXPECT_EQ(MMSYSERR_INVALFLAG, acmFormatTagDetailsA(nullptr, &td, 7));
  EXPECT_EQ(MMSYSERR_INVALHANDLE, acmFormatTagDetailsA(nullptr, &td, ACM_FORMATTAGDETAILSF_INDEX));
  td.dwFormatTag = 0x7777;
  EXPECT_EQ(ACMERR_NOTPOSSIBLE, acmFormatTagDetailsA(nullptr, &td, ACM_FORMATTAGDETAILSF_FORMATTAG));
  ACMFORMATDETAILSA fd{};
  fd.cbStruct = sizeof fd;
  EXPECT_EQ(MMSYSERR_INVALPARAM, acmFormatEnumA(nullptr, &fd, CollectFormat, 0, 0)) << "no format buffer";
  EXPECT_EQ(MMSYSERR_INVALFLAG, acmFormatEnumA(nullptr, &fd, CollectFormat, 0, 0x80000000));
  WAVEFORMATEX out{};
  EXPECT_EQ(MMSYSERR_INVALPARAM, acmFormatSuggest(nullptr, nullptr, &out, sizeof out, 0));
  EXPECT_EQ(MMSYSERR_INVALPARAM, acmFormatSuggest(nullptr, &pcm, &out, 8, 0));
  EXPECT_EQ(MMSYSERR_INVALFLAG, acmFormatSuggest(nullptr, &pcm, &out, sizeof out, 1));
  EXPECT_EQ(MMSYSERR_INVALHANDLE, acmFormatSuggest(bogusDriver, &pcm, &out, sizeof out, 0));

  // Headers that contradict themselves are not converted.
  HACMSTREAM s = nullptr;
  WAVEFORMATEX badPcm = pcm;
  badPcm.nBlockAlign = 3;
  EXPECT_EQ(ACMERR_NOTPOSSIBLE, acmStreamOpen(&s, nullptr, &badPcm, W(mp3), nullptr, 0, 0, 0));
  EXPECT_EQ(nullptr, s);
  std::vector<BYTE> shortMp3 = mp3;
  W(shortMp3)->cbSize = 0;
  EXPECT_EQ(ACMERR_NOTPOSSIBLE, acmStreamOpen(&s, nullptr, &pcm, W(shortMp3), nullptr, 0, 0, 0));
  std::vector<BYTE> oddRate = mp3;
  W(oddRate)->nAvgBytesPerSec = 12345;
  EXPECT_EQ(ACMERR_NOTPOSSIBLE, acmStreamOpen(&s, nullptr, &pcm, W(oddRate), nullptr, 0, 0, 0));
  WAVEFORMATEX zero{};
  EXPECT_EQ(ACMERR_NOTPOSSIBLE, acmStreamOpen(&s, nullptr, &zero, &pcm, nullptr, 0, 0, 0));
  EXPECT_EQ(ACMERR_NOTPOSSIBLE, acmStreamOpen(&s, nullptr, &pcm, &pcm, nullptr, 0, 0, ACM_STREAMOPENF_ASYNC));
  EXPECT_EQ(MMSYSERR_INVALPARAM, acmStreamOpen(nullptr, nullptr, &pcm, W(mp3), nullptr, 0, 0, 0));
  EXPECT_EQ(MMSYSERR_INVALFLAG, acmStreamOpen(&s, nullptr, &pcm, W(mp3), nullptr, 0, 0, 0x100));
  EXPECT_EQ(MMSYSERR_INVALHANDLE, acmStreamOpen(&s, bogusDriver, &pcm, W(mp3), nullptr, 0, 0, 0));

  // A stream opened on a driver handle keeps that handle busy.
  HACMDRIVERID mp3Id = nullptr;
  for (HACMDRIVERID id : ids) {
    ACMDRIVERDETAILSA d{};
    d.cbStruct = sizeof d;
    acmDriverDetailsA(id, &d, 0);
    if (std::string(d.szShortName) == "MPEG Layer-3") mp3Id = id;
  }
  ASSERT_EQ(MMSYSERR_NOERROR, acmDriverOpen(&had, mp3Id, 0));
  ASSERT_EQ(MMSYSERR_NOERROR, acmStreamOpen(&s, had, &pcm, W(mp3), nullptr, 0, 0, 0));
  EXPECT_EQ(ACMERR_BUSY, acmDriverClose(had, 0));
  HACMDRIVERID back = nullptr;
  EXPECT_EQ(MMSYSERR_NOERROR, acmDriverID(reinterpret_cast<HACMOBJ>(s), &back, 0));
  EXPECT_EQ(mp3Id, back);

  // Stream sizes.
  DWORD size = 0;
  EXPECT_EQ(ACMERR_NOTPOSSIBLE, acmStreamSize(s, 0, &size, ACM_STREAMSIZEF_SOURCE));
  EXPECT_EQ(ACMERR_NOTPOSSIBLE, acmStreamSize(s, 100, &size, ACM_STREAMSIZEF_DESTINATION));
  EXPECT_EQ(MMSYSERR_INVALFLAG, acmStreamSize(s, 100, &size, 7));
  EXPECT_EQ(MMSYSERR_INVALPARAM, acmStreamSize(s, 100, nullptr, 0));
  EXPECT_EQ(MMSYSERR_INVALHANDLE, acmStreamSize(bogusStream, 100, &size, 0));

  // Stream headers: prepared once, used within their prepared sizes, unprepared as prepared.
  std::vector<BYTE> src(4096), dst(16384);
  ACMSTREAMHEADER h{};
  h.cbStruct = sizeof h;
  h.pbSrc = src.data();
  h.cbSrcLength = 4096;
  h.pbDst = dst.data();
  h.cbDstLength = 16384;
  EXPECT_EQ(ACMERR_UNPREPARED, acmStreamConvert(s, &h, 0));
  EXPECT_EQ(ACMERR_UNPREPARED, acmStreamUnprepareHeader(s, &h, 0));
  h.cbStruct = sizeof h - 4;
  EXPECT_EQ(MMSYSERR_INVALPARAM, acmStreamPrepareHeader(s, &h, 0));
  h.cbStruct = sizeof h;
  EXPECT_EQ(MMSYSERR_INVALFLAG, acmStreamPrepareHeader(s, &h, 1));
  EXPECT_EQ(MMSYSERR_INVALHANDLE, acmStreamPrepareHeader(bogusStream, &h, 0));
  ASSERT_EQ(MMSYSERR_NOERROR, acmStreamPrepareHeader(s, &h, 0));
  EXPECT_TRUE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);
  EXPECT_EQ(MMSYSERR_NOERROR, acmStreamPrepareHeader(s, &h, 0)) << "twice has no effect";
  EXPECT_EQ(MMSYSERR_INVALFLAG, acmStreamConvert(s, &h, 0x1000));
  h.cbSrcLength = 8192;
  EXPECT_EQ(MMSYSERR_INVALPARAM, acmStreamConvert(s, &h, 0)) << "longer than prepared";
  h.cbSrcLength = 1000;
  EXPECT_EQ(MMSYSERR_NOERROR, acmStreamConvert(s, &h, ACM_STREAMCONVERTF_BLOCKALIGN));
  EXPECT_EQ(1000u, h.cbSrcLengthUsed);
  h.fdwStatus |= ACMSTREAMHEADER_STATUSF_INQUEUE;
  EXPECT_EQ(ACMERR_BUSY, acmStreamConvert(s, &h, 0));
  EXPECT_EQ(ACMERR_BUSY, acmStreamUnprepareHeader(s, &h, 0));
  h.fdwStatus &= ~ACMSTREAMHEADER_STATUSF_INQUEUE;
  EXPECT_EQ(MMSYSERR_INVALPARAM, acmStreamUnprepareHeader(s, &h, 0)) << "length not restored";
  h.cbSrcLength = 4096;
  EXPECT_EQ(MMSYSERR_NOERROR, acmStreamUnprepareHeader(s, &h, 0));
  EXPECT_FALSE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);
  EXPECT_EQ(ACMERR_UNPREPARED, acmStreamUnprepareHeader(s, &h, 0));
  EXPECT_EQ(ACMERR_UNPREPARED, acmStreamConvert(s, &h, 0));

  EXPECT_EQ(MMSYSERR_INVALFLAG, acmStreamClose(s, 1));
  EXPECT_EQ(MMSYSERR_NOERROR, acmStreamClose(s, 0));
  EXPECT_EQ(MMSYSERR_INVALHANDLE, acmStreamClose(s, 0));
  EXPECT_EQ(MMSYSERR_INVALHANDLE, acmStreamConvert(s, &h, 0));
  EXPECT_EQ(MMSYSERR_NOERROR, acmDriverClose(had, 0));
  EXPECT_EQ(MMSYSERR_INVALHANDLE, acmDriverClose(had, 0));
}

TEST(Acm, DamagedCompressedDataDecodesWithoutFault) {
  WAVEFORMATEX pcm = Pcm(2, 44100, 16);
  std::vector<BYTE> mp3 = SuggestTag(pcm, WAVE_FORMAT_MPEGLAYER3);
  std::vector<BYTE> ima = SuggestTag(pcm, WAVE_FORMAT_IMA_ADPCM);
  std::vector<BYTE> noise(40000);
  uint32_t state = 12345;
  for (BYTE& b : noise) {
    state = state * 1103515245 + 12345;
    b = BYTE(state >> 24);
  }
  // Noise with a few frame syncs sprinkled in, so the parser finds "frames" to decode.
  for (size_t i = 0; i + 1 < noise.size(); i += 997) {
    noise[i] = 0xFF;
    noise[i + 1] = 0xFB;
  }
  const std::vector<BYTE> fromMp3 = ConvertAll(W(mp3), &pcm, noise, 1500, 4096);
  EXPECT_EQ(0u, fromMp3.size() % 4);
  // Blocks whose header is out of range are dropped; the rest decode to whole blocks.
  const std::vector<BYTE> fromIma = ConvertAll(W(ima), &pcm, noise, 4096, 65536);
  EXPECT_EQ(0u, fromIma.size() % (2041 * 4));
  EXPECT_LE(fromIma.size(), noise.size() / 2048 * 2041 * 4);
}

TEST(Acm, RandomHeadersAreRefusedOrConvertedNeverAFault) {
  uint32_t state = 99;
  const auto next = [&state] {
    state = state * 1664525 + 1013904223;
    return state >> 8;
  };
  const WORD tags[] = {WAVE_FORMAT_PCM, WAVE_FORMAT_MPEGLAYER3, WAVE_FORMAT_IMA_ADPCM, WAVE_FORMAT_ALAW,
                       WAVE_FORMAT_MULAW, 0x1234};
  std::vector<BYTE> data(3000);
  for (BYTE& b : data) b = BYTE(next());
  int opened = 0;
  for (int i = 0; i < 3000; ++i) {
    // Two headers of plausible but unchecked values, each with room for its extra bytes.
    BYTE blocks[2][64] = {};
    for (auto& block : blocks) {
      auto* w = reinterpret_cast<WAVEFORMATEX*>(block);
      w->wFormatTag = tags[next() % std::size(tags)];
      w->nChannels = WORD(next() % 4);
      const DWORD rates[] = {0, 8000, 11025, 22050, 44100, 48000, next()};
      w->nSamplesPerSec = rates[next() % std::size(rates)];
      w->wBitsPerSample = WORD((next() % 3) * 8);
      w->nBlockAlign = next() % 2 ? WORD(w->nChannels * w->wBitsPerSample / 8) : WORD(next() % 5000);
      w->nAvgBytesPerSec = next() % 2 ? w->nSamplesPerSec * w->nBlockAlign : next() % 100000;
      w->cbSize = WORD(next() % (sizeof block - sizeof(WAVEFORMATEX) + 1));
      if (w->wFormatTag == WAVE_FORMAT_MPEGLAYER3 && next() % 2) {
        *w = *reinterpret_cast<const WAVEFORMATEX*>(SuggestTag(Pcm(w->nChannels % 2 + 1, 44100, 16), w->wFormatTag).data());
        w->nAvgBytesPerSec = (next() % 40) * 1000;
      }
    }
    auto* src = reinterpret_cast<WAVEFORMATEX*>(blocks[0]);
    auto* dst = reinterpret_cast<WAVEFORMATEX*>(blocks[1]);
    BYTE suggested[64] = {};
    const MMRESULT s = acmFormatSuggest(nullptr, src, reinterpret_cast<WAVEFORMATEX*>(suggested), sizeof suggested, 0);
    ASSERT_TRUE(s == MMSYSERR_NOERROR || s == ACMERR_NOTPOSSIBLE) << s;
    HACMSTREAM stream = nullptr;
    const MMRESULT r = acmStreamOpen(&stream, nullptr, src, next() % 2 && s == MMSYSERR_NOERROR
                                                                ? reinterpret_cast<WAVEFORMATEX*>(suggested)
                                                                : dst,
                                     nullptr, 0, 0, 0);
    ASSERT_TRUE(r == MMSYSERR_NOERROR || r == ACMERR_NOTPOSSIBLE) << r;
    if (r != MMSYSERR_NOERROR) {
      EXPECT_EQ(nullptr, stream);
      continue;
    }
    ++opened;
    std::vector<BYTE> out(20000);
    ACMSTREAMHEADER h{};
    h.cbStruct = sizeof h;
    h.pbSrc = data.data();
    h.cbSrcLength = DWORD(data.size());
    h.pbDst = out.data();
    h.cbDstLength = DWORD(out.size());
    ASSERT_EQ(MMSYSERR_NOERROR, acmStreamPrepareHeader(stream, &h, 0));
    EXPECT_EQ(MMSYSERR_NOERROR, acmStreamConvert(stream, &h, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END));
    EXPECT_LE(h.cbSrcLengthUsed, h.cbSrcLength);
    EXPECT_LE(h.cbDstLengthUsed, h.cbDstLength);
    EXPECT_EQ(MMSYSERR_NOERROR, acmStreamUnprepareHeader(stream, &h, 0));
    EXPECT_EQ(MMSYSERR_NOERROR, acmStreamClose(stream, 0));
  }
  EXPECT_GT(opened, 10) << "some of the headers make sense";
}
