// A renderer that accepts any type and counts what reaches it: samples, the first and
// last start time. Runs as fast as samples come when the graph has no clock.
#pragma once

#include "platform/streaming/base/streams.h"

class CCountingSink final : public CBaseRenderer {
 public:
  CCountingSink(HRESULT* phr);
  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT DoRenderSample(IMediaSample* sample) override;

  struct Counts {
    long long samples = 0;
    bool haveTime = false;
    REFERENCE_TIME first = 0;
    REFERENCE_TIME last = 0;
  };
  Counts Snapshot();

 private:
  CCritSec countLock_;  // guards counts_: the streaming thread writes, the tool reads
  Counts counts_;
};
