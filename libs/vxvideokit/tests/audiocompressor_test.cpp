// The audio compressor and the audio compression factory as the platform meets them: made
// by class identifier, found by the mapper, and a tone compressed to MP3 that the
// platform's own MP3 decoder turns back into the same tone.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "libs/vxvideokit/audiocompressor.h"
#include "libs/vxvideokit/tests/testgraph.h"
#include "libs/vxvideokit/vxvideokit.h"
#include "platform/acm/tests/tone.h"
#include "tests/support/classtable.h"

using namespace vktest;

namespace {

WAVEFORMATEX Pcm(WORD channels, DWORD rate) {
  WAVEFORMATEX w{};
  w.wFormatTag = WAVE_FORMAT_PCM;
  w.nChannels = channels;
  w.nSamplesPerSec = rate;
  w.wBitsPerSample = 16;
  w.nBlockAlign = WORD(channels * 2);
  w.nAvgBytesPerSec = rate * w.nBlockAlign;
  return w;
}

CMediaType PcmType(const WAVEFORMATEX& w, ULONG bufferBytes) {
  CMediaType type;
  type.InitMediaType();
  type.SetType(&MEDIATYPE_Audio);
  type.SetSubtype(&MEDIASUBTYPE_PCM);
  type.SetFormatType(&FORMAT_WaveFormatEx);
  type.SetFormat(reinterpret_cast<const BYTE*>(&w), sizeof w);
  type.SetSampleSize(bufferBytes);  // the test source's buffer size
  return type;
}

class vxvideokit_AudioCompressor : public FilterFixture {
 protected:
  void SetUp() override { Start({"tavrionstreaming", "tavrionfilters", "vxvideokit"}, AtEnd::kLastLibraryUnloads); }
};

}  // namespace

TEST_F(vxvideokit_AudioCompressor, FactoryHandsOutDriversForEveryCompressedTag) {
  ComPtr<IAudioCompressionFactory> factory;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_VxAudioCompressionFactory, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IAudioCompressionFactory, factory.AsVoidOut()));
  ComPtr<IEnumAudioFormatTags> tags;
  ASSERT_EQ(S_OK, factory->EnumFormatTags(&tags));
  std::set<WORD> seen;
  std::string mp3Name;
  ComPtr<IAudioFormatDriver> driver;
  while (tags->Next(1, &driver, nullptr) == S_OK) {
    WORD tag = 0;
    ASSERT_EQ(S_OK, driver->GetFormatTag(&tag));
    EXPECT_NE(WAVE_FORMAT_PCM, tag) << "only compressed tags";
    seen.insert(tag);
    char driverName[VXAUDIO_DRIVER_NAME_CHARS] = {}, tagName[VXAUDIO_TAG_NAME_CHARS] = {};
    ASSERT_EQ(S_OK, driver->GetNames(driverName, tagName));
    if (tag == WAVE_FORMAT_MPEGLAYER3) mp3Name = tagName;
    driver = nullptr;
  }
  EXPECT_EQ((std::set<WORD>{WAVE_FORMAT_MPEGLAYER3, WAVE_FORMAT_IMA_ADPCM, WAVE_FORMAT_ALAW, WAVE_FORMAT_MULAW}), seen);
  EXPECT_EQ("MPEG Layer-3", mp3Name);
  // Reset and Skip walk the same list; a clone keeps its own place.
  ASSERT_EQ(S_OK, tags->Reset());
  EXPECT_EQ(S_OK, tags->Skip(3));
  ComPtr<IEnumAudioFormatTags> clone;
  ASSERT_EQ(S_OK, tags->Clone(&clone));
  IAudioFormatDriver* two[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(S_FALSE, clone->Next(2, two, &fetched));
  EXPECT_EQ(1u, fetched);
  two[0]->Release();
  EXPECT_EQ(S_FALSE, tags->Skip(2));

  ASSERT_EQ(S_OK, factory->GetDriver(WAVE_FORMAT_MPEGLAYER3, &driver));
  DWORD count = 0;
  ASSERT_EQ(S_OK, driver->GetFormatCount(&count));
  ASSERT_GT(count, 0u);
  WAVEFORMATEX* format = nullptr;
  DWORD bytes = 0;
  ASSERT_EQ(S_OK, driver->GetFormat(count - 1, &format, &bytes));
  EXPECT_EQ(sizeof(MPEGLAYER3WAVEFORMAT), bytes);
  EXPECT_EQ(WAVE_FORMAT_MPEGLAYER3, format->wFormatTag);
  CoTaskMemFree(format);
  EXPECT_EQ(S_FALSE, driver->GetFormat(count, &format, &bytes));
  EXPECT_EQ(nullptr, format);

  WAVEFORMATEX pcm = Pcm(2, 44100);
  ASSERT_EQ(S_OK, driver->SuggestFormat(&pcm, &format, &bytes));
  EXPECT_EQ(44100u, format->nSamplesPerSec);
  EXPECT_EQ(S_OK, driver->CanConvert(&pcm, format));
  WAVEFORMATEX other = Pcm(1, 44100);
  EXPECT_EQ(S_FALSE, driver->CanConvert(&other, format)) << "a codec keeps the channel count";
  CoTaskMemFree(format);
  WAVEFORMATEX broken = pcm;
  broken.nAvgBytesPerSec = 7;
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, driver->SuggestFormat(&broken, &format, &bytes));
  driver = nullptr;
  EXPECT_EQ(VFW_E_NOT_FOUND, factory->GetDriver(0x1234, &driver));
}

TEST_F(vxvideokit_AudioCompressor, IsMadeByIdentifierAndFoundByTheMapper) {
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_VxAudioCompressor, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   filter.AsVoidOut()));
  ComPtr<IAudioCompressorControl> control = filter.As<IAudioCompressorControl>();
  ASSERT_TRUE(control);
  WAVEFORMATEX* chosen = nullptr;
  EXPECT_EQ(S_FALSE, control->GetOutputFormat(&chosen, nullptr));
  WAVEFORMATEX mp3{};
  mp3.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  mp3.cbSize = 12;
  EXPECT_EQ(E_INVALIDARG, control->SetOutputFormat(&mp3, sizeof mp3)) << "shorter than its extra bytes";
  EXPECT_EQ(E_INVALIDARG, control->SetOutputFormat(&mp3, 10));

  const GUID audioPcm[] = {MEDIATYPE_Audio, MEDIASUBTYPE_PCM};
  const GUID audioMp3[] = {MEDIATYPE_Audio, FourccSubtype(WAVE_FORMAT_MPEGLAYER3)};
  EXPECT_TRUE(tavtest::MapperListsByName(audioPcm, audioMp3, "VXCMN Audio Compressor Filter"));
}

TEST_F(vxvideokit_AudioCompressor, ToneThroughMp3AndThePlatformDecoderKeepsItsFrequency) {
  ASSERT_TRUE(MakeGraph());
  const WAVEFORMATEX pcm = Pcm(2, 44100);
  const ULONG chunkBytes = 4410 * 4;  // 0.1 s per sample
  ComPtr<IBaseFilter> compressor, decoder;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_VxAudioCompressor, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   compressor.AsVoidOut()));
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_MPEGLayer3Decoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   decoder.AsVoidOut()));
  TestSource* source = Add(new TestSource(PcmType(pcm, chunkBytes)), u"Source");
  ASSERT_TRUE(source);
  ASSERT_EQ(S_OK, graph->AddFilter(compressor.Get(), u"Compressor"));
  ASSERT_EQ(S_OK, graph->AddFilter(decoder.Get(), u"Decoder"));
  TestSink* sink = Add(new TestSink, u"Sink");
  ASSERT_TRUE(sink);
  sink->acceptMajor = MEDIATYPE_Audio;
  ASSERT_EQ(S_OK, graph->ConnectDirect(source->OutPin(), PinOf(compressor.Get(), u"Input").Get(), nullptr));
  // No format chosen: the decoder takes the first MP3 offer, the driver's suggestion.
  ASSERT_EQ(S_OK, graph->Connect(PinOf(compressor.Get(), u"Output").Get(), PinOf(decoder.Get(), u"In").Get()));
  const CMediaType between = ConnectionTypeOf(PinOf(compressor.Get(), u"Output").Get());
  const auto* mp3 = reinterpret_cast<const MPEGLAYER3WAVEFORMAT*>(between.pbFormat);
  ASSERT_EQ(WAVE_FORMAT_MPEGLAYER3, mp3->wfx.wFormatTag);
  EXPECT_EQ(44100u, mp3->wfx.nSamplesPerSec);
  EXPECT_EQ(2, mp3->wfx.nChannels);
  EXPECT_EQ(VFW_E_ALREADY_CONNECTED,
            compressor.As<IAudioCompressorControl>()->SetOutputFormat(&mp3->wfx, between.cbFormat));

  ComPtr<IPin> decoderOut = PinOf(decoder.Get(), u"Out");
  ASSERT_TRUE(decoderOut);
  ASSERT_EQ(S_OK, graph->Connect(decoderOut.Get(), sink->InPin()));

  ASSERT_EQ(S_OK, graph.As<IMediaControl>()->Run());
  const std::vector<BYTE> tone = tavtest::ToBytes(tavtest::SineTone(1000, 44100, 2, 1.5));
  REFERENCE_TIME t = 0;
  for (size_t at = 0; at < tone.size(); at += chunkBytes) {
    const size_t n = std::min<size_t>(chunkBytes, tone.size() - at);
    const REFERENCE_TIME stop = t + REFERENCE_TIME(n / 4) * 10000000 / 44100;
    ASSERT_EQ(S_OK, source->PushBytes(t, stop, std::vector<BYTE>(tone.begin() + at, tone.begin() + at + n)));
    t = stop;
  }
  ASSERT_EQ(S_OK, source->EndOfStream());
  EXPECT_TRUE(tavtest::WaitFor([&] { return sink->endOfStream; }, std::chrono::seconds(60)));
  graph.As<IMediaControl>()->Stop();

  const CMediaType out = sink->ConnectionType();
  ASSERT_TRUE(out.pbFormat);
  const auto* w = reinterpret_cast<const WAVEFORMATEX*>(out.pbFormat);
  ASSERT_EQ(WAVE_FORMAT_PCM, w->wFormatTag);
  ASSERT_EQ(16, w->wBitsPerSample);
  std::vector<BYTE> decoded;
  {
    std::lock_guard<std::mutex> g(sink->framesLock);
    for (const auto& f : sink->frames) decoded.insert(decoded.end(), f.data.begin(), f.data.end());
    ASSERT_FALSE(sink->frames.empty());
    EXPECT_GE(sink->frames.front().start, 0) << "the compressed samples carry times";
  }
  const int channels = w->nChannels;
  // The whole tone came through (the codec adds at most its delay and padding).
  EXPECT_GE(decoded.size() / w->nBlockAlign, size_t(1.5 * w->nSamplesPerSec) - 1152);
  for (int c = 0; c < channels; ++c)
    EXPECT_NEAR(1000.0, tavtest::MeasureHz(tavtest::Channel(decoded, 16, channels, c), int(w->nSamplesPerSec)), 5.0);
}

TEST_F(vxvideokit_AudioCompressor, ChosenBlockFormatComesOutInWholeTimedBlocks) {
  ASSERT_TRUE(MakeGraph());
  WAVEFORMATEX pcm = Pcm(1, 22050);
  ComPtr<IAudioCompressionFactory> factory;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_VxAudioCompressionFactory, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IAudioCompressionFactory, factory.AsVoidOut()));
  ComPtr<IAudioFormatDriver> ima;
  ASSERT_EQ(S_OK, factory->GetDriver(WAVE_FORMAT_IMA_ADPCM, &ima));
  WAVEFORMATEX* chosen = nullptr;
  DWORD chosenBytes = 0;
  ASSERT_EQ(S_OK, ima->SuggestFormat(&pcm, &chosen, &chosenBytes));
  const IMAADPCMWAVEFORMAT format = *reinterpret_cast<IMAADPCMWAVEFORMAT*>(chosen);
  ASSERT_EQ(512, format.wfx.nBlockAlign);

  const ULONG chunkBytes = 4411;  // odd: samples are split between input samples
  ComPtr<IBaseFilter> compressor;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_VxAudioCompressor, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   compressor.AsVoidOut()));
  ComPtr<IAudioCompressorControl> control = compressor.As<IAudioCompressorControl>();
  ASSERT_EQ(S_OK, control->SetOutputFormat(chosen, chosenBytes));
  CoTaskMemFree(chosen);
  TestSource* source = Add(new TestSource(PcmType(pcm, chunkBytes)), u"Source");
  ASSERT_TRUE(source);
  ASSERT_EQ(S_OK, graph->AddFilter(compressor.Get(), u"Compressor"));
  TestSink* sink = Add(new TestSink, u"Sink");
  ASSERT_TRUE(sink);
  sink->acceptMajor = MEDIATYPE_Audio;
  ASSERT_EQ(S_OK, graph->ConnectDirect(source->OutPin(), PinOf(compressor.Get(), u"Input").Get(), nullptr));
  ASSERT_EQ(S_OK, graph->ConnectDirect(PinOf(compressor.Get(), u"Output").Get(), sink->InPin(), nullptr));
  const CMediaType between = sink->ConnectionType();
  EXPECT_EQ(FourccSubtype(WAVE_FORMAT_IMA_ADPCM), between.subtype);
  EXPECT_EQ(0, std::memcmp(between.pbFormat, &format, sizeof format));

  ASSERT_EQ(S_OK, graph.As<IMediaControl>()->Run());
  const std::vector<BYTE> tone = tavtest::ToBytes(tavtest::SineTone(440, 22050, 1, 1.0));
  for (size_t at = 0; at < tone.size(); at += chunkBytes) {
    const size_t n = std::min<size_t>(chunkBytes, tone.size() - at);
    const REFERENCE_TIME start = REFERENCE_TIME(at / 2) * 10000000 / 22050;
    const REFERENCE_TIME stop = REFERENCE_TIME((at + n) / 2) * 10000000 / 22050;
    ASSERT_EQ(S_OK, source->PushBytes(start, stop, std::vector<BYTE>(tone.begin() + at, tone.begin() + at + n)));
  }
  ASSERT_EQ(S_OK, source->EndOfStream());
  EXPECT_TRUE(tavtest::WaitFor([&] { return sink->endOfStream; }, std::chrono::seconds(60)));
  graph.As<IMediaControl>()->Stop();

  std::vector<BYTE> coded;
  {
    std::lock_guard<std::mutex> g(sink->framesLock);
    ASSERT_FALSE(sink->frames.empty());
    EXPECT_EQ(0, sink->frames.front().start);
    for (size_t i = 0; i < sink->frames.size(); ++i) {
      const auto& f = sink->frames[i];
      EXPECT_EQ(0u, f.data.size() % 512) << "sample " << i;
      if (i + 1 < sink->frames.size()) {
        EXPECT_EQ(f.stop, sink->frames[i + 1].start) << "sample " << i;
      }
      coded.insert(coded.end(), f.data.begin(), f.data.end());
    }
  }
  // Every sample arrived, the last block filled up with silence.
  EXPECT_EQ((22050 + 1016) / 1017 * 512, coded.size());

  HACMSTREAM stream = nullptr;
  IMAADPCMWAVEFORMAT src = format;
  ASSERT_EQ(MMSYSERR_NOERROR, acmStreamOpen(&stream, nullptr, &src.wfx, &pcm, nullptr, 0, 0, 0));
  std::vector<BYTE> decoded(coded.size() / 512 * 1017 * 2);
  ACMSTREAMHEADER h{};
  h.cbStruct = sizeof h;
  h.pbSrc = coded.data();
  h.cbSrcLength = DWORD(coded.size());
  h.pbDst = decoded.data();
  h.cbDstLength = DWORD(decoded.size());
  ASSERT_EQ(MMSYSERR_NOERROR, acmStreamPrepareHeader(stream, &h, 0));
  ASSERT_EQ(MMSYSERR_NOERROR, acmStreamConvert(stream, &h, ACM_STREAMCONVERTF_END));
  EXPECT_EQ(decoded.size(), h.cbDstLengthUsed);
  acmStreamUnprepareHeader(stream, &h, 0);
  acmStreamClose(stream, 0);
  decoded.resize(tone.size());
  EXPECT_NEAR(440.0, tavtest::MeasureHz(tavtest::Channel(decoded, 16, 1, 0), 22050), 2.0);
}
