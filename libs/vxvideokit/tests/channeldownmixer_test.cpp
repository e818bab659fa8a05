// The channel mixer filter on its own: type checks, the output type, samples through
// Transform, the settings interface, persistence and the profile flag.
#include <gtest/gtest.h>

#include <cstring>

#include "libs/vxvideokit/channeldownmixer.h"
#include "libs/vxvideokit/tests/filterhelpers.h"
#include "media/contract/profile.h"

using namespace vktest;

namespace {

using Mixer = DirectFilter<CChannelDownmixer, IChannelDownmixerSettings>;

CMediaType AudioType(WORD tag, WORD channels, WORD bits, DWORD mask = 0, bool floatSub = false) {
  CMediaType mt;
  mt.InitMediaType();
  mt.SetType(&MEDIATYPE_Audio);
  mt.SetSubtype(&MEDIASUBTYPE_PCM);
  mt.SetFormatType(&FORMAT_WaveFormatEx);
  WAVEFORMATEXTENSIBLE x{};
  x.Format.wFormatTag = tag;
  x.Format.nChannels = channels;
  x.Format.nSamplesPerSec = 48000;
  x.Format.wBitsPerSample = bits;
  x.Format.nBlockAlign = WORD(channels * bits / 8);
  x.Format.nAvgBytesPerSec = 48000 * x.Format.nBlockAlign;
  ULONG size = sizeof(WAVEFORMATEX);
  if (tag == WAVE_FORMAT_EXTENSIBLE) {
    x.Format.cbSize = 22;
    x.Samples.wValidBitsPerSample = bits;
    x.dwChannelMask = mask;
    x.SubFormat = floatSub ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
    size = sizeof x;
  }
  mt.SetFormat(reinterpret_cast<const BYTE*>(&x), size);
  mt.SetSampleSize(x.Format.nBlockAlign);
  return mt;
}

}  // namespace

TEST(vxvideokit_ChannelDownmixer, AnswersItsInterfacesAndRefusesWhatItCannotMix) {
  Mixer m;
  ASSERT_TRUE(m.control);
  EXPECT_TRUE(m.filter.As<IPersistStream>());
  ComPtr<IPin> in, out;
  EXPECT_EQ(S_OK, m.filter->FindPin(u"Input", &in));
  EXPECT_EQ(S_OK, m.filter->FindPin(u"Output", &out));

  EXPECT_EQ(S_OK, m.impl->CheckInputType(P(AudioType(WAVE_FORMAT_PCM, 2, 16))));
  EXPECT_EQ(S_OK, m.impl->CheckInputType(P(AudioType(WAVE_FORMAT_EXTENSIBLE, 6, 16, 0x3F))));
  EXPECT_EQ(S_OK, m.impl->CheckInputType(P(AudioType(WAVE_FORMAT_EXTENSIBLE, 8, 32, 0x63F, true))));
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, m.impl->CheckInputType(P(AudioType(WAVE_FORMAT_MPEGLAYER3, 2, 16))));
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, m.impl->CheckInputType(P(AudioType(WAVE_FORMAT_EXTENSIBLE, 2, 16, 0x80003))));
  CMediaType video = Rgb32(4, 4);
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, m.impl->CheckInputType(&video));
  CMediaType mt;
  EXPECT_EQ(E_UNEXPECTED, m.impl->GetMediaType(0, &mt)) << "input not connected";
}

TEST(vxvideokit_ChannelDownmixer, MixesFivePointOneSamplesIntoSixteenBitStereo) {
  Mixer m;
  CMediaType in = AudioType(WAVE_FORMAT_EXTENSIBLE, 6, 16, 0x3F);
  ASSERT_EQ(S_OK, m.impl->SetMediaType(PINDIR_INPUT, &in));

  CMediaType stereo = AudioType(WAVE_FORMAT_PCM, 2, 16);
  stereo.SetSampleSize(in.lSampleSize);  // the sample size is the input's
  EXPECT_EQ(S_OK, m.impl->CheckTransform(&in, &stereo));
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, m.impl->CheckTransform(&in, P(AudioType(WAVE_FORMAT_PCM, 6, 16))));

  ComPtr<IMemAllocator> upstream = CommittedAllocator(1, 24);
  ComPtr<IMemAllocator> downstream = CommittedAllocator(1, 64);
  ComPtr<IMediaSample> src = Buffer(upstream.Get()), dst = Buffer(downstream.Get());
  BYTE* p = nullptr;
  src->GetPointer(&p);
  const int16_t frames[12] = {0, 0, 10000, 0, 0, 0, 30000, 30000, 0, 0, 30000, 30000};
  std::memcpy(p, frames, sizeof frames);
  src->SetActualDataLength(sizeof frames);
  LONGLONG ms = 100, me = 102;
  src->SetMediaTime(&ms, &me);
  ASSERT_EQ(S_OK, m.impl->Transform(src.Get(), dst.Get()));
  ASSERT_EQ(8, dst->GetActualDataLength());
  dst->GetPointer(&p);
  int16_t out[4];
  std::memcpy(out, p, sizeof out);
  EXPECT_EQ(7071, out[0]);
  EXPECT_EQ(7071, out[1]);
  EXPECT_EQ(32767, out[2]);
  EXPECT_EQ(32767, out[3]);
  LONGLONG s = 0, e = 0;
  ASSERT_EQ(S_OK, dst->GetMediaTime(&s, &e));
  EXPECT_EQ(100, s);
  EXPECT_EQ(102, e);
}

TEST(vxvideokit_ChannelDownmixer, FloatInputLeavesTheUpstreamBufferAlone) {
  Mixer m;
  CMediaType in = AudioType(WAVE_FORMAT_EXTENSIBLE, 2, 32, 0x3, true);
  ASSERT_EQ(S_OK, m.impl->SetMediaType(PINDIR_INPUT, &in));
  ComPtr<IMemAllocator> upstream = CommittedAllocator(1, 8);
  ComPtr<IMemAllocator> downstream = CommittedAllocator(1, 16);
  ComPtr<IMediaSample> src = Buffer(upstream.Get()), dst = Buffer(downstream.Get());
  BYTE* p = nullptr;
  src->GetPointer(&p);
  const float samples[2] = {0.5f, -1.0f};
  std::memcpy(p, samples, sizeof samples);
  src->SetActualDataLength(8);
  ASSERT_EQ(S_OK, m.impl->Transform(src.Get(), dst.Get()));
  EXPECT_EQ(0, std::memcmp(p, samples, sizeof samples));
  BYTE* q = nullptr;
  dst->GetPointer(&q);
  int16_t out[2];
  std::memcpy(out, q, sizeof out);
  EXPECT_EQ(16383, out[0]);
  EXPECT_EQ(-32768, out[1]);
}

TEST(vxvideokit_ChannelDownmixer, ChangedInputTypeReachesThePinAndTheMixer) {
  Mixer m;
  CBasePin* pin = m.impl->GetPin(0);
  ASSERT_TRUE(pin);
  CMediaType stereo = AudioType(WAVE_FORMAT_PCM, 2, 16);
  ASSERT_EQ(S_OK, pin->SetMediaType(&stereo));
  ComPtr<IMemAllocator> upstream = CommittedAllocator(1, 24);
  ComPtr<IMemAllocator> downstream = CommittedAllocator(1, 64);
  const auto push = [&](const CMediaType* type, const int16_t* samples, LONG bytes) {
    ComPtr<IMediaSample> src = Buffer(upstream.Get()), dst = Buffer(downstream.Get());
    BYTE* p = nullptr;
    src->GetPointer(&p);
    std::memcpy(p, samples, size_t(bytes));
    src->SetActualDataLength(bytes);
    if (type) src->SetMediaType(const_cast<CMediaType*>(type));
    EXPECT_EQ(S_OK, m.impl->Transform(src.Get(), dst.Get()));
    std::vector<int16_t> out(size_t(dst->GetActualDataLength()) / 2);
    dst->GetPointer(&p);
    std::memcpy(out.data(), p, out.size() * 2);
    return out;
  };
  const int16_t frame51[6] = {0, 0, 10000, 0, 0, 0};

  // Upstream switches to 5.1 with a sample: the pin takes the type and the sample is mixed as 5.1.
  CMediaType surround = AudioType(WAVE_FORMAT_EXTENSIBLE, 6, 16, 0x3F);
  EXPECT_EQ((std::vector<int16_t>{7071, 7071}), push(&surround, frame51, sizeof frame51));
  EXPECT_TRUE(pin->CurrentMediaType() == surround);
  EXPECT_EQ((std::vector<int16_t>{7071, 7071}), push(nullptr, frame51, sizeof frame51)) << "and stays so";

  // A type the mixer cannot take, or another rate, leaves the connected format in force.
  CMediaType mp3 = AudioType(WAVE_FORMAT_MPEGLAYER3, 2, 16);
  EXPECT_EQ((std::vector<int16_t>{7071, 7071}), push(&mp3, frame51, sizeof frame51));
  CMediaType otherRate = AudioType(WAVE_FORMAT_PCM, 2, 16);
  reinterpret_cast<WAVEFORMATEX*>(otherRate.pbFormat)->nSamplesPerSec = 44100;
  EXPECT_EQ((std::vector<int16_t>{7071, 7071}), push(&otherRate, frame51, sizeof frame51));
  EXPECT_TRUE(pin->CurrentMediaType() == surround);
}

TEST(vxvideokit_ChannelDownmixer, SettingsTravelInThreeBlocks) {
  Mixer m;
  BYTE format[VXDOWNMIX_FORMAT_BLOCK_BYTES], gains[VXDOWNMIX_GAIN_BLOCK_BYTES], matrix[VXDOWNMIX_MATRIX_BLOCK_BYTES];
  ASSERT_EQ(S_OK, m.control->GetSettings(format, gains, matrix));
  vxvk::DownmixSettings s{};
  std::memcpy(&s.format, format, sizeof format);
  std::memcpy(&s.gains, gains, sizeof gains);
  EXPECT_EQ(2u, s.format.outputChannels);
  EXPECT_EQ(16u, s.format.outputBits);
  EXPECT_EQ(3u, s.format.outputChannelMask);
  EXPECT_EQ(100u, s.gains.masterGain);

  s.gains.masterGainOn = TRUE;
  s.gains.masterGain = 50;
  ASSERT_EQ(S_OK, m.control->SetSettings(nullptr, reinterpret_cast<const BYTE*>(&s.gains), nullptr));
  vxvk::DownmixSettings bad = s;
  bad.format.outputBits = 12;
  EXPECT_EQ(E_INVALIDARG, m.control->SetSettings(reinterpret_cast<const BYTE*>(&bad.format), nullptr, nullptr));

  // The gain reaches the samples.
  CMediaType in = AudioType(WAVE_FORMAT_PCM, 2, 16);
  ASSERT_EQ(S_OK, m.impl->SetMediaType(PINDIR_INPUT, &in));
  ComPtr<IMemAllocator> a = CommittedAllocator(2, 16);
  ComPtr<IMediaSample> src = Buffer(a.Get()), dst = Buffer(a.Get());
  BYTE* p = nullptr;
  src->GetPointer(&p);
  const int16_t frame[2] = {1000, -1000};
  std::memcpy(p, frame, 4);
  src->SetActualDataLength(4);
  ASSERT_EQ(S_OK, m.impl->Transform(src.Get(), dst.Get()));
  dst->GetPointer(&p);
  int16_t out[2];
  std::memcpy(out, p, 4);
  EXPECT_EQ(500, out[0]);
  EXPECT_EQ(-500, out[1]);

  BOOL inputConnected = TRUE, outputConnected = TRUE;
  EXPECT_EQ(E_POINTER, m.control->GetPinConnections(nullptr, &outputConnected));
  ASSERT_EQ(S_OK, m.control->GetPinConnections(&inputConnected, &outputConnected));
  EXPECT_FALSE(inputConnected);
  EXPECT_FALSE(outputConnected);

  std::vector<double> coefficients(VXDOWNMIX_SPEAKERS * VXDOWNMIX_SPEAKERS, 0.0);
  coefficients[1] = 1.0;  // FL takes FR
  ASSERT_EQ(S_OK, m.control->SetMatrix(coefficients.data()));
  std::vector<double> back(coefficients.size(), 9.0);
  ASSERT_EQ(S_OK, m.control->GetMatrix(back.data()));
  EXPECT_EQ(coefficients, back);
}

TEST(vxvideokit_ChannelDownmixer, PersistsItsSettingsThroughAStream) {
  MemoryStream stream;
  {
    Mixer m;
    ComPtr<IPersistStream> persist = m.filter.As<IPersistStream>();
    EXPECT_EQ(S_FALSE, persist->IsDirty());
    vxvk::DownmixSettings s = vxvk::DefaultDownmixSettings();
    s.format.outputChannels = 4;
    s.format.outputChannelMask = 0x33;
    s.gains.inputGainsOn = TRUE;
    s.gains.inputGain[5] = 42;
    ASSERT_EQ(S_OK, m.control->SetSettings(reinterpret_cast<const BYTE*>(&s.format),
                                           reinterpret_cast<const BYTE*>(&s.gains), nullptr));
    EXPECT_EQ(S_OK, persist->IsDirty());
    ULARGE_INTEGER max{};
    ASSERT_EQ(S_OK, persist->GetSizeMax(&max));
    EXPECT_EQ(sizeof(vxvk::DownmixSettings) + 24, max.QuadPart);
    ASSERT_EQ(S_OK, persist->Save(&stream, TRUE));
    EXPECT_EQ(max.QuadPart, stream.data.size());
    EXPECT_EQ(S_FALSE, persist->IsDirty());
    CLSID clsid;
    ASSERT_EQ(S_OK, persist->GetClassID(&clsid));
    EXPECT_EQ(CLSID_VxChannelDownmixer, clsid);
  }
  Mixer fresh;
  ComPtr<IPersistStream> persist = fresh.filter.As<IPersistStream>();
  stream.position = 0;
  ASSERT_EQ(S_OK, persist->Load(&stream));
  BYTE format[VXDOWNMIX_FORMAT_BLOCK_BYTES], gains[VXDOWNMIX_GAIN_BLOCK_BYTES];
  ASSERT_EQ(S_OK, fresh.control->GetSettings(format, gains, nullptr));
  vxvk::DownmixSettings s{};
  std::memcpy(&s.format, format, sizeof format);
  std::memcpy(&s.gains, gains, sizeof gains);
  EXPECT_EQ(4u, s.format.outputChannels);
  EXPECT_EQ(42u, s.gains.inputGain[5]);

  // A cut-off stream changes nothing.
  MemoryStream cut;
  cut.data.assign(stream.data.begin(), stream.data.begin() + 100);
  EXPECT_EQ(E_INVALIDARG, persist->Load(&cut));
  ASSERT_EQ(S_OK, fresh.control->GetSettings(format, nullptr, nullptr));
  std::memcpy(&s.format, format, sizeof format);
  EXPECT_EQ(4u, s.format.outputChannels);
}

TEST(vxvideokit_ChannelDownmixer, ReadsTheProfileFlagWhenSettingsAreLoaded) {
  auto flagOf = [](Mixer& m) {
    BYTE block[VXDOWNMIX_MATRIX_BLOCK_BYTES];
    EXPECT_EQ(S_OK, m.control->GetSettings(nullptr, nullptr, block));
    vxvk::DownmixMatrixBlock b;
    std::memcpy(&b, block, sizeof b);
    return b.raiseMeritAndSingleInstance;
  };
  {
    Mixer m;
    EXPECT_FALSE(flagOf(m));
  }
  ASSERT_TRUE(WritePrivateProfileString("ChannelDownmixer", "bRaiseMeritAndSingleInstance", "1", "win.ini"));
  Mixer m;
  EXPECT_TRUE(flagOf(m));
}

TEST(vxvideokit_ChannelDownmixer, RegistersPcmPinsAtMeritTwoMillionHex) {
  EXPECT_EQ(0x200000u, sudChannelDownmixer.dwMerit);
  ASSERT_EQ(2u, sudChannelDownmixer.nPins);
  for (UINT i = 0; i < 2; ++i) {
    const AMOVIESETUP_PIN& pin = sudChannelDownmixer.lpPin[i];
    EXPECT_EQ(BOOL(i == 1), pin.bOutput);
    EXPECT_EQ(CLSID_NULL, *pin.clsConnectsToFilter);
    ASSERT_NE(nullptr, pin.strConnectsToPin);
    EXPECT_EQ(u'\0', pin.strConnectsToPin[0]);
    EXPECT_EQ(MEDIASUBTYPE_PCM, *pin.lpMediaType[0].clsMinorType);
  }
}
