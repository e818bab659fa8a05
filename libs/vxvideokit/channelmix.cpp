#include "libs/vxvideokit/channelmix.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace vxvk {
namespace {

constexpr long double kC = 0.70710678118L;
constexpr long double kFlcMain = 0.85L;
constexpr long double kFlcCross = 0.52678268764L;
constexpr DWORD kPersistTag = 0x4D445856;  // "VXDM"
constexpr DWORD kPersistVersion = 1;

// Product in extended precision, truncated toward zero.
inline LONGLONG Mul(long double c, LONGLONG v) { return static_cast<LONGLONG>(c * static_cast<long double>(v)); }

inline LONG Saturate(LONGLONG v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return LONG(v);
}

int PopCount(DWORD m) { return __builtin_popcount(m); }

bool IsExtensible(const WAVEFORMATEX& w, size_t bytes) {
  return w.wFormatTag == WAVE_FORMAT_EXTENSIBLE && w.cbSize >= sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX) &&
         bytes >= sizeof(WAVEFORMATEXTENSIBLE);
}

// The fold-down rules, in their order. A rule takes an input position that the output lacks;
// "has" conditions are about the output. Where a position has several rows, the first row
// whose condition holds is the one used.
void FoldDown(const LONGLONG* acc, DWORD inMask, DWORD outMask, LONGLONG* out) {
  auto has = [&](int p) { return (outMask >> p) & 1u; };
  auto folds = [&](int p) { return ((inMask >> p) & 1u) && !has(p); };
  auto v = [&](int p) -> LONGLONG { return folds(p) ? acc[p] : 0; };
  const bool backPair = has(kBL) && has(kBR);
  const int pairL = backPair ? kBL : kFL;
  const int pairR = backPair ? kBR : kFR;

  if (folds(kTBL) || folds(kTBR)) {
    const LONGLONG l = v(kTBL), r = v(kTBR);
    if (has(kTC)) {
      out[kTC] += Mul(kC, l + r);
      out[pairL] += Mul(kC, l);
      out[pairR] += Mul(kC, r);
    } else {
      out[pairL] += l;
      out[pairR] += r;
    }
  }
  if (folds(kTBC)) {
    const LONGLONG x = acc[kTBC];
    if (has(kTBL) && has(kTBR)) {
      out[kTBL] += Mul(kC, x);
      out[kTBR] += Mul(kC, x);
    } else if (has(kTC)) {
      out[kTC] += Mul(kC, x);
      if (has(kBC)) {
        out[kBC] += Mul(kC, x);
      } else {
        out[pairL] += x / 2;
        out[pairR] += x / 2;
      }
    } else if (has(kBC)) {
      out[kBC] += x;
    } else {
      out[pairL] += Mul(kC, x);
      out[pairR] += Mul(kC, x);
    }
  }
  if (folds(kTFL) || folds(kTFR)) {
    const LONGLONG l = v(kTFL), r = v(kTFR);
    if (has(kTC)) {
      out[kTC] += Mul(kC, l + r);
      out[kFL] += Mul(kC, l);
      out[kFR] += Mul(kC, r);
    } else {
      out[kFL] += l;
      out[kFR] += r;
    }
  }
  if (folds(kTFC)) {
    const LONGLONG x = acc[kTFC];
    if (has(kTFL) && has(kTFR)) {
      out[kTFL] += Mul(kC, x);
      out[kTFR] += Mul(kC, x);
    } else if (!has(kTC)) {
      if (has(kFC)) {
        out[kFC] += x;
      } else {
        out[kFL] += Mul(kC, x);
        out[kFR] += Mul(kC, x);
      }
    } else {
      out[kTC] += Mul(kC, x);
      if (has(kFC)) {
        out[kFC] += Mul(kC, x);
      } else {
        out[kFL] += x / 2;
        out[kFR] += x / 2;
      }
    }
  }
  if (folds(kTC)) {
    const LONGLONG x = acc[kTC];
    if (backPair) {
      out[kFL] += x / 2;
      out[kFR] += x / 2;
      out[kBL] += x / 2;
      out[kBR] += x / 2;
    } else {
      out[kFL] += Mul(kC, x);
      out[kFR] += Mul(kC, x);
    }
  }
  if (folds(kSL) || folds(kSR)) {
    const LONGLONG l = v(kSL), r = v(kSR);
    if (backPair) {
      out[kFL] += Mul(kC, l);
      out[kBL] += Mul(kC, l);
      out[kFR] += Mul(kC, r);
      out[kBR] += Mul(kC, r);
    } else {
      out[kFL] += l;
      out[kFR] += r;
    }
  }
  if (folds(kBC)) {
    out[pairL] += Mul(kC, acc[kBC]);
    out[pairR] += Mul(kC, acc[kBC]);
  }
  if (folds(kFLC) || folds(kFRC)) {
    const LONGLONG l = v(kFLC), r = v(kFRC);
    if (has(kFC)) {
      out[kFC] += Mul(kC, l + r);
      out[kFL] += Mul(kC, l);
      out[kFR] += Mul(kC, r);
    } else {
      out[kFL] += Mul(kFlcMain, l) + Mul(kFlcCross, r);
      out[kFR] += Mul(kFlcCross, l) + Mul(kFlcMain, r);
    }
  }
  if (folds(kBL) || folds(kBR)) {
    const LONGLONG l = v(kBL), r = v(kBR);
    if (has(kBC)) {
      out[kBC] += Mul(kC, l + r);
      out[kFL] += Mul(kC, l);
      out[kFR] += Mul(kC, r);
    } else {
      out[kFL] += l;
      out[kFR] += r;
    }
  }
  if (folds(kLFE)) {
    out[kFL] += Mul(kC, acc[kLFE]);
    out[kFR] += Mul(kC, acc[kLFE]);
  }
  if (folds(kFC)) {
    out[kFL] += Mul(kC, acc[kFC]);
    out[kFR] += Mul(kC, acc[kFC]);
  }
}

void PositionsOf(DWORD mask, int* positions, int count) {
  int n = 0;
  for (int p = 0; p < 32 && n < count; ++p)
    if ((mask >> p) & 1u) positions[n++] = p < kSpeakerCount ? p : kSpeakerCount - 1;
}

}  // namespace

DownmixSettings DefaultDownmixSettings() {
  DownmixSettings s;
  std::memset(&s, 0, sizeof s);
  s.format.extensibleOutput = FALSE;
  s.format.flag = 1;
  s.format.outputChannels = 2;
  s.format.outputChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
  s.format.outputBits = 16;
  s.format.requiredBits = 0;
  s.format.checkChannels = FALSE;
  s.format.requiredChannels = 2;
  s.format.checkSampleRate = FALSE;
  s.format.requiredSampleRate = 48000;
  s.format.extra[0] = 0xFFFF;
  s.format.extra[1] = 0xFFFF;
  for (int p = 0; p < kSpeakerCount; ++p) {
    s.gains.inputGain[p] = 100;
    s.gains.outputGain[p] = 100;
  }
  s.gains.masterGain = 100;
  return s;
}

bool DownmixSettingsValid(const DownmixSettings& s) {
  const auto& f = s.format;
  if (f.outputChannels < 1 || f.outputChannels > kMaxMixChannels) return false;
  if (f.outputBits != 8 && f.outputBits != 16 && f.outputBits != 24 && f.outputBits != 32) return false;
  if (f.outputChannelMask & ~kAllSpeakersMask) return false;
  if (s.matrixBlock.customMatrixOn) {
    for (const auto& row : s.matrix)
      for (double c : row)
        if (!std::isfinite(c)) return false;
  }
  return true;
}

std::vector<BYTE> SaveDownmixSettings(const DownmixSettings& s) {
  std::vector<BYTE> out(kDownmixPersistHeaderBytes + sizeof s, 0);
  const DWORD header[3] = {kPersistTag, kPersistVersion, DWORD(sizeof s)};
  std::memcpy(out.data(), header, sizeof header);
  std::memcpy(out.data() + kDownmixPersistHeaderBytes, &s, sizeof s);
  return out;
}

HRESULT LoadDownmixSettings(const BYTE* data, size_t size, DownmixSettings* out) {
  if (!data || !out) return E_POINTER;
  if (size < kDownmixPersistHeaderBytes + sizeof(DownmixSettings)) return E_INVALIDARG;
  DWORD header[3];
  std::memcpy(header, data, sizeof header);
  if (header[0] != kPersistTag || header[1] != kPersistVersion || header[2] != sizeof(DownmixSettings))
    return E_INVALIDARG;
  DownmixSettings s;
  std::memcpy(&s, data + kDownmixPersistHeaderBytes, sizeof s);
  if (!DownmixSettingsValid(s)) return E_INVALIDARG;
  *out = s;
  return S_OK;
}

DWORD CompleteChannelMask(DWORD mask, int channels) {
  if (channels < 0) channels = 0;
  if (channels > 32) channels = 32;
  while (PopCount(mask) < channels) {
    mask |= ~mask & (mask + 1);  // the lowest clear bit
  }
  while (PopCount(mask) > channels) mask &= ~(0x80000000u >> __builtin_clz(mask));
  return mask;
}

HRESULT CheckDownmixInput(const BYTE* format, size_t formatBytes, const DownmixSettings& s) {
  if (!format || formatBytes < sizeof(WAVEFORMATEX)) return VFW_E_TYPE_NOT_ACCEPTED;
  WAVEFORMATEX w;
  std::memcpy(&w, format, sizeof w);
  bool isFloat = false;
  if (w.wFormatTag == WAVE_FORMAT_PCM) {
  } else if (w.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
    isFloat = true;
  } else if (IsExtensible(w, formatBytes)) {
    WAVEFORMATEXTENSIBLE x;
    std::memcpy(&x, format, sizeof x);
    if (x.dwChannelMask > kAllSpeakersMask) return VFW_E_TYPE_NOT_ACCEPTED;
    if (x.SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT)
      isFloat = true;
    else if (x.SubFormat != KSDATAFORMAT_SUBTYPE_PCM)
      return VFW_E_TYPE_NOT_ACCEPTED;
  } else {
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  if (w.nChannels < 1 || w.nChannels > kMaxMixChannels) return VFW_E_TYPE_NOT_ACCEPTED;
  if (w.wBitsPerSample < 1 || w.wBitsPerSample > 32) return VFW_E_TYPE_NOT_ACCEPTED;
  // Only single-precision floats can be converted.
  if (isFloat && w.wBitsPerSample != 32) return VFW_E_TYPE_NOT_ACCEPTED;
  // Frames must be whole samples, or the interleaving cannot be read.
  if (w.nBlockAlign != w.nChannels * ((w.wBitsPerSample + 7) / 8)) return VFW_E_TYPE_NOT_ACCEPTED;
  const auto& f = s.format;
  if (f.requiredBits != 0 && w.wBitsPerSample != f.requiredBits) return VFW_E_TYPE_NOT_ACCEPTED;
  if (f.checkChannels && w.nChannels != f.requiredChannels) return VFW_E_TYPE_NOT_ACCEPTED;
  if (f.checkSampleRate && w.nSamplesPerSec != f.requiredSampleRate) return VFW_E_TYPE_NOT_ACCEPTED;
  if (!DownmixSettingsValid(s)) return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

std::vector<BYTE> DownmixOutputFormat(const WAVEFORMATEX& input, const DownmixSettings& s) {
  const auto& f = s.format;
  const WORD bits = WORD(f.outputBits);
  const WORD channels = WORD(f.outputChannels);
  WAVEFORMATEXTENSIBLE x{};
  x.Format.wFormatTag = WAVE_FORMAT_PCM;
  x.Format.nChannels = channels;
  x.Format.nSamplesPerSec = input.nSamplesPerSec;
  x.Format.nBlockAlign = WORD(channels * bits / 8);
  x.Format.nAvgBytesPerSec = input.nSamplesPerSec * x.Format.nBlockAlign;
  x.Format.wBitsPerSample = bits;
  const bool extensible = bits > 16 || f.extensibleOutput;
  if (extensible) {
    x.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    x.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    x.Samples.wValidBitsPerSample = bits;
    x.dwChannelMask = f.outputChannelMask;
    x.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  }
  const size_t size = extensible ? sizeof(WAVEFORMATEXTENSIBLE) : sizeof(WAVEFORMATEX);
  std::vector<BYTE> out(size);
  std::memcpy(out.data(), &x, size);
  return out;
}

MixInputFormat DescribeMixInput(const BYTE* format, size_t formatBytes) {
  MixInputFormat m;
  if (!format || formatBytes < sizeof(WAVEFORMATEX)) return m;
  WAVEFORMATEX w;
  std::memcpy(&w, format, sizeof w);
  m.channels = w.nChannels;
  m.bits = w.wBitsPerSample;
  DWORD mask = w.nChannels == 2 ? (SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT) : SPEAKER_FRONT_CENTER;
  m.isFloat = w.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
  if (IsExtensible(w, formatBytes)) {
    WAVEFORMATEXTENSIBLE x;
    std::memcpy(&x, format, sizeof x);
    mask = x.dwChannelMask;
    m.isFloat = x.SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
  }
  m.mask = CompleteChannelMask(mask, w.nChannels);
  return m;
}

LONG FloatSampleToInt(float x) {
  if (std::isnan(x)) return 0;
  const double v = static_cast<double>(x) * 2147483647.0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<LONG>(v);  // toward zero
}

void ChannelMixer::Configure(const MixInputFormat& in, const DownmixSettings& s) {
  in_ = in;
  settings_ = s;
  inBytes_ = (in.bits + 7) / 8;
  PositionsOf(in.mask, inPositions_, in.channels);
  outChannels_ = int(s.format.outputChannels);
  outBytes_ = int(s.format.outputBits / 8);
  outMask_ = CompleteChannelMask(s.format.outputChannelMask, outChannels_);
  PositionsOf(outMask_, outPositions_, outChannels_);
}

void ChannelMixer::MixFrame(const LONG* inValues, LONG* outValues) const {
  const auto& g = settings_.gains;
  LONGLONG acc[kSpeakerCount] = {};
  for (int i = 0; i < in_.channels; ++i) {
    LONGLONG x = inValues[i];
    if (g.inputGainsOn) x = x * LONGLONG(g.inputGain[inPositions_[i]]) / 100;
    acc[inPositions_[i]] = x;
  }

  LONGLONG out[kSpeakerCount] = {};
  if (settings_.matrixBlock.customMatrixOn) {
    for (int o = 0; o < outChannels_; ++o) {
      const int op = outPositions_[o];
      for (int i = 0; i < in_.channels; ++i) out[op] += Mul(settings_.matrix[op][inPositions_[i]], acc[inPositions_[i]]);
    }
  } else if (outChannels_ == 1) {
    for (int i = 0; i < in_.channels; ++i) out[outPositions_[0]] += acc[inPositions_[i]];
  } else {
    for (int p = 0; p < kSpeakerCount; ++p)
      if (((in_.mask >> p) & 1u) && ((outMask_ >> p) & 1u)) out[p] = acc[p];
    FoldDown(acc, in_.mask, outMask_, out);
  }

  for (int o = 0; o < outChannels_; ++o) {
    const int op = outPositions_[o];
    LONGLONG x = out[op];
    if (g.outputGainsOn) x = x * LONGLONG(g.outputGain[op]) / 100;
    if (g.masterGainOn) x = x * LONGLONG(g.masterGain) / 100;
    outValues[o] = Saturate(x);
  }
}

size_t ChannelMixer::Process(const BYTE* in, size_t inBytes, BYTE* out, size_t outCapacity) const {
  const size_t inFrame = InputFrameBytes(), outFrame = OutputFrameBytes();
  if (!in || !out || inFrame == 0 || outFrame == 0) return 0;
  size_t frames = inBytes / inFrame;
  if (frames > outCapacity / outFrame) frames = outCapacity / outFrame;

  LONG inValues[kMaxMixChannels];
  LONG outValues[kMaxMixChannels];
  const BYTE* s = in;
  BYTE* d = out;
  for (size_t f = 0; f < frames; ++f) {
    for (int c = 0; c < in_.channels; ++c, s += inBytes_) {
      uint32_t u = 0;
      if (in_.isFloat) {
        // Float samples become 32-bit integers as they are read; the input buffer may be
        // shared with other readers and is never written.
        float x;
        std::memcpy(&x, s, 4);
        inValues[c] = FloatSampleToInt(x);
        continue;
      }
      switch (inBytes_) {
        case 1: u = (uint32_t(s[0]) << 24) - 0x80000000u; break;  // 8-bit PCM is unsigned
        case 2: u = (uint32_t(s[0]) << 16) | (uint32_t(s[1]) << 24); break;
        case 3: u = (uint32_t(s[0]) << 8) | (uint32_t(s[1]) << 16) | (uint32_t(s[2]) << 24); break;
        default: std::memcpy(&u, s, 4); break;
      }
      inValues[c] = LONG(u);
    }
    MixFrame(inValues, outValues);
    for (int c = 0; c < outChannels_; ++c) {
      const uint32_t u = uint32_t(outValues[c]);
      switch (outBytes_) {
        case 1: *d++ = BYTE((u >> 24) ^ 0x80u); break;  // back to unsigned
        case 2: *d++ = BYTE(u >> 16); *d++ = BYTE(u >> 24); break;
        case 3: *d++ = BYTE(u >> 8); *d++ = BYTE(u >> 16); *d++ = BYTE(u >> 24); break;
        default: std::memcpy(d, &u, 4); d += 4; break;
      }
    }
  }
  return frames * outFrame;
}

}  // namespace vxvk
