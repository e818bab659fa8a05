#include "converter/ui/form/tests/formfixture.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QTest>
#include <chrono>
#include <fstream>

#include "media/contract/com.h"
#include "media/contract/sync.h"
#include "media/contract/window.h"
#include "tests/support/testenv.h"

namespace tav::formtest {

namespace {

using tavtest::RegisterLibrary;

}  // namespace

std::vector<std::string> ScriptedDialogs::OpenMovies(QWidget*, const std::string&) {
  ++openMoviesCalls;
  if (movies.empty()) return {};
  auto v = movies.front();
  movies.pop_front();
  return v;
}

std::string ScriptedDialogs::OpenFile(QWidget*, const std::string&, const std::string&, const std::string&) {
  ++openFileCalls;
  if (files.empty()) return {};
  auto f = files.front();
  files.pop_front();
  return f;
}

std::string ScriptedDialogs::ChooseFolder(QWidget*, const std::string&) {
  if (folders.empty()) return {};
  auto f = folders.front();
  folders.pop_front();
  return f;
}

void FormTest::SetUp() {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  CoInitialize(nullptr);
  // The graph library first: the others register their filters through its mapper.
  for (const char* lib : {"tavrionstreaming", "tavrionfilters", "vxvideokit", "vxcamwriter", "captionparser"})
    ASSERT_EQ(RegisterLibrary(lib), S_OK) << lib;
  dir_ = tavtest::TempDir() + "/movies";
  tavtest::Run("mkdir -p '" + dir_ + "'");
  doc_ = std::make_unique<CTavrionConverterDoc>();
  ASSERT_EQ(doc_->AttachConversionGraph(std::make_unique<FilterGraphBuilder>(), nullptr), S_OK);
  view_ = std::make_unique<CTavrionConverterView>(*doc_);
  auto dialogs = std::make_unique<ScriptedDialogs>();
  dialogs_ = dialogs.get();
  view_->SetDialogs(std::move(dialogs));
  view_->OnInitialUpdate();
  view_->show();
}

void FormTest::TearDown() {
  view_.reset();
  doc_.reset();
  CoUninitialize();
}

std::string FormTest::Movie(const std::string& name, int seconds, int w, int h) {
  const std::string path = dir_ + "/" + name;
  if (!std::ifstream(path)) {
    EXPECT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=" + std::to_string(w) + "x" +
                           std::to_string(h) + ":rate=15 -f lavfi -i sine=sample_rate=22050 -t " +
                           std::to_string(seconds) + " -c:v mpeg4 -vtag XVID -c:a libmp3lame -ac 2 '" + path + "'"),
              0);
  }
  return path;
}

std::string FormTest::SamiFile(const std::string& name) {
  const std::string path = dir_ + "/" + name;
  std::ofstream(path) << "<SAMI>\n<HEAD>\n<STYLE TYPE=\"text/css\">\n<!--\n"
                         "P { text-align:center; }\n"
                         ".ENUSCC {Name:English; lang:en-US; SAMIType:CC;}\n"
                         ".FRFRCC {Name:French; lang:fr-FR; SAMIType:CC;}\n"
                         "-->\n</STYLE>\n</HEAD>\n<BODY>\n"
                         "<SYNC Start=0><P Class=ENUSCC>Hello</P><P Class=FRFRCC>Bonjour</P>\n"
                         "<SYNC Start=1500><P Class=ENUSCC>&nbsp;</P><P Class=FRFRCC>&nbsp;</P>\n"
                         "</BODY>\n</SAMI>\n";
  return path;
}

void FormTest::Pump(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  do {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
  } while (std::chrono::steady_clock::now() < end);
}

bool FormTest::Eventually(const std::function<bool()>& pred, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    Pump(10);
  }
  return true;
}

void FormTest::AddThroughDialog(const std::vector<std::string>& paths) {
  dialogs_->movies.push_back(paths);
  view_->Actions().addFiles->trigger();
}

void FormTest::SelectRow(CConvertOrder* entry) {
  ui::CConvertOrderListCtrl* list = view_->List();
  const QModelIndex index = list->Model()->index(list->RowOf(entry), 0);
  list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void FormTest::SelectRows(const std::vector<CConvertOrder*>& entries) {
  ui::CConvertOrderListCtrl* list = view_->List();
  list->selectionModel()->clearSelection();
  for (CConvertOrder* e : entries) {
    const QModelIndex index = list->Model()->index(list->RowOf(e), 0);
    list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
}

void FormTest::Choose(QComboBox* combo, int item) {
  combo->setCurrentIndex(item);
  emit combo->activated(item);
}

void FormTest::Type(QLineEdit* edit, const std::string& text) {
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClicks(edit, QString::fromStdString(text));
  QTest::keyClick(edit, Qt::Key_Return);
}

double FormTest::ProbeDuration(const std::string& path) {
  int status = 0;
  const std::string out = tavtest::Capture(
      "ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 '" + path + "'", &status);
  return status == 0 && !out.empty() ? std::stod(out) : -1.0;
}

}  // namespace tav::formtest
