// The channel mixer's settings record and its mixing arithmetic: speaker masks, 64-bit
// accumulators, the fixed fold-down rules, gains and saturation. The ChannelDownmixer filter
// wraps this; nothing here knows about pins or samples.
#pragma once

#include <cstddef>
#include <vector>

#include "media/contract/hresult.h"
#include "media/contract/mediatypes.h"

namespace vxvk {

// Speaker positions 0..17 (bits of the channel mask), in interleaving order.
enum SpeakerPos : int {
  kFL, kFR, kFC, kLFE, kBL, kBR, kFLC, kFRC, kBC, kSL, kSR, kTC, kTFL, kTFC, kTFR, kTBL, kTBC, kTBR,
  kSpeakerCount
};
constexpr DWORD kAllSpeakersMask = (1u << kSpeakerCount) - 1;  // 0x3FFFF
constexpr int kMaxMixChannels = 18;

// The settings record, persisted with the filter and copied through the settings interface
// in three blocks. Layout: 44-byte format block, 216-byte gain block, 524-byte matrix block,
// then the custom matrix coefficients.
struct DownmixFormatBlock {
  BOOL extensibleOutput;      // output WAVE_FORMAT_EXTENSIBLE even at 16 bits or less
  DWORD flag;                 // kept and persisted; no effect on mixing
  DWORD outputChannels;       // 1..18
  DWORD outputChannelMask;    // completed to outputChannels bits
  DWORD outputBits;           // 8, 16, 24 or 32
  DWORD requiredBits;         // 0: any
  BOOL checkChannels;
  DWORD requiredChannels;
  BOOL checkSampleRate;
  DWORD requiredSampleRate;
  WORD extra[2];              // kept and persisted
};
struct DownmixGainBlock {
  BOOL inputGainsOn;
  DWORD inputGain[kSpeakerCount];   // percent, by input position
  BOOL outputGainsOn;
  DWORD outputGain[kSpeakerCount];  // percent, by output position
  BOOL masterGainOn;
  DWORD masterGain;                 // percent
  DWORD reserved[14];
};
struct DownmixMatrixBlock {
  BOOL customMatrixOn;  // when on, `matrix` replaces the fold-down rules
  BOOL raiseMeritAndSingleInstance;  // from the user's profile when the settings are loaded
  DWORD reserved[129];
};
struct DownmixSettings {
  DownmixFormatBlock format;
  DownmixGainBlock gains;
  DownmixMatrixBlock matrixBlock;
  double matrix[kSpeakerCount][kSpeakerCount];  // [output position][input position]
};
static_assert(sizeof(DownmixFormatBlock) == 44);
static_assert(sizeof(DownmixGainBlock) == 216);
static_assert(sizeof(DownmixMatrixBlock) == 524);
static_assert(offsetof(DownmixSettings, matrix) == 784);

DownmixSettings DefaultDownmixSettings();
// The output side of the settings is usable (channels 1..18, bits 8/16/24/32, mask within
// the 18 positions).
bool DownmixSettingsValid(const DownmixSettings& s);

// Persisted form: a 24-byte header (tag, version, record size) and the record.
constexpr size_t kDownmixPersistHeaderBytes = 24;
std::vector<BYTE> SaveDownmixSettings(const DownmixSettings& s);
// E_INVALIDARG for a short, foreign or invalid block; `out` untouched then.
HRESULT LoadDownmixSettings(const BYTE* data, size_t size, DownmixSettings* out);

// Gives `mask` exactly `channels` bits (at most 32): missing bits are added from the lowest
// free bit up, surplus bits removed from the highest down.
DWORD CompleteChannelMask(DWORD mask, int channels);

// Input formats the mixer takes: PCM, IEEE float (32-bit) or extensible with a PCM or 32-bit
// float sub-format; 1..18 channels; mask within 0x3FFFF; 1..32 bits; a block alignment of
// whole samples; plus the settings' constraints. VFW_E_TYPE_NOT_ACCEPTED otherwise.
HRESULT CheckDownmixInput(const BYTE* format, size_t formatBytes, const DownmixSettings& s);

// The output format for an input: PCM, or extensible when the output bits exceed 16 or the
// settings ask for it. Returns the format bytes (18 or 40).
std::vector<BYTE> DownmixOutputFormat(const WAVEFORMATEX& input, const DownmixSettings& s);

// What a connected input looks like to the mixer.
struct MixInputFormat {
  WORD channels = 0;
  WORD bits = 0;
  DWORD mask = 0;      // completed mask
  bool isFloat = false;
};
// Reads channels, bits, the completed mask and the float flag of an accepted input format
// block (the extensible part is only read when the block holds it).
MixInputFormat DescribeMixInput(const BYTE* format, size_t formatBytes);

// Mixes interleaved frames. Float input is converted to 32-bit integers as it is read.
class ChannelMixer {
 public:
  void Configure(const MixInputFormat& in, const DownmixSettings& s);

  // Bytes per frame on each side.
  size_t InputFrameBytes() const { return size_t(in_.channels) * inBytes_; }
  size_t OutputFrameBytes() const { return size_t(outChannels_) * outBytes_; }

  // Converts whole frames from `in` to `out`; stops at the end of either buffer. Returns the
  // output bytes written.
  size_t Process(const BYTE* in, size_t inBytes, BYTE* out, size_t outCapacity) const;

  // One frame of left-aligned 32-bit values by input channel to output values by output
  // channel (exposed for tests of the arithmetic).
  void MixFrame(const LONG* inValues, LONG* outValues) const;

 private:
  MixInputFormat in_;
  DownmixSettings settings_{};
  int inBytes_ = 0;
  int inPositions_[kMaxMixChannels] = {};
  int outChannels_ = 0;
  int outBytes_ = 0;
  DWORD outMask_ = 0;
  int outPositions_[kMaxMixChannels] = {};
};

// The float conversion on its own: x x 2147483647, saturated (NaN gives 0).
LONG FloatSampleToInt(float x);

}  // namespace vxvk
