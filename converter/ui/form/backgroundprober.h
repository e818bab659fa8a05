// CBackgroundProber: finds out what the batch list shows of a movie (duration, picture size,
// whether it can seek, or why it cannot be read) on a thread of its own, so that adding many
// movies never holds up the window. Results come back on the GUI thread, in the order the
// movies were given, through the callback; a token names the entry a result is for (the
// receiver checks that the entry is still there and still has that source).
#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "converter/engine/mediatype.h"
#include "media/contract/wintypes.h"

namespace tav {

struct ProbeResult {
  const void* token = nullptr;
  std::string path;
  HRESULT hr = S_OK;              // S_OK: the facts below hold
  MediaTypeValue failedType;      // the stream no decoder took, on failure
  std::string context;            // what was missing when a class is not registered
  REFERENCE_TIME duration = 0;
  int width = 0, height = 0;              // as shown
  int storedWidth = 0, storedHeight = 0;  // as stored
  bool seekable = false;
};

class FilterGraphBuilder;

// Probes one movie with builder (cleared afterwards), on whichever thread calls it.
ProbeResult ProbeMovie(FilterGraphBuilder& builder, const void* token, const std::string& path);

class CBackgroundProber : public QObject {
  Q_OBJECT

 public:
  explicit CBackgroundProber(std::function<void(const ProbeResult&)> done, QObject* parent = nullptr);
  // Movies not probed yet are dropped; the one being probed is finished first.
  ~CBackgroundProber() override;

  void Probe(const void* token, const std::string& path);
  // Drops the movies of token not probed yet (the entry was removed).
  void Forget(const void* token);
  // Movies waiting or being probed.
  size_t Pending() const;

 private:
  void Work();

  std::function<void(const ProbeResult&)> done_;  // called on the GUI thread only
  // Guards the queue and the counters the GUI thread and the worker share.
  mutable std::mutex mutex_;
  // Signalled by Probe (a movie queued) and the destructor (stop); the worker waits on it.
  std::condition_variable wake_;
  std::deque<std::pair<const void*, std::string>> queue_;  // guarded by mutex_
  size_t busy_ = 0;    // probed but not delivered yet; guarded by mutex_
  bool stop_ = false;  // guarded by mutex_
  std::thread worker_;
};

}  // namespace tav
