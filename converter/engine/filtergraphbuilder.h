// FilterGraphBuilder: builds conversion and preview graphs stream by stream. It picks each
// decoder from its own table keyed by media type, falls back to registered filters in merit
// order and then to a few named platform decoders, asks the filter veto (codecs.ini) about
// every candidate - also about those the graph manager considers on its own - and inserts
// the converter's processing filters (resizer, frame rate converter, burn-in) in a fixed
// order. In conversion mode the ends of the video and audio chains stay open (pending pins)
// for the exporter; in preview mode they end in renderers.
//
// Every checked call goes through an HRChecker: a failure throws it with the code, the
// media type being rendered and the graph name of the filter being created.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "converter/engine/document.h"
#include "converter/engine/framesize.h"
#include "converter/engine/graphregistration.h"
#include "converter/engine/hrchecker.h"
#include "media/contract/comptr.h"
#include "media/contract/objidl.h"
#include "media/contract/strmif.h"

namespace tav {

class FilterGraphBuilder : public ConversionGraphSeam {
 public:
  FilterGraphBuilder();
  ~FilterGraphBuilder() override;
  FilterGraphBuilder(const FilterGraphBuilder&) = delete;
  FilterGraphBuilder& operator=(const FilterGraphBuilder&) = delete;

  // ---- life cycle ----
  // Creates the graph and the mapper; returns the failure code (nothing thrown), and the
  // builder then has no graph.
  HRESULT Init() override;
  void Clear();
  // These three throw HRChecker on failures of checked calls; RenderPin also returns
  // E_POINTER or E_FAIL when the pin cannot be rendered at all.
  HRESULT AddSourceAndRender(const std::string& path);
  HRESULT RenderPin(IPin* pin);
  void FinishGraph(bool runWithoutClock);

  // ---- settings ----
  void SetConversionMode(bool on) { conversionMode_ = on; }
  void SetResize(bool on, int width, int height, int fit);
  void SetFrameRate(bool on, double fps) { frameRateOn_ = on; frameRate_ = fps; }
  void SetBurnIn(bool on) { burnInOn_ = on; }
  void SetDrawer(bool on, int width, int height, int fit);
  void SetFormatAdapter(bool on) { formatAdapterOn_ = on; }
  void SetAudioTarget(bool on, DWORD samplesPerSecond, WORD channels, WORD bitsPerSample);
  void SetAudioTarget(const WAVEFORMATEX& format) override;
  void SetSubtitles(bool on, const std::string& file, const std::string& sizeId, const std::string& language);
  void SetWantedMajorType(const GUID& majorType) { wantedMajorType_ = majorType; }
  void SetFilterVeto(IFilterVeto* veto) override { filterVeto_ = veto; }
  IFilterVeto* FilterVeto() const { return filterVeto_; }

  // ---- queries ----
  IGraphBuilder* Graph() const { return graph_.Get(); }
  IMediaSeeking* Seeking() const { return seeking_.Get(); }
  const std::vector<ComPtr<IPin>>& PendingPins() const { return pendingPins_; }
  bool IsBuilt() const { return built_; }
  bool XReaderUsed() const { return xReaderUsed_; }
  // The reader that took the burnt-in subtitle file when it was not plain SAMI or SubRip
  // ("WebVTT", ...); empty otherwise or before a burn-in stage was built.
  const std::string& SubtitleReader() const { return subtitleReader_; }
  // The encoding the subtitle file was read in; empty before a burn-in or drawer stage with
  // subtitles was built.
  const std::string& SubtitleEncoding() const { return subtitleEncoding_; }
  void FindVideoSize(bool probe, int* width, int* height) const;
  // Applies a new screen fit to every resizer and every subtitle drawer of the graph.
  void SetScreenFitOnFilters(int fit);

  // ---- live preview updates (the subtitle renderer's drawers) ----
  // The drawer operations apply only while a graph exists and resizing or the drawer is on;
  // the subtitle operations whenever a graph exists. Each drawer is repainted afterwards, so
  // a paused preview shows the change at once. Failures of checked calls throw HRChecker
  // (context "Subtitle Manager object" while a drawer without a manager gets one).
  //
  // The current picture of the first subtitle renderer in the graph: its media type (the
  // caller frees the format block), data length, a copy of the data (a task-allocator block
  // the caller frees) and its start and end times. False, with nothing filled, when the
  // graph has no subtitle renderer or it holds no picture.
  bool GetDrawerSnapshot(AM_MEDIA_TYPE* mediaType, LONG* size, BYTE** block, REFERENCE_TIME* start,
                         REFERENCE_TIME* end);
  // The canvas (output frame) size of every drawer.
  void SetFrameSizeOnDrawers(int width, int height);
  // Loads `file` into every subtitle filter's and every drawer's manager (a drawer without
  // one gets a new manager) and selects the size class and language.
  void SetSubtitleParams(const std::string& file, const std::string& sizeId, const std::string& language);
  // Only selects the language (or the size class) in every manager; nothing is reloaded.
  void SetSubtitleLanguage(const std::string& language);
  void SetSubtitleSize(const std::string& sizeId);
  // Shows or hides the captions of every drawer; the fit and canvas stay.
  void EnableSubtitleDrawing(bool on);

  // The veto test for one candidate (the graph-builder callback uses it too): S_OK allowed,
  // E_FAIL refused.
  HRESULT CheckMoniker(IMoniker* moniker);
  // Removes filter and everything downstream of it.
  void RemoveDownstream(IBaseFilter* filter);

  // Created for an unconnected stream by conversion-mode FinishGraph.
  static constexpr const char16_t* kBlackHoleName = u"Black Hole";

 private:
  class Callback;

  bool RenderOutputs(IBaseFilter* filter);
  bool RenderPinAllTypes(std::vector<GUID>& seen, IPin* pin);
  bool ShouldRender(const AM_MEDIA_TYPE& mt, std::vector<GUID>& seen) const;
  bool RenderMediaPin(IPin* pin, const AM_MEDIA_TYPE& mt);
  bool MapperPass(IPin* pin, const std::vector<AM_MEDIA_TYPE*>& types);
  bool NamedFallbacks(IPin* pin, const AM_MEDIA_TYPE& mt);
  bool ConnectPin(IPin* pin, IBaseFilter* filter, bool direct, const AM_MEDIA_TYPE* mt, bool strict);
  bool ConnectAndRender(IPin* pin, IBaseFilter* filter, bool direct, const AM_MEDIA_TYPE* mt, bool strict);
  bool ConnectNew(IPin* pin, const CLSID& clsid, const char16_t* name, const AM_MEDIA_TYPE& mt, bool strict = true);
  bool ConnectDmo(IPin* pin, const CLSID& dmo, const GUID& category, const char16_t* name, const AM_MEDIA_TYPE& mt,
                  bool strict);
  bool VideoChain(IPin* pin, const AM_MEDIA_TYPE& mt);
  // Asks the decoder owning pin to deliver pictures of mt at the size the resizer needs;
  // the decoder when it agreed, null otherwise.
  ComPtr<IDecimateVideoImage> DecimateForResizer(IPin* pin, const AM_MEDIA_TYPE& mt);
  // Live updates of the drawers (drawerstage.cpp).
  void SetScreenFitOnDrawers(int fit);
  // Each of file, sizeId and language that is given goes to every manager of the graph.
  void UpdateManagers(const std::string* file, const std::string* sizeId, const std::string* language);
  // The PCM type of audioTarget_; its format block is audioTarget_ itself, not a copy.
  AM_MEDIA_TYPE AudioTargetType();
  bool AudioEndPcm(IPin* pin);
  bool AudioEndCompressed(IPin* pin);
  bool TryCreate(const CLSID& clsid, ComPtr<IBaseFilter>& out) const;
  ComPtr<IBaseFilter> CreateFilter(const CLSID& clsid, const char16_t* name);
  ComPtr<IPin> FirstOutput(IBaseFilter* filter) const;
  bool OwnerIs(IPin* pin, const CLSID& clsid) const;
  void RemoveFilter(IBaseFilter* filter);
  void DropPending(IPin* pin);
  MediaTypeValue FirstVideoStreamType() const;
  // Why a file gives no video: TAV_E_COVER_ONLY when its only picture is a cover image,
  // TAV_E_NO_VIDEO when it holds sound and nothing to see; S_OK when it has video or
  // cannot be told apart from a file this platform cannot read.
  HRESULT MissingVideoReason(const std::string& path) const;
  // Throws that reason, when there is one, instead of the failure at hand.
  void RefuseWithoutVideo(const std::string& path);

  // Graph objects, made by Init.
  ComPtr<IGraphBuilder> graph_;
  ComPtr<IFilterMapper2> mapper_;
  ComPtr<IBindCtx> bindContext_;
  // Per graph.
  std::vector<ComPtr<IBaseFilter>> sources_;
  ComPtr<IMediaSeeking> seeking_;
  std::vector<ComPtr<IPin>> pendingPins_;
  bool built_ = false;
  // Settings.
  bool conversionMode_ = false;
  int dvResolution_ = 1001;
  bool resizeOn_ = false;
  int width_ = kSmallFrame.width, height_ = kSmallFrame.height;
  bool frameRateOn_ = false;
  double frameRate_ = 30.0;
  int screenFit_ = 2;
  bool burnInOn_ = false;
  bool drawerOn_ = false;
  bool xReaderAvailable_ = false, xReaderUsed_ = false;
  ComPtr<IBaseFilter> xReader_;
  bool formatAdapterOn_ = false;
  bool audioConvertOn_ = false;
  WAVEFORMATEX audioTarget_{};
  bool subtitlesOn_ = false;
  std::string subtitleFile_, subtitleSize_, subtitleLanguage_;
  std::string subtitleReader_;
  std::string subtitleEncoding_;
  GUID wantedMajorType_{};
  GraphRegistration registration_;
  IFilterVeto* filterVeto_ = nullptr;
  std::unique_ptr<Callback> callback_;

  // The checker of the call under way: its media type and context follow the rendering.
  HRChecker checker_;
};

}  // namespace tav
