#include "platform/streaming/graph/filterdata.h"

#include <cstring>
#include <map>

namespace tav::graph {
namespace {

void PutDword(std::vector<BYTE>& out, size_t at, DWORD v) {
  std::memcpy(out.data() + at, &v, 4);
}
void AppendDword(std::vector<BYTE>& out, DWORD v) {
  size_t at = out.size();
  out.resize(at + 4);
  PutDword(out, at, v);
}

// Collects the GUIDs and mediums that follow the pin records; equal values share one slot.
class Pool {
 public:
  // Returns a placeholder index; offsets are fixed once the pool's start is known.
  size_t AddGuid(const GUID& g) {
    std::vector<BYTE> bytes(sizeof(GUID));
    std::memcpy(bytes.data(), &g, sizeof(GUID));
    return Add(std::move(bytes));
  }
  size_t AddMedium(const PinMedium& m) {
    std::vector<BYTE> bytes(24);
    std::memcpy(bytes.data(), &m.medium, 16);
    std::memcpy(bytes.data() + 16, &m.data1, 4);
    std::memcpy(bytes.data() + 20, &m.data2, 4);
    return Add(std::move(bytes));
  }
  size_t OffsetOf(size_t index) const { return offsets_[index]; }
  const std::vector<BYTE>& Bytes() const { return bytes_; }

 private:
  size_t Add(std::vector<BYTE> item) {
    auto it = known_.find(item);
    if (it != known_.end()) return it->second;
    size_t index = offsets_.size();
    offsets_.push_back(bytes_.size());
    bytes_.insert(bytes_.end(), item.begin(), item.end());
    known_.emplace(std::move(item), index);
    return index;
  }
  std::vector<BYTE> bytes_;
  std::vector<size_t> offsets_;
  std::map<std::vector<BYTE>, size_t> known_;
};

}  // namespace

std::vector<BYTE> EncodeFilterData(const FilterData& data) {
  std::vector<BYTE> out;
  AppendDword(out, 2);
  AppendDword(out, data.merit);
  AppendDword(out, static_cast<DWORD>(data.pins.size()));
  AppendDword(out, 0);

  // Offsets into the pool are patched once the records' total size is known.
  struct Patch {
    size_t at;
    size_t poolIndex;
  };
  std::vector<Patch> patches;
  Pool pool;
  for (size_t i = 0; i < data.pins.size(); ++i) {
    const PinData& pin = data.pins[i];
    out.push_back(static_cast<BYTE>('0' + i));
    out.push_back('p');
    out.push_back('i');
    out.push_back('3');
    AppendDword(out, pin.flags);
    AppendDword(out, pin.instances);
    AppendDword(out, static_cast<DWORD>(pin.types.size()));
    AppendDword(out, static_cast<DWORD>(pin.mediums.size()));
    AppendDword(out, pin.category ? 1 : 0);
    if (pin.category) {
      patches.push_back({out.size(), pool.AddGuid(*pin.category)});
      AppendDword(out, 0);
    }
    for (size_t j = 0; j < pin.types.size(); ++j) {
      out.push_back(static_cast<BYTE>('0' + j));
      out.push_back('t');
      out.push_back('y');
      out.push_back('3');
      AppendDword(out, 0);
      patches.push_back({out.size(), pool.AddGuid(pin.types[j].major)});
      AppendDword(out, 0);
      patches.push_back({out.size(), pool.AddGuid(pin.types[j].minor)});
      AppendDword(out, 0);
    }
    for (const PinMedium& m : pin.mediums) {
      patches.push_back({out.size(), pool.AddMedium(m)});
      AppendDword(out, 0);
    }
  }
  size_t poolStart = out.size();
  for (const Patch& p : patches) PutDword(out, p.at, static_cast<DWORD>(poolStart + pool.OffsetOf(p.poolIndex)));
  out.insert(out.end(), pool.Bytes().begin(), pool.Bytes().end());
  return out;
}

namespace {

class Reader {
 public:
  Reader(const BYTE* bytes, size_t size) : bytes_(bytes), size_(size) {}
  bool Dword(DWORD* v) {
    if (pos_ + 4 > size_) return false;
    std::memcpy(v, bytes_ + pos_, 4);
    pos_ += 4;
    return true;
  }
  bool Skip(size_t n) {
    if (pos_ + n > size_) return false;
    pos_ += n;
    return true;
  }
  bool GuidAt(DWORD offset, GUID* g) const {
    if (static_cast<size_t>(offset) + sizeof(GUID) > size_) return false;
    std::memcpy(g, bytes_ + offset, sizeof(GUID));
    return true;
  }
  bool MediumAt(DWORD offset, PinMedium* m) const {
    if (static_cast<size_t>(offset) + 24 > size_) return false;
    std::memcpy(&m->medium, bytes_ + offset, 16);
    std::memcpy(&m->data1, bytes_ + offset + 16, 4);
    std::memcpy(&m->data2, bytes_ + offset + 20, 4);
    return true;
  }

 private:
  const BYTE* bytes_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace

bool DecodeFilterData(const BYTE* bytes, size_t size, FilterData* out) {
  if (!bytes || !out) return false;
  Reader r(bytes, size);
  FilterData data;
  DWORD pinCount = 0, reserved = 0;
  if (!r.Dword(&data.version) || !r.Dword(&data.merit) || !r.Dword(&pinCount) || !r.Dword(&reserved)) return false;
  if (data.version != 1 && data.version != 2) return false;
  // Every pin record takes at least 24 bytes: a count larger than that is corrupt.
  if (pinCount > size / 24) return false;
  for (DWORD i = 0; i < pinCount; ++i) {
    PinData pin;
    DWORD typeCount = 0, mediumCount = 0, hasCategory = 0;
    if (!r.Skip(4) || !r.Dword(&pin.flags) || !r.Dword(&pin.instances) || !r.Dword(&typeCount) ||
        !r.Dword(&mediumCount) || !r.Dword(&hasCategory))
      return false;
    if (typeCount > size / 16 || mediumCount > size / 4) return false;
    if (hasCategory) {
      DWORD offset = 0;
      GUID g;
      if (!r.Dword(&offset) || !r.GuidAt(offset, &g)) return false;
      pin.category = g;
    }
    for (DWORD j = 0; j < typeCount; ++j) {
      DWORD majorOffset = 0, minorOffset = 0;
      PinTypeData t;
      if (!r.Skip(8) || !r.Dword(&majorOffset) || !r.Dword(&minorOffset)) return false;
      if (!r.GuidAt(majorOffset, &t.major) || !r.GuidAt(minorOffset, &t.minor)) return false;
      pin.types.push_back(t);
    }
    for (DWORD j = 0; j < mediumCount; ++j) {
      DWORD offset = 0;
      PinMedium m;
      if (!r.Dword(&offset) || !r.MediumAt(offset, &m)) return false;
      pin.mediums.push_back(m);
    }
    data.pins.push_back(std::move(pin));
  }
  *out = std::move(data);
  return true;
}

}  // namespace tav::graph
