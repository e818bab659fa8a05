// "VXCMN Video Analizer Filter": measures the motion between the frames of an RGB24 stream
// on a coarse grid and cuts the stream into scenes; ISceneAnalyser hands out the scenes'
// start times. Samples pass unchanged.
#pragma once

#include <memory>
#include <mutex>

#include "libs/vxvideokit/sceneanalysis.h"
#include "libs/vxvideokit/filterfactory.h"
#include "libs/vxvideokit/vxvideokit.h"
#include "platform/streaming/base/dllsetup.h"
#include "platform/streaming/base/transip.h"

class CVideoAnalyzer final : public CTransInPlaceFilter, public ISceneAnalyser {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  CBasePin* GetPin(int n) override { return CTransInPlaceFilter::GetPin(n); }
  // Video, RGB24, FORMAT_VideoInfo or FORMAT_VideoInfo2.
  HRESULT CheckInputType(const CMediaType* mt) override;
  HRESULT StartStreaming() override;
  HRESULT Transform(IMediaSample* sample) override;

  // ISceneAnalyser
  STDMETHODIMP GetPin(int index, IPin** pin) override;
  STDMETHODIMP Reset(BOOL enable) override;
  STDMETHODIMP GetSceneStarts(int* count, double** times) override;
  STDMETHODIMP GetNewSceneStarts(int* count, double** times) override;

 private:
  friend CUnknown* vxvk::CreateFilterInstance<CVideoAnalyzer>(LPUNKNOWN, HRESULT*);
  CVideoAnalyzer(LPUNKNOWN outer, HRESULT* phr);
  // The start times of records [from, end) in a task-allocated array (null when none).
  HRESULT StartsLocked(size_t from, int* count, double** times);

  // Guards the analysis: the streaming thread adds frames, the application reads scenes.
  // Taken alone, never with the filter or receive lock held after it.
  std::mutex m_stateLock;

  // Negotiated at StartStreaming (streaming thread only while streaming).
  int m_width = 0;
  int m_height = 0;               // rows, absolute
  size_t m_stride = 0;
  REFERENCE_TIME m_framePeriod = 0;  // for samples without a stop time
  // Runtime.
  std::unique_ptr<vxvk::SceneAnalysis> m_analysis;  // guarded by m_stateLock; null: disabled
  size_t m_returned = 0;                            // guarded by m_stateLock; by GetNewSceneStarts
  REFERENCE_TIME m_nextStart = 0;                   // guarded by m_stateLock; for untimed samples
};

extern const AMOVIESETUP_FILTER sudVideoAnalyzer;
