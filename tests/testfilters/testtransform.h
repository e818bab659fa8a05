// A transform: copies RGB32 frames (or widens RGB24 to RGB32), keeping the frame number.
// In deferred mode its output pin always uses the filter's own allocator, whose samples
// keep the input sample and do the conversion only when GetPointer is called, so frames
// that nobody reads cost nothing.
#pragma once

#include <atomic>
#include <mutex>

#include "tests/testfilters/testtypes.h"

namespace tavtest {

class CTestTransform;

// An output sample that converts its attached input sample on first GetPointer.
class CTestDeferredSample : public CMediaSample {
 public:
  CTestDeferredSample(CBaseAllocator* allocator, CTestTransform* filter, HRESULT* phr, LPBYTE buffer, LONG length);
  ~CTestDeferredSample() override;

  void Attach(IMediaSample* input);
  void DropInput();
  STDMETHODIMP GetPointer(BYTE** buffer) override;

 private:
  std::mutex m_lock;                   // guards m_input
  IMediaSample* m_input = nullptr;     // holds a reference until converted or returned
  CTestTransform* m_filter;            // not counted: the filter owns the allocator
};

class CTestDeferredAllocator : public CMemAllocator {
 public:
  CTestDeferredAllocator(CTestTransform* filter, HRESULT* phr);
  // A returned sample drops its unread input first.
  STDMETHODIMP ReleaseBuffer(IMediaSample* sample) override;

 protected:
  CMediaSample* NewSample(LPBYTE buffer, LONG length, HRESULT* phr) override;

 private:
  CTestTransform* m_filter;
};

class CTestTransformOutputPin : public CTransformOutputPin {
 public:
  CTestTransformOutputPin(CTestTransform* filter, HRESULT* phr);
  // Always the filter's deferred allocator, sized by DecideBufferSize.
  HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) override;
};

class CTestTransform : public CTransformFilter, public TestFilterMaker<CTestTransform> {
 public:
  struct Config {
    GUID inputSubtype = MEDIASUBTYPE_RGB32;
    GUID outputSubtype = MEDIASUBTYPE_RGB32;
    bool deferred = false;
    LONG outputBuffers = 1;
  };
  CTestTransform(LPUNKNOWN outer, const Config& config, HRESULT* phr);
  ~CTestTransform() override;

  CBasePin* GetPin(int n) override;
  HRESULT CheckInputType(const CMediaType* mtIn) override;
  HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override;
  HRESULT Transform(IMediaSample* in, IMediaSample* out) override;
  HRESULT StartStreaming() override;
  HRESULT StopStreaming() override;

  // Converts one frame from the input layout into the output buffer.
  HRESULT Convert(IMediaSample* in, BYTE* out, LONG outSize, LONG* written);

  int Transforms() const { return m_transforms.load(); }
  int Conversions() const { return m_conversions.load(); }
  int StreamingStarts() const { return m_starts.load(); }
  IMemAllocator* DeferredAllocator() const { return m_deferredAllocator.Get(); }

 private:
  const Config m_config;
  ComPtr<IMemAllocator> m_deferredAllocator;  // deferred mode only
  std::atomic<int> m_transforms{0};
  std::atomic<int> m_conversions{0};
  std::atomic<int> m_starts{0};
};

}  // namespace tavtest
