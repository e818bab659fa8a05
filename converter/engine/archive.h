// The batch archive: a little-endian object archive with the framework's conventions.
//
//   counts    16-bit; 0xFFFF + 32-bit for 65535 and more
//   strings   length prefix (byte; 0xFF + 16-bit; 0xFF 0xFFFF + 32-bit), ANSI bytes,
//             no terminator; on reading, 0xFF 0xFFFE + a prefix announces UTF-16
//   objects   one index space for classes and objects in order of first appearance,
//             from 1 (0 is null); 16-bit tags:
//               0x0000            null
//               0xFFFF            new class: schema, name length, name; then the object
//               0x8000 | class    a new object of a class already described
//               index < 0x7FFF    an object already read
//               0x7FFF + 32-bit   big index (classes with bit 31 set)
//   paths     relative to the archive's file when they lie in its folder or below
//
// A reader throws ArchiveException on anything it cannot read; it never reads past its
// data and never trusts a length or a count further than the data it has.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "converter/engine/exceptions.h"
#include "converter/engine/path.h"
#include "media/contract/wintypes.h"

namespace tav {

class ArchiveReader;
class ArchiveWriter;

// A class whose objects can be archived: its name and schema as written, and how to
// make an empty object when reading.
struct SerialClass {
  const char* name;
  WORD schema;
  class CObject* (*create)();
};

class CObject {
 public:
  virtual ~CObject() = default;
  virtual const SerialClass& GetSerialClass() const = 0;
  virtual void Store(ArchiveWriter& ar) const = 0;
  virtual void Load(ArchiveReader& ar) = 0;
};

class ArchiveWriter {
 public:
  // filePath: the file the archive is written for (relative paths); empty for none.
  explicit ArchiveWriter(std::string filePath = std::string());

  void WriteByte(BYTE v) { data_.push_back(char(v)); }
  void WriteBool(bool v) { WriteByte(v ? 1 : 0); }
  void WriteWord(WORD v);
  void WriteDword(DWORD v);
  void WriteInt64(LONGLONG v);
  void WriteDouble(double v);
  void WriteCount(size_t count);
  void WriteString(std::string_view s);
  // The path as item 8 of the format says: relative to the archive's file when possible.
  void WritePath(const CPath& path);
  void WriteObject(const CObject* object);

  const std::string& Data() const { return data_; }
  const CPath& File() const { return file_; }

 private:
  void WriteIndexTag(DWORD index, bool isClass);

  std::string data_;
  CPath file_;
  DWORD nextIndex_ = 1;
  std::unordered_map<const void*, DWORD> objectIndex_;
  std::unordered_map<const SerialClass*, DWORD> classIndex_;
};

class ArchiveReader {
 public:
  // known: the classes that may appear; data must outlive the reader.
  ArchiveReader(std::string_view data, std::string filePath, std::vector<const SerialClass*> known);
  ~ArchiveReader();

  BYTE ReadByte();
  bool ReadBool() { return ReadByte() != 0; }
  WORD ReadWord();
  DWORD ReadDword();
  LONGLONG ReadInt64();
  double ReadDouble();
  size_t ReadCount();
  std::string ReadString();
  CPath ReadPath();

  // Reads one object reference. A new object is created, added to the index space and
  // loaded; it stays owned by the reader until Release. wasNew tells which it was.
  CObject* ReadObject(bool* wasNew = nullptr);
  // Hands a new object's ownership to the caller (null when the reader does not own it).
  std::unique_ptr<CObject> Release(CObject* object);

  size_t Offset() const { return pos_; }
  size_t Remaining() const { return data_.size() - pos_; }
  bool AtEnd() const { return pos_ == data_.size(); }
  const CPath& File() const { return file_; }

  [[noreturn]] void Fail(ArchiveException::Cause cause) const;

 private:
  const char* Take(size_t n);
  const SerialClass* ReadNewClass();

  struct Slot {
    const SerialClass* cls = nullptr;  // set for a class slot
    CObject* object = nullptr;         // set for an object slot
  };

  std::string_view data_;
  size_t pos_ = 0;
  CPath file_;
  std::vector<const SerialClass*> known_;
  std::vector<Slot> slots_;  // index space; slot 0 is null
  std::unordered_map<CObject*, std::unique_ptr<CObject>> owned_;
};

}  // namespace tav
