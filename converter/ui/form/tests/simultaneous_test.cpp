// Simultaneous conversions in the window: with two at once the first two rows convert
// together, each showing its own progress, and the movies come out as one at a time makes
// them; Pause stops both workers, Break interrupts both and keeps their movies, and Convert
// then goes on with each where it stopped. The preferences behind it persist.
#include <dirent.h>
#include <unistd.h>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "converter/engine/conversionrun.h"
#include "converter/engine/recovery.h"
#include "converter/ui/app/preferences.h"
#include "converter/ui/app/preferencesdlg.h"
#include "converter/ui/batchlist/convertordermodel.h"
#include "converter/ui/controls/profile.h"
#include "converter/ui/form/runwatcher.h"
#include "converter/ui/form/tests/formfixture.h"
#include "tests/support/testenv.h"
#include "ui_preferencesdlg.h"
#include "ui_tavrionconverterview.h"

namespace tav::formtest {
namespace {

namespace fs = std::filesystem;
using ui::CConvertOrderModel;

// The converter processes this test started (the run's workers), with their states as the
// kernel tells them ('T': stopped).
std::vector<char> WorkerStates() {
  std::vector<char> states;
  DIR* proc = opendir("/proc");
  if (!proc) return states;
  while (dirent* d = readdir(proc)) {
    const std::string name = d->d_name;
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in("/proc/" + name + "/stat");
    std::string line;
    if (!std::getline(in, line)) continue;
    const size_t open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    char state = 0;
    long ppid = 0;
    rest >> state >> ppid;
    if (ppid == long(getpid()) && line.substr(open + 1, close - open - 1) == "tavrion-convert" && state != 'Z')
      states.push_back(state);
  }
  closedir(proc);
  return states;
}

long FrameCount(const std::string& movie) {
  int status = 0;
  const std::string out = tavtest::Capture(
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
      "stream=nb_read_frames -of default=nw=1:nk=1 '" +
          movie + "'",
      &status);
  return status == 0 && !out.empty() ? std::stol(out) : -1;
}

class SimultaneousTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ui::SetProfilePath(tavtest::MakeTempSubdir("profile") + "/tavrion-converter.ini");
    SetWorkerProgram(tavtest::ProgramPath("tavrion-convert"));
    doc_->SetRemoveAfterConversion(false);
  }
  void TearDown() override {
    FormTest::TearDown();
    SetWorkerProgram(std::string());
    ui::SetProfilePath(std::string());
  }

  static void SetSimultaneous(int n) {
    ui::Preferences p = ui::Preferences::Load();
    p.simultaneous = n;
    p.Save();
  }
  CConvertOrderModel* Model() const { return view_->List()->Model(); }
  int RowProgress(int row) const {
    return Model()
        ->data(Model()->index(row, CConvertOrderModel::kStatusColumn), CConvertOrderModel::kProgressRole)
        .toInt();
  }
  std::string RowStatus(int row) const {
    return Model()
        ->data(Model()->index(row, CConvertOrderModel::kStatusColumn), Qt::DisplayRole)
        .toString()
        .toStdString();
  }
  // Each entry's status, for a failure's message.
  std::string Statuses() const {
    std::string text;
    for (size_t i = 0; i < doc_->GetCount(); ++i) text += "\n" + doc_->GetAt(i)->GetStatusText();
    return text;
  }
  void CheckAll() {
    for (size_t i = 0; i < doc_->GetCount(); ++i) doc_->GetAt(i)->SetChecked(true);
    view_->List()->RefreshAll();
  }
};

TEST_F(SimultaneousTest, TwoAtOnce_FirstTwoRowsRunTogether_AndTheMoviesMatchOneAtATime) {
  if (QThread::idealThreadCount() < 2) GTEST_SKIP() << "one core: one conversion at a time";
  SetSimultaneous(2);
  // Long and big enough that both are seen under way on a loaded machine: the window reads
  // what the workers said between two looks all at once.
  AddThroughDialog({Movie("first.avi", 40, 640, 480), Movie("second.avi", 40, 640, 480), Movie("third.avi", 2)});
  ASSERT_EQ(doc_->GetCount(), 3u);
  view_->Actions().convert->trigger();
  ASSERT_TRUE(doc_->IsConverting());
  ASSERT_TRUE(view_->Run()->IsSimultaneous());
  EXPECT_EQ(RowProgress(2), -1) << "the third waits for a free worker";

  // Both first rows under way at the same moment, each with its own bar; the total counts
  // both of them.
  bool together = false;
  ASSERT_TRUE(Eventually(
      [&] {
        together = RowProgress(0) > 0 && RowProgress(1) > 0;
        return together || !doc_->IsConverting();
      },
      120000));
  ASSERT_TRUE(together) << "the run ended before both rows showed progress" << Statuses();
  {
    const LONGLONG sizes[3] = {doc_->GetAt(0)->GetFileSize(), doc_->GetAt(1)->GetFileSize(),
                               doc_->GetAt(2)->GetFileSize()};
    const double expected = (double(sizes[0]) * RowProgress(0) + double(sizes[1]) * RowProgress(1)) /
                            double(sizes[0] + sizes[1] + sizes[2]);
    EXPECT_NEAR(view_->Run()->MapTotalProgress(0, 100), expected, 1.5);
    EXPECT_EQ(WorkerStates().size(), 2u);
  }
  // The status line numbers both running files, as the rows do.
  EXPECT_TRUE(Eventually(
      [&] {
        return view_->Form()->totalStatusLabel->text() == "Converting file #1-2 from 3" ||
               RowProgress(0) < 0 || RowProgress(1) < 0;
      },
      10000))
      << view_->Form()->totalStatusLabel->text().toStdString();
  ASSERT_TRUE(Eventually([&] { return !doc_->IsConverting(); }, 240000));
  std::vector<std::string> outputs;
  for (size_t i = 0; i < 3; ++i) {
    CConvertOrder* e = doc_->GetAt(i);
    EXPECT_EQ(e->GetState(), CConvertOrder::kConverted) << e->SourcePath().Full() << ": " << e->GetStatusText();
    EXPECT_EQ(RowProgress(int(i)), -1);
    outputs.push_back(e->OutputPath().Full());
    EXPECT_TRUE(fs::exists(outputs.back())) << outputs.back();
  }
  EXPECT_TRUE(Eventually([] { return WorkerStates().empty(); }, 10000)) << "workers outlived the run";

  // The same batch one at a time, into new names: the same frames.
  SetSimultaneous(1);
  CheckAll();
  view_->Actions().convert->trigger();
  ASSERT_TRUE(doc_->IsConverting());
  EXPECT_FALSE(view_->Run()->IsSimultaneous());
  // One at a time, the converting row shows its progress too, and only that row.
  bool rowShown = false;
  ASSERT_TRUE(Eventually(
      [&] {
        rowShown = RowProgress(0) > 0 && RowProgress(1) == -1 && RowProgress(2) == -1;
        return rowShown || !doc_->IsConverting();
      },
      120000));
  EXPECT_TRUE(rowShown) << Statuses();
  ASSERT_TRUE(Eventually([&] { return !doc_->IsConverting(); }, 240000));
  for (size_t i = 0; i < 3; ++i) {
    CConvertOrder* e = doc_->GetAt(i);
    ASSERT_EQ(e->GetState(), CConvertOrder::kConverted) << e->GetStatusText();
    ASSERT_NE(e->OutputPath().Full(), outputs[i]);
    const long frames = FrameCount(outputs[i]);
    EXPECT_GT(frames, 0) << outputs[i];
    EXPECT_EQ(frames, FrameCount(e->OutputPath().Full())) << e->SourcePath().Full();
  }
}

TEST_F(SimultaneousTest, PauseStopsBoth_BreakInterruptsBoth_AndConvertGoesOnWithEach) {
  if (QThread::idealThreadCount() < 2) GTEST_SKIP() << "one core: one conversion at a time";
  SetSimultaneous(2);
  RecoveryKeeper keeper(*doc_);
  const std::vector<std::string> movies = {Movie("long1.avi", 60, 640, 480), Movie("long2.avi", 60, 640, 480),
                                           Movie("short.avi", 2)};
  AddThroughDialog(movies);
  ASSERT_EQ(doc_->GetCount(), 3u);
  view_->Actions().convert->trigger();
  ASSERT_TRUE(view_->Run()->IsSimultaneous());
  ASSERT_TRUE(Eventually([&] { return (RowProgress(0) > 0 && RowProgress(1) > 0) || !doc_->IsConverting(); }, 120000));
  ASSERT_TRUE(doc_->IsConverting()) << "the movies converted before they could be paused" << Statuses();

  // Pause: both workers stop where they are, and both rows say so.
  QTest::mouseClick(view_->Form()->runButton, Qt::LeftButton);
  ASSERT_EQ(view_->RunButtonCommand(), IDC_RESUME_RUN);
  EXPECT_TRUE(Eventually(
      [] {
        const std::vector<char> states = WorkerStates();
        return states.size() == 2 && std::count(states.begin(), states.end(), 'T') == 2;
      },
      10000));
  EXPECT_EQ(RowStatus(0), "Paused");
  EXPECT_EQ(RowStatus(1), "Paused");
  // Meanwhile the recovery copy knows both movies being written.
  {
    std::ifstream in(keeper.CopyPath(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const RecoveredBatch copy = DecodeRecoveryCopy(bytes);
    ASSERT_EQ(copy.states.size(), 3u);
    EXPECT_EQ(copy.states[0].state, CConvertOrder::kConverting);
    EXPECT_EQ(copy.states[1].state, CConvertOrder::kConverting);
    EXPECT_EQ(copy.states[2].state, CConvertOrder::kReady);
  }

  // Break while paused: both interrupted where their movies end, both movies kept.
  QTest::mouseClick(view_->Form()->breakButton, Qt::LeftButton);
  ASSERT_FALSE(doc_->IsConverting());
  EXPECT_TRUE(WorkerStates().empty());
  std::vector<REFERENCE_TIME> at;
  for (int i = 0; i < 2; ++i) {
    CConvertOrder* e = doc_->GetAt(size_t(i));
    ASSERT_EQ(e->GetState(), CConvertOrder::kInterrupted) << e->GetStatusText();
    EXPECT_EQ(RowStatus(i).rfind("Interrupted at ", 0), 0u) << RowStatus(i);
    EXPECT_EQ(RowProgress(i), -1);
    const double seconds = ProbeDuration(e->OutputPath().Full());
    EXPECT_GT(seconds, 0.0) << e->OutputPath().Full();
    EXPECT_LT(seconds, 60.0);
    at.push_back(e->GetInterruptedAt());
  }
  EXPECT_EQ(doc_->GetAt(2)->GetState(), CConvertOrder::kReady);

  // Convert asks to go on; each interrupted movie continues into its next part.
  dialogs_->answers.push_back(true);
  view_->Actions().convert->trigger();
  ASSERT_EQ(dialogs_->questions.size(), 1u);
  ASSERT_TRUE(Eventually([&] { return !doc_->IsConverting(); }, 240000));
  for (int i = 0; i < 3; ++i) {
    CConvertOrder* e = doc_->GetAt(size_t(i));
    EXPECT_EQ(e->GetState(), CConvertOrder::kConverted) << e->GetStatusText();
  }
  for (int i = 0; i < 2; ++i) {
    // The interrupted movie became the first part, the rest the second.
    const std::vector<std::string> parts = view_->Run()->OutputsOf(doc_->GetAt(size_t(i)));
    ASSERT_EQ(parts.size(), 2u) << movies[size_t(i)];
    EXPECT_NE(parts[0].find("0001.qvf"), std::string::npos) << parts[0];
    EXPECT_NE(parts[1].find("0002.qvf"), std::string::npos) << parts[1];
    const double first = ProbeDuration(parts[0]);
    EXPECT_NEAR(first, double(at[size_t(i)]) / 1e7, 0.2);
    EXPECT_NEAR(first + ProbeDuration(parts[1]), ProbeDuration(movies[size_t(i)]), 0.2);
  }
}

// A program installed without its command-line converter still converts, one at a time.
TEST_F(SimultaneousTest, WithoutTheConverterProgram_TheBatchConvertsOneAtATime) {
  SetSimultaneous(2);
  SetWorkerProgram(tavtest::TempDir() + "/no-such-converter");
  AddThroughDialog({Movie("a.avi", 2), Movie("b.avi", 2)});
  view_->Actions().convert->trigger();
  ASSERT_TRUE(doc_->IsConverting());
  EXPECT_FALSE(view_->Run()->IsSimultaneous());
  ASSERT_TRUE(Eventually([&] { return !doc_->IsConverting(); }, 120000));
  for (size_t i = 0; i < doc_->GetCount(); ++i)
    EXPECT_EQ(doc_->GetAt(i)->GetState(), CConvertOrder::kConverted) << doc_->GetAt(i)->GetStatusText();
}

TEST_F(SimultaneousTest, Preferences_PersistAndMakeAMissingFolderForNewEntries) {
  const std::string folder = tavtest::TempDir() + "/prefs-out/new";
  fs::remove_all(tavtest::TempDir() + "/prefs-out");
  std::vector<QString> asked;
  bool answer = false;
  ui::CPreferencesDialog::Questions questions;
  questions.askYesNo = [&](QWidget*, const QString& text) {
    asked.push_back(text);
    return answer;
  };
  questions.showError = [](QWidget*, const QString& text) { ADD_FAILURE() << text.toStdString(); };
  {
    ui::CPreferencesDialog dialog(nullptr, questions);
    EXPECT_EQ(dialog.Form()->simultaneousSpin->value(), 1);
    EXPECT_TRUE(dialog.Form()->besideRadio->isChecked());
    EXPECT_FALSE(dialog.Form()->folderEdit->isEnabled());
    EXPECT_EQ(dialog.Form()->simultaneousSpin->maximum(), ui::Preferences::MaxSimultaneous());
    dialog.Form()->simultaneousSpin->setValue(2);
    QTest::mouseClick(dialog.Form()->folderRadio, Qt::LeftButton);
    ASSERT_TRUE(dialog.Form()->folderEdit->isEnabled());
    dialog.Form()->folderEdit->setText(QString::fromStdString(folder));
    // Declined: the dialog stays, nothing is stored or made.
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(ui::Preferences::Load().simultaneous, 1);
    answer = true;
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NE(asked[0].indexOf(QString::fromStdString(folder)), -1) << asked[0].toStdString();
    EXPECT_TRUE(fs::is_directory(folder));
  }
  const ui::Preferences stored = ui::Preferences::Load();
  EXPECT_EQ(stored.simultaneous, std::min(2, ui::Preferences::MaxSimultaneous()));
  EXPECT_EQ(stored.outputFolder, folder);
  {
    ui::CPreferencesDialog again(nullptr, questions);
    EXPECT_TRUE(again.Form()->folderRadio->isChecked());
    EXPECT_EQ(again.Form()->folderEdit->text().toStdString(), folder);
  }

  // New entries write into the folder; one removed since is offered again when a movie is
  // added, and declined, the movie's output goes beside it.
  AddThroughDialog({Movie("into.avi", 2)});
  ASSERT_EQ(doc_->GetCount(), 1u);
  EXPECT_EQ(doc_->GetAt(0)->OutputPath().Folder(), folder + "/");
  fs::remove_all(folder);
  answer = false;
  dialogs_->answers.push_back(false);
  AddThroughDialog({Movie("beside1.avi", 2), Movie("beside2.avi", 2)});
  ASSERT_EQ(doc_->GetCount(), 3u);
  EXPECT_EQ(dialogs_->questions.size(), 1u) << "asked once for the movies added together";
  EXPECT_EQ(doc_->GetAt(1)->OutputPath().Folder(), doc_->GetAt(1)->SourcePath().Folder());
  EXPECT_EQ(doc_->GetAt(2)->OutputPath().Folder(), doc_->GetAt(2)->SourcePath().Folder());
  dialogs_->answers.push_back(true);
  AddThroughDialog({Movie("made.avi", 2)});
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(doc_->GetAt(3)->OutputPath().Folder(), folder + "/");
}

}  // namespace
}  // namespace tav::formtest
