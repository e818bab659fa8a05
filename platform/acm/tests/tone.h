// Test tones: interleaved 16-bit sine waves and a frequency measure that does not care
// about a codec's delay, gain or small distortions.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tavtest {

// `seconds` of a sine of `hz` at `amplitude` (of full scale), the same on every channel.
inline std::vector<int16_t> SineTone(double hz, int rate, int channels, double seconds, double amplitude = 0.5) {
  const size_t frames = size_t(rate * seconds);
  std::vector<int16_t> samples(frames * channels);
  for (size_t i = 0; i < frames; ++i) {
    const auto v = int16_t(std::lround(amplitude * 32767.0 * std::sin(2.0 * M_PI * hz * double(i) / rate)));
    for (int c = 0; c < channels; ++c) samples[i * channels + c] = v;
  }
  return samples;
}

inline std::vector<BYTE> ToBytes(const std::vector<int16_t>& samples) {
  std::vector<BYTE> bytes(samples.size() * 2);
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

// One channel of interleaved 16-bit (or unsigned 8-bit) PCM as doubles.
inline std::vector<double> Channel(const std::vector<BYTE>& pcm, int bits, int channels, int channel) {
  std::vector<double> out;
  const size_t step = size_t(bits / 8) * channels;
  for (size_t at = size_t(bits / 8) * channel; at + bits / 8 <= pcm.size(); at += step) {
    if (bits == 8) {
      out.push_back((double(pcm[at]) - 128.0) * 256.0);
    } else {
      int16_t v;
      std::memcpy(&v, &pcm[at], 2);
      out.push_back(v);
    }
  }
  return out;
}

// Frequency of the dominant tone in the middle half of `x`, from the time between its first
// and last rising zero crossing (linearly interpolated). 0 when there are fewer than two.
inline double MeasureHz(const std::vector<double>& x, int rate) {
  const size_t from = x.size() / 4, to = x.size() * 3 / 4;
  double first = -1, last = -1;
  int crossings = 0;
  for (size_t i = from + 1; i < to; ++i) {
    if (x[i - 1] < 0 && x[i] >= 0) {
      const double t = double(i - 1) + (-x[i - 1]) / (x[i] - x[i - 1]);
      if (first < 0) first = t;
      last = t;
      ++crossings;
    }
  }
  if (crossings < 2) return 0;
  return (crossings - 1) * double(rate) / (last - first);
}

// Root mean square of `x`.
inline double Rms(const std::vector<double>& x) {
  double sum = 0;
  for (double v : x) sum += v * v;
  return x.empty() ? 0 : std::sqrt(sum / double(x.size()));
}

}  // namespace tavtest
