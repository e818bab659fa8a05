// The reader pin's request engine: queued reads served by one worker thread, handed back
// in completion order, and a flush that cancels what waits and waits for what is served.
//
// Lists and flags are guarded by listLock_, which is never held while a request is read
// or while a flush waits. Lock order: listLock_ before the stream lock is never needed;
// a request is completed with only the stream lock held.
//
// States: idle (no thread) -> running (thread made by the first queued request)
//         -> flushing (BeginFlush .. EndFlush: new requests refused) -> running
//         -> stopped (destructor).
#pragma once

#include <deque>
#include <memory>

#include "libs/qvfreader/qvffilestream.h"
#include "media/contract/strmif.h"
#include "media/contract/syncowners.h"

struct QvfReadRequest {
  LONGLONG position = 0;
  LONG length = 0;
  BOOL aligned = FALSE;
  BYTE* buffer = nullptr;
  IMediaSample* context = nullptr;  // the sample being filled; not referenced here
  DWORD_PTR user = 0;
  // A request cancelled by a flush comes back with this.
  HRESULT result = VFW_E_TIMEOUT;
};

class QvfRequestEngine {
 public:
  explicit QvfRequestEngine(QvfFileStream* stream);
  ~QvfRequestEngine();
  QvfRequestEngine(const QvfRequestEngine&) = delete;
  QvfRequestEngine& operator=(const QvfRequestEngine&) = delete;

  // Queues a read. VFW_E_BADALIGN for misaligned aligned requests, VFW_E_WRONG_STATE while
  // flushing, the thread's creation failure as a wrapped Win32 error.
  HRESULT Request(LONGLONG position, LONG length, BOOL aligned, BYTE* buffer, IMediaSample* context,
                  DWORD_PTR user);
  // The next completed request: its context, user word and length read. Returns its
  // result (E_FAIL for a short read that doesn't end at the end of the file),
  // VFW_E_WRONG_STATE when flushing with nothing left, VFW_E_TIMEOUT on time-out.
  HRESULT WaitForNext(DWORD timeoutMs, IMediaSample** context, DWORD_PTR* user, LONG* length);
  // Reads on the caller's thread: S_OK, S_FALSE for a short read, or the failure.
  HRESULT SyncRead(LONGLONG position, LONG length, BOOL aligned, BYTE* buffer, IMediaSample* context,
                   LONG* lengthRead);
  HRESULT BeginFlush();
  HRESULT EndFlush();

  // Completes one request with the stream lock taken around positioning and read.
  static void Complete(QvfReadRequest& request, QvfFileStream& stream);

 private:
  static DWORD WINAPI_ThreadProc(void* self);
  void ServeRequests();
  HRESULT StartThreadLocked();

  QvfFileStream* const stream_;

  // Guards the lists, the count and the flags (recursive, as the platform's sections are).
  tav::CriticalSection listLock_;
  std::deque<std::unique_ptr<QvfReadRequest>> work_;  // guarded by listLock_
  std::deque<std::unique_ptr<QvfReadRequest>> done_;  // guarded by listLock_
  LONG itemsOut_ = 0;                                 // requests being served; guarded by listLock_
  bool flushing_ = false;                             // guarded by listLock_
  bool waiting_ = false;  // a flush waits for itemsOut_ to reach 0; guarded by listLock_

  // Set by Request while work_ holds requests, reset by the worker when it empties it;
  // the worker waits for it. Manual reset.
  tav::UniqueHandle workEvent_{CreateEvent(nullptr, TRUE, FALSE, nullptr)};
  // Set when done_ gains a request (and by flushes to wake waiters); reset by WaitForNext
  // when done_ empties. WaitForNext waits for it. Manual reset.
  tav::UniqueHandle doneEvent_{CreateEvent(nullptr, TRUE, FALSE, nullptr)};
  // Set by the worker when the last request out comes back while a flush waits; the flush
  // waits for it. Auto reset.
  tav::UniqueHandle allDoneEvent_{CreateEvent(nullptr, FALSE, FALSE, nullptr)};
  // Set by the destructor to end the worker. Manual reset.
  tav::UniqueHandle stopEvent_{CreateEvent(nullptr, TRUE, FALSE, nullptr)};
  tav::UniqueHandle thread_;  // guarded by listLock_
};
