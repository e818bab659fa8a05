// The channel mixer's arithmetic on the speaker layouts it meets: fold-down, gains,
// saturation, sample widths, float input, masks, formats and persisted settings.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "libs/vxvideokit/channelmix.h"

using namespace vxvk;

namespace {

constexpr DWORD k51 = 0x3F;                // FL FR FC LFE BL BR
constexpr DWORD k71Side = 0x63F;           // + SL SR
constexpr long double kC = 0.70710678118L;

WAVEFORMATEXTENSIBLE Extensible(WORD channels, WORD bits, DWORD mask, bool isFloat = false) {
  WAVEFORMATEXTENSIBLE x{};
  x.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  x.Format.nChannels = channels;
  x.Format.nSamplesPerSec = 48000;
  x.Format.wBitsPerSample = bits;
  x.Format.nBlockAlign = WORD(channels * ((bits + 7) / 8));
  x.Format.nAvgBytesPerSec = 48000 * x.Format.nBlockAlign;
  x.Format.cbSize = 22;
  x.Samples.wValidBitsPerSample = bits;
  x.dwChannelMask = mask;
  x.SubFormat = isFloat ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
  return x;
}
WAVEFORMATEX Plain(WORD tag, WORD channels, WORD bits) {
  WAVEFORMATEX w{};
  w.wFormatTag = tag;
  w.nChannels = channels;
  w.nSamplesPerSec = 44100;
  w.wBitsPerSample = bits;
  w.nBlockAlign = WORD(channels * ((bits + 7) / 8));
  w.nAvgBytesPerSec = 44100 * w.nBlockAlign;
  return w;
}

template <typename Format>
MixInputFormat Describe(const Format& f) {
  return DescribeMixInput(reinterpret_cast<const BYTE*>(&f), sizeof f);
}
template <typename Format>
ChannelMixer MixerFor(const Format& f, const DownmixSettings& s = DefaultDownmixSettings()) {
  ChannelMixer m;
  m.Configure(Describe(f), s);
  return m;
}

// Mixes one frame of 16-bit samples into 16-bit stereo.
std::vector<int16_t> Mix16(const ChannelMixer& m, std::vector<int16_t> in) {
  std::vector<int16_t> out(m.OutputFrameBytes() / 2);
  const size_t n = m.Process(reinterpret_cast<BYTE*>(in.data()), in.size() * 2,
                             reinterpret_cast<BYTE*>(out.data()), out.size() * 2);
  EXPECT_EQ(out.size() * 2, n);
  return out;
}

LONG Aligned16(int16_t v) { return LONG(uint32_t(uint16_t(v)) << 16); }
LONG CTimes(LONG v) { return LONG(kC * v); }

}  // namespace

TEST(vxvideokit_ChannelMix, StereoSixteenBitPassesUnchanged) {
  const ChannelMixer m = MixerFor(Plain(WAVE_FORMAT_PCM, 2, 16));
  std::vector<int16_t> in = {0, 1, -1, 32767, -32768, 1234, -4321, 77};
  std::vector<int16_t> out(in.size());
  const std::vector<int16_t> copy = in;
  ASSERT_EQ(in.size() * 2, m.Process(reinterpret_cast<BYTE*>(in.data()), in.size() * 2,
                                     reinterpret_cast<BYTE*>(out.data()), out.size() * 2));
  EXPECT_EQ(copy, out);
}

TEST(vxvideokit_ChannelMix, FivePointOneFoldsCentreAndBacksIntoStereo) {
  const ChannelMixer m = MixerFor(Extensible(6, 16, k51));
  EXPECT_EQ((std::vector<int16_t>{7071, 7071}), Mix16(m, {0, 0, 10000, 0, 0, 0}));
  EXPECT_EQ((std::vector<int16_t>{32767, 32767}), Mix16(m, {30000, 30000, 0, 0, 30000, 30000}));
  EXPECT_EQ((std::vector<int16_t>{-32768, -32768}), Mix16(m, {-30000, -30000, 0, 0, -30000, -30000}));
  // L = FL + BL + c LFE + c FC on 32-bit left-aligned values, written as the top 16 bits.
  const int16_t fl = 1000, fr = -2000, fc = 300, lfe = 400, bl = 500, br = -600;
  const LONG l = Aligned16(fl) + Aligned16(bl) + CTimes(Aligned16(lfe)) + CTimes(Aligned16(fc));
  const LONG r = Aligned16(fr) + Aligned16(br) + CTimes(Aligned16(lfe)) + CTimes(Aligned16(fc));
  EXPECT_EQ((std::vector<int16_t>{int16_t(l >> 16), int16_t(r >> 16)}), Mix16(m, {fl, fr, fc, lfe, bl, br}));
}

TEST(vxvideokit_ChannelMix, PlainSixChannelPcmIsTakenAsFivePointOne) {
  EXPECT_EQ(k51, Describe(Plain(WAVE_FORMAT_PCM, 6, 16)).mask);
  EXPECT_EQ(0x0Fu, Describe(Plain(WAVE_FORMAT_PCM, 4, 16)).mask);
  EXPECT_EQ(0x04u, Describe(Plain(WAVE_FORMAT_PCM, 1, 16)).mask);
  EXPECT_EQ(0x03u, Describe(Plain(WAVE_FORMAT_PCM, 2, 16)).mask);
  const ChannelMixer m = MixerFor(Plain(WAVE_FORMAT_PCM, 6, 16));
  EXPECT_EQ((std::vector<int16_t>{7071, 7071}), Mix16(m, {0, 0, 10000, 0, 0, 0}));
}

TEST(vxvideokit_ChannelMix, MasksGetExactlyOneBitPerChannel) {
  EXPECT_EQ(0x3Fu, CompleteChannelMask(0x04, 6));
  EXPECT_EQ(0x0Fu, CompleteChannelMask(0x04, 4));
  EXPECT_EQ(0x03u, CompleteChannelMask(0x3F, 2));   // surplus removed from the top
  EXPECT_EQ(0x13u, CompleteChannelMask(0x10, 3));   // BL given: FL FR added below it
  EXPECT_EQ(kAllSpeakersMask, CompleteChannelMask(0, 18));
  EXPECT_EQ(0u, CompleteChannelMask(0x3F, 0));
}

TEST(vxvideokit_ChannelMix, MonoAndQuadAndSideLayoutsFoldAsTheRulesSay) {
  // Mono centre: L = R = c FC.
  EXPECT_EQ((std::vector<int16_t>{7071, 7071}), Mix16(MixerFor(Plain(WAVE_FORMAT_PCM, 1, 16)), {10000}));
  // Quad (FL FR BL BR): backs go straight into the fronts.
  EXPECT_EQ((std::vector<int16_t>{3000, 7000}),
            Mix16(MixerFor(Extensible(4, 16, 0x33)), {1000, 3000, 2000, 4000}));
  // 7.1 side: SL into L, SR into R, nothing across.
  const ChannelMixer side = MixerFor(Extensible(8, 16, k71Side));
  EXPECT_EQ((std::vector<int16_t>{1234, 0}), Mix16(side, {0, 0, 0, 0, 0, 0, 1234, 0}));
  EXPECT_EQ((std::vector<int16_t>{0, -4321}), Mix16(side, {0, 0, 0, 0, 0, 0, 0, -4321}));
  // Front left/right of centre without a centre output: 0.85 / 0.52678268764 cross-mix.
  const ChannelMixer wide = MixerFor(Extensible(4, 16, 0xC3));  // FL FR FLC FRC
  const LONG flc = Aligned16(10000);
  const LONG l = LONG(0.85L * flc), r = LONG(0.52678268764L * flc);
  EXPECT_EQ((std::vector<int16_t>{int16_t(l >> 16), int16_t(r >> 16)}), Mix16(wide, {0, 0, 10000, 0}));
  // Back centre, top centre: c into both fronts.
  EXPECT_EQ((std::vector<int16_t>{7071, 7071}), Mix16(MixerFor(Extensible(3, 16, 0x103)), {0, 0, 10000}));
  EXPECT_EQ((std::vector<int16_t>{7071, 7071}), Mix16(MixerFor(Extensible(3, 16, 0x803)), {0, 0, 10000}));
  // Top back pair without a top centre output: straight into the fronts.
  EXPECT_EQ((std::vector<int16_t>{100, 200}), Mix16(MixerFor(Extensible(4, 16, 0x28003)), {0, 0, 100, 200}));
}

TEST(vxvideokit_ChannelMix, FoldsIntoTheBackPairWhenTheOutputHasOne) {
  DownmixSettings s = DefaultDownmixSettings();
  s.format.outputChannels = 4;
  s.format.outputChannelMask = 0x33;  // FL FR BL BR
  const ChannelMixer m = MixerFor(Extensible(8, 16, k71Side), s);
  // SL with a back pair: c into FL and c into BL.
  const std::vector<int16_t> out = Mix16(m, {0, 0, 0, 0, 0, 0, 10000, 0});
  EXPECT_EQ((std::vector<int16_t>{7071, 0, 7071, 0}), out);
  // The top centre is shared out by halves among the four.
  const ChannelMixer top = MixerFor(Extensible(5, 16, 0x833), s);
  EXPECT_EQ((std::vector<int16_t>{5000, 5000, 5000, 5000}), Mix16(top, {0, 0, 0, 0, 10000}));
}

TEST(vxvideokit_ChannelMix, MonoOutputSumsEveryChannel) {
  DownmixSettings s = DefaultDownmixSettings();
  s.format.outputChannels = 1;
  s.format.outputChannelMask = 0x04;
  const ChannelMixer m = MixerFor(Extensible(6, 16, k51), s);
  EXPECT_EQ((std::vector<int16_t>{21}), Mix16(m, {1, 2, 3, 4, 5, 6}));
}

TEST(vxvideokit_ChannelMix, GainsScaleInputsOutputsAndTheWhole) {
  DownmixSettings s = DefaultDownmixSettings();
  s.gains.inputGainsOn = TRUE;
  s.gains.inputGain[kFR] = 50;
  EXPECT_EQ((std::vector<int16_t>{1000, 1000}), Mix16(MixerFor(Plain(WAVE_FORMAT_PCM, 2, 16), s), {1000, 2000}));
  s = DefaultDownmixSettings();
  s.gains.outputGainsOn = TRUE;
  s.gains.outputGain[kFL] = 200;
  s.gains.masterGainOn = TRUE;
  s.gains.masterGain = 25;
  EXPECT_EQ((std::vector<int16_t>{500, 500}), Mix16(MixerFor(Plain(WAVE_FORMAT_PCM, 2, 16), s), {1000, 2000}));
  // A gain beyond 100 saturates rather than wrapping.
  s.gains.masterGain = 1000;
  EXPECT_EQ((std::vector<int16_t>{32767, 20000}), Mix16(MixerFor(Plain(WAVE_FORMAT_PCM, 2, 16), s), {30000, 2000}));
}

TEST(vxvideokit_ChannelMix, CustomMatrixReplacesTheRules) {
  DownmixSettings s = DefaultDownmixSettings();
  s.matrixBlock.customMatrixOn = TRUE;
  s.matrix[kFL][kFR] = 1.0;  // swap
  s.matrix[kFR][kFL] = 0.5;
  EXPECT_EQ((std::vector<int16_t>{2000, 500}), Mix16(MixerFor(Plain(WAVE_FORMAT_PCM, 2, 16), s), {1000, 2000}));
}

TEST(vxvideokit_ChannelMix, ReadsAndWritesEverySampleWidth) {
  // 8-bit input is unsigned: 0x80 is silence, 0xC0 is half scale.
  {
    const ChannelMixer m = MixerFor(Plain(WAVE_FORMAT_PCM, 2, 8));
    BYTE in[] = {0x80, 0xC0, 0x00, 0xFF};
    int16_t out[4];
    ASSERT_EQ(8u, m.Process(in, sizeof in, reinterpret_cast<BYTE*>(out), sizeof out));
    EXPECT_EQ(0, out[0]);
    EXPECT_EQ(0x4000, out[1]);
    EXPECT_EQ(-32768, out[2]);
    EXPECT_EQ(0x7F00, out[3]);
  }
  // 24-bit input keeps its top 16 bits.
  {
    const ChannelMixer m = MixerFor(Plain(WAVE_FORMAT_PCM, 2, 24));
    BYTE in[] = {0xFF, 0x34, 0x12, 0x00, 0x00, 0x80};
    int16_t out[2];
    ASSERT_EQ(4u, m.Process(in, sizeof in, reinterpret_cast<BYTE*>(out), sizeof out));
    EXPECT_EQ(0x1234, out[0]);
    EXPECT_EQ(-32768, out[1]);
  }
  // 24-bit output (extensible) and 8-bit output (unsigned again).
  {
    DownmixSettings s = DefaultDownmixSettings();
    s.format.outputBits = 24;
    const ChannelMixer m = MixerFor(Plain(WAVE_FORMAT_PCM, 2, 16), s);
    int16_t in[] = {0x1234, -2};
    BYTE out[6];
    ASSERT_EQ(6u, m.Process(reinterpret_cast<BYTE*>(in), sizeof in, out, sizeof out));
    EXPECT_EQ((std::vector<BYTE>{0x00, 0x34, 0x12, 0x00, 0xFE, 0xFF}), std::vector<BYTE>(out, out + 6));
    s.format.outputBits = 8;
    const ChannelMixer m8 = MixerFor(Plain(WAVE_FORMAT_PCM, 2, 16), s);
    int16_t in8[] = {0, -32768};
    BYTE out8[2];
    ASSERT_EQ(2u, m8.Process(reinterpret_cast<BYTE*>(in8), sizeof in8, out8, sizeof out8));
    EXPECT_EQ(0x80, out8[0]);
    EXPECT_EQ(0x00, out8[1]);
  }
}

TEST(vxvideokit_ChannelMix, FloatInputIsConvertedToIntegersWithoutTouchingTheInput) {
  EXPECT_EQ(1073741823, FloatSampleToInt(0.5f));
  EXPECT_EQ(INT32_MAX, FloatSampleToInt(1.5f));
  EXPECT_EQ(INT32_MIN, FloatSampleToInt(-3.0f));
  EXPECT_EQ(0, FloatSampleToInt(std::numeric_limits<float>::quiet_NaN()));

  const ChannelMixer m = MixerFor(Plain(WAVE_FORMAT_IEEE_FLOAT, 2, 32));
  float in[] = {0.5f, -0.25f};
  int16_t out[2];
  ASSERT_EQ(4u, m.Process(reinterpret_cast<BYTE*>(in), sizeof in, reinterpret_cast<BYTE*>(out), sizeof out));
  EXPECT_EQ(16383, out[0]);
  EXPECT_EQ(-8192, out[1]);
  EXPECT_EQ(0.5f, in[0]) << "the upstream buffer is not written";

  const ChannelMixer ext = MixerFor(Extensible(6, 32, k51, true));
  float six[] = {0, 0, 0.5f, 0, 0, 0};
  ASSERT_EQ(4u, ext.Process(reinterpret_cast<BYTE*>(six), sizeof six, reinterpret_cast<BYTE*>(out), sizeof out));
  EXPECT_EQ(LONG(kC * 1073741823) >> 16, out[0]);
}

TEST(vxvideokit_ChannelMix, ProcessStopsAtTheEndOfEitherBuffer) {
  const ChannelMixer m = MixerFor(Extensible(6, 16, k51));
  std::vector<int16_t> in(6 * 10, 100);
  std::vector<int16_t> out(2 * 4, -1);
  out.resize(2 * 4 + 2, 0x5555);
  EXPECT_EQ(16u, m.Process(reinterpret_cast<BYTE*>(in.data()), in.size() * 2, reinterpret_cast<BYTE*>(out.data()), 16));
  EXPECT_EQ(0x5555, out[8]);
  // A partial last frame is not read.
  EXPECT_EQ(4u, m.Process(reinterpret_cast<BYTE*>(in.data()), 12 + 5, reinterpret_cast<BYTE*>(out.data()), 16));
}

TEST(vxvideokit_ChannelMix, AcceptsOnlyFormatsItCanRead) {
  const DownmixSettings s = DefaultDownmixSettings();
  auto check = [&](const auto& f) { return CheckDownmixInput(reinterpret_cast<const BYTE*>(&f), sizeof f, s); };
  EXPECT_EQ(S_OK, check(Plain(WAVE_FORMAT_PCM, 2, 16)));
  EXPECT_EQ(S_OK, check(Plain(WAVE_FORMAT_IEEE_FLOAT, 6, 32)));
  EXPECT_EQ(S_OK, check(Extensible(6, 24, k51)));
  EXPECT_EQ(S_OK, check(Extensible(8, 32, k71Side, true)));
  EXPECT_EQ(S_OK, check(Extensible(18, 16, kAllSpeakersMask)));
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, check(Extensible(19, 16, kAllSpeakersMask)));
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, check(Extensible(6, 16, 0x4003F)));
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, check(Extensible(2, 16, 3, true)));  // 16-bit float
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, check(Plain(WAVE_FORMAT_IEEE_FLOAT, 2, 64)));
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, check(Plain(WAVE_FORMAT_MPEGLAYER3, 2, 16)));
  WAVEFORMATEX odd = Plain(WAVE_FORMAT_PCM, 2, 16);
  odd.nBlockAlign = 3;
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, check(odd));
  WAVEFORMATEXTENSIBLE ext = Extensible(2, 16, 3);
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED,
            CheckDownmixInput(reinterpret_cast<const BYTE*>(&ext), sizeof(WAVEFORMATEX) + 4, s)) << "cut-off extension";
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, CheckDownmixInput(reinterpret_cast<const BYTE*>(&ext), 10, s));

  DownmixSettings strict = s;
  strict.format.requiredBits = 24;
  strict.format.checkSampleRate = TRUE;
  strict.format.requiredSampleRate = 48000;
  strict.format.checkChannels = TRUE;
  strict.format.requiredChannels = 6;
  const WAVEFORMATEXTENSIBLE good = Extensible(6, 24, k51);
  EXPECT_EQ(S_OK, CheckDownmixInput(reinterpret_cast<const BYTE*>(&good), sizeof good, strict));
  const WAVEFORMATEXTENSIBLE wrongBits = Extensible(6, 16, k51);
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, CheckDownmixInput(reinterpret_cast<const BYTE*>(&wrongBits), sizeof wrongBits, strict));
  const WAVEFORMATEXTENSIBLE wrongCount = Extensible(2, 24, 3);
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, CheckDownmixInput(reinterpret_cast<const BYTE*>(&wrongCount), sizeof wrongCount, strict));
  WAVEFORMATEXTENSIBLE wrongRate = good;
  wrongRate.Format.nSamplesPerSec = 44100;
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, CheckDownmixInput(reinterpret_cast<const BYTE*>(&wrongRate), sizeof wrongRate, strict));
}

TEST(vxvideokit_ChannelMix, OutputFormatIsPcmOrExtensibleAboveSixteenBits) {
  const WAVEFORMATEX in = Extensible(6, 24, k51).Format;
  DownmixSettings s = DefaultDownmixSettings();
  std::vector<BYTE> f = DownmixOutputFormat(in, s);
  ASSERT_EQ(sizeof(WAVEFORMATEX), f.size());
  WAVEFORMATEX w;
  std::memcpy(&w, f.data(), sizeof w);
  EXPECT_EQ(WAVE_FORMAT_PCM, w.wFormatTag);
  EXPECT_EQ(2, w.nChannels);
  EXPECT_EQ(48000u, w.nSamplesPerSec);
  EXPECT_EQ(4, w.nBlockAlign);
  EXPECT_EQ(192000u, w.nAvgBytesPerSec);
  EXPECT_EQ(16, w.wBitsPerSample);

  s.format.outputBits = 24;
  f = DownmixOutputFormat(in, s);
  ASSERT_EQ(sizeof(WAVEFORMATEXTENSIBLE), f.size());
  WAVEFORMATEXTENSIBLE x;
  std::memcpy(&x, f.data(), sizeof x);
  EXPECT_EQ(WAVE_FORMAT_EXTENSIBLE, x.Format.wFormatTag);
  EXPECT_EQ(22, x.Format.cbSize);
  EXPECT_EQ(24, x.Samples.wValidBitsPerSample);
  EXPECT_EQ(3u, x.dwChannelMask);
  EXPECT_EQ(KSDATAFORMAT_SUBTYPE_PCM, x.SubFormat);
  EXPECT_EQ(6, x.Format.nBlockAlign);

  s = DefaultDownmixSettings();
  s.format.extensibleOutput = TRUE;
  EXPECT_EQ(sizeof(WAVEFORMATEXTENSIBLE), DownmixOutputFormat(in, s).size());
}

TEST(vxvideokit_ChannelMix, SettingsHaveTheirDefaultsAndSurviveASaveAndLoad) {
  const DownmixSettings d = DefaultDownmixSettings();
  EXPECT_FALSE(d.format.extensibleOutput);
  EXPECT_EQ(1u, d.format.flag);
  EXPECT_EQ(2u, d.format.outputChannels);
  EXPECT_EQ(3u, d.format.outputChannelMask);
  EXPECT_EQ(16u, d.format.outputBits);
  EXPECT_EQ(2u, d.format.requiredChannels);
  EXPECT_EQ(48000u, d.format.requiredSampleRate);
  EXPECT_EQ(100u, d.gains.inputGain[17]);
  EXPECT_EQ(100u, d.gains.masterGain);
  EXPECT_FALSE(d.matrixBlock.customMatrixOn);

  DownmixSettings s = d;
  s.gains.masterGainOn = TRUE;
  s.gains.masterGain = 80;
  s.matrix[3][4] = 0.25;
  const std::vector<BYTE> saved = SaveDownmixSettings(s);
  EXPECT_EQ(sizeof(DownmixSettings) + 24, saved.size());
  DownmixSettings loaded = d;
  ASSERT_EQ(S_OK, LoadDownmixSettings(saved.data(), saved.size(), &loaded));
  EXPECT_EQ(0, std::memcmp(&s, &loaded, sizeof s));

  DownmixSettings untouched = d;
  EXPECT_EQ(E_INVALIDARG, LoadDownmixSettings(saved.data(), saved.size() - 1, &untouched));
  std::vector<BYTE> bad = saved;
  bad[0] ^= 1;
  EXPECT_EQ(E_INVALIDARG, LoadDownmixSettings(bad.data(), bad.size(), &untouched));
  bad = saved;
  DownmixSettings zeroChannels = s;
  zeroChannels.format.outputChannels = 0;
  std::memcpy(bad.data() + 24, &zeroChannels, sizeof zeroChannels);
  EXPECT_EQ(E_INVALIDARG, LoadDownmixSettings(bad.data(), bad.size(), &untouched));
  EXPECT_EQ(0, std::memcmp(&d, &untouched, sizeof d));
}

TEST(vxvideokit_ChannelMix, TopLayerFoldsDependOnATopCentreOutput) {
  const WAVEFORMATEXTENSIBLE top = Extensible(6, 16, 0x17003);  // FL FR TFL TFC TFR TBC
  // Into stereo: the top fronts go straight down, the top centres by c.
  const ChannelMixer stereo = MixerFor(top);
  EXPECT_EQ((std::vector<int16_t>{10000, 0}), Mix16(stereo, {0, 0, 10000, 0, 0, 0}));
  EXPECT_EQ((std::vector<int16_t>{7071, 7071}), Mix16(stereo, {0, 0, 0, 10000, 0, 0}));
  EXPECT_EQ((std::vector<int16_t>{7071, 7071}), Mix16(stereo, {0, 0, 0, 0, 0, 10000}));
  // Into FL FR TC: the top centre takes c of each, the fronts the rest.
  DownmixSettings s = DefaultDownmixSettings();
  s.format.outputChannels = 3;
  s.format.outputChannelMask = 0x803;
  const ChannelMixer withTc = MixerFor(top, s);
  EXPECT_EQ((std::vector<int16_t>{7071, 0, 7071}), Mix16(withTc, {0, 0, 10000, 0, 0, 0}));
  EXPECT_EQ((std::vector<int16_t>{5000, 5000, 7071}), Mix16(withTc, {0, 0, 0, 10000, 0, 0}));
  EXPECT_EQ((std::vector<int16_t>{5000, 5000, 7071}), Mix16(withTc, {0, 0, 0, 0, 0, 10000}));
}
