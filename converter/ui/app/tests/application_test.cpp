// The application object as a user meets it: files on the command line (a batch, a movie, a
// broken batch, a missing file), the notice box at first start only, the document commands
// with the file dialogs answered by the test, About and the home page, the form seam, and
// the program itself without a display.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "converter/engine/recovery.h"
#include "converter/ui/app/application.h"
#include "converter/ui/app/greatingboxdlg.h"
#include "converter/ui/app/helpwindow.h"
#include "converter/ui/app/mainframe.h"
#include "tests/support/testenv.h"

namespace tav::ui {
namespace {

// Answers the application's questions and records what it showed.
struct Answers {
  QStringList messages;
  QStringList dialogs;       // object names of the modal dialogs run
  bool checkDontShow = false;
  QString openName, saveName;
  QString suggestedSave;
  QList<QUrl> urls;
  QStringList questions;
  FrameDialogs::Answer answer = FrameDialogs::Answer::None;  // to every question
  QStringList saveQuestions;
  std::deque<FrameDialogs::SaveAnswer> saveAnswers;  // an empty queue cancels
};

class TestDialogs : public FrameDialogs {
 public:
  explicit TestDialogs(Answers* a) : a_(a) {}
  void MessageBox(QWidget*, const QString& text, Icon) override { a_->messages.append(text); }
  int Exec(QDialog& dialog) override {
    a_->dialogs.append(dialog.objectName());
    if (auto* check = dialog.findChild<QCheckBox*>(QStringLiteral("dontShowAgain")))
      check->setChecked(a_->checkDontShow);
    return QDialog::Rejected;
  }
  QString OpenFileName(QWidget*, const QString&) override { return a_->openName; }
  QString SaveFileName(QWidget*, const QString& suggested, const QString&) override {
    a_->suggestedSave = suggested;
    return a_->saveName;
  }
  bool OpenUrl(const QUrl& url) override {
    a_->urls.append(url);
    return true;
  }
  Answer Ask(QWidget*, const QString& text) override {
    a_->questions.append(text);
    return a_->answer;
  }
  SaveAnswer AskSave(QWidget*, const QString& text) override {
    a_->saveQuestions.append(text);
    if (a_->saveAnswers.empty()) return SaveAnswer::Cancel;
    const SaveAnswer answer = a_->saveAnswers.front();
    a_->saveAnswers.pop_front();
    return answer;
  }

 private:
  Answers* a_;
};

// A movie file: the application only needs its name and existence.
std::string MakeFile(const std::string& dir, const std::string& name, const std::string& bytes = "RIFF") {
  const std::string path = dir + "/" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

class ApplicationTest : public ::testing::Test {
 protected:
  // Each test keeps its own profile in the (private) data folder.
  std::unique_ptr<ConverterApplication> Start(const QStringList& files, const std::string& profileName) {
    auto app = std::make_unique<ConverterApplication>(tavtest::ProgramPath("tavrion-converter"), profileName);
    app->SetDialogs(std::make_unique<TestDialogs>(&answers_));
    EXPECT_TRUE(app->InitInstance(files));
    return app;
  }
  std::string Profile(const ::testing::TestInfo* info) { return std::string(info->name()) + ".ini"; }
  std::string ThisProfile() { return Profile(::testing::UnitTest::GetInstance()->current_test_info()); }

  Answers answers_;
  std::string dir_ = tavtest::MakeTempSubdir(::testing::UnitTest::GetInstance()->current_test_info()->name());
};

TEST_F(ApplicationTest, NoticeBox_AppearsAtFirstStartAndNeverAgainOnceChecked) {
  answers_.checkDontShow = false;
  Start({}, ThisProfile())->ExitInstance();
  EXPECT_EQ(answers_.dialogs.count(QStringLiteral("greatingBox")), 1);
  // Left unchecked: it comes again.
  answers_.checkDontShow = true;
  Start({}, ThisProfile())->ExitInstance();
  EXPECT_EQ(answers_.dialogs.count(QStringLiteral("greatingBox")), 2);
  // Checked: never again.
  Start({}, ThisProfile())->ExitInstance();
  Start({}, ThisProfile())->ExitInstance();
  EXPECT_EQ(answers_.dialogs.count(QStringLiteral("greatingBox")), 2);
  EXPECT_TRUE(answers_.messages.isEmpty()) << answers_.messages.join("\n").toStdString();
}

TEST_F(ApplicationTest, CommandLine_BatchOpensAndMovieBecomesAnEntry) {
  const std::string movieA = MakeFile(dir_, "a.avi"), movieB = MakeFile(dir_, "b.mpg");
  const std::string batch = dir_ + "/two.tvc";
  {
    CTavrionConverterDoc doc;
    doc.AddOrder(movieA);
    doc.AddOrder(movieB);
    std::string error;
    ASSERT_TRUE(doc.OnSaveDocument(batch, &error)) << error;
  }
  auto app = Start({QString::fromStdString(batch)}, ThisProfile());
  ASSERT_EQ(app->Document().GetCount(), 2u);
  EXPECT_EQ(app->Document().GetAt(1)->SourcePath().FileName(), "b.mpg");
  EXPECT_TRUE(app->MainFrame()->windowTitle().startsWith(QStringLiteral("Tavrion Converter")));
  EXPECT_TRUE(app->MainFrame()->windowTitle().contains(QStringLiteral("two.tvc")));
  EXPECT_TRUE(app->MainFrame()->isVisible());
  EXPECT_EQ(app->RecentFiles().Files().value(0), QString::fromStdString(batch));
  app->ExitInstance();

  const std::string movieC = MakeFile(dir_, "c.mp4");
  auto second = Start({QString::fromStdString(movieC)}, ThisProfile());
  ASSERT_EQ(second->Document().GetCount(), 1u);
  EXPECT_EQ(second->Document().GetAt(0)->SourcePath().Full(), movieC);
  EXPECT_TRUE(answers_.messages.isEmpty()) << answers_.messages.join("\n").toStdString();
}

TEST_F(ApplicationTest, CommandLine_BadFilesAreToldAndLeaveAnEmptyBatch) {
  const std::string broken = MakeFile(dir_, "broken.tvc", std::string("\x05\x00\x00\x00garbage", 11));
  const std::string text = MakeFile(dir_, "notes.txt", "hello");
  auto app = Start({QString::fromStdString(broken), QString::fromStdString(dir_ + "/missing.tvc"),
                    QString::fromStdString(text)},
                   ThisProfile());
  EXPECT_EQ(app->Document().GetCount(), 0u);
  ASSERT_EQ(answers_.messages.size(), 3) << answers_.messages.join("\n").toStdString();
  EXPECT_TRUE(answers_.messages[0].contains(QStringLiteral("broken.tvc")));
  EXPECT_GT(answers_.messages[0].size(), QStringLiteral("broken.tvc").size() + 20);  // says why
  EXPECT_TRUE(answers_.messages[1].contains(QStringLiteral("missing.tvc")));
  EXPECT_TRUE(answers_.messages[1].contains(QStringLiteral("File not found")));
  EXPECT_TRUE(answers_.messages[2].contains(QStringLiteral("notes.txt")));
  EXPECT_TRUE(app->RecentFiles().Files().isEmpty());
  EXPECT_TRUE(app->MainFrame()->windowTitle().contains(QStringLiteral("Untitled")));
}

TEST_F(ApplicationTest, SaveAsThenOpen_RoundTripsTheBatch) {
  auto app = Start({QString::fromStdString(MakeFile(dir_, "clip.avi"))}, ThisProfile());
  ASSERT_EQ(app->Document().GetCount(), 1u);

  // Save with no name yet asks for one; the extension is added.
  answers_.saveName = QString::fromStdString(dir_ + "/saved");
  app->MainFrame()->Action(ID_FILE_SAVE)->trigger();
  EXPECT_TRUE(answers_.suggestedSave.endsWith(QStringLiteral("Untitled.tvc")));
  ASSERT_TRUE(QFile::exists(QString::fromStdString(dir_ + "/saved.tvc")));
  EXPECT_TRUE(app->MainFrame()->windowTitle().contains(QStringLiteral("saved.tvc")));

  app->MainFrame()->Action(ID_FILE_NEW)->trigger();
  EXPECT_EQ(app->Document().GetCount(), 0u);
  EXPECT_TRUE(app->MainFrame()->windowTitle().contains(QStringLiteral("Untitled")));

  answers_.openName = QString::fromStdString(dir_ + "/saved.tvc");
  app->MainFrame()->Action(ID_FILE_OPEN)->trigger();
  ASSERT_EQ(app->Document().GetCount(), 1u);
  EXPECT_EQ(app->Document().GetAt(0)->SourcePath().FileName(), "clip.avi");

  // The recent list reopens it; a file gone from disk leaves the list with a message.
  app->MainFrame()->Action(ID_FILE_NEW)->trigger();
  ASSERT_TRUE(app->MainFrame()->Action(ID_FILE_MRU_FILE1)->isVisible());
  app->MainFrame()->Action(ID_FILE_MRU_FILE1)->trigger();
  EXPECT_EQ(app->Document().GetCount(), 1u);
  QFile::remove(QString::fromStdString(dir_ + "/saved.tvc"));
  const auto before = app->RecentFiles().Files().size();
  app->MainFrame()->Action(ID_FILE_MRU_FILE1)->trigger();
  EXPECT_EQ(app->RecentFiles().Files().size(), before - 1);
  EXPECT_EQ(answers_.messages.size(), 1);
}

// What a program that died left: a batch of two entries, the first converted.
std::string LeaveUnsavedBatch(const std::string& dir) {
  CTavrionConverterDoc doc;
  doc.AddOrder(MakeFile(dir, "a.avi"))->SetFinished(true, 0);
  doc.GetAt(0)->SetChecked(false);
  doc.AddOrder(MakeFile(dir, "b.avi"))->SetFrameRate(15.0);
  RecoveryKeeper keeper(doc);
  keeper.SaveNow();
  keeper.KeepOnExit(true);
  return keeper.CopyPath();
}

TEST_F(ApplicationTest, UnsavedBatchOfAProgramThatDied_IsOfferedAtStart) {
  for (const std::string& left : FindOrphanedCopies()) DiscardOrphanedCopy(left);
  const QString question = QStringLiteral("The last batch was not saved. Restore it?");

  // Yes: the batch comes back with its states, and this program keeps the copy from now on.
  const std::string copy = LeaveUnsavedBatch(dir_);
  answers_.answer = FrameDialogs::Answer::Yes;
  auto app = Start({}, ThisProfile());
  EXPECT_EQ(answers_.questions, QStringList{question});
  ASSERT_EQ(app->Document().GetCount(), 2u);
  EXPECT_EQ(app->Document().GetAt(0)->GetStatusText(), "Converted");
  EXPECT_EQ(app->Document().GetAt(1)->GetFrameRate(), 15.0);
  EXPECT_FALSE(std::filesystem::exists(copy));
  EXPECT_TRUE(FindOrphanedCopies().empty());
  app->ExitInstance();
  EXPECT_TRUE(FindOrphanedCopies().empty()) << "a clean exit left a copy";
  // Nothing to offer at the next start.
  Start({}, ThisProfile())->ExitInstance();
  EXPECT_EQ(answers_.questions.size(), 1);

  // Not answered (the box was closed): asked again at the next start. No: the batch is
  // dropped.
  const std::string unanswered = LeaveUnsavedBatch(dir_);
  answers_.answer = FrameDialogs::Answer::None;
  app = Start({}, ThisProfile());
  EXPECT_EQ(app->Document().GetCount(), 0u);
  app->ExitInstance();
  EXPECT_EQ(FindOrphanedCopies(), std::vector<std::string>{unanswered});
  answers_.answer = FrameDialogs::Answer::No;
  app = Start({}, ThisProfile());
  EXPECT_EQ(answers_.questions.size(), 3);
  EXPECT_EQ(app->Document().GetCount(), 0u);
  app->ExitInstance();
  EXPECT_TRUE(FindOrphanedCopies().empty());

  // A damaged copy is told of and kept aside.
  const std::string damaged = LeaveUnsavedBatch(dir_);
  std::filesystem::resize_file(damaged, std::filesystem::file_size(damaged) - 3);
  answers_.answer = FrameDialogs::Answer::Yes;
  app = Start({}, ThisProfile());
  EXPECT_EQ(app->Document().GetCount(), 0u);
  ASSERT_EQ(answers_.messages.size(), 1);
  EXPECT_TRUE(answers_.messages[0].contains(QString::fromStdString(damaged + ".damaged")))
      << answers_.messages[0].toStdString();
  EXPECT_TRUE(std::filesystem::exists(damaged + ".damaged"));
  app->ExitInstance();
  EXPECT_TRUE(FindOrphanedCopies().empty());
}

// Exit, closing the window, New and Open ask before they drop a changed batch; Cancel keeps
// everything, Discard drops it, Save goes through Save As when the batch has no name.
TEST_F(ApplicationTest, ChangedBatch_AsksBeforeExitNewAndOpen) {
  using Save = FrameDialogs::SaveAnswer;
  auto app = Start({}, ThisProfile());
  CMainFrame* frame = app->MainFrame();
  // Nothing in the batch: nothing to ask.
  app->MainFrame()->Action(ID_FILE_NEW)->trigger();
  EXPECT_TRUE(answers_.saveQuestions.isEmpty());

  ASSERT_TRUE(app->OpenDocumentFile(QString::fromStdString(MakeFile(dir_, "clip.avi"))));
  ASSERT_EQ(app->Document().GetCount(), 1u);
  // Cancel: the window stays, and so does the batch.
  frame->Action(ID_APP_EXIT)->trigger();
  ASSERT_EQ(answers_.saveQuestions, QStringList{QStringLiteral("Save changes to Untitled?")});
  EXPECT_TRUE(frame->isVisible());
  frame->Action(ID_FILE_NEW)->trigger();
  answers_.openName = QString::fromStdString(dir_ + "/none.tvc");
  frame->Action(ID_FILE_OPEN)->trigger();
  EXPECT_EQ(answers_.saveQuestions.size(), 3);
  ASSERT_EQ(app->Document().GetCount(), 1u);
  EXPECT_TRUE(answers_.messages.isEmpty()) << "Open went on after Cancel";

  // Save with no name: Save As; once saved, nothing to ask.
  answers_.saveAnswers = {Save::Save};
  answers_.saveName = QString::fromStdString(dir_ + "/kept");
  frame->Action(ID_FILE_NEW)->trigger();
  EXPECT_EQ(app->Document().GetCount(), 0u);
  ASSERT_TRUE(QFile::exists(QString::fromStdString(dir_ + "/kept.tvc")));
  answers_.openName = QString::fromStdString(dir_ + "/kept.tvc");
  frame->Action(ID_FILE_OPEN)->trigger();
  ASSERT_EQ(app->Document().GetCount(), 1u);
  EXPECT_EQ(answers_.saveQuestions.size(), 4);

  // A setting changed: the question names the file; Discard goes on without saving.
  app->Document().GetAt(0)->SetFrameRate(15.0);
  answers_.saveAnswers = {Save::Discard};
  ASSERT_TRUE(app->OpenDocumentFile(QString::fromStdString(dir_ + "/kept.tvc")));
  EXPECT_EQ(answers_.saveQuestions.back(), QStringLiteral("Save changes to kept.tvc?"));
  EXPECT_EQ(app->Document().GetAt(0)->GetFrameRate(), 30.0) << "the file was not written";

  // Save fails (Save As cancelled): the window stays.
  app->Document().GetAt(0)->SetChecked(false);
  answers_.saveAnswers = {Save::Save};
  QFile::remove(QString::fromStdString(dir_ + "/kept.tvc"));
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(dir_ + "/kept.tvc")));
  frame->close();
  EXPECT_TRUE(frame->isVisible()) << "closed although the batch could not be saved";
  answers_.messages.clear();
  answers_.saveAnswers = {Save::Discard};
  frame->close();
  EXPECT_FALSE(frame->isVisible());
}

// This program's own copy (its lock is held, so it is no orphan), or empty.
std::string LiveCopy() {
  std::error_code ec;
  for (const auto& f : std::filesystem::directory_iterator(DefaultRecoveryFolder(), ec)) {
    const std::string name = f.path().filename().string();
    if (name.starts_with("batch-") && name.ends_with(".tvc")) return f.path().string();
  }
  return std::string();
}

bool AnyTimerActive(const QObject& owner) {
  for (const QTimer* timer : owner.findChildren<QTimer*>())
    if (timer->isActive()) return true;
  return false;
}

// The recovery copy follows the batch when it changes - through the document (a movie
// added) or by the user's hand on an entry - and no timer runs while nothing changes.
TEST_F(ApplicationTest, RecoveryCopy_FollowsChangesAndNothingPollsMeanwhile) {
  for (const std::string& left : FindOrphanedCopies()) DiscardOrphanedCopy(left);
  auto app = Start({}, ThisProfile());
  EXPECT_FALSE(AnyTimerActive(*app)) << "a timer runs with nothing changed";
  ASSERT_TRUE(app->OpenDocumentFile(QString::fromStdString(MakeFile(dir_, "a.avi"))));
  ASSERT_EQ(app->Document().GetCount(), 1u);
  ASSERT_TRUE(QTest::qWaitFor([] { return !LiveCopy().empty(); })) << "the added movie was not copied";
  ASSERT_TRUE(QTest::qWaitFor([&] { return !AnyTimerActive(*app); }));

  // A setting changed in place, as the form does, and the key that did it.
  app->Document().GetAt(0)->SetFrameRate(15.0);
  QTest::keyClick(app->MainFrame(), Qt::Key_Shift);
  const auto frameRate = [] {
    std::ifstream in(LiveCopy(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    try {
      CTavrionConverterDoc doc;
      LoadRecoveredBatch(doc, DecodeRecoveryCopy(bytes));
      return doc.GetCount() == 1 ? doc.GetAt(0)->GetFrameRate() : 0.0;
    } catch (const std::exception&) {
      return 0.0;
    }
  };
  EXPECT_TRUE(QTest::qWaitFor([&] { return frameRate() == 15.0; })) << "the changed setting was not copied";
  EXPECT_TRUE(QTest::qWaitFor([&] { return !AnyTimerActive(*app); }));
  app->Document().SetModifiedBaseline();
  app->ExitInstance();
  EXPECT_TRUE(LiveCopy().empty()) << "a clean exit left the copy";
}

// A termination signal asks nothing: the changed batch stays as a recovery copy that the
// next start offers back, naming the file the batch belongs to.
TEST_F(ApplicationTest, TerminationSignal_KeepsTheChangedBatchForTheNextStart) {
  for (const std::string& left : FindOrphanedCopies()) DiscardOrphanedCopy(left);
  const std::string batch = dir_ + "/named.tvc";
  {
    CTavrionConverterDoc doc;
    doc.AddOrder(MakeFile(dir_, "a.avi"));
    std::string error;
    ASSERT_TRUE(doc.OnSaveDocument(batch, &error)) << error;
  }
  auto app = Start({QString::fromStdString(batch)}, ThisProfile());
  ASSERT_EQ(app->Document().GetCount(), 1u);
  // Unchanged: nothing is kept.
  app->OnTerminationSignal();
  EXPECT_FALSE(app->MainFrame()->isVisible());
  app->ExitInstance();
  EXPECT_TRUE(FindOrphanedCopies().empty());

  app = Start({QString::fromStdString(batch)}, ThisProfile());
  app->Document().GetAt(0)->SetFrameRate(15.0);
  app->OnTerminationSignal();
  EXPECT_TRUE(answers_.saveQuestions.isEmpty());
  EXPECT_FALSE(app->MainFrame()->isVisible());
  app->ExitInstance();
  ASSERT_EQ(FindOrphanedCopies().size(), 1u);

  answers_.answer = FrameDialogs::Answer::Yes;
  app = Start({}, ThisProfile());
  ASSERT_EQ(answers_.questions.size(), 1);
  EXPECT_EQ(answers_.questions[0], QStringLiteral("The batch %1 was left open by a program that did not close. "
                                                  "Restore it as it was then?")
                                       .arg(QString::fromStdString(batch)));
  ASSERT_EQ(app->Document().GetCount(), 1u);
  EXPECT_EQ(app->Document().GetAt(0)->GetFrameRate(), 15.0);
  EXPECT_EQ(app->Document().GetPathName(), batch);
  app->ExitInstance();
}

TEST_F(ApplicationTest, DroppedFiles_OpenAsFromTheCommandLine) {
  auto app = Start({}, ThisProfile());
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(MakeFile(dir_, "one.avi"))),
                QUrl::fromLocalFile(QString::fromStdString(MakeFile(dir_, "two.wmv"))),
                QUrl(QStringLiteral("https://example.org/remote.avi"))});
  QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(app->MainFrame(), &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(app->MainFrame(), &drop);
  ASSERT_EQ(app->Document().GetCount(), 2u);
  EXPECT_EQ(app->Document().GetAt(1)->SourcePath().FileName(), "two.wmv");
  EXPECT_TRUE(answers_.messages.isEmpty()) << answers_.messages.join("\n").toStdString();
}

TEST_F(ApplicationTest, AboutAndHomePage_GoThroughTheDialogsSeam) {
  auto app = Start({}, ThisProfile());
  app->MainFrame()->Action(ID_APP_ABOUT)->trigger();
  EXPECT_TRUE(answers_.dialogs.contains(QStringLiteral("aboutDialog")));
  app->MainFrame()->Action(ID_HELP_HOME_PAGE)->trigger();
  ASSERT_EQ(answers_.urls.size(), 1);
  EXPECT_TRUE(answers_.urls[0].isValid());
  EXPECT_EQ(answers_.urls[0].scheme(), QStringLiteral("https"));
}

TEST_F(ApplicationTest, Preferences_OpenFromTheSettingsMenu) {
  auto app = Start({}, ThisProfile());
  QAction* preferences = app->MainFrame()->Action(ID_SETTINGS_PREFERENCES);
  ASSERT_TRUE(preferences);
  EXPECT_EQ(preferences->menuRole(), QAction::PreferencesRole);
  preferences->trigger();
  EXPECT_TRUE(answers_.dialogs.contains(QStringLiteral("PreferencesDialog"))) << answers_.dialogs.join(",").toStdString();
}

// "For Help, press F1": F1 and Help > Contents open the manual the program carries.
TEST_F(ApplicationTest, F1_OpensTheManual) {
  auto app = Start({}, ThisProfile());
  QAction* topics = app->MainFrame()->Action(ID_HELP_TOPICS);
  ASSERT_TRUE(topics);
  EXPECT_EQ(topics->shortcut(), QKeySequence(Qt::Key_F1));
  QMenu* helpMenu = nullptr;
  for (QAction* a : app->MainFrame()->menuBar()->actions())
    if (a->menu() && a->text() == QStringLiteral("&Help")) helpMenu = a->menu();
  ASSERT_TRUE(helpMenu);
  EXPECT_TRUE(helpMenu->actions().contains(topics));
  EXPECT_EQ(topics->text(), QStringLiteral("&Contents"));

  app->MainFrame()->show();
  app->MainFrame()->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(app->MainFrame()));
  QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : app->MainFrame(), Qt::Key_F1);
  EXPECT_EQ(answers_.dialogs.count(QStringLiteral("helpWindow")), 1) << "F1 pressed in the window";
  topics->trigger();
  EXPECT_EQ(answers_.dialogs.count(QStringLiteral("helpWindow")), 2);
  CHelpWindow help;
  const QString text = help.Text();
  EXPECT_TRUE(text.contains(QStringLiteral("tavrion-converter"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("SIGTERM"))) << text.toStdString();
  EXPECT_FALSE(text.contains(QStringLiteral(".SH"))) << "roff left in the text";
  EXPECT_EQ(ManPageToHtml(QStringLiteral(".SH NAME\nx \\fBbold\\fR \\- y\n.BR a (1)")),
            QStringLiteral("<h3>NAME</h3>\n<p>x <b>bold</b> - y <b>a</b>(1) </p>\n"));
}

TEST_F(ApplicationTest, FormSeam_InstallsTheViewAndLeavesMoviesToIt) {
  int initialUpdates = 0;
  std::vector<std::string> moviesSeen;
  struct MovieWatcher : DocumentObserver {
    std::vector<std::string>* seen;
    void OnDocumentUpdate(DocumentHint hint, CConvertOrder*, const std::string* path) override {
      if (hint == DocumentHint::kMovieOpened && path) seen->push_back(*path);
    }
  } watcher;
  watcher.seen = &moviesSeen;
  auto app = std::make_unique<ConverterApplication>(tavtest::ProgramPath("tavrion-converter"), ThisProfile());
  app->SetDialogs(std::make_unique<TestDialogs>(&answers_));
  app->SetViewFactory([&](CTavrionConverterDoc& doc, QWidget*) {
    doc.AddObserver(&watcher);
    FormView view;
    view.widget = new QWidget;
    view.widget->setObjectName(QStringLiteral("testForm"));
    view.widget->setMinimumSize(600, 450);
    view.initialUpdate = [&] { ++initialUpdates; };
    return view;
  });
  const std::string movie = MakeFile(dir_, "m.avi");
  ASSERT_TRUE(app->InitInstance({QString::fromStdString(movie)}));
  EXPECT_EQ(app->MainFrame()->View()->objectName(), QStringLiteral("testForm"));
  EXPECT_GE(initialUpdates, 1);
  // The movie reached the form as kMovieOpened; the application added nothing itself.
  EXPECT_EQ(moviesSeen, std::vector<std::string>{movie});
  EXPECT_EQ(app->Document().GetCount(), 0u);
  app->Document().RemoveObserver(&watcher);
  app->ExitInstance();
}

TEST(Program, WithoutADisplay_SaysSoAndExitsWithOne) {
  const std::string program = tavtest::ProgramPath("tavrion-converter");
  int status = -1;
  const std::string out =
      tavtest::Capture("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" + program + "' 2>&1", &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("cannot open a display"), std::string::npos) << out;

  // A display that is named but not there.
  const std::string unreachable = tavtest::Capture(
      "env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:97 '" + program + "' 2>&1", &status);
  EXPECT_EQ(status, 1) << unreachable;
  EXPECT_NE(unreachable.find("cannot open a display"), std::string::npos) << unreachable;
}

TEST(Program, TerminationSignal_ClosesLikeExitAndKeepsTheSettings) {
  const std::string program = tavtest::ProgramPath("tavrion-converter");
  const std::string home = tavtest::MakeTempSubdir("sigterm");
  // Started with the notice box up; SIGTERM after two seconds.
  const std::string command = "env HOME='" + home + "' XDG_DATA_HOME='" + home + "/data' TAVRION_REGISTRY_DIR='" +
                              home + "/registry' QT_QPA_PLATFORM=offscreen timeout --preserve-status -s TERM 2 '" + program + "' 2>&1";
  int status = -1;
  const std::string out = tavtest::Capture(command, &status);
  EXPECT_EQ(status, 0) << out;
  std::ifstream profile(home + "/data/Merolan/tavrion-converter/tavrion-converter.ini");
  std::string text((std::istreambuf_iterator<char>(profile)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("WINDOWPOS="), std::string::npos) << text;
  EXPECT_NE(text.find("DONTSHOWAGAIN=0"), std::string::npos) << text;
}

}  // namespace
}  // namespace tav::ui
