#include "converter/engine/archive.h"

#include <cstring>

#include "media/contract/codepage.h"

namespace tav {
namespace {

constexpr WORD kNullTag = 0x0000;
constexpr WORD kNewClassTag = 0xFFFF;
constexpr WORD kClassTag = 0x8000;
constexpr WORD kBigObjectTag = 0x7FFF;
constexpr DWORD kBigClassTag = 0x80000000u;
constexpr WORD kWideStringMark = 0xFFFE;
// Class names longer than this are refused, as the framework does.
constexpr size_t kMaxClassNameLength = 63;

}  // namespace

// ---- writer ---------------------------------------------------------------------------

ArchiveWriter::ArchiveWriter(std::string filePath) : file_(std::move(filePath)) {}

void ArchiveWriter::WriteWord(WORD v) {
  WriteByte(BYTE(v));
  WriteByte(BYTE(v >> 8));
}

void ArchiveWriter::WriteDword(DWORD v) {
  WriteWord(WORD(v));
  WriteWord(WORD(v >> 16));
}

void ArchiveWriter::WriteInt64(LONGLONG v) {
  const auto u = static_cast<ULONGLONG>(v);
  WriteDword(DWORD(u));
  WriteDword(DWORD(u >> 32));
}

void ArchiveWriter::WriteDouble(double v) {
  ULONGLONG u;
  std::memcpy(&u, &v, sizeof u);
  WriteInt64(static_cast<LONGLONG>(u));
}

void ArchiveWriter::WriteCount(size_t count) {
  if (count < 0xFFFF) {
    WriteWord(WORD(count));
    return;
  }
  if (count > 0xFFFFFFFFu) throw std::length_error("archive: too many objects");
  WriteWord(0xFFFF);
  WriteDword(DWORD(count));
}

void ArchiveWriter::WriteString(std::string_view s) {
  const size_t n = s.size();
  if (n < 0xFF) {
    WriteByte(BYTE(n));
  } else if (n < 0xFFFE) {
    WriteByte(0xFF);
    WriteWord(WORD(n));
  } else {
    if (n >= 0xFFFFFFFFu) throw std::length_error("archive: string too long");
    WriteByte(0xFF);
    WriteWord(0xFFFF);
    WriteDword(DWORD(n));
  }
  data_.append(s);
}

void ArchiveWriter::WritePath(const CPath& path) {
  // An empty path stays empty: made relative it would become the batch file's folder.
  if (file_.IsEmpty() || path.IsEmpty()) {
    WriteString(path.Full());
    return;
  }
  CPath stored = path;
  stored.MakeRelative(file_);
  // The rest of a folder such as "/b//x/" begins with '/': read back, it would name
  // another file, so such a path is stored in full.
  if (path.HasDrive() && stored.HasDrive() && !(stored == path)) stored = path;
  WriteString(stored.Full());
}

void ArchiveWriter::WriteIndexTag(DWORD index, bool isClass) {
  if (index < kBigObjectTag) {
    WriteWord(WORD(isClass ? (kClassTag | index) : index));
  } else {
    WriteWord(kBigObjectTag);
    WriteDword(isClass ? (kBigClassTag | index) : index);
  }
}

void ArchiveWriter::WriteObject(const CObject* object) {
  if (!object) {
    WriteWord(kNullTag);
    return;
  }
  if (auto it = objectIndex_.find(object); it != objectIndex_.end()) {
    WriteIndexTag(it->second, false);
    return;
  }
  const SerialClass& cls = object->GetSerialClass();
  if (auto it = classIndex_.find(&cls); it != classIndex_.end()) {
    WriteIndexTag(it->second, true);
  } else {
    const size_t nameLength = std::strlen(cls.name);
    WriteWord(kNewClassTag);
    WriteWord(cls.schema);
    WriteWord(WORD(nameLength));
    data_.append(cls.name, nameLength);
    classIndex_.emplace(&cls, nextIndex_++);
  }
  objectIndex_.emplace(object, nextIndex_++);
  object->Store(*this);
}

// ---- reader ---------------------------------------------------------------------------

ArchiveReader::ArchiveReader(std::string_view data, std::string filePath, std::vector<const SerialClass*> known)
    : data_(data), file_(std::move(filePath)), known_(std::move(known)) {
  slots_.emplace_back();  // index 0: null
}

ArchiveReader::~ArchiveReader() = default;

void ArchiveReader::Fail(ArchiveException::Cause cause) const { throw ArchiveException(cause, pos_); }

const char* ArchiveReader::Take(size_t n) {
  if (n > Remaining()) Fail(ArchiveException::Cause::kEndOfFile);
  const char* p = data_.data() + pos_;
  pos_ += n;
  return p;
}

BYTE ArchiveReader::ReadByte() { return BYTE(*Take(1)); }

WORD ArchiveReader::ReadWord() {
  const auto* p = reinterpret_cast<const BYTE*>(Take(2));
  return WORD(p[0] | (p[1] << 8));
}

DWORD ArchiveReader::ReadDword() {
  const auto* p = reinterpret_cast<const BYTE*>(Take(4));
  return DWORD(p[0]) | (DWORD(p[1]) << 8) | (DWORD(p[2]) << 16) | (DWORD(p[3]) << 24);
}

LONGLONG ArchiveReader::ReadInt64() {
  const ULONGLONG low = ReadDword();
  const ULONGLONG high = ReadDword();
  return static_cast<LONGLONG>(low | (high << 32));
}

double ArchiveReader::ReadDouble() {
  const auto u = static_cast<ULONGLONG>(ReadInt64());
  double v;
  std::memcpy(&v, &u, sizeof v);
  return v;
}

size_t ArchiveReader::ReadCount() {
  const WORD count = ReadWord();
  if (count != 0xFFFF) return count;
  return ReadDword();
}

std::string ArchiveReader::ReadString() {
  bool wide = false;
  size_t length = ReadByte();
  if (length == 0xFF) {
    WORD w = ReadWord();
    if (w == kWideStringMark) {
      wide = true;
      length = ReadByte();
      if (length == 0xFF) w = ReadWord();
    }
    if (length == 0xFF) {
      if (w < 0xFFFF) {
        length = w;
      } else {
        const DWORD d = ReadDword();
        if (d == 0xFFFFFFFFu) Fail(ArchiveException::Cause::kBadFormat);  // 64-bit lengths: never ours
        length = d;
      }
    }
  }
  if (!wide) return std::string(Take(length), length);
  if (length > Remaining() / 2) Fail(ArchiveException::Cause::kEndOfFile);
  const char* p = Take(length * 2);
  std::u16string text(length, u'\0');
  for (size_t i = 0; i < length; ++i)
    text[i] = char16_t(BYTE(p[2 * i]) | (BYTE(p[2 * i + 1]) << 8));
  return WideToAnsi(text);
}

CPath ArchiveReader::ReadPath() {
  std::string text = ReadString();
  if (text.empty() || file_.IsEmpty() || text.front() == '/') return CPath(std::move(text));
  return CPath(file_.Folder() + text);
}

const SerialClass* ArchiveReader::ReadNewClass() {
  ReadWord();  // schema: not checked
  const WORD length = ReadWord();
  if (length > kMaxClassNameLength) Fail(ArchiveException::Cause::kBadClass);
  const std::string_view name(Take(length), length);
  for (const SerialClass* cls : known_) {
    if (name == cls->name) {
      Slot slot;
      slot.cls = cls;
      slots_.push_back(slot);
      return cls;
    }
  }
  Fail(ArchiveException::Cause::kBadClass);
}

CObject* ArchiveReader::ReadObject(bool* wasNew) {
  if (wasNew) *wasNew = false;
  const WORD tag = ReadWord();
  if (tag == kNullTag) return nullptr;
  const SerialClass* cls = nullptr;
  if (tag == kNewClassTag) {
    cls = ReadNewClass();
  } else {
    const DWORD index = tag == kBigObjectTag ? ReadDword() : (DWORD(tag & kClassTag) << 16) | (tag & 0x7FFFu);
    if (index & kBigClassTag) {
      const DWORD classIndex = index & ~kBigClassTag;
      if (classIndex == 0 || classIndex >= slots_.size() || !slots_[classIndex].cls)
        Fail(ArchiveException::Cause::kBadIndex);
      cls = slots_[classIndex].cls;
    } else {
      if (index == 0) return nullptr;
      if (index >= slots_.size() || !slots_[index].object) Fail(ArchiveException::Cause::kBadIndex);
      return slots_[index].object;
    }
  }
  std::unique_ptr<CObject> object(cls->create());
  CObject* raw = object.get();
  Slot slot;
  slot.object = raw;
  slots_.push_back(slot);
  owned_.emplace(raw, std::move(object));
  raw->Load(*this);
  if (wasNew) *wasNew = true;
  return raw;
}

std::unique_ptr<CObject> ArchiveReader::Release(CObject* object) {
  auto it = owned_.find(object);
  if (it == owned_.end()) return nullptr;
  std::unique_ptr<CObject> out = std::move(it->second);
  owned_.erase(it);
  return out;
}

}  // namespace tav
