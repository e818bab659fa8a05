#include "platform/acm/acmdrivers.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace tav::acm {

namespace {

constexpr DWORD kPcmFormatBytes = sizeof(PCMWAVEFORMAT);
constexpr DWORD kMp3FormatBytes = sizeof(MPEGLAYER3WAVEFORMAT);
constexpr DWORD kImaFormatBytes = sizeof(IMAADPCMWAVEFORMAT);
constexpr DWORD kG711FormatBytes = sizeof(WAVEFORMATEX);

// Sample rates the MP3 encoder takes, with the MPEG version each one belongs to.
constexpr std::array<DWORD, 9> kMp3Rates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
// Bit rates in kbit/s of MPEG-1, MPEG-2 and MPEG-2.5 layer III.
constexpr std::array<DWORD, 14> kMpeg1Kbps = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr std::array<DWORD, 14> kMpeg2Kbps = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr std::array<DWORD, 8> kMpeg25Kbps = {8, 16, 24, 32, 40, 48, 56, 64};
// Decoder delay written into MPEG layer-3 formats, in samples.
constexpr WORD kMp3CodecDelay = 1393;

constexpr std::array<DWORD, 5> kPcmRates = {8000, 11025, 22050, 44100, 48000};
constexpr std::array<DWORD, 4> kCodecRates = {8000, 11025, 22050, 44100};

// Limits of the sample rates and channel counts the converters take.
constexpr DWORD kMinRateHz = 1000;
constexpr DWORD kMaxRateHz = 384000;
constexpr WORD kMaxPcmChannels = 8;

bool IsMp3Rate(DWORD rate) { return std::find(kMp3Rates.begin(), kMp3Rates.end(), rate) != kMp3Rates.end(); }

// The bit rates of the MPEG version that `rate` belongs to.
std::vector<DWORD> Mp3BitRates(DWORD rate) {
  if (rate >= 32000) return {kMpeg1Kbps.begin(), kMpeg1Kbps.end()};
  if (rate >= 16000) return {kMpeg2Kbps.begin(), kMpeg2Kbps.end()};
  return {kMpeg25Kbps.begin(), kMpeg25Kbps.end()};
}

DWORD Mp3DefaultKbps(DWORD rate, WORD channels) {
  const DWORD stereo = rate >= 32000 ? 128 : rate >= 16000 ? 64 : 32;
  return channels == 1 ? stereo / 2 : stereo;
}

WORD ImaBlockAlign(DWORD rate, WORD channels) {
  const WORD perChannel = rate <= 11025 ? 256 : rate <= 22050 ? 512 : 1024;
  return WORD(perChannel * channels);
}

WORD ImaSamplesPerBlock(WORD blockAlign, WORD channels) {
  return WORD((blockAlign - 4 * channels) * 8 / (4 * channels) + 1);
}

FormatBlock PcmFormat(WORD channels, DWORD rate, WORD bits) {
  FormatBlock block(sizeof(WAVEFORMATEX), 0);  // cbSize 0 for callers that read WAVEFORMATEX
  auto* w = reinterpret_cast<WAVEFORMATEX*>(block.data());
  w->wFormatTag = WAVE_FORMAT_PCM;
  w->nChannels = channels;
  w->nSamplesPerSec = rate;
  w->wBitsPerSample = bits;
  w->nBlockAlign = WORD(channels * bits / 8);
  w->nAvgBytesPerSec = rate * w->nBlockAlign;
  block.resize(kPcmFormatBytes);
  return block;
}

FormatBlock Mp3Format(WORD channels, DWORD rate, DWORD kbps) {
  FormatBlock block(kMp3FormatBytes, 0);
  auto* m = reinterpret_cast<MPEGLAYER3WAVEFORMAT*>(block.data());
  m->wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  m->wfx.nChannels = channels;
  m->wfx.nSamplesPerSec = rate;
  m->wfx.nAvgBytesPerSec = kbps * 1000 / 8;
  m->wfx.nBlockAlign = 1;
  m->wfx.wBitsPerSample = 0;
  m->wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
  m->wID = MPEGLAYER3_ID_MPEG;
  m->fdwFlags = MPEGLAYER3_FLAG_PADDING_ISO;
  const DWORD samplesPerFrame = rate >= 32000 ? 1152 : 576;
  m->nBlockSize = WORD(samplesPerFrame * kbps * 1000 / 8 / rate);
  m->nFramesPerBlock = 1;
  m->nCodecDelay = kMp3CodecDelay;
  return block;
}

FormatBlock ImaFormat(WORD channels, DWORD rate) {
  FormatBlock block(kImaFormatBytes, 0);
  auto* f = reinterpret_cast<IMAADPCMWAVEFORMAT*>(block.data());
  f->wfx.wFormatTag = WAVE_FORMAT_IMA_ADPCM;
  f->wfx.nChannels = channels;
  f->wfx.nSamplesPerSec = rate;
  f->wfx.nBlockAlign = ImaBlockAlign(rate, channels);
  f->wfx.wBitsPerSample = 4;
  f->wfx.cbSize = 2;
  f->wSamplesPerBlock = ImaSamplesPerBlock(f->wfx.nBlockAlign, channels);
  f->wfx.nAvgBytesPerSec = DWORD(uint64_t(rate) * f->wfx.nBlockAlign / f->wSamplesPerBlock);
  return block;
}

FormatBlock G711Format(WORD tag, WORD channels, DWORD rate) {
  FormatBlock block(kG711FormatBytes, 0);
  auto* w = reinterpret_cast<WAVEFORMATEX*>(block.data());
  w->wFormatTag = tag;
  w->nChannels = channels;
  w->nSamplesPerSec = rate;
  w->wBitsPerSample = 8;
  w->nBlockAlign = channels;
  w->nAvgBytesPerSec = rate * channels;
  return block;
}

bool PcmShapeValid(const WAVEFORMATEX& w) {
  if (w.wFormatTag != WAVE_FORMAT_PCM) return false;
  if (w.wBitsPerSample != 8 && w.wBitsPerSample != 16) return false;
  if (w.nChannels == 0 || w.nSamplesPerSec < kMinRateHz || w.nSamplesPerSec > kMaxRateHz) return false;
  return w.nBlockAlign == w.nChannels * w.wBitsPerSample / 8 && w.nAvgBytesPerSec == w.nSamplesPerSec * w.nBlockAlign;
}

// The PCM side of a codec: 16-bit mono or stereo at a rate the codec takes.
bool CodecPcmValid(const DriverInfo& d, const WAVEFORMATEX& w) {
  if (!PcmShapeValid(w) || w.wBitsPerSample != 16 || w.nChannels > 2) return false;
  return d.kind == DriverKind::Mp3 ? IsMp3Rate(w.nSamplesPerSec) : w.nSamplesPerSec <= 96000;
}

bool Mp3Valid(const WAVEFORMATEX& w) {
  if (w.cbSize < MPEGLAYER3_WFX_EXTRA_BYTES || w.nChannels < 1 || w.nChannels > 2) return false;
  if (!IsMp3Rate(w.nSamplesPerSec)) return false;
  if (w.nAvgBytesPerSec % 125 != 0) return false;  // whole kbit/s
  const std::vector<DWORD> rates = Mp3BitRates(w.nSamplesPerSec);
  return std::find(rates.begin(), rates.end(), w.nAvgBytesPerSec / 125) != rates.end();
}

bool ImaValid(const WAVEFORMATEX& w) {
  if (w.cbSize < 2 || w.wBitsPerSample != 4 || w.nChannels < 1 || w.nChannels > 2) return false;
  if (w.nSamplesPerSec < kMinRateHz || w.nSamplesPerSec > 96000) return false;
  // A block holds a 4-byte header per channel and whole 4-byte groups of codes per channel;
  // the encoder makes blocks of 32 to 8192 bytes.
  const DWORD header = 4u * w.nChannels;
  if (w.nBlockAlign <= header || w.nBlockAlign < 32 || w.nBlockAlign > 8192) return false;
  if ((w.nBlockAlign - header) % header != 0) return false;
  const auto& f = reinterpret_cast<const IMAADPCMWAVEFORMAT&>(w);
  return f.wSamplesPerBlock == ImaSamplesPerBlock(w.nBlockAlign, w.nChannels);
}

bool G711Valid(const WAVEFORMATEX& w) {
  if (w.wFormatTag != WAVE_FORMAT_ALAW && w.wFormatTag != WAVE_FORMAT_MULAW) return false;
  if (w.wBitsPerSample != 8 || w.nChannels < 1 || w.nChannels > 2) return false;
  if (w.nSamplesPerSec < kMinRateHz || w.nSamplesPerSec > 96000) return false;
  return w.nBlockAlign == w.nChannels && w.nAvgBytesPerSec == w.nSamplesPerSec * w.nChannels;
}

WORD CodecTag(const DriverInfo& d) { return WORD(d.tags.size() > 1 ? d.tags[1].tag : WAVE_FORMAT_PCM); }

bool HasTag(const DriverInfo& d, WORD tag) {
  return std::any_of(d.tags.begin(), d.tags.end(), [tag](const FormatTagInfo& t) { return t.tag == tag; });
}

bool SameShape(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
  return a.nChannels == b.nChannels && a.nSamplesPerSec == b.nSamplesPerSec;
}

std::vector<DriverInfo> FindDrivers() {
  std::vector<DriverInfo> drivers;
  drivers.push_back({DriverKind::PcmConverter, "PCM Converter", "PCM sample rate, channel and sample width converter",
                     "Converts PCM audio between rates, channel counts and 8 or 16 bits per sample.", 1,
                     ACMDRIVERDETAILS_SUPPORTF_CONVERTER, {{WAVE_FORMAT_PCM, "PCM", kPcmFormatBytes}}});
  if (avcodec_find_encoder_by_name("libmp3lame") && avcodec_find_decoder(AV_CODEC_ID_MP3))
    drivers.push_back({DriverKind::Mp3, "MPEG Layer-3", "MPEG Layer-3 audio codec",
                       "Compresses 16-bit PCM to MPEG-1/2/2.5 layer III at a constant bit rate and decodes it.", 2,
                       ACMDRIVERDETAILS_SUPPORTF_CODEC,
                       {{WAVE_FORMAT_PCM, "PCM", kPcmFormatBytes},
                        {WAVE_FORMAT_MPEGLAYER3, "MPEG Layer-3", kMp3FormatBytes}}});
  if (avcodec_find_encoder(AV_CODEC_ID_ADPCM_IMA_WAV) && avcodec_find_decoder(AV_CODEC_ID_ADPCM_IMA_WAV))
    drivers.push_back({DriverKind::ImaAdpcm, "IMA ADPCM", "IMA ADPCM audio codec",
                       "Compresses 16-bit PCM to 4-bit IMA ADPCM blocks and decodes them.", 3,
                       ACMDRIVERDETAILS_SUPPORTF_CODEC,
                       {{WAVE_FORMAT_PCM, "PCM", kPcmFormatBytes},
                        {WAVE_FORMAT_IMA_ADPCM, "IMA ADPCM", kImaFormatBytes}}});
  if (avcodec_find_encoder(AV_CODEC_ID_PCM_ALAW) && avcodec_find_decoder(AV_CODEC_ID_PCM_ALAW) &&
      avcodec_find_encoder(AV_CODEC_ID_PCM_MULAW) && avcodec_find_decoder(AV_CODEC_ID_PCM_MULAW))
    drivers.push_back({DriverKind::G711, "CCITT G.711", "CCITT G.711 A-Law and u-Law audio codec",
                       "Compands 16-bit PCM to 8-bit A-Law or u-Law and expands it again.", 4,
                       ACMDRIVERDETAILS_SUPPORTF_CODEC,
                       {{WAVE_FORMAT_PCM, "PCM", kPcmFormatBytes},
                        {WAVE_FORMAT_ALAW, "CCITT A-Law", kG711FormatBytes},
                        {WAVE_FORMAT_MULAW, "CCITT u-Law", kG711FormatBytes}}});
  return drivers;
}

}  // namespace

const std::vector<DriverInfo>& Drivers() {
  static const std::vector<DriverInfo> drivers = FindDrivers();
  return drivers;
}

DWORD FormatSize(const WAVEFORMATEX& wfx) {
  return wfx.wFormatTag == WAVE_FORMAT_PCM ? kPcmFormatBytes : DWORD(sizeof(WAVEFORMATEX)) + wfx.cbSize;
}

bool FormatValid(const DriverInfo& d, const WAVEFORMATEX& w) {
  if (!HasTag(d, w.wFormatTag)) return false;
  switch (d.kind) {
    case DriverKind::PcmConverter:
      return PcmShapeValid(w) && w.nChannels <= kMaxPcmChannels;
    case DriverKind::Mp3:
      return w.wFormatTag == WAVE_FORMAT_PCM ? CodecPcmValid(d, w) : Mp3Valid(w);
    case DriverKind::ImaAdpcm:
      return w.wFormatTag == WAVE_FORMAT_PCM ? CodecPcmValid(d, w) : ImaValid(w);
    case DriverKind::G711:
      return w.wFormatTag == WAVE_FORMAT_PCM ? CodecPcmValid(d, w) : G711Valid(w);
  }
  return false;
}

std::vector<FormatBlock> StandardFormats(const DriverInfo& d, WORD tag) {
  std::vector<FormatBlock> out;
  if (!HasTag(d, tag)) return out;
  const bool codecPcm = tag == WAVE_FORMAT_PCM && d.kind != DriverKind::PcmConverter;
  if (tag == WAVE_FORMAT_PCM) {
    const auto& rates = d.kind == DriverKind::Mp3 ? std::vector<DWORD>(kMp3Rates.begin(), kMp3Rates.end())
                                                  : std::vector<DWORD>(kPcmRates.begin(), kPcmRates.end());
    for (DWORD rate : rates)
      for (WORD bits : {WORD(8), WORD(16)}) {
        if (codecPcm && bits != 16) continue;
        for (WORD channels : {WORD(1), WORD(2)}) out.push_back(PcmFormat(channels, rate, bits));
      }
    return out;
  }
  switch (d.kind) {
    case DriverKind::Mp3:
      for (DWORD rate : kMp3Rates)
        for (WORD channels : {WORD(1), WORD(2)})
          for (DWORD kbps : Mp3BitRates(rate)) out.push_back(Mp3Format(channels, rate, kbps));
      break;
    case DriverKind::ImaAdpcm:
      for (DWORD rate : kCodecRates)
        for (WORD channels : {WORD(1), WORD(2)}) out.push_back(ImaFormat(channels, rate));
      break;
    case DriverKind::G711:
      for (DWORD rate : kCodecRates)
        for (WORD channels : {WORD(1), WORD(2)}) out.push_back(G711Format(tag, channels, rate));
      break;
    case DriverKind::PcmConverter:
      break;
  }
  return out;
}

bool CanConvert(const DriverInfo& d, const WAVEFORMATEX& src, const WAVEFORMATEX& dst) {
  if (!FormatValid(d, src) || !FormatValid(d, dst)) return false;
  if (d.kind == DriverKind::PcmConverter) return true;
  const bool srcPcm = src.wFormatTag == WAVE_FORMAT_PCM, dstPcm = dst.wFormatTag == WAVE_FORMAT_PCM;
  // A codec compresses PCM or decompresses to PCM, keeping rate and channels.
  return srcPcm != dstPcm && SameShape(src, dst);
}

bool Suggest(const DriverInfo& d, const WAVEFORMATEX& src, const WAVEFORMATEX& want, DWORD flags,
             FormatBlock* out) {
  if (!FormatValid(d, src)) return false;
  const bool wantTag = flags & ACM_FORMATSUGGESTF_WFORMATTAG, wantChannels = flags & ACM_FORMATSUGGESTF_NCHANNELS,
             wantRate = flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC, wantBits = flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE;
  const WORD channels = wantChannels ? want.nChannels : src.nChannels;
  const DWORD rate = wantRate ? want.nSamplesPerSec : src.nSamplesPerSec;

  FormatBlock candidate;
  if (d.kind == DriverKind::PcmConverter) {
    if (wantTag && want.wFormatTag != WAVE_FORMAT_PCM) return false;
    candidate = PcmFormat(channels, rate, wantBits ? want.wBitsPerSample : src.wBitsPerSample);
  } else if (src.wFormatTag == WAVE_FORMAT_PCM) {
    const WORD tag = wantTag ? want.wFormatTag : CodecTag(d);
    if (tag == WAVE_FORMAT_PCM || !HasTag(d, tag)) return false;
    switch (d.kind) {
      case DriverKind::Mp3: candidate = Mp3Format(channels, rate, Mp3DefaultKbps(rate, channels)); break;
      case DriverKind::ImaAdpcm: candidate = ImaFormat(channels, rate); break;
      default: candidate = G711Format(tag, channels, rate); break;
    }
  } else {
    if (wantTag && want.wFormatTag != WAVE_FORMAT_PCM) return false;
    candidate = PcmFormat(channels, rate, wantBits ? want.wBitsPerSample : 16);
  }
  const auto& w = *reinterpret_cast<const WAVEFORMATEX*>(candidate.data());
  if (wantBits && w.wBitsPerSample != want.wBitsPerSample) return false;
  if (!CanConvert(d, src, w)) return false;
  *out = std::move(candidate);
  return true;
}

std::string DescribeFormat(const WAVEFORMATEX& w) {
  char rate[32];
  std::snprintf(rate, sizeof rate, "%u.%03u kHz", w.nSamplesPerSec / 1000, w.nSamplesPerSec % 1000);
  const std::string channels = w.nChannels == 1 ? "Mono" : w.nChannels == 2 ? "Stereo" : std::to_string(w.nChannels) + " channels";
  char text[ACMFORMATDETAILS_FORMAT_CHARS];
  if (w.wFormatTag == WAVE_FORMAT_MPEGLAYER3)
    std::snprintf(text, sizeof text, "%u kBit/s, %s, %s", w.nAvgBytesPerSec * 8 / 1000, rate, channels.c_str());
  else
    std::snprintf(text, sizeof text, "%s, %u Bit, %s", rate, unsigned(w.wBitsPerSample), channels.c_str());
  return text;
}

DWORD StreamSize(const WAVEFORMATEX& src, const WAVEFORMATEX& dst, DWORD bytes, bool fromSource) {
  const auto clamp = [](uint64_t v) { return DWORD(std::min<uint64_t>(v, 0xFFFFFFFFu)); };
  const bool srcPcm = src.wFormatTag == WAVE_FORMAT_PCM, dstPcm = dst.wFormatTag == WAVE_FORMAT_PCM;
  if (srcPcm && dstPcm) {
    if (fromSource) {
      const uint64_t frames = bytes / src.nBlockAlign;
      if (frames == 0) return 0;
      // Whole output frames, rounded up, and room for what the resampler holds back.
      uint64_t out = (frames * dst.nSamplesPerSec + src.nSamplesPerSec - 1) / src.nSamplesPerSec;
      if (src.nSamplesPerSec != dst.nSamplesPerSec) out += 64;
      return clamp(out * dst.nBlockAlign);
    }
    const uint64_t frames = uint64_t(bytes / dst.nBlockAlign) * src.nSamplesPerSec / dst.nSamplesPerSec;
    return clamp(frames * src.nBlockAlign);
  }
  if (srcPcm) {  // compressing
    if (dst.wFormatTag == WAVE_FORMAT_MPEGLAYER3) {
      if (fromSource) {
        const uint64_t samples = bytes / src.nBlockAlign;
        if (samples == 0) return 0;
        return clamp(samples * 5 / 4 + 7200);  // the encoder's worst case
      }
      if (bytes <= 7200) return 0;
      return clamp(uint64_t(bytes - 7200) * 4 / 5 * src.nBlockAlign);
    }
    if (dst.wFormatTag == WAVE_FORMAT_IMA_ADPCM) {
      const uint64_t spb = reinterpret_cast<const IMAADPCMWAVEFORMAT&>(dst).wSamplesPerBlock;
      if (fromSource) {
        const uint64_t samples = bytes / src.nBlockAlign;
        if (samples == 0) return 0;
        return clamp((samples + spb - 1) / spb * dst.nBlockAlign);
      }
      return clamp(uint64_t(bytes / dst.nBlockAlign) * spb * src.nBlockAlign);
    }
    if (fromSource) return clamp(uint64_t(bytes / src.nBlockAlign) * dst.nBlockAlign);
    return clamp(uint64_t(bytes / dst.nBlockAlign) * src.nBlockAlign);
  }
  // decompressing
  if (src.wFormatTag == WAVE_FORMAT_MPEGLAYER3) {
    const uint64_t rate = src.nSamplesPerSec, avg = std::max<DWORD>(src.nAvgBytesPerSec, 1);
    if (fromSource) {
      if (bytes == 0) return 0;
      // The samples that many bytes carry at the format's bit rate, and two frames more for
      // what the decoder holds and a frame that runs over the nominal rate.
      return clamp((uint64_t(bytes) * rate / avg + 2 * 1152) * dst.nBlockAlign);
    }
    const uint64_t samples = bytes / dst.nBlockAlign;
    if (samples <= 2 * 1152) return 0;
    return clamp((samples - 2 * 1152) * avg / rate);
  }
  if (src.wFormatTag == WAVE_FORMAT_IMA_ADPCM) {
    const uint64_t spb = reinterpret_cast<const IMAADPCMWAVEFORMAT&>(src).wSamplesPerBlock;
    if (fromSource) return clamp(uint64_t(bytes / src.nBlockAlign) * spb * dst.nBlockAlign);
    return clamp(uint64_t(bytes / dst.nBlockAlign) / spb * src.nBlockAlign);
  }
  if (fromSource) return clamp(uint64_t(bytes / src.nBlockAlign) * dst.nBlockAlign);
  return clamp(uint64_t(bytes / dst.nBlockAlign) * src.nBlockAlign);
}

}  // namespace tav::acm
