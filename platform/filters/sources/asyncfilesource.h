// File Source (Async): a pull source. Its one output pin ("Output") hands the file's
// bytes to a downstream parser through IAsyncReader; the pin's type is MEDIATYPE_Stream
// with the subtype the check-byte entries give (or the type Load was given).
//
// Lock order: the filter lock (load, pins, connection) before the request lock of the
// reader (queues and flush state). The file is read with positioned reads, so reads
// need no lock of their own.
#pragma once

#include <memory>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/filters/sources/bytesource.h"
#include "platform/streaming/base/streams.h"

namespace tav::filters {

// The queue of asynchronous read requests of one pin, served by one worker thread in
// order. A flush hands every queued request back with VFW_E_TIMEOUT and refuses new ones
// until EndFlush.
class AsyncRequestQueue {
 public:
  explicit AsyncRequestQueue(ByteSource* source) : source_(source) {}
  ~AsyncRequestQueue();
  HRESULT Queue(IMediaSample* sample, LONGLONG offset, LONG length, DWORD_PTR user);
  HRESULT WaitForNext(DWORD timeoutMs, IMediaSample** sample, DWORD_PTR* user);
  void BeginFlush();
  void EndFlush();

 private:
  struct Request {
    ComPtr<IMediaSample> sample;
    LONGLONG offset = 0;
    LONG length = 0;
    DWORD_PTR user = 0;
    HRESULT result = VFW_E_TIMEOUT;
  };
  void Worker();

  ByteSource* const source_;
  // Guards the queues and the flags; the worker never holds it while reading.
  std::mutex lock_;
  // Signalled on a new request, a flush and shutdown; the worker waits on it.
  std::condition_variable workChanged_;
  // Signalled when a request is done or a flush begins; WaitForNext waits on it.
  std::condition_variable doneChanged_;
  std::deque<Request> work_;  // guarded by lock_
  std::deque<Request> done_;  // guarded by lock_
  int serving_ = 0;           // requests being read now; guarded by lock_
  bool flushing_ = false;     // guarded by lock_
  bool shutdown_ = false;     // guarded by lock_
  std::thread worker_;        // started with the first request
};

class CAsyncFileSource;

class CAsyncOutputPin final : public CBasePin {
 public:
  CAsyncOutputPin(CAsyncFileSource* filter, CCritSec* lock, HRESULT* phr);
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT CheckConnect(IPin* pin) override;
  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  // A pull pin gets no flush from upstream.
  STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
  STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }

 private:
  // IAsyncReader has BeginFlush / EndFlush of its own, so it lives beside the IPin.
  struct Reader final : IAsyncReader {
    explicit Reader(CAsyncOutputPin* p) : pin(p) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return pin->QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return pin->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return pin->Release(); }
    DECLARE_IASYNCREADER_METHODS
    CAsyncOutputPin* pin;
  };
  friend struct Reader;
  CAsyncFileSource* source_;
  Reader reader_{this};
};

class CAsyncFileSource final : public CBaseFilter, public IFileSourceFilter {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);
  ~CAsyncFileSource() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IFileSourceFilter: Load opens the file (its failure is returned) and finds the type.
  STDMETHODIMP Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) override;

  // The pin exists once a file is loaded.
  int GetPinCount() override;
  CBasePin* GetPin(int n) override;

 private:
  friend class CAsyncOutputPin;
  explicit CAsyncFileSource(LPUNKNOWN outer, HRESULT* phr);

  CCritSec lock_;  // the filter lock
  // Configuration, guarded by lock_: set by Load.
  std::u16string fileName_;
  CMediaType type_;
  FileByteSource file_;
  // Runtime
  AsyncRequestQueue queue_{&file_};
  std::unique_ptr<CAsyncOutputPin> pin_;  // made by the first Load
};

extern const AMOVIESETUP_FILTER sudAsyncReader;

}  // namespace tav::filters
