#include "platform/filters/tools/graphinfo/countingsink.h"

// {4E0B7C1A-9D2F-4B63-8E55-2A7C1D9F6B30}: never registered, created by the tool itself.
TAV_DEFINE_GUID(CLSID_CountingSink, 0x4E0B7C1A, 0x9D2F, 0x4B63, 0x8E, 0x55, 0x2A, 0x7C, 0x1D, 0x9F, 0x6B, 0x30);

CCountingSink::CCountingSink(HRESULT* phr) : CBaseRenderer(CLSID_CountingSink, "counting sink", nullptr, phr) {}

HRESULT CCountingSink::CheckMediaType(const CMediaType*) { return S_OK; }

HRESULT CCountingSink::DoRenderSample(IMediaSample* sample) {
  REFERENCE_TIME start = 0, stop = 0;
  const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
  CAutoLock lock(&countLock_);
  ++counts_.samples;
  if (timed) {
    if (!counts_.haveTime) counts_.first = start;
    counts_.haveTime = true;
    counts_.last = start;
  }
  return S_OK;
}

CCountingSink::Counts CCountingSink::Snapshot() {
  CAutoLock lock(&countLock_);
  return counts_;
}
