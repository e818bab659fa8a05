// IMediaPosition answered through the same object's IMediaSeeking: the automation
// interface's seconds are IMediaSeeking's 100-nanosecond units. A class that implements
// IMediaSeeking derives from MediaPositionThroughSeeking<itself> in place of IMediaPosition.
#pragma once

#include <cmath>

#include "media/contract/strmif.h"

template <class Seeking>
class MediaPositionThroughSeeking : public IMediaPosition {
 public:
  STDMETHODIMP get_Duration(REFTIME* length) override { return ReadSeconds(&IMediaSeeking::GetDuration, length); }
  STDMETHODIMP put_CurrentPosition(REFTIME time) override {
    LONGLONG t = Units(time);
    return Seeker()->SetPositions(&t, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
  }
  STDMETHODIMP get_CurrentPosition(REFTIME* time) override {
    return ReadSeconds(&IMediaSeeking::GetCurrentPosition, time);
  }
  STDMETHODIMP get_StopTime(REFTIME* time) override { return ReadSeconds(&IMediaSeeking::GetStopPosition, time); }
  STDMETHODIMP put_StopTime(REFTIME time) override {
    LONGLONG t = Units(time);
    return Seeker()->SetPositions(nullptr, AM_SEEKING_NoPositioning, &t, AM_SEEKING_AbsolutePositioning);
  }
  STDMETHODIMP get_PrerollTime(REFTIME* time) override { return ReadSeconds(&IMediaSeeking::GetPreroll, time); }
  STDMETHODIMP put_PrerollTime(REFTIME) override { return E_NOTIMPL; }
  STDMETHODIMP put_Rate(double rate) override { return Seeker()->SetRate(rate); }
  STDMETHODIMP get_Rate(double* rate) override { return Seeker()->GetRate(rate); }
  STDMETHODIMP CanSeekForward(LONG* canSeek) override { return Can(AM_SEEKING_CanSeekForwards, canSeek); }
  STDMETHODIMP CanSeekBackward(LONG* canSeek) override { return Can(AM_SEEKING_CanSeekBackwards, canSeek); }

 private:
  IMediaSeeking* Seeker() { return static_cast<IMediaSeeking*>(static_cast<Seeking*>(this)); }
  static LONGLONG Units(REFTIME seconds) { return LONGLONG(std::llround(seconds * double(UNITS))); }
  // Reads one position; *seconds is written only when the read succeeds.
  HRESULT ReadSeconds(HRESULT (IMediaSeeking::*read)(LONGLONG*), REFTIME* seconds) {
    if (!seconds) return E_POINTER;
    LONGLONG t = 0;
    const HRESULT hr = (Seeker()->*read)(&t);
    if (SUCCEEDED(hr)) *seconds = double(t) / double(UNITS);
    return hr;
  }
  HRESULT Can(DWORD capability, LONG* can) {
    if (!can) return E_POINTER;
    DWORD caps = 0;
    const HRESULT hr = Seeker()->GetCapabilities(&caps);
    *can = SUCCEEDED(hr) && (caps & capability) ? OATRUE : OAFALSE;
    return S_OK;
  }
};
