// A pushing source: N time-stamped video frames (the frame number in the first four
// bytes of each), delivered by its own streaming thread while the filter is active, with
// seeking (CSourceSeeking on the output pin) that flushes and restarts from the new start.
#pragma once

#include <atomic>
#include <thread>

#include "tests/testfilters/testtypes.h"

namespace tavtest {

class CTestPushSource;

class CTestPushPin : public CBaseOutputPin {
 public:
  CTestPushPin(CTestPushSource* filter, HRESULT* phr);
  ~CTestPushPin() override;

  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override;
  // Starts the streaming thread / stops it (after decommitting, so it cannot block).
  HRESULT Active() override;
  HRESULT Inactive() override;

  // Seeking: stops the thread with a flush downstream and starts it again.
  HRESULT RestartStream();

 private:
  class Seeking : public CSourceSeeking {
   public:
    Seeking(CTestPushPin* pin, HRESULT* phr);
    using CSourceSeeking::m_rtDuration;
    using CSourceSeeking::m_rtStart;
    using CSourceSeeking::m_rtStop;
    using CSourceSeeking::m_dwSeekingCaps;

   protected:
    HRESULT ChangeStart() override { return m_pin->RestartStream(); }
    HRESULT ChangeStop() override { return S_OK; }
    HRESULT ChangeRate() override { return m_dRateSeeking == 1.0 ? S_OK : E_INVALIDARG; }

   private:
    CTestPushPin* m_pin;
  };

  void StartThread();
  void StopThread();
  void ThreadProc();

  CTestPushSource* m_pSource;
  // Guards the positions of m_seeking.
  CCritSec m_seekLock;
  Seeking m_seeking;
  // The streaming thread and its stop request (set by Inactive and seeks).
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  // Serialises thread start/stop between the control thread and seeks.
  CCritSec m_threadLock;
};

class CTestPushSource : public CBaseFilter, public TestFilterMaker<CTestPushSource> {
 public:
  struct Config {
    GUID subtype = MEDIASUBTYPE_RGB32;
    LONG width = 64;
    LONG height = 48;
    int frames = 10;
    REFERENCE_TIME frameDuration = 333333;
    LONG buffers = 2;
  };
  // A new source with one reference in *out; the returned pointer lives as long as it.

  CTestPushSource(LPUNKNOWN outer, const Config& config, HRESULT* phr);
  ~CTestPushSource() override;

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? m_pPin : nullptr; }

  const Config& GetConfig() const { return m_config; }
  const CMediaType& Type() const { return m_type; }
  int FramesDelivered() const { return m_delivered.load(); }
  int EndsDelivered() const { return m_ends.load(); }
  CTestPushPin* Pin() const { return m_pPin; }

 private:
  friend class CTestPushPin;
  CCritSec m_lock;  // the filter lock
  const Config m_config;
  CMediaType m_type;
  CTestPushPin* m_pPin = nullptr;
  std::atomic<int> m_delivered{0};
  std::atomic<int> m_ends{0};
};

}  // namespace tavtest
