// File Source (Async): the state, the request queue, the pin and its IAsyncReader, the
// filter's IFileSourceFilter, registration.
#include "platform/filters/sources/asyncfilesource.h"

#include "media/contract/codepage.h"
#include "media/contract/trace.h"
#include "platform/filters/mediatyperegistry.h"

namespace tav::filters {
namespace {
TAV_TRACE_SOURCE(kFilters, "filesource");
}

// ---- request queue ------------------------------------------------------------------------

AsyncRequestQueue::~AsyncRequestQueue() {
  {
    std::lock_guard<std::mutex> g(lock_);
    shutdown_ = true;
    flushing_ = true;
  }
  workChanged_.notify_all();
  doneChanged_.notify_all();
  if (worker_.joinable()) worker_.join();
}

HRESULT AsyncRequestQueue::Queue(IMediaSample* sample, LONGLONG offset, LONG length, DWORD_PTR user) {
  std::lock_guard<std::mutex> g(lock_);
  if (flushing_ || shutdown_) return VFW_E_WRONG_STATE;
  Request r;
  r.sample = sample;
  r.offset = offset;
  r.length = length;
  r.user = user;
  work_.push_back(std::move(r));
  if (!worker_.joinable()) {
    try {
      worker_ = std::thread([this] { Worker(); });
    } catch (...) {
      work_.pop_back();
      return E_OUTOFMEMORY;
    }
  }
  workChanged_.notify_one();
  return S_OK;
}

void AsyncRequestQueue::Worker() {
  std::unique_lock<std::mutex> g(lock_);
  for (;;) {
    workChanged_.wait(g, [this] { return shutdown_ || !work_.empty(); });
    if (shutdown_) return;
    Request r = std::move(work_.front());
    work_.pop_front();
    ++serving_;
    g.unlock();
    BYTE* buffer = nullptr;
    r.sample->GetPointer(&buffer);
    LONG n = source_->ReadAt(r.offset, r.length, buffer);
    if (n < 0) {
      r.result = E_FAIL;
    } else {
      r.sample->SetActualDataLength(n);
      // A read cut short by the end of the file is a success: the sample says how much.
      r.result = S_OK;
    }
    g.lock();
    --serving_;
    done_.push_back(std::move(r));
    doneChanged_.notify_all();
  }
}

HRESULT AsyncRequestQueue::WaitForNext(DWORD timeoutMs, IMediaSample** sample, DWORD_PTR* user) {
  *sample = nullptr;
  *user = 0;
  std::unique_lock<std::mutex> g(lock_);
  auto ready = [this] { return !done_.empty() || (flushing_ && work_.empty() && serving_ == 0); };
  if (timeoutMs == INFINITE)
    doneChanged_.wait(g, ready);
  else if (!doneChanged_.wait_for(g, std::chrono::milliseconds(timeoutMs), ready))
    return VFW_E_TIMEOUT;
  if (done_.empty()) return VFW_E_WRONG_STATE;  // flushing, nothing left to hand back
  Request r = std::move(done_.front());
  done_.pop_front();
  *sample = r.sample.Detach();
  *user = r.user;
  return r.result;
}

void AsyncRequestQueue::BeginFlush() {
  std::unique_lock<std::mutex> g(lock_);
  flushing_ = true;
  // Queued requests come back unread; the one being read finishes first.
  while (!work_.empty()) {
    done_.push_back(std::move(work_.front()));
    work_.pop_front();
  }
  doneChanged_.notify_all();
}

void AsyncRequestQueue::EndFlush() {
  std::lock_guard<std::mutex> g(lock_);
  flushing_ = false;
}

// ---- the pin ------------------------------------------------------------------------------

CAsyncOutputPin::CAsyncOutputPin(CAsyncFileSource* filter, CCritSec* lock, HRESULT* phr)
    : CBasePin("async output", filter, lock, phr, u"Output", PINDIR_OUTPUT), source_(filter) {}

STDMETHODIMP CAsyncOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IAsyncReader) return GetInterface(static_cast<IAsyncReader*>(&reader_), ppv);
  return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CAsyncOutputPin::CheckConnect(IPin* pin) {
  PIN_DIRECTION dir;
  if (FAILED(pin->QueryDirection(&dir)) || dir != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
  return CBasePin::CheckConnect(pin);
}

HRESULT CAsyncOutputPin::CheckMediaType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  CAutoLock lock(&source_->lock_);
  const CMediaType& own = source_->type_;
  if (mt->majortype != own.majortype) return S_FALSE;
  // A file whose kind the check bytes did not tell is offered to any stream parser.
  if (own.subtype != GUID_NULL && mt->subtype != GUID_NULL && mt->subtype != own.subtype) return S_FALSE;
  return S_OK;
}

HRESULT CAsyncOutputPin::GetMediaType(int position, CMediaType* mt) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  CAutoLock lock(&source_->lock_);
  *mt = source_->type_;
  return S_OK;
}

STDMETHODIMP CAsyncOutputPin::Reader::RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props,
                                                       IMemAllocator** actual) {
  if (!props || !actual) return E_POINTER;
  *actual = nullptr;
  if (props->cbAlign == 0) props->cbAlign = 1;
  ALLOCATOR_PROPERTIES got{};
  if (preferred && SUCCEEDED(preferred->SetProperties(props, &got))) {
    preferred->AddRef();
    *actual = preferred;
    return S_OK;
  }
  ComPtr<IMemAllocator> mine;
  HRESULT hr = CreateMemoryAllocator(&mine);
  if (FAILED(hr)) return hr;
  hr = mine->SetProperties(props, &got);
  if (FAILED(hr)) return hr;
  *actual = mine.Detach();
  return S_OK;
}

namespace {
// The byte range of a pull request: sample times are byte positions × UNITS.
HRESULT RangeOf(IMediaSample* sample, LONGLONG* offset, LONG* length) {
  REFERENCE_TIME start = 0, stop = 0;
  HRESULT hr = sample->GetTime(&start, &stop);
  if (FAILED(hr)) return hr;
  *offset = start / UNITS;
  LONGLONG len = (stop - start) / UNITS;
  if (*offset < 0 || len < 0 || len > sample->GetSize()) return E_INVALIDARG;
  *length = LONG(len);
  return S_OK;
}
}  // namespace

STDMETHODIMP CAsyncOutputPin::Reader::Request(IMediaSample* sample, DWORD_PTR user) {
  if (!sample) return E_POINTER;
  LONGLONG offset;
  LONG length;
  HRESULT hr = RangeOf(sample, &offset, &length);
  if (FAILED(hr)) return hr;
  TAV_TRACE("Request %lld +%d", static_cast<long long>(offset), length);
  return pin->source_->queue_.Queue(sample, offset, length, user);
}

STDMETHODIMP CAsyncOutputPin::Reader::WaitForNext(DWORD timeoutMs, IMediaSample** sample, DWORD_PTR* user) {
  if (!sample || !user) return E_POINTER;
  return pin->source_->queue_.WaitForNext(timeoutMs, sample, user);
}

STDMETHODIMP CAsyncOutputPin::Reader::SyncReadAligned(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  LONGLONG offset;
  LONG length;
  HRESULT hr = RangeOf(sample, &offset, &length);
  if (FAILED(hr)) return hr;
  BYTE* buffer = nullptr;
  sample->GetPointer(&buffer);
  LONG n = pin->source_->file_.ReadAt(offset, length, buffer);
  if (n < 0) return E_FAIL;
  return sample->SetActualDataLength(n);
}

STDMETHODIMP CAsyncOutputPin::Reader::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
  if (!buffer && length > 0) return E_POINTER;
  if (position < 0 || length < 0) return E_INVALIDARG;
  LONG n = pin->source_->file_.ReadAt(position, length, buffer);
  TAV_TRACE("SyncRead %lld +%d: %d", static_cast<long long>(position), length, n);
  if (n < 0) return E_FAIL;
  return n == length ? S_OK : S_FALSE;
}

STDMETHODIMP CAsyncOutputPin::Reader::Length(LONGLONG* total, LONGLONG* available) {
  if (!total || !available) return E_POINTER;
  LONGLONG size = pin->source_->file_.Size();
  if (size < 0) return E_FAIL;
  *total = *available = size;
  return S_OK;
}

STDMETHODIMP CAsyncOutputPin::Reader::BeginFlush() {
  TAV_TRACE("BeginFlush");
  pin->source_->queue_.BeginFlush();
  return S_OK;
}

STDMETHODIMP CAsyncOutputPin::Reader::EndFlush() {
  TAV_TRACE("EndFlush");
  pin->source_->queue_.EndFlush();
  return S_OK;
}

// ---- the filter ---------------------------------------------------------------------------

CAsyncFileSource::CAsyncFileSource(LPUNKNOWN outer, HRESULT* phr)
    : CBaseFilter("File Source (Async)", outer, &lock_, CLSID_AsyncReader, phr) {}

CAsyncFileSource::~CAsyncFileSource() = default;

CUnknown* CAsyncFileSource::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  auto* f = new (std::nothrow) CAsyncFileSource(outer, phr);
  if (!f && phr) *phr = E_OUTOFMEMORY;
  return f;
}

STDMETHODIMP CAsyncFileSource::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IFileSourceFilter) return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
  return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CAsyncFileSource::Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) {
  if (!fileName) return E_POINTER;
  CAutoLock lock(&lock_);
  TAV_TRACE("Load %s", tav::Utf16ToUtf8(fileName).c_str());
  // One file per filter, as long as the pin is connected.
  if (pin_ && pin_->IsConnected()) return VFW_E_ALREADY_CONNECTED;
  HRESULT hr = file_.Open(tav::Utf16ToUtf8(fileName));
  if (FAILED(hr)) return hr;
  fileName_ = fileName;
  type_.InitMediaType();
  if (mt) {
    type_ = *mt;
  } else {
    type_.SetType(&MEDIATYPE_Stream);
    GUID subtype = GUID_NULL;
    MatchCheckBytes(&file_, ReadAtByteSource, file_.Size(), &subtype);
    type_.SetSubtype(&subtype);
  }
  if (!pin_) {
    HRESULT phr = S_OK;
    pin_.reset(new (std::nothrow) CAsyncOutputPin(this, &lock_, &phr));
    if (!pin_) return E_OUTOFMEMORY;
    IncrementPinVersion();
  }
  pin_->IncrementTypeVersion();
  return S_OK;
}

STDMETHODIMP CAsyncFileSource::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) {
  if (!fileName) return E_POINTER;
  CAutoLock lock(&lock_);
  *fileName = nullptr;
  if (!fileName_.empty()) {
    HRESULT hr = AMGetWideString(fileName_.c_str(), fileName);
    if (FAILED(hr)) return hr;
  }
  if (mt) return CopyMediaType(mt, &type_);
  return S_OK;
}

int CAsyncFileSource::GetPinCount() {
  CAutoLock lock(&lock_);
  return pin_ ? 1 : 0;
}

CBasePin* CAsyncFileSource::GetPin(int n) {
  CAutoLock lock(&lock_);
  return n == 0 ? pin_.get() : nullptr;
}

// ---- registration -------------------------------------------------------------------------

namespace {
const AMOVIESETUP_MEDIATYPE kStreamType = {&MEDIATYPE_Stream, &GUID_NULL};
const AMOVIESETUP_PIN kPins[] = {
    {u"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, &kStreamType},
};
}  // namespace

const AMOVIESETUP_FILTER sudAsyncReader = {&CLSID_AsyncReader, u"File Source (Async)", MERIT_UNLIKELY, 1, kPins};

}  // namespace tav::filters
