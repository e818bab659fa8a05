// Damages the timing fields of a movie file in place of a few bytes, the way a bad copy, a
// broken camera card or a careless tool does: the sample tables and clocks of MP4 and MOV,
// the frame rates, scales, lengths and index of AVI (and QVF, which is AVI), the packet and
// presentation times of ASF (WMV), the pack, presentation and decoding times and the frame
// rate of MPEG. Used by the timing tests and the timing fuzzer; a seed gives the same damage
// on every run.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace clitest {

// One byte range of a file that holds a time, a rate, a scale or an index entry.
struct TimingField {
  size_t at = 0;
  size_t size = 0;  // 1 to 8 bytes
  bool bigEndian = false;
  const char* what = "";
};

namespace mutants_detail {

inline uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}
inline uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
inline bool Is(const std::vector<uint8_t>& b, size_t at, const char* fourcc) {
  return at + 4 <= b.size() && std::memcmp(&b[at], fourcc, 4) == 0;
}

// ISO media boxes: the times, scales and the entries of the time tables.
inline void IsoFields(const std::vector<uint8_t>& b, size_t from, size_t to, std::vector<TimingField>* out) {
  size_t at = from;
  while (at + 8 <= to) {
    uint64_t size = Be32(b, at);
    size_t header = 8;
    if (size == 1 && at + 16 <= to) {
      size = uint64_t(Be32(b, at + 8)) << 32 | Be32(b, at + 12);
      header = 16;
    } else if (size == 0) {
      size = to - at;
    }
    if (size < header || at + size > to) return;
    const size_t body = at + header, end = size_t(at + size);
    for (const char* box : {"moov", "trak", "mdia", "minf", "stbl", "edts"})
      if (Is(b, at + 4, box)) IsoFields(b, body, end, out);
    const bool v1 = body < end && b[body] == 1;
    auto add = [&](size_t offset, size_t bytes, const char* what) {
      if (body + offset + bytes <= end) out->push_back({body + offset, bytes, true, what});
    };
    if (Is(b, at + 4, "mvhd") || Is(b, at + 4, "mdhd")) {
      add(v1 ? 20 : 12, 4, "timescale");
      add(v1 ? 24 : 16, v1 ? 8 : 4, "duration");
    } else if (Is(b, at + 4, "tkhd")) {
      add(v1 ? 28 : 20, v1 ? 8 : 4, "track duration");
    } else if (Is(b, at + 4, "stts") || Is(b, at + 4, "ctts") || Is(b, at + 4, "stss")) {
      const size_t entryBytes = Is(b, at + 4, "stss") ? 4 : 8;
      const size_t count = body + 8 <= end ? Be32(b, body + 4) : 0;
      for (size_t i = 0; i < count && i < 64 && body + 8 + (i + 1) * entryBytes <= end; ++i)
        for (size_t k = 0; k < entryBytes; k += 4) add(8 + i * entryBytes + k, 4, "time table entry");
    } else if (Is(b, at + 4, "elst")) {
      add(8, v1 ? 8 : 4, "edit duration");
      add(v1 ? 16 : 12, v1 ? 8 : 4, "edit media time");
    }
    at = end;
  }
}

// RIFF chunks of AVI: the main header's frame time and count, each stream's scale, rate,
// start and length, and the entries of the index.
inline void RiffFields(const std::vector<uint8_t>& b, size_t from, size_t to, std::vector<TimingField>* out) {
  size_t at = from;
  while (at + 8 <= to) {
    const size_t size = Le32(b, at + 4);
    const size_t body = at + 8;
    if (body + size > to) return;
    const size_t end = body + size;
    if (Is(b, at, "RIFF") || Is(b, at, "LIST")) {
      RiffFields(b, body + 4, end, out);
    } else if (Is(b, at, "avih")) {
      out->push_back({body, 4, false, "frame time"});
      out->push_back({body + 16, 4, false, "total frames"});
    } else if (Is(b, at, "strh") && size >= 36) {
      out->push_back({body + 20, 4, false, "scale"});
      out->push_back({body + 24, 4, false, "rate"});
      out->push_back({body + 28, 4, false, "start"});
      out->push_back({body + 32, 4, false, "length"});
    } else if (Is(b, at, "dmlh") && size >= 4) {
      out->push_back({body, 4, false, "total frames"});
    } else if (Is(b, at, "idx1")) {
      for (size_t e = body; e + 16 <= end && out->size() < 400; e += 16 * 7) {
        out->push_back({e + 4, 4, false, "index flags"});
        out->push_back({e + 8, 4, false, "index offset"});
      }
    }
    at = end + (size & 1);
  }
}

// ASF: the file's play and send durations and preroll, and the start of every data packet
// (its send time and duration, and the payload headers with their presentation times).
inline void AsfFields(const std::vector<uint8_t>& b, std::vector<TimingField>* out) {
  static const uint8_t kFileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                              0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
  static const uint8_t kData[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  size_t packetSize = 0;
  for (size_t at = 0; at + 104 <= b.size(); ++at) {
    if (std::memcmp(&b[at], kFileProperties, 16) == 0) {
      out->push_back({at + 24 + 40, 8, false, "play duration"});
      out->push_back({at + 24 + 48, 8, false, "send duration"});
      out->push_back({at + 24 + 56, 8, false, "preroll"});
      packetSize = Le32(b, at + 24 + 68);
    }
    if (std::memcmp(&b[at], kData, 16) == 0 && packetSize >= 64) {
      for (size_t p = at + 50; p + packetSize <= b.size(); p += packetSize)
        for (size_t k = 5; k < 40; ++k) out->push_back({p + k, 1, false, "packet header"});
      break;
    }
  }
}

// MPEG system streams: pack clocks, the times of the packet headers, and the frame rate code
// of the sequence headers.
inline void MpegFields(const std::vector<uint8_t>& b, std::vector<TimingField>* out) {
  for (size_t at = 0; at + 20 <= b.size(); ++at) {
    if (b[at] != 0 || b[at + 1] != 0 || b[at + 2] != 1) continue;
    const uint8_t id = b[at + 3];
    if (id == 0xBA) {
      out->push_back({at + 4, 5, true, "pack clock"});
    } else if (id == 0xB3) {
      out->push_back({at + 7, 1, true, "frame rate code"});
    } else if ((id & 0xE0) == 0xC0 || (id & 0xF0) == 0xE0) {
      // The times sit after the length, behind stuffing and buffer fields (MPEG-1) or the
      // flags (MPEG-2): any of the next bytes may be one.
      for (size_t k = 6; k < 19; ++k) out->push_back({at + k, 1, true, "packet time"});
    }
  }
}

}  // namespace mutants_detail

// The timing fields of the movie in bytes (the container is told by its first bytes).
inline std::vector<TimingField> TimingFields(const std::vector<uint8_t>& b) {
  std::vector<TimingField> out;
  using namespace mutants_detail;
  if (b.size() >= 12 && Is(b, 0, "RIFF")) {
    RiffFields(b, 0, b.size(), &out);
  } else if (b.size() >= 16 && b[0] == 0x30 && b[1] == 0x26 && b[2] == 0xB2 && b[3] == 0x75) {
    AsfFields(b, &out);
  } else if (b.size() >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 1 && (b[3] == 0xBA || b[3] == 0xB3)) {
    MpegFields(b, &out);
  } else {
    IsoFields(b, 0, b.size(), &out);
  }
  return out;
}

// Damages `count` timing fields of the movie, chosen and changed by the seed: a field is
// made huge, zero, all ones, scaled, or has one of its bytes replaced. Answers what was
// changed, for the test's messages.
inline std::string DamageTiming(std::vector<uint8_t>& bytes, uint32_t seed, int count = 1) {
  const std::vector<TimingField> fields = TimingFields(bytes);
  if (fields.empty()) return "no timing field found";
  std::mt19937 random(seed);
  std::string what;
  // Every kind of field is as likely as any other, however many entries a table has.
  std::vector<std::string> kinds;
  for (const TimingField& f : fields)
    if (std::find(kinds.begin(), kinds.end(), f.what) == kinds.end()) kinds.push_back(f.what);
  for (int n = 0; n < count; ++n) {
    const std::string kind = kinds[random() % kinds.size()];
    std::vector<const TimingField*> ofKind;
    for (const TimingField& f : fields)
      if (kind == f.what) ofKind.push_back(&f);
    const TimingField& f = *ofKind[random() % ofKind.size()];
    uint64_t v = 0;
    for (size_t i = 0; i < f.size; ++i) v |= uint64_t(bytes[f.at + (f.bigEndian ? f.size - 1 - i : i)]) << (8 * i);
    const uint64_t ones = f.size >= 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * f.size)) - 1;
    switch (random() % 6) {
      case 0: v = ones; break;
      case 1: v = 0; break;
      case 2: v = v * (2 + random() % 5000); break;
      case 3: v = v / (2 + random() % 100); break;
      case 4: v ^= uint64_t(0xFF) << (8 * (random() % f.size)); break;
      default: v = (v & ~(uint64_t(0xFF) << (8 * (f.size - 1)))) | (uint64_t(random() & 0xFF) << (8 * (f.size - 1))); break;
    }
    v &= ones;
    for (size_t i = 0; i < f.size; ++i) bytes[f.at + (f.bigEndian ? f.size - 1 - i : i)] = uint8_t(v >> (8 * i));
    what += std::string(n ? ", " : "") + f.what + " at " + std::to_string(f.at);
  }
  return what;
}

}  // namespace clitest
