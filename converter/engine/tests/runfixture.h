// The conversion run over real movies, as the run tests set it up: the platform's filters, the
// video kit and the exporter registered in the test's private registry, a document, a builder
// with the conversion's sound target, a player and the run itself without live preview.
#pragma once

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "converter/engine/conversionrun.h"
#include "tests/support/moviegraphtest.h"
#include "tests/support/testenv.h"

namespace tav {

// Waits up to 20 ms for a message to this thread, then dispatches every queued one.
inline void DispatchQueuedMessages() {
  MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  MSG msg;
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
}

class ConversionRunFixture : public tavtest::MovieGraphTest {
 protected:
  // folder names the fresh temporary folder (dir_) the test's movies go into.
  explicit ConversionRunFixture(std::string folder)
      : MovieGraphTest({"tavrionfilters", "vxvideokit", "vxcamwriter"}), folder_(std::move(folder)) {}

  void SetUp() override {
    MovieGraphTest::SetUp();
    if (!Ready()) return;
    doc_ = std::make_unique<CTavrionConverterDoc>();
    builder_ = std::make_unique<FilterGraphBuilder>();
    ASSERT_EQ(builder_->Init(), S_OK);
    builder_->SetAudioTarget(CTavrionConverterDoc::ConversionAudioTarget());
    player_ = std::make_unique<PlayerCore>();
    run_ = std::make_unique<ConversionRun>(*doc_, *builder_);
    run_->SetLivePreview(false);
    dir_ = tavtest::MakeTempSubdir(folder_);
  }
  void TearDown() override {
    if (!doc_) return;  // skipped before anything was made
    run_.reset();
    player_.reset();
    doc_.reset();
    builder_.reset();
    GraphTest::TearDown();
  }

  // Dispatches this thread's messages (the graph's events) while the run goes on; each time
  // an entry has started converting, act(entry) runs once for it. False on the time-out.
  template <typename F>
  bool RunToTheEnd(F act, int timeoutMs = 60000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::set<CConvertOrder*> seen;
    while (run_->IsConverting()) {
      CConvertOrder* current = run_->GetCurrent();
      if (current && current->GetState() == CConvertOrder::kConverting && seen.insert(current).second) act(current);
      if (std::chrono::steady_clock::now() > end) return false;
      DispatchQueuedMessages();
    }
    return true;
  }
  // Dispatches this thread's messages for a while.
  static void Pump(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) DispatchQueuedMessages();
  }

  std::unique_ptr<CTavrionConverterDoc> doc_;
  std::unique_ptr<FilterGraphBuilder> builder_;
  std::unique_ptr<PlayerCore> player_;
  std::unique_ptr<ConversionRun> run_;
  std::string dir_;

 private:
  std::string folder_;
};

}  // namespace tav
