// The binary "FilterData" value that describes a registered filter to the mapper: merit,
// pins, their media types, mediums and categories. Laid out as the platform's own
// registration writes it (version 2), so data written by any library reads back here.
//
//   header   DWORD version, merit, pin count, reserved
//   per pin  BYTE tag[4] ("0pi3", first byte '0' + pin index), DWORD flags, instances,
//            media type count, medium count, category present (+ DWORD offset if so);
//            then per media type: BYTE tag[4] ("0ty3"), DWORD reserved, DWORD offset of
//            the major type, DWORD offset of the subtype; then per medium a DWORD offset
//   pool     the GUIDs and mediums the offsets point at (offsets from the start)
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "media/contract/guid.h"

namespace tav::graph {

// Pin flags as the mapper stores them.
constexpr DWORD kPinFlagZero = 0x1;      // may have zero instances
constexpr DWORD kPinFlagRenderer = 0x2;  // renders its input
constexpr DWORD kPinFlagMany = 0x4;      // may have many instances
constexpr DWORD kPinFlagOutput = 0x8;    // output pin

struct PinMedium {
  GUID medium;
  DWORD data1;
  DWORD data2;
};

struct PinTypeData {
  GUID major;
  GUID minor;
};

struct PinData {
  DWORD flags = 0;
  DWORD instances = 0;
  std::vector<PinTypeData> types;
  std::vector<PinMedium> mediums;
  std::optional<GUID> category;
  bool IsOutput() const { return (flags & kPinFlagOutput) != 0; }
};

struct FilterData {
  DWORD version = 2;
  DWORD merit = 0;
  std::vector<PinData> pins;
};

std::vector<BYTE> EncodeFilterData(const FilterData& data);
// False for data that is truncated or points outside itself.
bool DecodeFilterData(const BYTE* bytes, size_t size, FilterData* out);

}  // namespace tav::graph
