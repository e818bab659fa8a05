#include "converter/engine/previewgraph.h"

#include <cstring>

#include "converter/engine/convertorder.h"
#include "converter/engine/document.h"
#include "converter/engine/drawerstage.h"
#include "converter/engine/graphwalk.h"
#include "media/contract/com.h"
#include "media/contract/uuids.h"
#include "media/contract/videoinfo.h"
#include "media/contract/wingdi.h"

namespace tav {

namespace {

bool VideoSizeOf(IPin* pin, int* width, int* height) {
  ScopedMediaType mt;
  if (pin->ConnectionMediaType(mt.Out()) != S_OK || mt->majortype != MEDIATYPE_Video) return false;
  const BITMAPINFOHEADER* bih = VideoBitmapHeader(mt.Get());
  if (!bih || bih->biWidth <= 0) return false;
  *width = bih->biWidth;
  *height = bih->biHeight < 0 ? -bih->biHeight : bih->biHeight;
  return true;
}

// Restores the builder's wanted major type however the rendering ends.
class WantedTypeScope {
 public:
  WantedTypeScope(FilterGraphBuilder& builder, const GUID& major) : builder_(builder) {
    builder_.SetWantedMajorType(major);
  }
  ~WantedTypeScope() { builder_.SetWantedMajorType(GUID_NULL); }
  WantedTypeScope(const WantedTypeScope&) = delete;
  WantedTypeScope& operator=(const WantedTypeScope&) = delete;

 private:
  FilterGraphBuilder& builder_;
};

}  // namespace

PreviewSettings PreviewSettings::ForEntry(const CConvertOrder& entry) {
  PreviewSettings s;
  s.width = entry.GetFrameWidth();
  s.height = entry.GetFrameHeight();
  s.fit = entry.GetScreenFit();
  s.subtitles = entry.UsesSubtitles() && !entry.SubtitlePath().IsEmpty();
  s.subtitleFile = entry.SubtitlePath().Full();
  s.subtitleSize = entry.GetSubtitleSize();
  s.subtitleLanguage = entry.GetSubtitleLanguage();
  return s;
}

HRESULT PreviewGraph::Init() { return builder_.Init(); }

void PreviewGraph::Clear() {
  Stop();
  builder_.Clear();
  burnsIn_ = false;
}

void PreviewGraph::Configure(const PreviewSettings& s, bool drawer, bool burnIn) {
  FilterGraphBuilder& b = builder_;
  b.SetConversionMode(false);
  b.SetFrameRate(true, kPreviewFrameRate);
  // The sound the camera's movies carry, so the preview sounds as the conversion will.
  b.SetAudioTarget(CTavrionConverterDoc::ConversionAudioTarget());
  b.SetResize(true, s.width, s.height, s.fit);
  b.SetSubtitles(s.subtitles, s.subtitleFile, s.subtitleSize, s.subtitleLanguage);
  b.SetBurnIn(burnIn);
  b.SetDrawer(drawer, s.width, s.height, s.fit);
}

void PreviewGraph::Render(const std::string& source, bool sound) {
  {
    WantedTypeScope video(builder_, MEDIATYPE_Video);
    builder_.AddSourceAndRender(source);
  }
  if (sound) {
    WantedTypeScope audio(builder_, MEDIATYPE_Audio);
    builder_.AddSourceAndRender(source);
  }
  builder_.FinishGraph(false);
}

void PreviewGraph::Build(const std::string& source, const PreviewSettings& settings) {
  Clear();
  // Without a graph (Init failed) the preview fails like any other, rather than building
  // into nothing.
  HRChecker().CheckPointer(builder_.Graph());
  settings_ = settings;
  Configure(settings, settings.subtitles || settings.keepDrawer, false);
  try {
    Render(source, settings.sound);
  } catch (const HRChecker&) {
    // Without the drawer stage the captions still show, burnt into the picture.
    if (!settings.subtitles || settings.keepDrawer) throw;
    builder_.Clear();
    Configure(settings, false, true);
    burnsIn_ = true;
    Render(source, settings.sound);
  }
}

void PreviewGraph::ProbeInto(CConvertOrder& entry) {
  entry.UpdateFromGraph(builder_);
  if (!builder_.SubtitleEncoding().empty()) entry.SetSubtitleEncoding(builder_.SubtitleEncoding());
  // The source's own frame size as shown (upright), not the resized picture's; the stored
  // one too when a turn makes them differ.
  int w = 0, h = 0, shownW = 0, shownH = 0;
  if (PictureSizes(builder_.Graph(), &w, &h, &shownW, &shownH)) {
    entry.SetSourceInfo(entry.GetDuration(), shownW, shownH, entry.IsSeekable());
    const bool turned = w != shownW || h != shownH;
    entry.SetStoredSize(turned ? w : 0, turned ? h : 0);
  }
}

bool PreviewGraph::Seek(REFERENCE_TIME position) {
  IMediaSeeking* seeking = builder_.Seeking();
  if (!seeking) return false;
  LONGLONG at = position;
  return SUCCEEDED(seeking->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning));
}

HRESULT PreviewGraph::PauseAndWait(LONG timeoutMs) {
  ComPtr<IMediaControl> control = ComPtr<IGraphBuilder>(builder_.Graph()).As<IMediaControl>();
  if (!control) return E_NOINTERFACE;
  HRESULT hr = control->Pause();
  if (FAILED(hr)) return hr;
  OAFilterState state = 0;
  return control->GetState(timeoutMs, &state);
}

void PreviewGraph::Stop() {
  if (!builder_.Graph()) return;
  if (ComPtr<IMediaControl> control = ComPtr<IGraphBuilder>(builder_.Graph()).As<IMediaControl>()) control->Stop();
}

bool PreviewGraph::ShownPicture(PreviewPicture* picture) {
  std::vector<ComPtr<IDrawerHost>> hosts = DrawerHostsOf(builder_.Graph());
  if (hosts.empty()) return false;
  if (ComPtr<IVideoWindow> window = hosts.front().As<IVideoWindow>())
    window->SetWindowPosition(0, 0, settings_.width, settings_.height);
  hosts.front()->Repaint();
  ComPtr<IRendererWindow> window = hosts.front().As<IRendererWindow>();
  HWND hwnd = nullptr;
  if (!window || FAILED(window->GetWindowHandle(&hwnd)) || !hwnd) return false;
  DIBSECTION ds{};
  HBITMAP surface = GetWindowSurface(hwnd);
  if (!surface || GetObject(surface, sizeof ds, &ds) != int(sizeof ds) || !ds.dsBm.bmBits || ds.dsBm.bmBitsPixel != 32)
    return false;
  picture->width = ds.dsBm.bmWidth;
  picture->height = ds.dsBm.bmHeight;
  picture->pixels.assign(size_t(picture->width) * size_t(picture->height), 0);
  const auto* bits = static_cast<const BYTE*>(ds.dsBm.bmBits);
  const bool bottomUp = ds.dsBmih.biHeight > 0;
  for (int y = 0; y < picture->height; ++y) {
    const BYTE* row = bits + size_t(bottomUp ? picture->height - 1 - y : y) * size_t(ds.dsBm.bmWidthBytes);
    uint32_t* out = picture->pixels.data() + size_t(y) * size_t(picture->width);
    std::memcpy(out, row, size_t(picture->width) * 4);
    for (int x = 0; x < picture->width; ++x) out[x] &= 0xFFFFFF;
  }
  return true;
}

bool PictureSizes(IGraphBuilder* graph, int* storedWidth, int* storedHeight, int* shownWidth, int* shownHeight) {
  for (const ComPtr<IBaseFilter>& f : FiltersOf(graph)) {
    // The splitter: a filter that takes no video in and gives video out.
    bool takesVideo = false;
    for (const ComPtr<IPin>& pin : PinsOf(f.Get(), PINDIR_INPUT)) {
      int w = 0, h = 0;
      takesVideo = takesVideo || VideoSizeOf(pin.Get(), &w, &h);
    }
    if (takesVideo) continue;
    for (const ComPtr<IPin>& pin : PinsOf(f.Get(), PINDIR_OUTPUT)) {
      if (!VideoSizeOf(pin.Get(), storedWidth, storedHeight)) continue;
      *shownWidth = *storedWidth;
      *shownHeight = *storedHeight;
      ComPtr<IPin> peer;
      if (FAILED(pin->ConnectedTo(&peer)) || !peer) return true;
      if (ComPtr<IBaseFilter> decoder = OwnerOf(peer.Get())) {
        for (const ComPtr<IPin>& out : PinsOf(decoder.Get(), PINDIR_OUTPUT))
          if (VideoSizeOf(out.Get(), shownWidth, shownHeight)) break;
      }
      return true;
    }
  }
  return false;
}

ProbedLength BuildProbeGraph(FilterGraphBuilder& builder, const std::string& path) {
  builder.SetConversionMode(true);
  builder.SetResize(false, kSmallFrame.width, kSmallFrame.height, 2);
  builder.SetFrameRate(false, 30.0);
  builder.SetBurnIn(false);
  builder.SetSubtitles(false, "", "", "");
  builder.SetWantedMajorType(MEDIATYPE_Video);
  builder.AddSourceAndRender(path);
  builder.SetWantedMajorType(GUID_NULL);
  builder.FinishGraph(false);
  ProbedLength probed;
  builder.Seeking()->GetDuration(&probed.duration);
  DWORD caps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
               AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;
  probed.seekable = builder.Seeking()->CheckCapabilities(&caps) == S_OK;
  return probed;
}

}  // namespace tav
