#include "libs/qvfreader/qvfreaderfilter.h"

#include <limits>
#include <new>

#include "libs/qvfreader/qvfreader.h"
#include "media/contract/codepage.h"
#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kQvf, "reader");

// ---- output pin ----------------------------------------------------------------------------

CQvfOutputPin::CQvfOutputPin(CQvfReaderFilter* filter, CCritSec* lock, HRESULT* phr)
    : CBasePin(NAME("CQvfOutputPin"), filter, lock, phr, u"Output", PINDIR_OUTPUT),
      reader_(filter),
      stream_([filter] {
        CAutoLock lock(filter->Lock());
        return filter->AnsiFileNameLocked();
      }),
      engine_(&stream_) {}

CQvfOutputPin::~CQvfOutputPin() = default;

HRESULT CQvfOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IAsyncReader) {
    readerRequested_ = true;
    return GetInterface(static_cast<IAsyncReader*>(this), ppv);
  }
  return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CQvfOutputPin::CheckConnect(IPin* pin) {
  readerRequested_ = false;
  return CBasePin::CheckConnect(pin);
}

HRESULT CQvfOutputPin::CompleteConnect(IPin* receivePin) {
  // A pull source only works with a pin that reads through IAsyncReader.
  if (!readerRequested_) return VFW_E_NO_TRANSPORT;
  return CBasePin::CompleteConnect(receivePin);
}

HRESULT CQvfOutputPin::BreakConnect() {
  readerRequested_ = false;
  return CBasePin::BreakConnect();
}

void CQvfOutputPin::ResetProbe() {
  probedTypes_.clear();
  probed_ = false;
}

void CQvfOutputPin::ProbeLocked() {
  if (probed_) return;
  QvfProbe probe = ProbeQvfFile(reader_->AnsiFileNameLocked());
  if (probe == QvfProbe::CannotOpen) return;  // tried again next time
  if (probe == QvfProbe::Movie) {
    CMediaType avi(&MEDIATYPE_Stream);
    avi.SetSubtype(&MEDIASUBTYPE_Avi);
    probedTypes_.push_back(avi);
  }
  probed_ = true;
}

HRESULT CQvfOutputPin::GetMediaType(int position, CMediaType* mt) {
  if (position < 0) return E_INVALIDARG;
  if (!mt) return E_POINTER;
  CAutoLock lock(reader_->Lock());
  if (reader_->TypeGivenLocked()) {
    HRESULT hr = mt->Set(reader_->LoadTypeLocked());
    if (FAILED(hr)) return hr;
    return position == 0 ? S_OK : S_FALSE;
  }
  ProbeLocked();
  const int n = int(probedTypes_.size());
  if (position < n) return mt->Set(probedTypes_[size_t(position)]);
  if (position == n) return mt->Set(reader_->LoadTypeLocked());
  return VFW_S_NO_MORE_ITEMS;
}

HRESULT CQvfOutputPin::CheckMediaType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  CAutoLock lock(reader_->Lock());
  if (reader_->TypeGivenLocked()) return *mt == reader_->LoadTypeLocked() ? S_OK : S_FALSE;
  ProbeLocked();
  for (const auto& probed : probedTypes_)
    if (*mt == probed) return S_OK;
  return *mt == reader_->LoadTypeLocked() ? S_OK : S_FALSE;
}

HRESULT CQvfOutputPin::Inactive() {
  stream_.Lock();
  stream_.CloseLocked();
  stream_.Unlock();
  return CBasePin::Inactive();
}

HRESULT CQvfOutputPin::RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props,
                                        IMemAllocator** actual) {
  if (!props || !actual) return E_POINTER;
  *actual = nullptr;
  if (props->cbAlign == 0) props->cbAlign = 1;
  if (preferred) {
    ALLOCATOR_PROPERTIES got{};
    if (SUCCEEDED(preferred->SetProperties(props, &got))) return ComPtr<IMemAllocator>(preferred).CopyTo(actual);
  }
  ComPtr<IMemAllocator> allocator;
  HRESULT hr = CreateMemoryAllocator(&allocator);
  if (FAILED(hr)) return hr;
  ALLOCATOR_PROPERTIES got{};
  hr = allocator->SetProperties(props, &got);
  if (FAILED(hr)) return hr;
  *actual = allocator.Detach();
  return S_OK;
}

namespace {
// Sample times carry byte positions multiplied by UNITS.
HRESULT SampleRange(IMediaSample* sample, BYTE** buffer, LONGLONG* position, LONG* length) {
  if (!sample) return E_POINTER;
  REFERENCE_TIME start = 0, stop = 0;
  HRESULT hr = sample->GetTime(&start, &stop);
  if (FAILED(hr)) return hr;
  hr = sample->GetPointer(buffer);
  if (FAILED(hr)) return hr;
  // The times come from the reading filter: a span that overflows, or a length that a LONG
  // cannot hold, is refused rather than read as some other length.
  REFERENCE_TIME span = 0;
  if (__builtin_sub_overflow(stop, start, &span) || span / UNITS > std::numeric_limits<LONG>::max())
    return E_INVALIDARG;
  *position = start / UNITS;
  *length = LONG(span / UNITS);
  return S_OK;
}
}  // namespace

HRESULT CQvfOutputPin::Request(IMediaSample* sample, DWORD_PTR user) {
  BYTE* buffer = nullptr;
  LONGLONG position = 0;
  LONG length = 0;
  HRESULT hr = SampleRange(sample, &buffer, &position, &length);
  if (FAILED(hr)) return hr;
  // A request that would overrun the sample's buffer is refused rather than read.
  if (length < 0 || length > sample->GetSize()) return E_INVALIDARG;
  return engine_.Request(position, length, TRUE, buffer, sample, user);
}

HRESULT CQvfOutputPin::WaitForNext(DWORD timeoutMs, IMediaSample** sample, DWORD_PTR* user) {
  if (!sample) return E_POINTER;
  IMediaSample* done = nullptr;
  DWORD_PTR word = 0;
  LONG length = 0;
  HRESULT hr = engine_.WaitForNext(timeoutMs, &done, &word, &length);
  if (SUCCEEDED(hr) && done) hr = done->SetActualDataLength(length);
  *sample = done;
  if (user) *user = word;
  return hr;
}

HRESULT CQvfOutputPin::SyncReadAligned(IMediaSample* sample) {
  BYTE* buffer = nullptr;
  LONGLONG position = 0;
  LONG length = 0;
  HRESULT hr = SampleRange(sample, &buffer, &position, &length);
  if (FAILED(hr)) return hr;
  if (length < 0 || length > sample->GetSize()) return E_INVALIDARG;
  LONG got = 0;
  hr = engine_.SyncRead(position, length, TRUE, buffer, sample, &got);
  if (FAILED(hr)) return hr;
  return sample->SetActualDataLength(got);
}

HRESULT CQvfOutputPin::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
  if (!buffer && length > 0) return E_POINTER;
  LONG got = 0;
  return engine_.SyncRead(position, length, FALSE, buffer, nullptr, &got);
}

HRESULT CQvfOutputPin::Length(LONGLONG* total, LONGLONG* available) {
  if (!total || !available) return E_POINTER;
  LONGLONG size = 0;
  stream_.Lock();
  HRESULT hr = stream_.SizeLocked(&size);
  stream_.Unlock();
  if (FAILED(hr)) return hr;
  *total = *available = size;
  return S_OK;
}

HRESULT CQvfOutputPin::BeginFlush() {
  TAV_TRACE("CQvfOutputPin::BeginFlush()\n");
  return engine_.BeginFlush();
}

HRESULT CQvfOutputPin::EndFlush() {
  TAV_TRACE("CQvfOutputPin::EndFlush()\n");
  return engine_.EndFlush();
}

// ---- filter ----------------------------------------------------------------------------------

CUnknown* CQvfReaderFilter::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  auto* filter = new (std::nothrow) CQvfReaderFilter(outer, phr);
  if (!filter && phr) *phr = E_OUTOFMEMORY;
  return filter;
}

CQvfReaderFilter::CQvfReaderFilter(LPUNKNOWN outer, HRESULT* phr)
    : CBaseFilter(NAME("CQvfReaderFilter"), outer, &lock_, CLSID_QvfReaderFilter) {
  loadType_.SetType(&MEDIATYPE_Stream);
  loadType_.SetSubtype(&GUID_NULL);
  HRESULT hr = S_OK;
  pin_.reset(new (std::nothrow) CQvfOutputPin(this, &lock_, &hr));
  if (!pin_ || FAILED(hr)) {
    pin_.reset();
    if (phr) *phr = E_OUTOFMEMORY;
  }
}

CQvfReaderFilter::~CQvfReaderFilter() = default;

HRESULT CQvfReaderFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IFileSourceFilter) return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
  return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CQvfReaderFilter::Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) {
  if (!fileName) return E_POINTER;
  CAutoLock lock(&lock_);
  try {
    fileName_ = fileName;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  haveName_ = true;
  if (pin_) pin_->ResetProbe();
  if (mt) {
    HRESULT hr = loadType_.Set(*mt);
    if (FAILED(hr)) return hr;
    typeGiven_ = true;
  } else {
    loadType_.InitMediaType();
    loadType_.SetType(&MEDIATYPE_Stream);
    loadType_.SetSubtype(&GUID_NULL);
    typeGiven_ = false;
  }
  return S_OK;
}

HRESULT CQvfReaderFilter::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) {
  if (!fileName) return E_POINTER;
  CAutoLock lock(&lock_);
  *fileName = nullptr;
  if (haveName_) {
    HRESULT hr = AMGetWideString(fileName_.c_str(), fileName);
    if (FAILED(hr)) return hr;
  }
  if (mt) {
    HRESULT hr = CopyMediaType(mt, &loadType_);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

int CQvfReaderFilter::GetPinCount() { return pin_ ? 1 : 0; }

CBasePin* CQvfReaderFilter::GetPin(int n) { return n == 0 ? pin_.get() : nullptr; }

std::string CQvfReaderFilter::AnsiFileNameLocked() const {
  if (!haveName_ || fileName_.empty()) return {};
  char path[MAX_PATH + 1] = {};
  int n = WideCharToMultiByte(CP_ACP, 0, fileName_.c_str(), -1, path, MAX_PATH + 1, nullptr, nullptr);
  if (n <= 0) return {};
  // Longer names can't be opened: their ANSI form is over the platform's path length.
  std::string out(path);
  return out.size() > MAX_PATH ? std::string() : out;
}

// ---- registration ------------------------------------------------------------------------------

namespace {
const AMOVIESETUP_MEDIATYPE kOutputTypes[] = {
    {&GUID_NULL, &GUID_NULL},
    {&MEDIATYPE_Stream, &GUID_NULL},
    {&MEDIATYPE_Stream, &MEDIASUBTYPE_Avi},
};
const AMOVIESETUP_PIN kPins[] = {
    {u"Output", FALSE, TRUE, FALSE, FALSE, nullptr, nullptr, 3, kOutputTypes},
};
}  // namespace

// Registered with MERIT_DO_NOT_USE: the reader is found through the ".qvf" extension, never
// by merit.
constexpr DWORD kReaderMerit = MERIT_DO_NOT_USE;
const AMOVIESETUP_FILTER sudQvfReader = {&CLSID_QvfReaderFilter, u"VXCMN Qvf Reader Filter", kReaderMerit, 1, kPins};
