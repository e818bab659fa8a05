#include "converter/ui/form/backgroundprober.h"

#include <QMetaObject>

#include "converter/engine/convertorder.h"
#include "converter/engine/filtergraphbuilder.h"
#include "converter/engine/framesize.h"
#include "converter/engine/hrchecker.h"
#include "converter/engine/previewgraph.h"
#include "media/contract/com.h"

namespace tav {

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
    const ProbedLength probed = BuildProbeGraph(builder, path);
    r.duration = probed.duration;
    r.seekable = probed.seekable;
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
