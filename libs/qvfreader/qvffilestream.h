// The byte view of a camera movie: the file's bytes, with the RIFF form type's last byte
// (offset 11) always delivered as an ordinary AVI file has it, so that the AVI splitter
// reads a QVF file as AVI.
#pragma once

#include <functional>
#include <string>

#include "media/contract/hresult.h"
#include "media/contract/sync.h"
#include "media/contract/wintypes.h"

// Size of the header the probe examines, and the offset of the form type's last byte.
constexpr int kQvfHeaderBytes = 88;
constexpr LONGLONG kQvfFormTypeLastByte = 11;
constexpr DWORD kAviFormType = 0x20495641;  // "AVI "
constexpr DWORD kQvfFormType = 0x19495641;  // "AVI" + 0x19

// True when the first 88 bytes of a file are the start of an AVI or QVF file:
// "RIFF", form type "AVI " or "AVI\x19", "LIST", "hdrl", "avih".
bool IsQvfHeader(const BYTE* header, int bytes);

// Opens path (an ANSI path of at most 260 bytes) for reading, existing files only, and
// checks its header.
enum class QvfProbe { CannotOpen, Foreign, Movie };
QvfProbe ProbeQvfFile(const std::string& path);

// The pin's file stream. Every operation expects the stream lock to be held by the caller
// (Lock / Unlock), so that a positioning and the read after it are never split.
class QvfFileStream {
 public:
  // nameSource gives the ANSI file name when the stream needs to open the file.
  explicit QvfFileStream(std::function<std::string()> nameSource);
  ~QvfFileStream();
  QvfFileStream(const QvfFileStream&) = delete;
  QvfFileStream& operator=(const QvfFileStream&) = delete;

  void Lock() { EnterCriticalSection(&lock_); }
  void Unlock() { LeaveCriticalSection(&lock_); }

  // 0x80070002 when the file can't be opened, 0x80070006 when positioning fails.
  HRESULT SetPointerLocked(LONGLONG position);
  // Reads up to count bytes at the current position; *read = bytes delivered. S_OK, also
  // at the end of the file (fewer bytes); E_FAIL when the read fails.
  HRESULT ReadLocked(BYTE* buffer, LONG count, BOOL aligned, LONG* read);
  HRESULT SizeLocked(LONGLONG* size);
  static constexpr LONG Alignment() { return 1; }
  // Closes the file; the next operation opens it again.
  void CloseLocked();

 private:
  HRESULT OpenLocked();

  std::function<std::string()> nameSource_;
  // Guards the descriptor and the position: one positioning plus its read at a time.
  CRITICAL_SECTION lock_;
  int fd_ = -1;               // guarded by lock_
  LONGLONG position_ = 0;     // guarded by lock_
};

// The patch itself: given the bytes read at position, rewrites offset 11 when it is among them.
void PatchQvfFormType(BYTE* buffer, LONGLONG position, LONG bytesRead);
