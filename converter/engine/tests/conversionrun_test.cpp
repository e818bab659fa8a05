// The conversion run over real movies, with the platform's filters, the video kit and the
// exporter registered: how graph events end an entry (completion, errors, the tolerated end of
// stream of the MPEG-4 version 3 family), entries that cannot be opened, the removal of
// converted entries from the batch, and a document that stops the run itself.
#include <chrono>
#include <filesystem>
#include <fstream>

#include "converter/engine/tests/runfixture.h"
#include "libs/vxcamwriter/vxcamwriter.h"

namespace tav {
namespace {

// Records the hints; removes an entry on kRemoveConverted at once, as the batch list does.
struct BatchView : DocumentObserver {
  CTavrionConverterDoc* doc = nullptr;
  std::vector<std::pair<int, int>> counters;  // (current index, checked count) at each kCurrentChanged
  std::vector<std::string> removed;           // sources of the entries removed on kRemoveConverted
  int stopped = 0;
  void OnDocumentUpdate(DocumentHint hint, CConvertOrder* entry, const std::string*) override {
    if (hint == DocumentHint::kCurrentChanged) {
      int index = 0, count = 0;
      doc->GetFileCounters(&index, &count);
      counters.emplace_back(index, count);
    } else if (hint == DocumentHint::kRemoveConverted) {
      EXPECT_EQ(entry->GetState(), CConvertOrder::kConverted) << entry->SourcePath().Full();
      removed.push_back(entry->SourcePath().FileName());
      doc->RemoveOrder(entry);
    } else if (hint == DocumentHint::kRunStopped) {
      ++stopped;
    }
  }
};

class ConversionRunTest : public ConversionRunFixture {
 protected:
  ConversionRunTest() : ConversionRunFixture("run") {}
  void SetUp() override {
    ConversionRunFixture::SetUp();
    if (!doc_) return;
    view_.doc = doc_.get();
    doc_->AddObserver(&view_);
  }
  // A three-second 160 x 120 movie with MP3 sound; fourcc DIV3 (MPEG-4 version 3) or XVID.
  std::string Movie(const std::string& name, const std::string& fourcc) {
    const std::string path = dir_ + "/" + name;
    const std::string codec = fourcc == "DIV3" ? "msmpeg4" : "mpeg4";
    EXPECT_TRUE(tavtest::GeneratedMovie("-f lavfi -i testsrc=size=160x120:rate=15 -f lavfi -i sine=sample_rate=22050 "
                                        "-t 3 -c:v " + codec + " -vtag " + fourcc + " -c:a libmp3lame -ac 2",
                                        path));
    return path;
  }
  std::string NotAMovie(const std::string& name) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path) << "this is not a movie";
    return path;
  }
  // Raises an event in the running conversion graph, as a filter would.
  void Raise(LONG code, HRESULT hr) {
    auto sink = ComPtr<IGraphBuilder>(builder_->Graph()).As<IMediaEventSink>();
    ASSERT_TRUE(sink);
    ASSERT_EQ(sink->Notify(code, hr, 0), S_OK);
  }

  BatchView view_;
};

TEST_F(ConversionRunTest, ErrorEvents_EndTheEntry_ExceptTheToleratedEndOfMpeg4Version3) {
  doc_->SetRemoveAfterConversion(false);
  CConvertOrder* twoErrors = doc_->AddOrder(Movie("a.avi", "DIV3"));
  CConvertOrder* completes = doc_->AddOrder(Movie("b.avi", "DIV3"));
  CConvertOrder* tolerated = doc_->AddOrder(Movie("c.avi", "DIV3"));
  CConvertOrder* notDiv3 = doc_->AddOrder(Movie("d.avi", "XVID"));
  CConvertOrder* userAbort = doc_->AddOrder(Movie("e.avi", "DIV3"));

  run_->StartConversion(player_.get());
  ASSERT_TRUE(RunToTheEnd([&](CConvertOrder* e) {
    if (e == twoErrors) {
      // Both streams fail: the second error must not reach the next entry.
      Raise(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED);
      Raise(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED);
    } else if (e == tolerated || e == notDiv3) {
      Raise(EC_ERRORABORT, VFW_E_INVALID_FILE_FORMAT);
    } else if (e == userAbort) {
      // The right error, but an abort is no end of stream.
      Raise(EC_ERRORABORTEX, VFW_E_INVALID_FILE_FORMAT);
      Raise(EC_USERABORT, 0);
    }
  })) << "the run did not end";

  EXPECT_EQ(twoErrors->GetState(), CConvertOrder::kError);
  EXPECT_EQ(twoErrors->GetResultCode(), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_TRUE(twoErrors->IsChecked());
  EXPECT_EQ(completes->GetState(), CConvertOrder::kConverted) << completes->GetStatusText();
  EXPECT_FALSE(completes->IsChecked());
  EXPECT_GT(std::filesystem::file_size(dir_ + "/[QVF]-b.qvf"), 10000u);
  EXPECT_EQ(tolerated->GetState(), CConvertOrder::kConverted) << tolerated->GetStatusText();
  EXPECT_FALSE(tolerated->IsChecked());
  EXPECT_EQ(notDiv3->GetState(), CConvertOrder::kError);
  EXPECT_EQ(notDiv3->GetResultCode(), VFW_E_INVALID_FILE_FORMAT);
  EXPECT_NE(notDiv3->GetStatusText().find("(0x8004022F)"), std::string::npos) << notDiv3->GetStatusText();
  EXPECT_EQ(userAbort->GetState(), CConvertOrder::kError);
  EXPECT_TRUE(userAbort->IsChecked());
  EXPECT_EQ(view_.stopped, 1);
}

TEST_F(ConversionRunTest, EntriesThatCannotBeOpened_AreSkipped_AndOnlyConvertedOnesLeaveTheBatch) {
  doc_->SetRemoveAfterConversion(true);
  doc_->AddOrder(NotAMovie("first.avi"));
  doc_->AddOrder(Movie("a.avi", "XVID"));
  doc_->AddOrder(NotAMovie("second.avi"));
  doc_->AddOrder(Movie("c.avi", "XVID"));

  run_->StartConversion(player_.get());
  ASSERT_TRUE(RunToTheEnd([](CConvertOrder*) {})) << "the run did not end";

  // The first entry fails while the run starts, the third after the second converted; each
  // moves the file counter on. The run's end says "no current entry" once more.
  EXPECT_EQ(view_.counters,
            (std::vector<std::pair<int, int>>{{0, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4}, {4, 4}}));
  EXPECT_EQ(view_.removed, (std::vector<std::string>{"a.avi", "c.avi"}));
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/[QVF]-a.qvf"));
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/[QVF]-c.qvf"));
  ASSERT_EQ(doc_->GetCount(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const CConvertOrder* e = doc_->GetAt(i);
    EXPECT_EQ(e->GetState(), CConvertOrder::kError);
    EXPECT_TRUE(e->IsChecked());
    EXPECT_EQ(e->GetStatusText(), "Error: The file type is not recognised. (0x80040240)");
  }

  // The saved batch holds the entries that failed, still checked.
  CTavrionConverterDoc reloaded;
  reloaded.LoadFromBytes(doc_->SaveToBytes(dir_ + "/batch.tvc"), dir_ + "/batch.tvc");
  ASSERT_EQ(reloaded.GetCount(), 2u);
  EXPECT_EQ(reloaded.GetAt(0)->SourcePath().FileName(), "first.avi");
  EXPECT_EQ(reloaded.GetAt(1)->SourcePath().FileName(), "second.avi");
  EXPECT_TRUE(reloaded.GetAt(0)->IsChecked());
  EXPECT_TRUE(reloaded.GetAt(1)->IsChecked());
}

TEST_F(ConversionRunTest, SoundThatCannotBeDecoded_FailsTheEntry_NoSoundAtAllConverts) {
  doc_->SetRemoveAfterConversion(false);
  // PCM sound whose format tag nobody knows.
  const std::string odd = dir_ + "/odd.avi", silent = dir_ + "/silent.avi";
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=15 -f lavfi "
                         "-i sine=sample_rate=22050 -t 1 -c:v mpeg4 -c:a pcm_s16le '" + odd + "'"),
            0);
  {
    std::fstream f(odd, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const size_t strf = bytes.find("strf", bytes.find("strf") + 4);
    ASSERT_NE(strf, std::string::npos);
    ASSERT_EQ(bytes.substr(strf + 8, 2), std::string("\x01\x00", 2));
    f.seekp(std::streamoff(strf + 8));
    f.write("\x34\x12", 2);
  }
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=15 -t 1 "
                         "-c:v mpeg4 -an '" + silent + "'"),
            0);
  CConvertOrder* undecodable = doc_->AddOrder(odd);
  CConvertOrder* quiet = doc_->AddOrder(silent);
  run_->StartConversion(player_.get());
  ASSERT_TRUE(RunToTheEnd([](CConvertOrder*) {})) << "the run did not end";
  EXPECT_EQ(undecodable->GetState(), CConvertOrder::kError);
  EXPECT_EQ(undecodable->GetResultCode(), VFW_E_UNSUPPORTED_AUDIO);
  EXPECT_EQ(quiet->GetState(), CConvertOrder::kConverted) << quiet->GetStatusText();
}

TEST_F(ConversionRunTest, FileTimesStartWithEachEntry_TotalTimesWithTheRun_PausesCountForNeither) {
  DWORD now = 1000;
  run_ = std::make_unique<ConversionRun>(*doc_, *builder_, [&now] { return now; });
  run_->SetLivePreview(false);
  doc_->SetRemoveAfterConversion(false);
  CConvertOrder* first = doc_->AddOrder(Movie("a.avi", "XVID"));
  doc_->AddOrder(Movie("b.avi", "XVID"));
  LONGLONG fileElapsed = -1, totalElapsed = -1, remaining = 0;
  run_->StartConversion(player_.get());
  ASSERT_TRUE(RunToTheEnd([&](CConvertOrder* e) {
    if (e == first) {
      now += 4000;  // the first entry takes four seconds
      return;
    }
    now += 1000;
    run_->SetPaused(true);
    now += 60000;
    run_->SetPaused(false);
    run_->GetFileTimes(&fileElapsed, &remaining);
    run_->GetTotalTimes(&totalElapsed, &remaining);
  })) << "the run did not end";
  EXPECT_EQ(fileElapsed, 1000 * 10000LL);
  EXPECT_EQ(totalElapsed, 5000 * 10000LL);
}

TEST_F(ConversionRunTest, ClearingTheDocument_EndsTheRunFirst) {
  CConvertOrder* entry = doc_->AddOrder(Movie("a.avi", "XVID"));
  run_->StartConversion(player_.get());
  ASSERT_EQ(run_->GetCurrent(), entry);
  bool interrupted = false;
  struct Watch : DocumentObserver {
    CConvertOrder* entry;
    bool* interrupted;
    void OnDocumentUpdate(DocumentHint hint, CConvertOrder* e, const std::string*) override {
      if (hint == DocumentHint::kEntryStateChanged && e == entry && e->GetState() == CConvertOrder::kInterrupted)
        *interrupted = true;
    }
  } watch;
  watch.entry = entry;
  watch.interrupted = &interrupted;
  doc_->AddObserver(&watch);

  doc_->OnNewDocument();
  doc_->RemoveObserver(&watch);
  EXPECT_TRUE(interrupted) << "the entry was not interrupted before it went";
  EXPECT_EQ(doc_->GetCount(), 0u);
  EXPECT_FALSE(run_->IsConverting());
  EXPECT_EQ(run_->GetCurrent(), nullptr);
  EXPECT_FALSE(player_->IsAttached());
  ComPtr<IEnumFilters> filters;
  ASSERT_EQ(builder_->Graph()->EnumFilters(&filters), S_OK);
  ComPtr<IBaseFilter> any;
  EXPECT_NE(filters->Next(1, &any, nullptr), S_OK) << "the conversion graph is still built";
  EXPECT_EQ(view_.stopped, 1);
  // The partial movie stays.
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/[QVF]-a.qvf"));
  // Whatever the stopped graph still posts reaches nobody: a window for a late message to
  // arrive and find a run that is gone.
  Pump(300);
}

}  // namespace
}  // namespace tav

namespace tav {

// The file's progress never reads finished while its entry runs, even when the movie goes on
// past the file's announced length (here its last picture is held for two more seconds of
// sound); an exporter that finds the times damaged fails the entry and says so.
TEST_F(ConversionRunTest, ARunningEntryNeverReadsFinished_DamagedTimesSayWhy) {
  doc_->SetRemoveAfterConversion(false);
  const std::string longSound = dir_ + "/long-sound.avi";
  ASSERT_TRUE(tavtest::GeneratedMovie("-f lavfi -i testsrc=size=160x120:rate=15:d=1 -f lavfi -i sine=sample_rate=22050:d=3 "
                                      "-c:v mpeg4 -c:a pcm_s16le",
                                      longSound));
  CConvertOrder* held = doc_->AddOrder(longSound);
  CConvertOrder* damaged = doc_->AddOrder(Movie("damaged.avi", "XVID"));
  run_->StartConversion(player_.get());
  LONG highest = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  bool raised = false;
  while (run_->IsConverting() && std::chrono::steady_clock::now() < end) {
    if (run_->GetCurrent() == held && held->GetState() == CConvertOrder::kConverting)
      highest = std::max(highest, run_->MapFileProgress(0, 100));
    if (run_->GetCurrent() == damaged && damaged->GetState() == CConvertOrder::kConverting && !raised) {
      Raise(EC_ERRORABORT, TAV_E_DAMAGED_TIMES);
      raised = true;
    }
    Pump(5);
  }
  ASSERT_FALSE(run_->IsConverting()) << "the run did not end";
  EXPECT_EQ(held->GetState(), CConvertOrder::kConverted) << held->GetStatusText();
  EXPECT_GT(highest, 0);
  EXPECT_LT(highest, 100);
  EXPECT_EQ(damaged->GetState(), CConvertOrder::kError);
  EXPECT_NE(damaged->GetStatusText().find("time stamps are damaged"), std::string::npos) << damaged->GetStatusText();
}

}  // namespace tav
