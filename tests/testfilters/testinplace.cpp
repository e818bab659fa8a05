#include "tests/testfilters/testinplace.h"

namespace tavtest {

CTestInPlace::CTestInPlace(LPUNKNOWN outer, const Config& config, HRESULT* phr)
    : CTransInPlaceFilter(NAME("test in-place"), outer, CLSID_TestInPlace, phr, config.stamp), m_config(config) {}

HRESULT CTestInPlace::CheckInputType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  return mt->majortype == MEDIATYPE_Video ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CTestInPlace::Transform(IMediaSample* sample) {
  ++m_transforms;
  if (m_config.stamp) {
    BYTE* data = nullptr;
    if (SUCCEEDED(sample->GetPointer(&data)) && data && sample->GetActualDataLength() > 4) ++data[4];
  }
  // The extra deliveries; the base class delivers once more when we return S_OK.
  for (int i = 1; i < m_config.deliveries; ++i) {
    if (m_pOutput->Deliver(sample) != S_OK) ++m_extraFailures;
  }
  return S_OK;
}

}  // namespace tavtest
