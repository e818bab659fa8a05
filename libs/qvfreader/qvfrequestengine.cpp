#include "libs/qvfreader/qvfrequestengine.h"

#include <new>

namespace {
constexpr DWORD kFlushRecheckMs = 50;
}

QvfRequestEngine::QvfRequestEngine(QvfFileStream* stream) : stream_(stream) {}

// The members close the events and the thread handle and free the requests left.
QvfRequestEngine::~QvfRequestEngine() {
  BeginFlush();
  SetEvent(stopEvent_);
  if (thread_) WaitForSingleObject(thread_, INFINITE);
}

void QvfRequestEngine::Complete(QvfReadRequest& r, QvfFileStream& stream) {
  stream.Lock();
  HRESULT hr = stream.SetPointerLocked(r.position);
  if (hr == S_OK) {
    LONG got = 0;
    hr = stream.ReadLocked(r.buffer, r.length, r.aligned, &got);
    if (hr == OLE_S_FIRST && r.context) {
      r.context->SetDiscontinuity(TRUE);
      hr = S_OK;
    }
    if (SUCCEEDED(hr) && got < r.length) {
      r.length = got;
      hr = S_FALSE;
    } else if (SUCCEEDED(hr)) {
      hr = S_OK;
    }
  }
  r.result = hr;
  stream.Unlock();
}

HRESULT QvfRequestEngine::StartThreadLocked() {
  if (thread_) return S_OK;
  thread_.Reset(CreateThread(nullptr, 0, &WINAPI_ThreadProc, this, 0, nullptr));
  if (!thread_) return HRESULT_FROM_WIN32(LONG(GetLastError() & 0xFFFF));
  return S_OK;
}

HRESULT QvfRequestEngine::Request(LONGLONG position, LONG length, BOOL aligned, BYTE* buffer,
                                  IMediaSample* context, DWORD_PTR user) {
  if (aligned) {
    const LONG a = QvfFileStream::Alignment();
    if (position % a != 0 || length % a != 0 || reinterpret_cast<uintptr_t>(buffer) % uintptr_t(a) != 0)
      return VFW_E_BADALIGN;
  }
  std::unique_ptr<QvfReadRequest> request(new (std::nothrow) QvfReadRequest);
  if (!request) return E_OUTOFMEMORY;
  request->position = position;
  request->length = length;
  request->aligned = aligned;
  request->buffer = buffer;
  request->context = context;
  request->user = user;

  tav::CriticalSectionLock lock(listLock_);
  if (flushing_) return VFW_E_WRONG_STATE;
  HRESULT hr = StartThreadLocked();
  if (FAILED(hr)) return hr;
  work_.push_back(std::move(request));
  SetEvent(workEvent_);
  return S_OK;
}

DWORD QvfRequestEngine::WINAPI_ThreadProc(void* self) {
  auto* engine = static_cast<QvfRequestEngine*>(self);
  const HANDLE events[2] = {engine->stopEvent_, engine->workEvent_};
  for (;;) {
    DWORD w = WaitForMultipleObjects(2, events, FALSE, INFINITE);
    if (w != WAIT_OBJECT_0 + 1) return 0;
    engine->ServeRequests();
  }
}

void QvfRequestEngine::ServeRequests() {
  for (;;) {
    std::unique_ptr<QvfReadRequest> r;
    {
      tav::CriticalSectionLock lock(listLock_);
      if (work_.empty()) {
        ResetEvent(workEvent_);
        return;
      }
      r = std::move(work_.front());
      work_.pop_front();
      if (work_.empty()) ResetEvent(workEvent_);
      ++itemsOut_;
    }

    Complete(*r, *stream_);

    tav::CriticalSectionLock lock(listLock_);
    done_.push_back(std::move(r));
    SetEvent(doneEvent_);
    if (--itemsOut_ == 0 && waiting_) SetEvent(allDoneEvent_);
  }
}

HRESULT QvfRequestEngine::WaitForNext(DWORD timeoutMs, IMediaSample** context, DWORD_PTR* user, LONG* length) {
  if (context) *context = nullptr;
  if (length) *length = 0;
  for (;;) {
    if (WaitForSingleObject(doneEvent_, timeoutMs) != WAIT_OBJECT_0) return VFW_E_TIMEOUT;
    std::unique_ptr<QvfReadRequest> r;
    {
      tav::CriticalSectionLock lock(listLock_);
      if (!done_.empty()) {
        r = std::move(done_.front());
        done_.pop_front();
      }
      // While a flush has finished waiting, the event stays set so every caller learns of it.
      if (done_.empty() && !(flushing_ && !waiting_)) ResetEvent(doneEvent_);
      if (!r) {
        if (flushing_ && !waiting_) return VFW_E_WRONG_STATE;
        continue;
      }
    }

    HRESULT hr = r->result;
    if (hr == S_FALSE) {
      // Short reads are only right at the end of the file.
      LONGLONG size = 0;
      stream_->Lock();
      HRESULT sized = stream_->SizeLocked(&size);
      stream_->Unlock();
      if (FAILED(sized) || r->position + r->length != size) hr = E_FAIL;
    }
    if (context) *context = r->context;
    if (user) *user = r->user;
    if (length) *length = r->length;
    return hr;
  }
}

HRESULT QvfRequestEngine::SyncRead(LONGLONG position, LONG length, BOOL aligned, BYTE* buffer,
                                   IMediaSample* context, LONG* lengthRead) {
  if (aligned) {
    const LONG a = QvfFileStream::Alignment();
    if (position % a != 0 || length % a != 0 || reinterpret_cast<uintptr_t>(buffer) % uintptr_t(a) != 0)
      return VFW_E_BADALIGN;
  }
  QvfReadRequest r;
  r.position = position;
  r.length = length;
  r.aligned = aligned;
  r.buffer = buffer;
  r.context = context;
  Complete(r, *stream_);
  if (lengthRead) *lengthRead = SUCCEEDED(r.result) ? r.length : 0;
  return r.result;
}

HRESULT QvfRequestEngine::BeginFlush() {
  {
    tav::CriticalSectionLock lock(listLock_);
    flushing_ = true;
    while (!work_.empty()) {
      done_.push_back(std::move(work_.front()));  // keeps VFW_E_TIMEOUT
      work_.pop_front();
      SetEvent(doneEvent_);
    }
    ResetEvent(workEvent_);
    if (itemsOut_ == 0) {
      SetEvent(doneEvent_);
      return S_OK;
    }
    waiting_ = true;
  }
  for (;;) {
    // A short wait rather than INFINITE: with two flushes at once only one is woken by the
    // auto-reset event, and the other must still see the count reach zero.
    WaitForSingleObject(allDoneEvent_, kFlushRecheckMs);
    tav::CriticalSectionLock lock(listLock_);
    if (itemsOut_ == 0) {
      waiting_ = false;
      SetEvent(doneEvent_);
      return S_OK;
    }
  }
}

HRESULT QvfRequestEngine::EndFlush() {
  tav::CriticalSectionLock lock(listLock_);
  flushing_ = false;
  if (!done_.empty())
    SetEvent(doneEvent_);
  else
    ResetEvent(doneEvent_);
  return S_OK;
}
