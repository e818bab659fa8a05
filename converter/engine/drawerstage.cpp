#include "converter/engine/drawerstage.h"

#include "converter/engine/filtergraphbuilder.h"
#include "converter/engine/graphwalk.h"
#include "libs/vxvideokit/vxvideokit.h"
#include "media/contract/codepage.h"
#include "media/contract/com.h"
#include "media/contract/memoryowners.h"

namespace tav {

namespace {

// The format type of the first type a pin offers (its own stream as it would connect).
GUID OfferedFormat(IPin* pin) {
  const PinTypes offered(pin);
  return offered.types.empty() ? GUID_NULL : offered.types.front()->formattype;
}

BstrPtr ToBstr(const std::string& ansi) { return BstrPtr::Copy(AnsiToWide(ansi).c_str()); }

// Holds an overlay's lock for a scope, so a failed call cannot leave the drawer locked.
class OverlayLock {
 public:
  explicit OverlayLock(ISubtitleOverlay* overlay) : overlay_(overlay) { overlay_->Lock(TRUE); }
  ~OverlayLock() { overlay_->Lock(FALSE); }
  OverlayLock(const OverlayLock&) = delete;
  OverlayLock& operator=(const OverlayLock&) = delete;

 private:
  ISubtitleOverlay* overlay_;
};

}  // namespace

bool AddDrawerStage(HRChecker& checker, IGraphBuilder* graph, IPin* pin, const AM_MEDIA_TYPE& streamType,
                    const DrawerSettings& settings, std::string* encoding) {
  if (encoding) encoding->clear();
  if (!graph || !pin) checker.Check(E_POINTER);
  checker.SetContext(Utf16ToUtf8(kSubtitleRendererName));
  ComPtr<IBaseFilter> renderer;
  checker.Check(CoCreateInstance(CLSID_SubtitleRenderer, nullptr, CLSCTX_ALL, IID_IBaseFilter, renderer.AsVoidOut()));
  checker.CheckPointer(renderer);
  checker.Check(graph->AddFilter(renderer.Get(), kSubtitleRendererName));
  ComPtr<IBaseFilter> adapter;
  auto removeStage = [&] {
    if (adapter) graph->RemoveFilter(adapter.Get());
    graph->RemoveFilter(renderer.Get());
  };
  try {
    checker.SetContext("Subtitle Drawer Object");
    ComPtr<IFrameDrawer> drawer;
    checker.Check(CoCreateInstance(CLSID_SubtitleDrawer, nullptr, CLSCTX_ALL, IID_IFrameDrawer, drawer.AsVoidOut()));
    checker.CheckPointer(drawer);
    ComPtr<IDrawerHost> host = renderer.As<IDrawerHost>();
    checker.CheckPointer(host);
    checker.Check(host->SetDrawer(drawer.Get()));
    ComPtr<ISubtitleOverlay> overlay = drawer.As<ISubtitleOverlay>();
    checker.CheckPointer(overlay);
    if (settings.subtitlesOn) {
      ComPtr<ISubtitleManager> manager = CreateSubtitleManager(checker, settings.subtitles);
      if (encoding) *encoding = SubtitleEncodingName(manager.Get());
      checker.SetContext("Subtitle Drawer Object");
      checker.Check(overlay->SetManager(manager.Get()));
    }
    checker.Check(overlay->SetCanvasSize(settings.width, settings.height));
    checker.Check(overlay->SetFitMode(settings.fit));
  } catch (const HRChecker&) {
    removeStage();
    throw;
  }

  const ComPtr<IPin> rendererIn = FirstPinOf(renderer.Get(), PINDIR_INPUT);
  if (rendererIn && SUCCEEDED(graph->Connect(pin, rendererIn.Get()))) return true;
  // A decoder that offers only VIDEOINFOHEADER2: the adapter rewrites its headers.
  if (rendererIn &&
      (streamType.formattype == FORMAT_VideoInfo2 || OfferedFormat(pin) == FORMAT_VideoInfo2) &&
      SUCCEEDED(CoCreateInstance(CLSID_VxVideoHeaderAdapter, nullptr, CLSCTX_ALL, IID_IBaseFilter,
                                 adapter.AsVoidOut())) &&
      adapter && SUCCEEDED(graph->AddFilter(adapter.Get(), kHeaderAdapterName))) {
    const ComPtr<IPin> in = FirstPinOf(adapter.Get(), PINDIR_INPUT);
    const ComPtr<IPin> out = FirstPinOf(adapter.Get(), PINDIR_OUTPUT);
    const AM_MEDIA_TYPE* direct = streamType.formattype == FORMAT_VideoInfo2 ? &streamType : nullptr;
    if (in && out && SUCCEEDED(graph->ConnectDirect(pin, in.Get(), direct)) &&
        SUCCEEDED(graph->Connect(out.Get(), rendererIn.Get())))
      return true;
  }
  removeStage();
  return false;
}

std::vector<ComPtr<IDrawerHost>> DrawerHostsOf(IGraphBuilder* graph) {
  std::vector<ComPtr<IDrawerHost>> hosts;
  for (const ComPtr<IBaseFilter>& f : FiltersOf(graph))
    if (ComPtr<IDrawerHost> host = f.As<IDrawerHost>()) hosts.push_back(host);
  return hosts;
}

ComPtr<ISubtitleOverlay> OverlayOf(IDrawerHost* host) {
  ComPtr<IFrameDrawer> drawer;
  if (!host || FAILED(host->GetDrawer(drawer.ReleaseAndGetAddressOf())) || !drawer) return nullptr;
  return drawer.As<ISubtitleOverlay>();
}

// ---- the builder's live preview updates ------------------------------------------------------

bool FilterGraphBuilder::GetDrawerSnapshot(AM_MEDIA_TYPE* mediaType, LONG* size, BYTE** block, REFERENCE_TIME* start,
                                           REFERENCE_TIME* end) {
  const auto hosts = DrawerHostsOf(graph_.Get());
  if (hosts.empty()) return false;
  return hosts.front()->GetCurrentFrame(mediaType, size, block, start, end) == S_OK;
}

void FilterGraphBuilder::SetScreenFitOnDrawers(int fit) {
  HRChecker c;
  c.SetContext("Subtitle Drawer Object");
  for (auto& host : DrawerHostsOf(graph_.Get())) {
    if (ComPtr<ISubtitleOverlay> overlay = OverlayOf(host.Get())) {
      c.Check(overlay->SetFitMode(fit));
      c.Check(host->Repaint());
    }
  }
}

void FilterGraphBuilder::SetFrameSizeOnDrawers(int width, int height) {
  if (!graph_ || !(resizeOn_ || drawerOn_)) return;
  HRChecker c;
  c.SetContext("Subtitle Drawer Object");
  for (auto& host : DrawerHostsOf(graph_.Get())) {
    if (ComPtr<ISubtitleOverlay> overlay = OverlayOf(host.Get())) {
      c.Check(overlay->SetCanvasSize(width, height));
      c.Check(host->Repaint());
    }
  }
}

void FilterGraphBuilder::UpdateManagers(const std::string* file, const std::string* sizeId,
                                        const std::string* language) {
  if (!graph_) return;
  HRChecker c;
  c.SetContext("Subtitle Manager object");
  const BstrPtr fileText = file ? ToBstr(*file) : BstrPtr();
  const BstrPtr sizeText = sizeId ? ToBstr(*sizeId) : BstrPtr();
  const BstrPtr languageText = language ? ToBstr(*language) : BstrPtr();
  if ((file && !fileText) || (sizeId && !sizeText) || (language && !languageText)) c.Check(E_OUTOFMEMORY);
  auto apply = [&](ISubtitleManager* manager) {
    if (file) c.Check(manager->LoadFile(fileText.Get(), FALSE));
    if (sizeId) c.Check(manager->SelectSizeById(sizeText.Get()));
    if (language) c.Check(manager->SelectLanguageByCode(languageText.Get()));
  };

  for (const ComPtr<IBaseFilter>& f : FiltersOf(graph_.Get())) {
    ComPtr<IBurnInFilter> burnIn = f.As<IBurnInFilter>();
    if (!burnIn) continue;
    ComPtr<ISubtitleManager> manager;
    c.Check(burnIn->GetManager(manager.ReleaseAndGetAddressOf()));
    if (manager) apply(manager.Get());
  }
  for (auto& host : DrawerHostsOf(graph_.Get())) {
    ComPtr<ISubtitleOverlay> overlay = OverlayOf(host.Get());
    if (!overlay) continue;
    OverlayLock lock(overlay.Get());
    ComPtr<ISubtitleManager> manager;
    c.Check(overlay->GetManager(manager.ReleaseAndGetAddressOf()));
    if (!manager) {
      // A preview built without subtitles gets its manager when a file is chosen; selecting a
      // language or size needs a loaded file, so those leave such a drawer alone.
      if (!file) continue;
      c.Check(CoCreateInstance(CLSID_SubtitleManager, nullptr, CLSCTX_ALL, IID_ISubtitleManager,
                               manager.AsVoidOut()));
      c.CheckPointer(manager);
      c.Check(overlay->SetManager(manager.Get()));
    }
    apply(manager.Get());
    c.Check(host->Repaint());
  }
}

void FilterGraphBuilder::SetSubtitleParams(const std::string& file, const std::string& sizeId,
                                           const std::string& language) {
  subtitleFile_ = file;
  subtitleSize_ = sizeId;
  subtitleLanguage_ = language;
  UpdateManagers(&file, &sizeId, &language);
}

void FilterGraphBuilder::SetSubtitleLanguage(const std::string& language) {
  subtitleLanguage_ = language;
  UpdateManagers(nullptr, nullptr, &language);
}

void FilterGraphBuilder::SetSubtitleSize(const std::string& sizeId) {
  subtitleSize_ = sizeId;
  UpdateManagers(nullptr, &sizeId, nullptr);
}

void FilterGraphBuilder::EnableSubtitleDrawing(bool on) {
  if (!graph_) return;
  HRChecker c;
  c.SetContext("Subtitle Drawer Object");
  for (auto& host : DrawerHostsOf(graph_.Get())) {
    if (ComPtr<ISubtitleOverlay> overlay = OverlayOf(host.Get())) {
      c.Check(overlay->EnableSubtitles(on ? TRUE : FALSE));
      c.Check(host->Repaint());
    }
  }
}

}  // namespace tav
