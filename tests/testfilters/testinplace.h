// An in-place transform: stamps byte 4 of each video frame (adds one) and can deliver
// every sample several times (the extra deliveries from inside Transform).
#pragma once

#include <atomic>

#include "tests/testfilters/testtypes.h"

namespace tavtest {

class CTestInPlace : public CTransInPlaceFilter, public TestFilterMaker<CTestInPlace> {
 public:
  struct Config {
    int deliveries = 1;   // times each sample goes downstream
    bool stamp = true;    // modifies the data
  };
  CTestInPlace(LPUNKNOWN outer, const Config& config, HRESULT* phr);

  HRESULT CheckInputType(const CMediaType* mt) override;
  HRESULT Transform(IMediaSample* sample) override;

  int Transforms() const { return m_transforms.load(); }
  int ExtraDeliveryFailures() const { return m_extraFailures.load(); }
  // Whether the last connection ended up with one allocator on both sides.
  bool SharesAllocator() const { return !UsingDifferentAllocators(); }

 private:
  const Config m_config;
  std::atomic<int> m_transforms{0};
  std::atomic<int> m_extraFailures{0};
};

}  // namespace tavtest
