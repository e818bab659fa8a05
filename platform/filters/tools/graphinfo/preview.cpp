#include "platform/filters/tools/graphinfo/preview.h"
#include "platform/filters/tools/graphinfo/hresulttext.h"

#include <cairo.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "converter/engine/drawerstage.h"
#include "converter/engine/filtergraphbuilder.h"
#include "media/contract/codepage.h"
#include "media/contract/com.h"
#include "media/contract/errortext.h"
#include "media/contract/uuids.h"
#include "media/contract/wingdi.h"

namespace {

constexpr LONG kPauseTimeoutMs = 20000;

// Writes a 32-bit section's pixels (either row order) as an opaque RGB PNG.
bool WritePng(HBITMAP surface, const std::string& path) {
  DIBSECTION ds{};
  if (!surface || GetObject(surface, sizeof ds, &ds) != int(sizeof ds) || !ds.dsBm.bmBits || ds.dsBm.bmBitsPixel != 32)
    return false;
  const int w = ds.dsBm.bmWidth, h = ds.dsBm.bmHeight;
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) return false;
  cairo_surface_flush(image);
  unsigned char* out = cairo_image_surface_get_data(image);
  const int outStride = cairo_image_surface_get_stride(image);
  const bool bottomUp = ds.dsBmih.biHeight > 0;
  const auto* in = static_cast<const unsigned char*>(ds.dsBm.bmBits);
  for (int y = 0; y < h; ++y) {
    const unsigned char* row = in + size_t(bottomUp ? h - 1 - y : y) * size_t(ds.dsBm.bmWidthBytes);
    std::memcpy(out + size_t(y) * size_t(outStride), row, size_t(w) * 4);  // both 0x00RRGGBB words
  }
  cairo_surface_mark_dirty(image);
  const bool ok = cairo_surface_write_to_png(image, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(image);
  return ok;
}

}  // namespace

bool ParseFrameSize(const char* text, int* width, int* height) {
  int w = 0, h = 0;
  char tail = 0;
  if (std::sscanf(text, "%dx%d%c", &w, &h, &tail) != 2 || w <= 0 || h <= 0 || w > 4096 || h > 4096) return false;
  *width = w;
  *height = h;
  return true;
}

int ParseFitMode(const char* text) {
  if (!std::strcmp(text, "stretch") || !std::strcmp(text, "0")) return 0;
  if (!std::strcmp(text, "centre") || !std::strcmp(text, "center") || !std::strcmp(text, "1")) return 1;
  if (!std::strcmp(text, "fit") || !std::strcmp(text, "2")) return 2;
  if (!std::strcmp(text, "crop") || !std::strcmp(text, "3")) return 3;
  return -1;
}

std::string ParseCaptionSize(const char* text) {
  if (!std::strcmp(text, "standard")) return "A551CAEA-E6D4-4e47-8422-9128EEEE0D46";
  if (!std::strcmp(text, "bigger")) return "9F0194EA-D60A-43d2-B994-CB0FDDE02C3E";
  if (!std::strcmp(text, "smaller")) return "30174FFF-6773-425b-BB87-BA5038C9EF4A";
  return std::string();
}

int RunPreview(const PreviewOptions& o) {
  tav::FilterGraphBuilder builder;
  if (FAILED(builder.Init())) {
    std::fprintf(stderr, "graphinfo: cannot make a graph\n");
    return 1;
  }
  // Only the picture matters here; the preview's frame rate, resizing and drawer are the form's.
  builder.SetWantedMajorType(MEDIATYPE_Video);
  builder.SetFrameRate(true, 15.0);
  builder.SetResize(true, o.width, o.height, o.fit);
  builder.SetDrawer(true, o.width, o.height, o.fit);
  builder.SetSubtitles(!o.subtitles.empty(), o.subtitles, o.sizeId, o.language);
  try {
    const HRESULT hr = builder.AddSourceAndRender(o.file);
    if (FAILED(hr)) {
      std::fprintf(stderr, "graphinfo: %s: %s\n", o.file.c_str(), graphinfo::HresultText(hr).c_str());
      return 1;
    }
  } catch (const tav::HRChecker& e) {
    std::fprintf(stderr, "graphinfo: %s: %s while making \"%s\"\n", o.file.c_str(), graphinfo::HresultText(e.GetHr()).c_str(),
                 e.GetContext().c_str());
    return 1;
  }
  ComPtr<IGraphBuilder> graph(builder.Graph());
  auto hosts = tav::DrawerHostsOf(graph.Get());
  if (hosts.empty()) {
    std::fprintf(stderr, "graphinfo: %s: the preview has no subtitle renderer\n", o.file.c_str());
    return 1;
  }
  // The window shows the canvas 1:1.
  if (ComPtr<IVideoWindow> window = hosts.front().As<IVideoWindow>()) window->SetWindowPosition(0, 0, o.width, o.height);
  if (o.seekSeconds > 0 && builder.Seeking()) {
    LONGLONG at = LONGLONG(o.seekSeconds * 1e7);
    builder.Seeking()->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
  }
  ComPtr<IMediaControl> control = graph.As<IMediaControl>();
  HRESULT hr = control->Pause();
  OAFilterState state = 0;
  if (SUCCEEDED(hr)) hr = control->GetState(kPauseTimeoutMs, &state);
  if (hr != S_OK) {
    std::fprintf(stderr, "graphinfo: %s: the preview did not pause: %s\n", o.file.c_str(), graphinfo::HresultText(hr).c_str());
    control->Stop();
    return 1;
  }
  hosts.front()->Repaint();

  int width = 0, height = 0;
  builder.FindVideoSize(false, &width, &height);
  std::printf("preview %s: %dx%d, fit %d, %s\n", o.file.c_str(), width, height, o.fit,
              o.subtitles.empty() ? "no subtitles" : ("subtitles " + o.subtitles + " (" + o.language + ")").c_str());
  ComPtr<IEnumFilters> filters;
  if (SUCCEEDED(graph->EnumFilters(&filters)) && filters) {
    ComPtr<IBaseFilter> f;
    std::vector<std::string> names;
    while (filters->Next(1, f.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
      FILTER_INFO info{};
      f->QueryFilterInfo(&info);
      const auto graphRef = ComPtr<IFilterGraph>::Adopt(info.pGraph);  // the reference the call handed out
      names.push_back(tav::Utf16ToUtf8(info.achName));
    }
    for (auto it = names.rbegin(); it != names.rend(); ++it) std::printf("  %s\n", it->c_str());
  }

  int status = 0;
  if (!o.snapshot.empty()) {
    ComPtr<IRendererWindow> window = hosts.front().As<IRendererWindow>();
    HWND hwnd = nullptr;
    if (window) window->GetWindowHandle(&hwnd);
    if (!hwnd || !WritePng(tav::GetWindowSurface(hwnd), o.snapshot)) {
      std::fprintf(stderr, "graphinfo: cannot write %s\n", o.snapshot.c_str());
      status = 1;
    } else {
      std::printf("snapshot %s\n", o.snapshot.c_str());
    }
  }
  control->Stop();
  return status;
}
