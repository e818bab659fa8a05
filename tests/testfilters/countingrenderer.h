// A renderer that records what it presents: times, frame number, the in-place stamp,
// the stream time of presentation, and end-of-stream and flush counts; tests wait on it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "tests/testfilters/testtypes.h"

namespace tavtest {

class CTestRenderer : public CBaseVideoRenderer, public TestFilterMaker<CTestRenderer> {
 public:
  struct Config {
    GUID subtype = GUID_NULL;  // GUID_NULL: any video subtype
    bool anyMajorType = false;
  };
  struct Record {
    REFERENCE_TIME start = 0, stop = 0;  // sample times
    REFERENCE_TIME segmentStart = 0;     // of the input pin's segment
    REFERENCE_TIME streamTime = -1;      // when presented (-1 without a clock)
    DWORD frame = 0;
    BYTE stamp = 0;                      // byte 4 of the data
    IMediaSample* sample = nullptr;      // identity only, not counted
    std::chrono::steady_clock::time_point wall;
  };

  CTestRenderer(LPUNKNOWN outer, const Config& config, HRESULT* phr);

  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT DoRenderSample(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  void OnReceiveFirstSample(IMediaSample* sample) override;

  std::vector<Record> Records();
  int Count();
  int EndOfStreams();
  int Flushes();
  int FirstSamples();
  void ClearRecords();
  // Wait until at least n samples were presented / the end of stream was reported.
  bool WaitForCount(int n, int timeoutMs);
  bool WaitForEndOfStream(int timeoutMs);

 private:
  const Config m_config;
  // Guards the records and counters; signalled through m_changed.
  std::mutex m_recordLock;
  std::condition_variable m_changed;
  std::vector<Record> m_records;
  int m_eos = 0;
  int m_flushes = 0;
  int m_firstSamples = 0;
};

}  // namespace tavtest
