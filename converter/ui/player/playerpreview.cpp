// The player's preview side: the still picture with its subtitles and the live settings.
// Both reach into the preview builder's subtitle drawers and the entry's overlay set-up.
#include <QPainter>
#include <cstdlib>

#include "converter/engine/convertorder.h"
#include "converter/engine/filtergraphbuilder.h"
#include "converter/engine/hrchecker.h"
#include "converter/ui/player/playerwnd.h"
#include "converter/ui/player/stillimage.h"
#include "libs/captionpainter/captionpainter.h"
#include "media/contract/com.h"
#include "media/contract/comptr.h"
#include "media/contract/wingdi.h"

namespace tav::ui {

namespace {

// The entry's snapshot drawn by a subtitle drawer set up for the entry (frame size, fit,
// captions), into an image of the given size; a null image when any step fails.
QImage ComposeStill(CConvertOrder& entry, const QSize& size) {
  CConvertOrder::PreviewSnapshot& snapshot = entry.Snapshot();
  ComPtr<IFrameDrawer> drawer;
  if (FAILED(CoCreateInstance(CLSID_SubtitleDrawer, nullptr, CLSCTX_INPROC_SERVER, &drawer)) || !drawer)
    return QImage();
  // The drawer places the frame as a renderer would have it: the whole frame as the source,
  // the picture's size as the target; the entry then sets canvas, fit and captions.
  const VIDEOINFOHEADER* frame = snapshot.mediaType.FormatAs<VIDEOINFOHEADER>();
  if (!frame) return QImage();
  const RECT source{0, 0, frame->bmiHeader.biWidth, std::abs(frame->bmiHeader.biHeight)};
  const RECT target{0, 0, size.width(), size.height()};
  if (FAILED(drawer->SetSourceRect(&source)) || FAILED(drawer->SetTargetRect(&target))) return QImage();
  try {
    entry.ConfigureOverlay(drawer.Get());
  } catch (const HRChecker&) {
    return QImage();
  }

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = size.width();
  info.bmiHeader.biHeight = -size.height();  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* pixels = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  const tav::GdiObjectPtr<HBITMAP> bitmap(dc ? CreateDIBSection(dc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0)
                                             : nullptr);
  QImage image;
  if (bitmap && pixels) {
    HGDIOBJ old = SelectObject(dc, bitmap.Get());
    AM_MEDIA_TYPE type{};
    type.majortype = snapshot.mediaType.majortype;
    type.subtype = snapshot.mediaType.subtype;
    type.formattype = snapshot.mediaType.formattype;
    type.lSampleSize = snapshot.mediaType.lSampleSize;
    type.cbFormat = ULONG(snapshot.mediaType.format.size());
    type.pbFormat = snapshot.mediaType.format.data();
    drawer->NotifyMediaType(&type);
    if (SUCCEEDED(drawer->DrawFrame(dc, &target, &type, nullptr, static_cast<const BYTE*>(snapshot.block.get()),
                                    snapshot.first))) {
      image = QImage(static_cast<const uchar*>(pixels), size.width(), size.height(), size.width() * 4,
                     QImage::Format_RGB32)
                  .copy();
    }
    SelectObject(dc, old);
  }
  if (dc) DeleteDC(dc);
  return image;
}

// Runs one checked call of the builder; its failure's result code, or S_OK.
template <typename F>
HRESULT Checked(F call) {
  try {
    call();
  } catch (const HRChecker& failure) {
    return failure.GetHr();
  }
  return S_OK;
}

}  // namespace

void CPlayerWnd::ShowStill(CConvertOrder* entry, int width, int height) {
  const QSize size(width > 0 ? width : kDefaultWidth, height > 0 ? height : kDefaultHeight);
  if (entry == stillEntry_ && size == stillSize_ && (entry != nullptr) == !still_.isNull()) return;
  stillEntry_ = entry;
  stillSize_ = size;
  RenderStill();
  ClampPan();
  update();
  UpdateViewState();
}

void CPlayerWnd::RefreshPausedPicture() {
  // Only a preview's paused graph: a running one shows the change with its next frame, and
  // a conversion's graph is not the player's to seek.
  if (!builder_ || core_.GetState() != PlayerCore::kPaused) return;
  REFERENCE_TIME position = 0, duration = 0, end = 0;
  if (FAILED(core_.GetPosition(&position))) return;
  // At the end of the movie or of the trim range there is no picture left to fetch; the
  // drawers' repaint stands.
  if (SUCCEEDED(core_.GetDuration(&duration)) && position >= duration) return;
  if (core_.GetPoints(nullptr, &end) && position >= end) return;
  core_.Seek(position);
}

void CPlayerWnd::RenderStill() {
  still_ = QImage();
  if (!stillEntry_) return;
  CConvertOrder::PreviewSnapshot& snapshot = stillEntry_->Snapshot();
  if (!snapshot.block) return;
  QImage frame = FrameImage(snapshot.mediaType, snapshot.block.get(), snapshot.value);
  if (frame.isNull()) return;
  // With its captions when the subtitle drawer can compose it; else the bare frame.
  QImage composed = ComposeStill(*stillEntry_, stillSize_);
  still_ = composed.isNull() ? frame : composed;
}

HRESULT CPlayerWnd::ChangeDrawing(const std::function<void(FilterGraphBuilder&)>& change) {
  HRESULT hr = builder_ ? Checked([&] { change(*builder_); }) : S_OK;
  if (stillEntry_) RenderStill(), update();
  if (SUCCEEDED(hr)) RefreshPausedPicture();
  return hr;
}

HRESULT CPlayerWnd::SetFrameSize(int width, int height) {
  return ChangeDrawing([&](FilterGraphBuilder& b) { b.SetFrameSizeOnDrawers(width, height); });
}

HRESULT CPlayerWnd::SetScreenFit(int mode) {
  return ChangeDrawing([&](FilterGraphBuilder& b) { b.SetScreenFitOnFilters(mode); });
}

HRESULT CPlayerWnd::SetSubtitles(const std::string& file, const std::string& language, const std::string& sizeId) {
  return ChangeDrawing([&](FilterGraphBuilder& b) { b.SetSubtitleParams(file, sizeId, language); });
}

HRESULT CPlayerWnd::SetSubtitleLanguage(const std::string& language) {
  return ChangeDrawing([&](FilterGraphBuilder& b) { b.SetSubtitleLanguage(language); });
}

HRESULT CPlayerWnd::SetSubtitleSize(const std::string& sizeId) {
  return ChangeDrawing([&](FilterGraphBuilder& b) { b.SetSubtitleSize(sizeId); });
}

HRESULT CPlayerWnd::EnableSubtitles(bool on) {
  return ChangeDrawing([&](FilterGraphBuilder& b) { b.EnableSubtitleDrawing(on); });
}

}  // namespace tav::ui
