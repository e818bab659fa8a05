#include "platform/filters/sources/inftee.h"

#include <cstring>
#include <new>
#include <string>

namespace tav::filters {

// ---- input ------------------------------------------------------------------------------

CTeeInputPin::CTeeInputPin(CInfTee* tee, HRESULT* phr)
    : CBaseInputPin(NAME("tee input pin"), tee, &tee->lock_, phr, u"Input"), tee_(tee) {}

HRESULT CTeeInputPin::CheckMediaType(const CMediaType* mt) {
  if (!mt || !mt->IsValid()) return VFW_E_TYPE_NOT_ACCEPTED;
  // A new input type must suit every output already connected.
  for (auto& out : tee_->outputs_)
    if (out->IsConnected() && out->GetConnected()->QueryAccept(mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT CTeeInputPin::GetMediaType(int position, CMediaType* mt) {
  // The input proposes what the connected outputs carry.
  if (position < 0) return E_INVALIDARG;
  for (auto& out : tee_->outputs_)
    if (out->IsConnected()) {
      if (position > 0) return VFW_S_NO_MORE_ITEMS;
      *mt = out->CurrentMediaType();
      return S_OK;
    }
  return VFW_S_NO_MORE_ITEMS;
}

STDMETHODIMP CTeeInputPin::Receive(IMediaSample* sample) {
  CAutoLock lock(&tee_->receiveLock_);
  HRESULT hr = CBaseInputPin::Receive(sample);
  if (hr != S_OK) return hr;
  bool any = false, delivered = false;
  for (size_t i = 0; i < tee_->outputs_.size(); ++i) {
    CTeeOutputPin* out = tee_->outputs_[i].get();
    if (!out->IsConnected()) continue;
    any = true;
    // Every output gets the input sample itself: its downstream pin was told the buffers
    // are read-only, so nothing downstream writes into what the other outputs read.
    // One output refusing or failing does not starve the others.
    if (out->Deliver(sample) == S_OK) delivered = true;
  }
  return !any || delivered ? S_OK : S_FALSE;
}

STDMETHODIMP CTeeInputPin::EndOfStream() {
  CAutoLock lock(&tee_->receiveLock_);
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  for (auto& out : tee_->outputs_)
    if (out->IsConnected()) out->DeliverEndOfStream();
  return S_OK;
}

STDMETHODIMP CTeeInputPin::BeginFlush() {
  CAutoLock lock(&tee_->lock_);
  CBaseInputPin::BeginFlush();
  for (auto& out : tee_->outputs_)
    if (out->IsConnected()) out->DeliverBeginFlush();
  return S_OK;
}

STDMETHODIMP CTeeInputPin::EndFlush() {
  CAutoLock lock(&tee_->lock_);
  for (auto& out : tee_->outputs_)
    if (out->IsConnected()) out->DeliverEndFlush();
  return CBaseInputPin::EndFlush();
}

STDMETHODIMP CTeeInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  CBasePin::NewSegment(start, stop, rate);
  for (auto& out : tee_->outputs_)
    if (out->IsConnected()) out->DeliverNewSegment(start, stop, rate);
  return S_OK;
}

// ---- outputs ----------------------------------------------------------------------------

CTeeOutputPin::CTeeOutputPin(CInfTee* tee, HRESULT* phr, LPCWSTR name)
    : CBaseOutputPin(NAME("tee output pin"), tee, &tee->lock_, phr, name), tee_(tee) {}

STDMETHODIMP CTeeOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMediaPosition || riid == IID_IMediaSeeking) {
    CAutoLock lock(m_pLock);
    if (!position_) {
      HRESULT hr = CreatePosPassThru(GetOwner(), FALSE, tee_->input_.get(), &position_);
      if (FAILED(hr)) return hr;
    }
    return position_->QueryInterface(riid, ppv);
  }
  return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CTeeOutputPin::CheckConnect(IPin* pin) {
  if (!tee_->input_->IsConnected()) return VFW_E_NOT_CONNECTED;
  return CBaseOutputPin::CheckConnect(pin);
}

HRESULT CTeeOutputPin::CheckMediaType(const CMediaType* mt) {
  if (!mt || !tee_->input_->IsConnected()) return VFW_E_NOT_CONNECTED;
  return *mt == tee_->input_->CurrentMediaType() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CTeeOutputPin::GetMediaType(int position, CMediaType* mt) {
  if (position < 0) return E_INVALIDARG;
  if (!tee_->input_->IsConnected()) return E_UNEXPECTED;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  *mt = tee_->input_->CurrentMediaType();
  return S_OK;
}

HRESULT CTeeOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) {
  ALLOCATOR_PROPERTIES in{};
  if (IMemAllocator* a = tee_->input_->Allocator()) a->GetProperties(&in);
  props->cBuffers = std::max<LONG>({props->cBuffers, in.cBuffers, 1});
  props->cbBuffer = std::max<LONG>({props->cbBuffer, in.cbBuffer, LONG(tee_->input_->CurrentMediaType().GetSampleSize()), 1});
  props->cbAlign = std::max<LONG>(props->cbAlign, 1);
  ALLOCATOR_PROPERTIES actual{};
  return allocator->SetProperties(props, &actual);
}

HRESULT CTeeOutputPin::CompleteConnect(IPin* receivePin) {
  HRESULT hr = CBaseOutputPin::CompleteConnect(receivePin);
  if (FAILED(hr)) return hr;
  tee_->AddFreeOutputLocked();
  return S_OK;
}

// ---- filter -----------------------------------------------------------------------------

CInfTee::CInfTee(LPUNKNOWN outer, HRESULT* phr)
    : CBaseFilter(NAME("Infinite Pin Tee Filter"), outer, &lock_, CLSID_InfTee) {
  HRESULT hr = S_OK;
  input_ = std::make_unique<CTeeInputPin>(this, &hr);
  outputs_.push_back(std::make_unique<CTeeOutputPin>(this, &hr, u"Output1"));
  outputs_.push_back(std::make_unique<CTeeOutputPin>(this, &hr, u"Output2"));
  nextOutputNumber_ = 3;
  if (FAILED(hr) && phr) *phr = hr;
}

CInfTee::~CInfTee() = default;

CUnknown* CInfTee::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  auto* f = new (std::nothrow) CInfTee(outer, phr);
  if (!f && phr) *phr = E_OUTOFMEMORY;
  return f;
}

int CInfTee::GetPinCount() {
  CAutoLock lock(&lock_);
  return 1 + int(outputs_.size());
}

CBasePin* CInfTee::GetPin(int n) {
  CAutoLock lock(&lock_);
  if (n == 0) return input_.get();
  if (n > 0 && n <= int(outputs_.size())) return outputs_[size_t(n - 1)].get();
  return nullptr;
}

void CInfTee::AddFreeOutputLocked() {
  for (auto& out : outputs_)
    if (!out->IsConnected()) return;
  std::u16string name = u"Output";
  for (char c : std::to_string(nextOutputNumber_++)) name += char16_t(c);
  HRESULT hr = S_OK;
  auto pin = std::make_unique<CTeeOutputPin>(this, &hr, name.c_str());
  if (FAILED(hr)) return;
  outputs_.push_back(std::move(pin));
  IncrementPinVersion();
}

}  // namespace tav::filters

namespace {
const REGPINTYPES kTeeTypes[] = {{&GUID_NULL, &GUID_NULL}};
const AMOVIESETUP_PIN kTeePins[] = {
    {u"Input", FALSE, FALSE, FALSE, FALSE, &GUID_NULL, nullptr, 1, kTeeTypes},
    {u"Output", FALSE, TRUE, FALSE, TRUE, &GUID_NULL, nullptr, 1, kTeeTypes}};
}  // namespace

const AMOVIESETUP_FILTER sudInfTee = {&CLSID_InfTee, u"Infinite Pin Tee Filter", MERIT_DO_NOT_USE, 2, kTeePins};
