#include "converter/ui/form/backgroundprober.h"

#include <QMetaObject>

#include "converter/engine/convertorder.h"
#include "converter/engine/filtergraphbuilder.h"
#include "converter/engine/framesize.h"
#include "converter/engine/graphwalk.h"
#include "converter/engine/hrchecker.h"
#include "media/contract/com.h"
#include "media/contract/videoinfo.h"

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

}  // namespace

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

// What a conversion graph up to the decoded picture says about the movie, as the command
// line probes.
ProbeResult ProbeMovie(FilterGraphBuilder& builder, const void* token, const std::string& path) {
  ProbeResult r;
  r.token = token;
  r.path = path;
  HRESULT problem = S_OK;
  if (!MovieFileProblem(path, &problem).empty()) {
    r.hr = FAILED(problem) ? problem : E_FAIL;
    return r;
  }
  try {
    builder.SetConversionMode(true);
    builder.SetResize(false, kSmallFrame.width, kSmallFrame.height, 2);
    builder.SetFrameRate(false, 30.0);
    builder.SetBurnIn(false);
    builder.SetSubtitles(false, "", "", "");
    builder.SetWantedMajorType(MEDIATYPE_Video);
    builder.AddSourceAndRender(path);
    builder.SetWantedMajorType(GUID_NULL);
    builder.FinishGraph(false);
    LONGLONG duration = 0;
    builder.Seeking()->GetDuration(&duration);
    DWORD caps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
                 AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;
    r.seekable = builder.Seeking()->CheckCapabilities(&caps) == S_OK;
    r.duration = duration;
    r.width = r.storedWidth = kSmallFrame.width;
    r.height = r.storedHeight = kSmallFrame.height;
    if (!PictureSizes(builder.Graph(), &r.storedWidth, &r.storedHeight, &r.width, &r.height))
      builder.FindVideoSize(true, &r.width, &r.height);
  } catch (const HRChecker& failure) {
    r.hr = failure.GetHr();
    r.failedType = failure.GetMediaType();
    r.context = failure.GetContext();
  }
  builder.SetWantedMajorType(GUID_NULL);
  builder.Clear();
  return r;
}

CBackgroundProber::CBackgroundProber(std::function<void(const ProbeResult&)> done, QObject* parent)
    : QObject(parent), done_(std::move(done)) {
  worker_ = std::thread([this] { Work(); });
}

CBackgroundProber::~CBackgroundProber() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    queue_.clear();
  }
  wake_.notify_all();
  worker_.join();
}

void CBackgroundProber::Probe(const void* token, const std::string& path) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.emplace_back(token, path);
  }
  wake_.notify_one();
}

void CBackgroundProber::Forget(const void* token) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(queue_, [token](const auto& job) { return job.first == token; });
}

size_t CBackgroundProber::Pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size() + busy_;
}

void CBackgroundProber::Work() {
  CoInitialize(nullptr);
  {
    FilterGraphBuilder builder;
    const bool ready = SUCCEEDED(builder.Init());
    for (;;) {
      std::pair<const void*, std::string> job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (stop_) break;
        job = std::move(queue_.front());
        queue_.pop_front();
        ++busy_;
      }
      ProbeResult r;
      if (ready) {
        r = ProbeMovie(builder, job.first, job.second);
      } else {
        r.token = job.first;
        r.path = job.second;
        r.hr = E_FAIL;
      }
      // Delivered on the GUI thread; dropped with this object if it goes first.
      QMetaObject::invokeMethod(
          this,
          [this, r] {
            {
              std::lock_guard<std::mutex> lock(mutex_);
              --busy_;
            }
            if (done_) done_(r);
          },
          Qt::QueuedConnection);
    }
  }
  CoUninitialize();
}

}  // namespace tav
