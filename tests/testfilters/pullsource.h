// A pull source: a byte stream (MEDIATYPE_Stream) served through IAsyncReader on its
// output pin. Requests complete at once and are handed back by WaitForNext in order.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "tests/testfilters/testtypes.h"

namespace tavtest {

class CTestPullSource;

class CTestPullPin : public CBasePin, public IAsyncReader {
 public:
  CTestPullPin(CTestPullSource* filter, HRESULT* phr);

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT GetMediaType(int position, CMediaType* mt) override;

  // IAsyncReader, whose BeginFlush / EndFlush answer IPin's too.
  DECLARE_IASYNCREADER_METHODS

 private:
  // Reads the sample's byte range (its times / UNITS) into it.
  HRESULT ReadInto(IMediaSample* sample);

  CTestPullSource* m_pSource;
  struct Done {
    IMediaSample* sample;  // the caller's reference, handed back by WaitForNext
    DWORD_PTR user;
    HRESULT hr;
  };
  // Guards the completed requests and the flushing flag.
  std::mutex m_queueLock;
  // Signalled when a request completes or a flush begins.
  std::condition_variable m_queueChanged;
  std::deque<Done> m_done;   // guarded by m_queueLock
  bool m_flushing = false;   // guarded by m_queueLock
};

class CTestPullSource : public CBaseFilter, public TestFilterMaker<CTestPullSource> {
 public:
  struct Config {
    GUID subtype = MEDIASUBTYPE_Avi;
    size_t size = 100000;  // bytes; byte i holds (i * 7 + 3) & 0xFF
  };

  CTestPullSource(LPUNKNOWN outer, const Config& config, HRESULT* phr);
  ~CTestPullSource() override;

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? m_pPin : nullptr; }
  static BYTE ExpectedByte(LONGLONG position) { return BYTE((position * 7 + 3) & 0xFF); }
  const std::vector<BYTE>& Data() const { return m_data; }
  const CMediaType& Type() const { return m_type; }

 private:
  friend class CTestPullPin;
  CCritSec m_lock;  // the filter lock
  std::vector<BYTE> m_data;
  CMediaType m_type;
  CTestPullPin* m_pPin = nullptr;
};

}  // namespace tavtest
