// The main form over real generated movies: what it enables in each state, every setting
// edited in the controls for one or several entries, the subtitle file steps, the keys, a
// whole run driven from the form with pause, resume and break, the preview and play list,
// and a batch that is saved and opened again.
#include <unistd.h>
#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "converter/engine/conversionrun.h"
#include "converter/engine/strings.h"
#include "converter/ui/app/mainframe.h"
#include "converter/ui/form/formview.h"
#include "converter/ui/player/customslider.h"
#include "converter/ui/form/tests/formfixture.h"
#include "tests/support/testenv.h"
#include "ui_tavrionconverterview.h"

namespace tav::formtest {
namespace {

constexpr REFERENCE_TIME kSecond = 10000000;

// The form as the application installs it: made for doc, the central widget of frame (which
// owns it), updated once and shown. Null when the factory made no form view.
CTavrionConverterView* ShowFormInFrame(CTavrionConverterDoc& doc, ui::CMainFrame& frame) {
  const ui::FormView form = MakeFormView(doc, &frame);
  auto* view = qobject_cast<CTavrionConverterView*>(form.widget);
  if (!view) return nullptr;
  frame.SetView(form.widget);
  form.initialUpdate();
  frame.show();
  return view;
}

TEST_F(FormTest, Enabling_FollowsSelectionSubtitlesAndSource) {
  auto* ui = view_->Form();
  const FormActions& actions = view_->Actions();
  // Nothing selected: the entry settings are off, Add is on, Convert needs a checked entry.
  EXPECT_FALSE(ui->frameSizeCombo->isEnabled());
  EXPECT_FALSE(ui->useSubtitlesCheck->isEnabled());
  EXPECT_TRUE(actions.addFiles->isEnabled());
  EXPECT_FALSE(actions.remove->isEnabled());
  EXPECT_FALSE(actions.convert->isEnabled());
  EXPECT_FALSE(ui->runButton->isEnabled());

  const std::string wide = Movie("wide.avi", 2, 192, 108);
  const std::string square = Movie("four3.avi", 2, 160, 120);
  AddThroughDialog({wide, square});
  ASSERT_EQ(doc_->GetCount(), 2u);
  CConvertOrder* w = doc_->GetAt(0);
  CConvertOrder* f = doc_->GetAt(1);
  // The last added entry stays selected, previewed and probed.
  EXPECT_EQ(doc_->GetSingleSelected(), f);
  EXPECT_EQ(view_->Previewed(), f);
  EXPECT_TRUE(f->Is4by3());
  EXPECT_TRUE(ui->frameSizeCombo->isEnabled());
  EXPECT_TRUE(ui->outputNameEdit->isEnabled());
  EXPECT_FALSE(ui->screenSizeCombo->isEnabled()) << "a 4:3 source always fits";
  EXPECT_TRUE(ui->runButton->isEnabled());
  EXPECT_TRUE(actions.convert->isEnabled());
  EXPECT_TRUE(actions.modifySource->isEnabled());
  EXPECT_FALSE(actions.moveDown->isEnabled()) << "the last row cannot move down";
  EXPECT_TRUE(actions.moveUp->isEnabled());

  SelectRow(w);
  EXPECT_EQ(doc_->GetSingleSelected(), w);
  EXPECT_EQ(view_->Previewed(), w);
  EXPECT_TRUE(actions.moveDown->isEnabled());
  EXPECT_FALSE(actions.moveUp->isEnabled());
  EXPECT_TRUE(ui->screenSizeCombo->isEnabled());
  EXPECT_TRUE(ui->splitCombo->isEnabled());

  // Subtitles off: file, language and size are off, the box itself stays on.
  if (ui->useSubtitlesCheck->isChecked()) QTest::mouseClick(ui->useSubtitlesCheck, Qt::LeftButton);
  ASSERT_FALSE(w->UsesSubtitles());
  EXPECT_TRUE(ui->useSubtitlesCheck->isEnabled());
  EXPECT_FALSE(ui->subtitleFileEdit->isEnabled());
  EXPECT_FALSE(ui->languageCombo->isEnabled());
  EXPECT_FALSE(ui->subtitleSizeCombo->isEnabled());

  // A source that cannot seek: no split, shown as "unlimited" (the document tells the form
  // to show its entries again).
  view_->ClosePreview();
  w->SetSourceInfo(w->GetDuration(), 192, 108, false);
  doc_->UpdateAllViews(DocumentHint::kReload);
  EXPECT_FALSE(ui->splitCombo->isEnabled());
  EXPECT_EQ(ui->splitCombo->currentText().toStdString(), "unlimited");

  // Both selected: the settings they can share, and the list commands; not what belongs to
  // one movie. The 4:3 one always fits, so the wide one still takes a screen fit.
  view_->List()->selectAll();
  EXPECT_EQ(doc_->GetSelection().size(), 2u);
  EXPECT_TRUE(ui->frameSizeCombo->isEnabled());
  EXPECT_TRUE(ui->useSubtitlesCheck->isEnabled());
  EXPECT_TRUE(ui->outputFolderEdit->isEnabled());
  EXPECT_TRUE(ui->screenSizeCombo->isEnabled());
  EXPECT_FALSE(ui->outputNameEdit->isEnabled());
  EXPECT_FALSE(ui->subtitleBrowseButton->isEnabled());
  EXPECT_FALSE(ui->subtitleFileEdit->isEnabled());
  EXPECT_TRUE(actions.remove->isEnabled());
  EXPECT_TRUE(actions.play->isEnabled());
  EXPECT_FALSE(actions.moveUp->isEnabled());
  EXPECT_FALSE(actions.moveDown->isEnabled());
  EXPECT_FALSE(actions.modifySource->isEnabled());
  EXPECT_FALSE(actions.properties->isEnabled());
}

TEST_F(FormTest, Settings_EditedInTheControlsReachTheEntryAndBack) {
  const std::string movie = Movie("wide.avi", 2, 192, 108);
  const std::string sami = SamiFile("wide.smi");
  AddThroughDialog({movie});
  CConvertOrder* e = doc_->GetSingleSelected();
  ASSERT_TRUE(e);
  auto* ui = view_->Form();
  // The subtitle file next to the movie shows relative to it, with its lists filled.
  EXPECT_EQ(e->SubtitlePath().Full(), sami);
  EXPECT_EQ(ui->subtitleFileEdit->text().toStdString(), "wide.smi");
  ASSERT_EQ(ui->languageCombo->count(), 2);
  ASSERT_EQ(ui->subtitleSizeCombo->count(), 3);

  std::filesystem::create_directories(dir_ + "/out");
  Choose(ui->frameSizeCombo, 1);
  Choose(ui->frameRateCombo, 0);
  Choose(ui->screenSizeCombo, 2);
  Choose(ui->splitCombo, 2);
  Choose(ui->languageCombo, 1);
  Choose(ui->subtitleSizeCombo, ui->subtitleSizeCombo->findText("Bigger"));
  Type(ui->outputFolderEdit, dir_ + "/out");
  Type(ui->outputNameEdit, "clip");
  EXPECT_EQ(e->GetFrameWidth(), 640);
  EXPECT_EQ(e->GetFrameHeight(), 480);
  EXPECT_DOUBLE_EQ(e->GetFrameRate(), 15.0);
  EXPECT_EQ(e->GetScreenFit(), CConvertOrder::kStretch);
  EXPECT_EQ(e->GetSplitSize(), 64ull << 20);
  EXPECT_EQ(e->GetSubtitleLanguage(), ui->languageCombo->itemData(1).toString().toStdString());
  EXPECT_EQ(e->GetSubtitleSize(), "9F0194EA-D60A-43d2-B994-CB0FDDE02C3E");
  EXPECT_EQ(e->OutputPath().Full(), dir_ + "/out/clip.qvf");
  EXPECT_EQ(e->SubtitlePath().Full(), sami) << "the relative text is stored absolute";

  // Shown again, the controls read the same.
  ui->frameSizeCombo->setCurrentIndex(0);
  ui->screenSizeCombo->setCurrentIndex(0);
  doc_->UpdateAllViews(DocumentHint::kReload);
  EXPECT_EQ(ui->frameSizeCombo->currentText().toStdString(), "640 x 480");
  EXPECT_EQ(ui->frameRateCombo->currentText().toStdString(), "15 fps");
  EXPECT_EQ(ui->screenSizeCombo->currentText().toStdString(), "Stretch");
  EXPECT_EQ(ui->splitCombo->currentText().toStdString(), "64 MB");
  EXPECT_EQ(ui->languageCombo->currentIndex(), 1);
  EXPECT_EQ(ui->subtitleSizeCombo->currentText().toStdString(), "Bigger");
  EXPECT_EQ(ui->outputNameEdit->text().toStdString(), "clip");

  // Old crop value 1 shows as Crop; a stored rate with no item selects none, and stays while
  // other settings change.
  e->SetScreenFit(1);
  e->SetFrameRate(25.0);
  doc_->UpdateAllViews(DocumentHint::kReload);
  EXPECT_EQ(ui->screenSizeCombo->currentText().toStdString(), "Crop");
  EXPECT_EQ(ui->frameRateCombo->currentIndex(), -1);
  EXPECT_TRUE(ui->frameRateCombo->placeholderText().isEmpty()) << "one entry differs from nothing";
  // A split size the list does not offer (a batch made elsewhere) survives as well.
  e->SetSplitSize(150000);
  doc_->UpdateAllViews(DocumentHint::kReload);
  EXPECT_EQ(ui->splitCombo->currentIndex(), -1);
  Choose(ui->frameSizeCombo, 0);
  EXPECT_EQ(e->GetFrameWidth(), 320);
  EXPECT_DOUBLE_EQ(e->GetFrameRate(), 25.0);
  EXPECT_EQ(e->GetSplitSize(), 150000u);
  // A change made to the entry elsewhere shows once the document says so.
  e->SetFrameRate(30.0);
  doc_->UpdateAllViews(DocumentHint::kReload);
  EXPECT_EQ(ui->frameRateCombo->currentText().toStdString(), "30 fps");
}

TEST_F(FormTest, UseSubtitles_WithoutFile_AsksAndCancelUnchecks) {
  const std::string movie = Movie("plain.avi", 2);
  AddThroughDialog({movie});
  CConvertOrder* e = doc_->GetSingleSelected();
  ASSERT_TRUE(e);
  auto* ui = view_->Form();
  if (ui->useSubtitlesCheck->isChecked()) QTest::mouseClick(ui->useSubtitlesCheck, Qt::LeftButton);
  EXPECT_EQ(ui->subtitleFileEdit->text().toStdString(), "");
  EXPECT_EQ(ui->subtitleFileEdit->placeholderText(), "Cannot find matching subtitle file");

  QTest::mouseClick(ui->useSubtitlesCheck, Qt::LeftButton);  // the dialog is cancelled
  EXPECT_EQ(dialogs_->openFileCalls, 1);
  EXPECT_FALSE(ui->useSubtitlesCheck->isChecked());
  EXPECT_FALSE(e->UsesSubtitles());

  const std::string sami = SamiFile("other.smi");
  dialogs_->files.push_back(sami);
  QTest::mouseClick(ui->useSubtitlesCheck, Qt::LeftButton);
  EXPECT_EQ(dialogs_->openFileCalls, 2);
  EXPECT_TRUE(ui->useSubtitlesCheck->isChecked());
  EXPECT_TRUE(e->UsesSubtitles());
  EXPECT_EQ(ui->subtitleFileEdit->text().toStdString(), "other.smi");
  EXPECT_EQ(ui->languageCombo->count(), 2);
  EXPECT_EQ(e->SubtitlePath().Full(), sami);

  // A file that is not there empties the lists, without a message, once it is typed out.
  ui->subtitleFileEdit->selectAll();
  QTest::keyClicks(ui->subtitleFileEdit, "missing.smi");
  QTest::keyClick(ui->subtitleFileEdit, Qt::Key_Return);
  EXPECT_EQ(ui->languageCombo->count(), 0);
  EXPECT_EQ(ui->subtitleSizeCombo->count(), 0);
}

TEST_F(FormTest, EstimatedSize_FollowsTrimPointsAndIsEmptyWhenUnknown) {
  AddThroughDialog({Movie("est.avi", 3)});
  CConvertOrder* e = doc_->GetSingleSelected();
  ASSERT_TRUE(e);
  const QString whole = view_->Form()->estimatedSizeLabel->text();
  EXPECT_TRUE(whole.startsWith("Estimated file size ")) << whole.toStdString();
  EXPECT_TRUE(whole.endsWith("B"));
  view_->ClosePreview();
  e->SetSourceInfo(kUnknownTime, 160, 120, true);
  doc_->UpdateAllViews(DocumentHint::kReload);
  EXPECT_EQ(view_->Form()->estimatedSizeLabel->text().toStdString(), "");
}

TEST_F(FormTest, Convert_ThreeMovies_WithTrimPauseResumeAndStatus) {
  doc_->SetRemoveAfterConversion(false);
  const std::string a = Movie("a.avi", 3), b = Movie("b.avi", 4), c = Movie("c.avi", 3);
  AddThroughDialog({a, b, c});
  ASSERT_EQ(doc_->GetCount(), 3u);
  CConvertOrder* trimmed = doc_->GetAt(1);
  SelectRow(trimmed);
  ASSERT_EQ(view_->Previewed(), trimmed);
  auto* ui = view_->Form();
  // The trim points set by dragging the slider's markers to a quarter and three quarters.
  auto* slider = ui->positionSlider;
  ASSERT_TRUE(slider->isEnabled());
  auto drag = [slider](ui::CCustomSlider::Part marker, int from, int to) {
    const int y = slider->MarkerRect(marker).center().y();
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(slider->XOf(from), y));
    QTest::mouseMove(slider, QPoint(slider->XOf(to), y));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->XOf(to), y));
  };
  drag(ui::CCustomSlider::Part::kStartMarker, 0, 250);
  drag(ui::CCustomSlider::Part::kEndMarker, 1000, 750);
  // A pixel is worth about two slider values.
  EXPECT_NEAR(slider->SelStart(), 250, 3);
  EXPECT_NEAR(slider->SelEnd(), 750, 3);
  // The markers' points are the entry's at once.
  REFERENCE_TIME s = 0, t = 0;
  ASSERT_TRUE(trimmed->GetTrimPoints(&s, &t));
  EXPECT_NEAR(double(s) / kSecond, 1.0, 0.05);
  EXPECT_NEAR(double(t - s) / kSecond, 2.0, 0.05);

  EXPECT_EQ(ui->runButton->text().toStdString(), "&Convert");
  QSignalSpy progress(view_.get(), &CTavrionConverterView::totalProgressChanged);
  ASSERT_TRUE(ui->runButton->isEnabled());
  EXPECT_FALSE(view_->IsStatusTimerRunning()) << "nothing moves before the run";
  QTest::mouseClick(ui->runButton, Qt::LeftButton);
  ASSERT_TRUE(doc_->IsConverting());
  EXPECT_TRUE(view_->IsStatusTimerRunning());
  EXPECT_EQ(ui->runButton->text().toStdString(), "&Pause");
  EXPECT_EQ(view_->Previewed(), nullptr);
  EXPECT_TRUE(ui->breakButton->isEnabled());
  EXPECT_FALSE(ui->frameSizeCombo->isEnabled());
  EXPECT_FALSE(view_->Actions().remove->isEnabled());
  EXPECT_FALSE(view_->Actions().addFiles->isEnabled());
  EXPECT_FALSE(view_->Actions().convert->isEnabled());
  EXPECT_TRUE(view_->Actions().pauseRun->isEnabled());
  EXPECT_TRUE(view_->Actions().breakRun->isEnabled());
  EXPECT_TRUE(ui->fileStatusLabel->text().startsWith("Current file: ")) << ui->fileStatusLabel->text().toStdString();
  EXPECT_EQ(ui->totalStatusLabel->text().toStdString(), "Converting file #1 from 3");
  EXPECT_TRUE(ui->fileElapsedLabel->text().startsWith("Elapsed: "));
  EXPECT_TRUE(ui->totalRemainingLabel->text().startsWith("Remaining: "));

  QTest::mouseClick(ui->runButton, Qt::LeftButton);
  EXPECT_EQ(ui->runButton->text().toStdString(), "&Resume");
  EXPECT_TRUE(view_->Run()->IsPaused());
  // Paused: Resume and Break, nothing else.
  EXPECT_TRUE(ui->runButton->isEnabled());
  EXPECT_TRUE(ui->breakButton->isEnabled());
  EXPECT_FALSE(ui->frameSizeCombo->isEnabled());
  EXPECT_FALSE(ui->positionSlider->isEnabled());
  EXPECT_FALSE(view_->Actions().addFiles->isEnabled());
  EXPECT_FALSE(view_->Actions().pauseRun->isEnabled());
  EXPECT_TRUE(view_->Actions().resumeRun->isEnabled());
  Pump(200);  // the run stands paused a moment before it resumes
  QTest::mouseClick(ui->runButton, Qt::LeftButton);
  EXPECT_EQ(ui->runButton->text().toStdString(), "&Pause");
  EXPECT_FALSE(view_->Run()->IsPaused());

  int maxFile = 0, maxTotal = 0;
  ASSERT_TRUE(Eventually(
      [&] {
        maxFile = std::max(maxFile, ui->fileProgress->value());
        maxTotal = std::max(maxTotal, ui->totalProgress->value());
        return !doc_->IsConverting();
      },
      120000));
  EXPECT_TRUE(Eventually([&] { return ui->runButton->text() == "&Convert" && !ui->fileProgress->isEnabled(); }, 10000))
      << "the controls never showed the end of the run";
  EXPECT_GT(maxFile, 0);
  EXPECT_GT(maxTotal, 0);
  EXPECT_GT(progress.count(), 0);
  EXPECT_EQ(ui->runButton->text().toStdString(), "&Convert");
  EXPECT_EQ(ui->fileProgress->value(), 0);
  EXPECT_FALSE(ui->fileProgress->isEnabled());
  EXPECT_EQ(ui->fileStatusLabel->text().toStdString(), "");
  EXPECT_FALSE(view_->IsStatusTimerRunning()) << "the status area still polls after the run";
  // The list selects again what the settings show, not the run's last movie.
  std::vector<CConvertOrder*> listed;
  view_->List()->GetSelected(&listed);
  EXPECT_EQ(listed, std::vector<CConvertOrder*>{trimmed});
  EXPECT_EQ(doc_->GetSingleSelected(), trimmed);
  for (size_t i = 0; i < doc_->GetCount(); ++i) {
    CConvertOrder* e = doc_->GetAt(i);
    EXPECT_EQ(e->GetState(), CConvertOrder::kConverted) << e->SourcePath().Full();
    EXPECT_FALSE(e->IsChecked());
    EXPECT_TRUE(std::filesystem::exists(e->OutputPath().Full())) << e->OutputPath().Full();
  }
  const double d = ProbeDuration(trimmed->OutputPath().Full());
  EXPECT_NEAR(d, 2.0, 0.4);
}

TEST_F(FormTest, Break_LeavesPlayablePartialAndInterruptedRow) {
  doc_->SetRemoveAfterConversion(false);
  AddThroughDialog({Movie("long.avi", 20, 320, 240)});
  CConvertOrder* e = doc_->GetAt(0);
  view_->Actions().convert->trigger();
  ASSERT_TRUE(doc_->IsConverting());
  ASSERT_TRUE(Eventually([&] { return view_->Form()->fileProgress->value() >= 5 || !doc_->IsConverting(); }, 60000));
  ASSERT_TRUE(doc_->IsConverting()) << "the movie converted before it could be broken";
  // While converting, a click on the row's check box is undone.
  view_->List()->Model()->SetRowChecked(0, false);
  EXPECT_TRUE(e->IsChecked());
  EXPECT_TRUE(view_->List()->IsRowChecked(0));
  QTest::mouseClick(view_->Form()->breakButton, Qt::LeftButton);
  EXPECT_FALSE(doc_->IsConverting());
  EXPECT_EQ(view_->Form()->runButton->text().toStdString(), "&Convert");
  EXPECT_EQ(e->GetState(), CConvertOrder::kInterrupted);
  const QString row =
      view_->List()->Model()->data(view_->List()->Model()->index(0, ui::CConvertOrderModel::kStatusColumn), Qt::DisplayRole)
          .toString();
  EXPECT_TRUE(row.startsWith("Interrupted at ")) << row.toStdString();
  const double d = ProbeDuration(e->OutputPath().Full());
  EXPECT_GT(d, 0.0);
  EXPECT_LT(d, 20.0);
}

// Convert after a Break asks whether to go on; Yes continues the movie into its next part.
TEST_F(FormTest, ConvertAfterBreak_AsksToResume_AndYesContinuesIntoTheNextPart) {
  doc_->SetRemoveAfterConversion(false);
  const std::string movie = Movie("long.avi", 20, 320, 240);
  AddThroughDialog({movie});
  CConvertOrder* e = doc_->GetAt(0);
  const std::string output = e->OutputPath().Full();
  view_->Actions().convert->trigger();
  ASSERT_TRUE(Eventually([&] { return view_->Form()->fileProgress->value() >= 10 || !doc_->IsConverting(); }, 60000));
  ASSERT_TRUE(doc_->IsConverting()) << "the movie converted before it could be broken";
  QTest::mouseClick(view_->Form()->breakButton, Qt::LeftButton);
  ASSERT_EQ(e->GetState(), CConvertOrder::kInterrupted);
  const REFERENCE_TIME at = e->GetInterruptedAt();
  EXPECT_TRUE(dialogs_->questions.empty());

  dialogs_->answers.push_back(true);
  view_->Actions().convert->trigger();
  ASSERT_EQ(dialogs_->questions.size(), 1u);
  EXPECT_NE(dialogs_->questions[0].find("Continue them where they stopped?"), std::string::npos);
  ASSERT_TRUE(Eventually([&] { return !doc_->IsConverting(); }, 60000));
  EXPECT_EQ(e->GetState(), CConvertOrder::kConverted) << e->GetStatusText();
  const std::string base = output.substr(0, output.size() - 4);
  ASSERT_TRUE(std::filesystem::exists(base + "0001.qvf"));
  ASSERT_TRUE(std::filesystem::exists(base + "0002.qvf"));
  EXPECT_FALSE(std::filesystem::exists(output));
  const double first = ProbeDuration(base + "0001.qvf");
  EXPECT_NEAR(first, double(at) / 1e7, 0.2);
  EXPECT_NEAR(first + ProbeDuration(base + "0002.qvf"), ProbeDuration(movie), 0.2);

  // Converted: nothing to ask the next time.
  e->SetChecked(true);
  view_->Actions().convert->trigger();
  EXPECT_EQ(dialogs_->questions.size(), 1u);
  if (doc_->IsConverting()) view_->Actions().breakRun->trigger();
}

TEST_F(FormTest, Preview_RemovedEntryClosesAndPlayListKeepsListOrder) {
  const std::string a = Movie("p1.avi", 1), b = Movie("p2.avi", 1), c = Movie("p3.avi", 1);
  AddThroughDialog({a, b, c});
  view_->List()->selectAll();
  ASSERT_EQ(doc_->GetSelection().size(), 3u);
  std::vector<CConvertOrder*> played;
  view_->Actions().play->trigger();
  ASSERT_TRUE(Eventually(
      [&] {
        if (view_->Previewed() && (played.empty() || played.back() != view_->Previewed()))
          played.push_back(view_->Previewed());
        return played.size() == 3 && view_->PlayListRemaining() == 0 &&
               view_->Player().GetState() != PlayerCore::kRunning;
      },
      30000))
      << played.size() << " played, " << view_->PlayListRemaining() << " to go, state " << view_->Player().GetState();
  ASSERT_EQ(played.size(), 3u);
  EXPECT_EQ(played[0], doc_->GetAt(0));
  EXPECT_EQ(played[1], doc_->GetAt(1));
  EXPECT_EQ(played[2], doc_->GetAt(2));

  CConvertOrder* last = doc_->GetAt(2);
  SelectRow(last);
  ASSERT_EQ(view_->Previewed(), last);
  view_->Actions().remove->trigger();
  EXPECT_EQ(view_->Previewed(), nullptr);
  EXPECT_FALSE(view_->Player().IsAttached());
  EXPECT_EQ(doc_->GetCount(), 2u);
  EXPECT_EQ(view_->List()->Model()->rowCount(), 2);
}

TEST_F(FormTest, DroppedFilesAndFolders_AddMoviesSelectingTheLast) {
  const std::string folder = dir_ + "/dropped";
  tavtest::Run("mkdir -p '" + folder + "/sub'");
  const std::string a = Movie("dropped/x1.avi", 1), b = Movie("dropped/sub/x2.avi", 1);
  std::ofstream(folder + "/notes.txt") << "not a movie";
  const std::string single = Movie("single.avi", 1);
  view_->AddDroppedFiles(
      {QUrl::fromLocalFile(QString::fromStdString(folder)), QUrl::fromLocalFile(QString::fromStdString(single))});
  ASSERT_EQ(doc_->GetCount(), 3u);
  EXPECT_EQ(doc_->GetAt(0)->SourcePath().Full(), b);  // name order: "sub/x2.avi" < "x1.avi"
  EXPECT_EQ(doc_->GetAt(1)->SourcePath().Full(), a);
  EXPECT_EQ(doc_->GetAt(2)->SourcePath().Full(), single);
  EXPECT_EQ(doc_->GetSingleSelected(), doc_->GetAt(2));
  EXPECT_EQ(view_->Previewed(), doc_->GetAt(2));

  // While converting, a movie opened through the document is not added.
  view_->Actions().convert->trigger();
  ASSERT_TRUE(doc_->IsConverting());
  const std::string more = Movie("more.avi", 1);
  doc_->UpdateAllViews(DocumentHint::kMovieOpened, nullptr, &more);
  EXPECT_EQ(doc_->GetCount(), 3u);
  view_->Actions().breakRun->trigger();
}

TEST_F(FormTest, AddFolder_AddsExactlyTheMoviesInNameOrder) {
  const std::string folder = dir_ + "/chosen";
  tavtest::Run("mkdir -p '" + folder + "/b' '" + folder + "/.hidden'");
  const std::string a = Movie("chosen/a.avi", 1), b1 = Movie("chosen/b/1.avi", 1);
  Movie("chosen/.hidden/secret.avi", 1);
  tavtest::Run("cp '" + a + "' '" + folder + "/b/[QVF]-1.qvf'");  // an earlier output
  std::ofstream(folder + "/b/notes.txt") << "not a movie";
  EXPECT_TRUE(view_->Actions().addFolder->isEnabled());
  dialogs_->folders.push_back(folder);
  view_->Actions().addFolder->trigger();
  ASSERT_EQ(doc_->GetCount(), 2u);
  EXPECT_EQ(doc_->GetAt(0)->SourcePath().Full(), a);
  EXPECT_EQ(doc_->GetAt(1)->SourcePath().Full(), b1);
  EXPECT_EQ(doc_->GetSingleSelected(), doc_->GetAt(1));

  // Cancelling the folder dialog adds nothing.
  view_->Actions().addFolder->trigger();
  EXPECT_EQ(doc_->GetCount(), 2u);
}

TEST_F(FormTest, SubtitleEncoding_FoundWhenAdded_ShowsInTheRowTooltip) {
  const std::string movie = Movie("korean.avi", 1);
  const std::string utf8 = dir_ + "/korean.utf8.txt";
  std::ofstream(utf8) << "<SAMI><BODY>\n<SYNC Start=0><P>안녕하세요 여러분, 오늘은 날씨가 좋습니다\n</BODY></SAMI>\n";
  const std::string sami = movie.substr(0, movie.size() - 4) + ".smi";  // beside the movie
  ASSERT_EQ(tavtest::Run("iconv -f UTF-8 -t CP949 '" + utf8 + "' > '" + sami + "'"), 0);
  AddThroughDialog({movie});
  ASSERT_EQ(doc_->GetCount(), 1u);
  CConvertOrder* e = doc_->GetAt(0);
  EXPECT_EQ(e->GetSubtitleEncoding(), "CP949");
  const ui::CConvertOrderListCtrl* list = view_->List();
  const QString tip = list->Model()->index(list->RowOf(e), 0).data(Qt::ToolTipRole).toString();
  EXPECT_EQ(tip, QString::fromStdString(movie + "\nSubtitles: korean.smi (CP949)"));
}

TEST_F(FormTest, SaveCloseReopen_BringsBackTheBatch) {
  const std::string first = Movie("s1.avi", 2), second = Movie("s2.avi", 4, 192, 108);
  const std::string sami = SamiFile("s2.smi");
  AddThroughDialog({first, second});
  ASSERT_EQ(doc_->GetCount(), 2u);
  doc_->GetAt(0)->SetChecked(false);
  CConvertOrder* e = doc_->GetAt(1);
  ASSERT_EQ(doc_->GetSingleSelected(), e);
  auto* ui = view_->Form();
  // Every setting of the entry, as the user makes them in the form.
  std::filesystem::create_directories(dir_ + "/out");
  Choose(ui->frameSizeCombo, 1);
  Choose(ui->frameRateCombo, 0);
  Choose(ui->screenSizeCombo, 1);
  Choose(ui->splitCombo, 3);
  ASSERT_EQ(ui->subtitleFileEdit->text().toStdString(), "s2.smi");
  Choose(ui->languageCombo, 1);
  Choose(ui->subtitleSizeCombo, ui->subtitleSizeCombo->findText("Smaller"));
  Type(ui->outputFolderEdit, dir_ + "/out");
  // A name typed but not finished is taken by the save, as are the player's trim points.
  ui->outputNameEdit->setFocus();
  ui->outputNameEdit->selectAll();
  QTest::keyClicks(ui->outputNameEdit, "renamed");
  ASSERT_EQ(view_->Player().SetPoints(1 * kSecond, 3 * kSecond), S_OK);
  const std::string language = e->GetSubtitleLanguage();
  const std::string batch = dir_ + "/batch.tvc";
  std::string error;
  ASSERT_TRUE(doc_->OnSaveDocument(batch, &error)) << error;

  doc_->DeleteContents();
  EXPECT_EQ(view_->List()->Model()->rowCount(), 0);
  ASSERT_TRUE(doc_->OnOpenDocument(batch, &error)) << error;
  view_->OnInitialUpdate();
  ASSERT_EQ(view_->List()->Model()->rowCount(), 2);
  EXPECT_FALSE(doc_->GetAt(0)->IsChecked());
  EXPECT_FALSE(view_->List()->IsRowChecked(0));
  EXPECT_TRUE(view_->List()->IsRowChecked(1));
  CConvertOrder* back = doc_->GetAt(1);
  SelectRow(back);
  EXPECT_EQ(ui->frameSizeCombo->currentText().toStdString(), "640 x 480");
  EXPECT_EQ(ui->frameRateCombo->currentText().toStdString(), "15 fps");
  EXPECT_EQ(ui->screenSizeCombo->currentText().toStdString(), "Crop");
  EXPECT_EQ(ui->splitCombo->currentText().toStdString(), "128 MB");
  EXPECT_EQ(ui->subtitleFileEdit->text().toStdString(), "s2.smi");
  EXPECT_EQ(ui->languageCombo->currentData().toString().toStdString(), language);
  EXPECT_EQ(ui->subtitleSizeCombo->currentText().toStdString(), "Smaller");
  EXPECT_EQ(ui->outputFolderEdit->text().toStdString(), dir_ + "/out/");
  EXPECT_EQ(ui->outputNameEdit->text().toStdString(), "renamed");
  EXPECT_EQ(back->SubtitlePath().Full(), sami);
  REFERENCE_TIME start = -1, end = -1;
  ASSERT_TRUE(back->GetTrimPoints(&start, &end));
  EXPECT_EQ(start, 1 * kSecond);
  EXPECT_EQ(end, 3 * kSecond);
  // The preview opens with the markers at the saved points.
  ASSERT_EQ(view_->Previewed(), back);
  REFERENCE_TIME duration = 0;
  ASSERT_EQ(view_->Player().GetDuration(&duration), S_OK);
  EXPECT_NEAR(ui->positionSlider->SelStart(), 1000.0 * kSecond / double(duration), 1);
  EXPECT_NEAR(ui->positionSlider->SelEnd(), 3000.0 * kSecond / double(duration), 1);
}

TEST_F(FormTest, InTheFrame_TitleShowsRunProgress_AndEveryControlSaysWhatItDoes) {
  // The form as the application installs it, in the main frame.
  view_.reset();
  ui::CMainFrame frame;
  CTavrionConverterView* view = ShowFormInFrame(*doc_, frame);
  ASSERT_TRUE(view);
  const QString plain = frame.windowTitle();
  EXPECT_EQ(plain.toStdString(), "Tavrion Converter");

  const std::string movie = Movie("title.avi", 10, 320, 240);
  doc_->UpdateAllViews(DocumentHint::kMovieOpened, nullptr, &movie);
  ASSERT_EQ(doc_->GetCount(), 1u);
  auto* ui = view->Form();

  // Status-bar texts and tooltips: every control that does something has both, from the
  // string table; the output folder's tooltip is the folder.
  EXPECT_EQ(ui->breakButton->toolTip().toStdString(),
            "Break off the conversion; the unfinished output is kept as a playable movie");
  EXPECT_EQ(ui->breakButton->statusTip(), ui->breakButton->toolTip());
  for (QWidget* w : std::initializer_list<QWidget*>{
           view->List(), ui->removeAfterCheck, ui->useSubtitlesCheck, ui->subtitleFileLabel, ui->subtitleFileEdit,
           ui->subtitleBrowseButton, ui->languageCombo, ui->subtitleSizeCombo, ui->outputFolderBrowseButton,
           ui->outputNameEdit, ui->runButton, ui->videoHost, ui->positionSlider, ui->playButton, ui->stopButton,
           ui->outputFormatCombo, ui->frameSizeCombo, ui->frameRateCombo, ui->screenSizeCombo, ui->splitCombo,
           ui->fileProgress, ui->totalProgress}) {
    EXPECT_FALSE(w->statusTip().isEmpty()) << w->objectName().toStdString();
    EXPECT_FALSE(w->toolTip().isEmpty()) << w->objectName().toStdString();
    EXPECT_LE(w->toolTip().size(), 80) << w->objectName().toStdString();
  }
  EXPECT_EQ(ui->subtitleFileLabel->statusTip(), ui->subtitleFileEdit->statusTip());
  EXPECT_EQ(ui->outputFolderEdit->toolTip().toStdString(), doc_->GetAt(0)->OutputPath().Folder());
  EXPECT_FALSE(ui->outputFolderEdit->statusTip().isEmpty());
  // The batch commands of the File menu are the form's own actions, from the string table
  // with their prompts.
  bool formAddInMenu = false;
  for (QAction* a : frame.menuBar()->actions().front()->menu()->actions())
    formAddInMenu |= a == view->Actions().addFiles;
  EXPECT_TRUE(formAddInMenu);
  for (const char* text : {"Move &up", "Move do&wn", "&Modify source..."}) {
    QAction* found = nullptr;
    for (QAction* a : frame.findChildren<QAction*>())
      if (a->text() == QString::fromUtf8(text)) found = a;
    ASSERT_TRUE(found) << text;
    EXPECT_FALSE(found->statusTip().isEmpty()) << text;
  }

  // During a run the title leads with the total progress, and is plain again after it.
  const QString convertTip = ui->runButton->statusTip();
  view->Actions().convert->trigger();
  ASSERT_TRUE(doc_->IsConverting());
  EXPECT_NE(ui->runButton->statusTip(), convertTip) << "the button's texts follow its command";
  const QRegularExpression progress("^(\\d+)% - Tavrion Converter$");
  int shown = -1;
  ASSERT_TRUE(Eventually(
      [&] {
        const QRegularExpressionMatch m = progress.match(frame.windowTitle());
        if (m.hasMatch()) shown = m.captured(1).toInt();
        return shown > 0 || !doc_->IsConverting();
      },
      60000))
      << frame.windowTitle().toStdString();
  EXPECT_GT(shown, 0) << "no progress in the title before the run ended";
  EXPECT_LE(shown, 100);
  ASSERT_TRUE(Eventually([&] { return !doc_->IsConverting(); }, 120000));
  EXPECT_TRUE(Eventually([&] { return frame.windowTitle() == plain; }, 10000)) << frame.windowTitle().toStdString();
  EXPECT_EQ(ui->runButton->statusTip(), convertTip);
}

// Every label and button of the form has a mnemonic of its own that no menu of the menu bar
// takes, and no menu holds two items with the same one: Alt+F opens the File menu wherever
// the focus is.
TEST_F(FormTest, Mnemonics_NoControlSharesOneWithAnotherOrWithTheMenuBar) {
  view_.reset();
  ui::CMainFrame frame;
  CTavrionConverterView* view = ShowFormInFrame(*doc_, frame);
  ASSERT_TRUE(view);
  const auto mnemonic = [](const QString& text) -> QChar {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
      if (text[i] != QLatin1Char('&')) continue;
      if (text[i + 1] != QLatin1Char('&')) return text[i + 1].toUpper();
      ++i;
    }
    return QChar();
  };
  std::map<QChar, std::string> owner;
  const auto take = [&](const QString& text, const std::string& who) {
    const QChar key = mnemonic(text);
    ASSERT_FALSE(key.isNull()) << who << " (\"" << text.toStdString() << "\") has no mnemonic";
    const auto [it, fresh] = owner.emplace(key, who);
    EXPECT_TRUE(fresh) << who << " and " << it->second << " share Alt+" << QString(key).toStdString();
  };
  for (QAction* menu : frame.menuBar()->actions()) {
    take(menu->text(), "menu " + menu->text().toStdString());
    // Inside a menu its items' mnemonics differ too.
    std::map<QChar, std::string> items;
    for (QAction* a : menu->menu()->actions()) {
      if (a->isSeparator() || !a->isVisible()) continue;
      const QChar key = mnemonic(a->text());
      if (key.isNull()) continue;
      const auto [it, fresh] = items.emplace(key, a->text().toStdString());
      EXPECT_TRUE(fresh) << a->text().toStdString() << " and " << it->second << " in " << menu->text().toStdString();
    }
  }
  auto* ui = view->Form();
  for (QLabel* label : view->findChildren<QLabel*>())
    if (label->buddy()) take(label->text(), label->objectName().toStdString());
  for (QAbstractButton* button : view->findChildren<QAbstractButton*>())
    if (!button->text().isEmpty() && button != ui->runButton) take(button->text(), button->objectName().toStdString());
  // The run button shows one of three commands.
  for (UINT id : {res::IDS_BUTTON_CONVERT, res::IDS_BUTTON_PAUSE, res::IDS_BUTTON_RESUME})
    take(QString::fromStdString(res::Text(id)), "run button " + res::Text(id));

  // Alt+F from the subtitle box opens the File menu and types nothing.
  const std::string movie = Movie("keys.avi", 2);
  SamiFile("keys.smi");
  doc_->UpdateAllViews(DocumentHint::kMovieOpened, nullptr, &movie);
  ASSERT_EQ(doc_->GetCount(), 1u);
  QApplication::setActiveWindow(&frame);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
  ui->subtitleFileEdit->setFocus();
  const QString before = ui->subtitleFileEdit->text();
  QTest::keyClick(ui->subtitleFileEdit, Qt::Key_F, Qt::AltModifier);
  Pump(50);
  auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_TRUE(popup) << "Alt+F opened no menu";
  EXPECT_EQ(popup->title().toStdString(), res::Text(res::IDS_MENU_FILE));
  popup->close();
  EXPECT_EQ(ui->subtitleFileEdit->text(), before);
}

// A subtitle file typed into the box is loaded when the name is typed out, not at every key:
// a half-typed name must not close the preview or replace the entry's file.
TEST_F(FormTest, SubtitleFile_TypedIsLoadedWhenFinished) {
  const std::string movie = Movie("typed.avi", 2);
  const std::string own = SamiFile("typed.smi");
  const std::string other = SamiFile("other.smi");
  AddThroughDialog({movie});
  CConvertOrder* e = doc_->GetSingleSelected();
  ASSERT_TRUE(e);
  ASSERT_EQ(view_->Previewed(), e);
  auto* ui = view_->Form();
  ASSERT_EQ(e->SubtitlePath().Full(), own);
  ui->subtitleFileEdit->setFocus();
  ui->subtitleFileEdit->selectAll();
  QTest::keyClicks(ui->subtitleFileEdit, "other.smi");
  EXPECT_EQ(view_->Previewed(), e) << "the preview closed while the name was typed";
  EXPECT_EQ(ui->languageCombo->count(), 2);
  EXPECT_EQ(e->SubtitlePath().Full(), own);
  QTest::keyClick(ui->subtitleFileEdit, Qt::Key_Return);
  EXPECT_EQ(e->SubtitlePath().Full(), other);
  EXPECT_EQ(ui->languageCombo->count(), 2);
}

// The output folder and name are checked where they are typed: a missing folder may be made,
// a name that is no file name is refused with the reason and never reaches the entry.
TEST_F(FormTest, OutputFolderAndName_AreCheckedWhereTyped) {
  AddThroughDialog({Movie("named.avi", 2)});
  CConvertOrder* e = doc_->GetSingleSelected();
  ASSERT_TRUE(e);
  auto* ui = view_->Form();
  const std::string original = e->OutputPath().Full();
  const std::string title = e->OutputPath().Title();
  const auto typeName = [&](const std::string& name) {
    ui->outputNameEdit->setFocus();
    ui->outputNameEdit->setText(QString::fromStdString(name));
    QTest::keyClick(ui->outputNameEdit, Qt::Key_Return);
  };
  const std::pair<std::string, std::string> bad[] = {
      {"", "The output file name is empty."},
      {"../escaped", "contains a folder separator"},
      {"sub/name", "contains a folder separator"},
      {".", "is not a file name"},
      {"..", "is not a file name"},
      {std::string(260, 'n'), "longer than the system allows"},
  };
  for (const auto& [name, reason] : bad) {
    SCOPED_TRACE(name);
    const size_t told = dialogs_->errors.size();
    typeName(name);
    ASSERT_EQ(dialogs_->errors.size(), told + 1);
    EXPECT_NE(dialogs_->errors.back().find(reason), std::string::npos) << dialogs_->errors.back();
    EXPECT_EQ(e->OutputPath().Full(), original);
    EXPECT_EQ(ui->outputNameEdit->text().toStdString(), title);
  }
  // A bad name left in the box does not sneak in with a save either.
  ui->outputNameEdit->setFocus();
  ui->outputNameEdit->selectAll();
  QTest::keyClick(ui->outputNameEdit, Qt::Key_Backspace);
  const size_t toldBefore = dialogs_->errors.size();
  doc_->IsModified();  // asks the views for what they hold
  EXPECT_EQ(dialogs_->errors.size(), toldBefore + 1);
  EXPECT_EQ(e->OutputPath().Full(), original);
  typeName("clip");
  EXPECT_EQ(e->OutputPath().FileName(), "clip.qvf");

  const auto typeFolder = [&](const std::string& folder) {
    ui->outputFolderEdit->setFocus();
    ui->outputFolderEdit->setText(QString::fromStdString(folder));
    QTest::keyClick(ui->outputFolderEdit, Qt::Key_Return);
  };
  // Missing: declined leaves it as it was; accepted makes it.
  const std::string made = dir_ + "/made/here";
  const size_t told = dialogs_->errors.size();
  typeFolder(made);
  ASSERT_EQ(dialogs_->questions.size(), 1u);
  EXPECT_EQ(dialogs_->questions.back(), "The output folder " + made + " does not exist. Create it?");
  EXPECT_FALSE(std::filesystem::exists(made));
  EXPECT_EQ(e->OutputPath().FileName(), "clip.qvf");
  EXPECT_EQ(e->OutputPath().Folder(), dir_ + "/");
  dialogs_->answers.push_back(true);
  typeFolder(made);
  EXPECT_TRUE(std::filesystem::is_directory(made));
  EXPECT_EQ(e->OutputPath().Full(), made + "/clip.qvf");
  EXPECT_EQ(dialogs_->errors.size(), told);
  // A file where the folder should be.
  std::ofstream(dir_ + "/plain") << "x";
  typeFolder(dir_ + "/plain");
  ASSERT_EQ(dialogs_->errors.size(), told + 1);
  EXPECT_EQ(dialogs_->errors.back(), "The output folder " + dir_ + "/plain does not exist");
  EXPECT_EQ(e->OutputPath().Full(), made + "/clip.qvf");
  // Read-only (only where the test's user is refused writing).
  const std::string locked = dir_ + "/locked";
  std::filesystem::create_directory(locked);
  std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  if (::access(locked.c_str(), W_OK) != 0) {
    typeFolder(locked);
    ASSERT_EQ(dialogs_->errors.size(), told + 2);
    EXPECT_EQ(dialogs_->errors.back(), "The output folder " + locked + " is read-only");
    EXPECT_EQ(e->OutputPath().Full(), made + "/clip.qvf");
  }
  std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
}

// A source that went away is said to be gone, not blamed on a codec; Modify source to a good
// movie probes it and shows it in the row and the preview.
TEST_F(FormTest, GoneSource_IsToldAndModifySourceProbesTheNewMovie) {
  const std::string good = Movie("good.avi", 3, 192, 108);
  const std::string vanishing = dir_ + "/vanishing.avi";
  std::filesystem::copy_file(Movie("short.avi", 2), vanishing, std::filesystem::copy_options::overwrite_existing);
  AddThroughDialog({vanishing});
  CConvertOrder* e = doc_->GetSingleSelected();
  ASSERT_TRUE(e);
  view_->ClosePreview();
  std::filesystem::remove(vanishing);
  EXPECT_FALSE(view_->OpenPreview(e, false));
  const auto status = [&] {
    auto* model = view_->List()->Model();
    return model->data(model->index(0, ui::CConvertOrderModel::kStatusColumn), Qt::DisplayRole).toString().toStdString();
  };
  EXPECT_EQ(status(), "The file " + vanishing + " is not there any more");

  dialogs_->files.push_back(good);
  view_->Actions().modifySource->trigger();
  EXPECT_EQ(e->SourcePath().Full(), good);
  EXPECT_EQ(status(), "Paused") << "previewed, paused";
  EXPECT_FALSE(e->HasProbeError());
  EXPECT_EQ(view_->Previewed(), e);
  EXPECT_EQ(e->GetSourceWidth(), 192);
  EXPECT_NEAR(double(e->GetDuration()) / kSecond, 3.0, 0.2);
}

// Files that cannot be added are named in the window with the reason, all in one message.
TEST_F(FormTest, RefusedFiles_AreToldInTheWindow) {
  std::ofstream(dir_ + "/notes.txt") << "hello";
  AddThroughDialog({dir_ + "/notes.txt", Movie("fine.avi", 2), dir_ + "/also.doc"});
  EXPECT_EQ(doc_->GetCount(), 1u);
  ASSERT_EQ(dialogs_->errors.size(), 1u);
  const std::string& told = dialogs_->errors[0];
  EXPECT_NE(told.find(dir_ + "/notes.txt: not a movie file"), std::string::npos) << told;
  EXPECT_NE(told.find(dir_ + "/also.doc: not a movie file"), std::string::npos) << told;
  EXPECT_EQ(told.find("fine.avi"), std::string::npos) << told;
}

// During a run the settings show the movie being converted, read-only, whichever row was
// selected before; a paused run says "Paused" in its row; the end of the run is summed up in
// the window, also when the rows went away.
TEST_F(FormTest, DuringARun_TheConvertingMovieIsShownAndTheEndIsSummedUp) {
  const std::string first = Movie("first.avi", 6, 320, 240), second = Movie("second.avi", 2, 192, 108);
  AddThroughDialog({first, second});
  ASSERT_EQ(doc_->GetCount(), 2u);
  CConvertOrder* a = doc_->GetAt(0);
  CConvertOrder* b = doc_->GetAt(1);
  auto* ui = view_->Form();
  // The second row (selected) converts at 640 x 480, the first at 320 x 240.
  ASSERT_EQ(doc_->GetSingleSelected(), b);
  Choose(ui->frameSizeCombo, 1);
  ASSERT_EQ(b->GetFrameWidth(), 640);
  Type(ui->outputNameEdit, "second-out");
  view_->Actions().convert->trigger();
  ASSERT_TRUE(doc_->IsConverting());
  ASSERT_EQ(view_->Run()->GetCurrent(), a);
  EXPECT_EQ(ui->frameSizeCombo->currentText().toStdString(), "320 x 240");
  EXPECT_EQ(ui->outputNameEdit->text().toStdString(), a->OutputPath().Title());
  EXPECT_FALSE(ui->frameSizeCombo->isEnabled());
  EXPECT_FALSE(ui->outputNameEdit->isEnabled());

  view_->Actions().pauseRun->trigger();
  const auto status = [&](int row) {
    auto* model = view_->List()->Model();
    return model->data(model->index(row, ui::CConvertOrderModel::kStatusColumn), Qt::DisplayRole).toString().toStdString();
  };
  EXPECT_EQ(status(0), "Paused");
  view_->Actions().resumeRun->trigger();
  EXPECT_EQ(status(0), "Converting");
  ASSERT_TRUE(Eventually([&] { return view_->Run()->GetCurrent() == b || !doc_->IsConverting(); }, 60000));
  if (doc_->IsConverting()) {
    EXPECT_EQ(ui->frameSizeCombo->currentText().toStdString(), "640 x 480");
    EXPECT_EQ(ui->outputNameEdit->text().toStdString(), "second-out");
  }
  ASSERT_TRUE(Eventually([&] { return !doc_->IsConverting(); }, 60000));
  // Both rows went (Remove after conversion); the window says what happened.
  EXPECT_EQ(doc_->GetCount(), 0u);
  ASSERT_EQ(dialogs_->summaries.size(), 1u);
  EXPECT_EQ(dialogs_->summaries[0].first, "Conversion finished\n2 converted, 0 failed, 0 interrupted\nOutput folder: " +
                                              dir_ + "/");
  EXPECT_EQ(dialogs_->summaries[0].second, dir_ + "/");
}

// Adding many movies keeps the window responsive: only the last is previewed at once, the
// others are probed in the background and their rows fill in as the results come.
TEST_F(FormTest, ManyMovies_AddWithoutStallingTheWindow) {
  const std::string one = Movie("many.avi", 1);
  std::vector<std::string> files;
  for (int i = 0; i < 50; ++i) {
    const std::string copy = dir_ + "/many" + std::to_string(i) + ".avi";
    std::filesystem::copy_file(one, copy, std::filesystem::copy_options::overwrite_existing);
    files.push_back(copy);
  }
  // The add returns to the event loop before the movies are probed: the results come back
  // as events, so none but the previewed one can be known when the command returns. Probing
  // them on the window's thread would stop the window for the whole add.
  size_t probedAtOnce = 0, pendingAtOnce = 0;
  dialogs_->movies.push_back(files);
  QTimer::singleShot(0, [&] {
    view_->Actions().addFiles->trigger();
    pendingAtOnce = view_->ProbesPending();
    for (size_t i = 0; i < doc_->GetCount(); ++i) probedAtOnce += doc_->GetAt(i)->GetDuration() != kUnknownTime;
  });
  ASSERT_TRUE(Eventually([&] { return doc_->GetCount() == 50 && view_->ProbesPending() == 0; }, 120000));
  EXPECT_LE(probedAtOnce, 1u) << "movies were probed on the window's thread";
  EXPECT_GE(pendingAtOnce, 49u);
  EXPECT_EQ(doc_->GetSingleSelected(), doc_->GetAt(49));
  EXPECT_EQ(view_->Previewed(), doc_->GetAt(49));
  for (size_t i = 0; i < 50; ++i) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(double(doc_->GetAt(i)->GetDuration()) / kSecond, 1.0, 0.2);
    EXPECT_EQ(doc_->GetAt(i)->GetSourceWidth(), 160);
  }
  // Selecting every row previews none of them.
  view_->List()->selectAll();
  EXPECT_EQ(doc_->GetSelection().size(), 50u);
  EXPECT_TRUE(view_->Previewed() == nullptr || view_->Previewed() == doc_->GetAt(49));
}

// A portrait phone movie (stored 640 x 360 with a quarter turn) is listed as it is shown,
// 360 x 640, whether the preview or the background probe found it; the stored size is kept
// for Properties.
TEST_F(FormTest, TurnedMovie_IsListedAsShown) {
  const std::string plain = dir_ + "/phone-plain.mp4", turned = dir_ + "/phone.mp4";
  ASSERT_TRUE(tavtest::GeneratedMovie("-f lavfi -i testsrc=size=640x360:rate=15:d=1 -c:v mpeg4", plain));
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -i '" + plain + "' -c copy -metadata:s:v:0 rotate=90 '" +
                         turned + "'"),
            0);
  const std::string other = dir_ + "/phone2.mp4";
  std::filesystem::copy_file(turned, other, std::filesystem::copy_options::overwrite_existing);
  AddThroughDialog({other, turned});  // the first probed in the background, the second previewed
  ASSERT_EQ(doc_->GetCount(), 2u);
  ASSERT_TRUE(Eventually([&] { return view_->ProbesPending() == 0; }, 30000));
  Pump(50);
  auto* model = view_->List()->Model();
  for (int row = 0; row < 2; ++row) {
    SCOPED_TRACE(row);
    CConvertOrder* e = doc_->GetAt(size_t(row));
    EXPECT_EQ(e->GetSourceWidth(), 360);
    EXPECT_EQ(e->GetSourceHeight(), 640);
    EXPECT_EQ(e->GetStoredWidth(), 640);
    EXPECT_EQ(e->GetStoredHeight(), 360);
    const QString size = model->data(model->index(row, ui::CConvertOrderModel::kFrameSizeColumn), Qt::DisplayRole).toString();
    EXPECT_EQ(size.simplified().toStdString(), "360 x 640");
  }
}

// Turning subtitles off and on while the preview is paused keeps the "current/total" line.
TEST_F(FormTest, PausedPreview_KeepsItsPositionLineWhenSubtitlesToggle) {
  const std::string movie = Movie("lines.avi", 3);
  SamiFile("lines.smi");
  AddThroughDialog({movie});
  ASSERT_TRUE(view_->Previewed());
  auto* ui = view_->Form();
  ASSERT_TRUE(Eventually([&] { return !ui->playStatusLabel->text().isEmpty(); }, 5000));
  const QString line = ui->playStatusLabel->text();
  for (bool on : {false, true}) {
    if (ui->useSubtitlesCheck->isChecked() != on) QTest::mouseClick(ui->useSubtitlesCheck, Qt::LeftButton);
    ASSERT_EQ(doc_->GetSingleSelected()->UsesSubtitles(), on);
    Pump(300);
    EXPECT_EQ(ui->playStatusLabel->text(), line) << (on ? "on" : "off");
  }
}

// Three entries selected: one change in the settings goes into all three; a list or a box
// where they differ shows that, and left alone changes nothing.
TEST_F(FormTest, SeveralSelected_OneChangeReachesEach_AndAMixedControlLeftAloneChangesNothing) {
  const std::string a = Movie("m1.avi", 2), b = Movie("m2.avi", 2, 192, 108), c = Movie("m3.avi", 2);
  SamiFile("m1.smi");  // only the first has subtitles
  AddThroughDialog({a, b, c});
  ASSERT_EQ(doc_->GetCount(), 3u);
  ASSERT_TRUE(Eventually([&] { return view_->ProbesPending() == 0; }, 30000));
  CConvertOrder* e[3] = {doc_->GetAt(0), doc_->GetAt(1), doc_->GetAt(2)};
  auto* ui = view_->Form();
  // The second converts at 15 fps, the others at 30.
  SelectRow(e[1]);
  Choose(ui->frameRateCombo, 0);
  ASSERT_DOUBLE_EQ(e[1]->GetFrameRate(), 15.0);
  ASSERT_TRUE(e[0]->UsesSubtitles());
  ASSERT_FALSE(e[1]->UsesSubtitles());

  SelectRows({e[0], e[1], e[2]});
  ASSERT_EQ(doc_->GetSelection().size(), 3u);
  EXPECT_EQ(view_->Previewed(), nullptr) << "several rows are not previewed";
  // Shared settings show; differing ones show no item and say so.
  EXPECT_EQ(ui->frameSizeCombo->currentText().toStdString(), "320 x 240");
  EXPECT_EQ(ui->frameRateCombo->currentIndex(), -1);
  EXPECT_EQ(ui->frameRateCombo->placeholderText().toStdString(), "(differs)");
  EXPECT_EQ(ui->useSubtitlesCheck->checkState(), Qt::PartiallyChecked);
  EXPECT_EQ(ui->outputFolderEdit->text().toStdString(), dir_ + "/");
  EXPECT_EQ(ui->outputNameEdit->text().toStdString(), "");
  EXPECT_TRUE(ui->frameRateCombo->isEnabled());

  // One change each; every entry takes it, and the rates stay as they were.
  const std::string out = dir_ + "/several";
  std::filesystem::create_directories(out);
  Choose(ui->frameSizeCombo, 1);
  Choose(ui->splitCombo, 1);
  Choose(ui->screenSizeCombo, 2);
  Type(ui->outputFolderEdit, out);
  for (CConvertOrder* x : e) {
    SCOPED_TRACE(x->SourcePath().FileName());
    EXPECT_EQ(x->GetFrameWidth(), 640);
    EXPECT_EQ(x->GetFrameHeight(), 480);
    EXPECT_EQ(x->GetSplitSize(), 32ull << 20);
    EXPECT_EQ(x->OutputPath().Folder(), out + "/");
    EXPECT_EQ(x->OutputPath().Title(), "[QVF]-" + x->SourcePath().Title()) << "each keeps its own name";
  }
  // The 4:3 movies always fit; the wide one takes Stretch.
  EXPECT_EQ(e[0]->GetScreenFit(), CConvertOrder::kFit);
  EXPECT_EQ(e[1]->GetScreenFit(), CConvertOrder::kStretch);
  EXPECT_DOUBLE_EQ(e[0]->GetFrameRate(), 30.0);
  EXPECT_DOUBLE_EQ(e[1]->GetFrameRate(), 15.0);
  EXPECT_DOUBLE_EQ(e[2]->GetFrameRate(), 30.0);
  EXPECT_EQ(ui->frameRateCombo->currentIndex(), -1) << "still differing";
  EXPECT_EQ(ui->frameSizeCombo->currentText().toStdString(), "640 x 480");

  // The subtitle size goes only to the entry that has subtitles.
  const std::string before = e[1]->GetSubtitleSize();
  ASSERT_TRUE(ui->subtitleSizeCombo->isEnabled());
  Choose(ui->subtitleSizeCombo, ui->subtitleSizeCombo->findText("Bigger"));
  EXPECT_EQ(e[0]->GetSubtitleSize(), "9F0194EA-D60A-43d2-B994-CB0FDDE02C3E");
  EXPECT_EQ(e[1]->GetSubtitleSize(), before);
  // The rate chosen at last: all three at 30 fps.
  Choose(ui->frameRateCombo, 1);
  for (CConvertOrder* x : e) EXPECT_DOUBLE_EQ(x->GetFrameRate(), 30.0);
  EXPECT_EQ(ui->frameRateCombo->currentText().toStdString(), "30 fps");
  // A click on the mixed subtitle box: the only entry with a file has them on already, so
  // the click switches them off for all; the next one on again where there is a file.
  QTest::mouseClick(ui->useSubtitlesCheck, Qt::LeftButton);
  EXPECT_EQ(ui->useSubtitlesCheck->checkState(), Qt::Unchecked);
  for (CConvertOrder* x : e) EXPECT_FALSE(x->UsesSubtitles());
  QTest::mouseClick(ui->useSubtitlesCheck, Qt::LeftButton);
  EXPECT_TRUE(e[0]->UsesSubtitles());
  EXPECT_FALSE(e[2]->UsesSubtitles());
  EXPECT_EQ(ui->useSubtitlesCheck->checkState(), Qt::PartiallyChecked);

  // One of them alone shows its own settings again.
  SelectRow(e[1]);
  EXPECT_EQ(ui->outputNameEdit->text().toStdString(), e[1]->OutputPath().Title());
  EXPECT_EQ(ui->frameSizeCombo->currentText().toStdString(), "640 x 480");
  EXPECT_EQ(ui->screenSizeCombo->currentText().toStdString(), "Stretch");
}

// The keyboard: Insert and Delete in the list add and remove, Ctrl+Return converts, and
// Escape breaks a run only once the user agrees.
TEST_F(FormTest, Keys_InsertDeleteCtrlReturnAndEscape) {
  view_->show();
  QApplication::setActiveWindow(view_.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(view_.get()));
  doc_->SetRemoveAfterConversion(false);
  const std::string first = Movie("k1.avi", 20, 320, 240), second = Movie("k2.avi", 1);
  ui::CConvertOrderListCtrl* list = view_->List();
  list->setFocus();
  dialogs_->movies.push_back({first, second});
  QTest::keyClick(list, Qt::Key_Insert);
  EXPECT_EQ(dialogs_->openMoviesCalls, 1);
  ASSERT_EQ(doc_->GetCount(), 2u);
  list->setFocus();
  QTest::keyClick(list, Qt::Key_Delete);
  ASSERT_EQ(doc_->GetCount(), 1u);
  EXPECT_EQ(doc_->GetAt(0)->SourcePath().Full(), first);
  // Delete in an edit deletes text, not movies.
  SelectRow(doc_->GetAt(0));
  view_->Form()->outputNameEdit->setFocus();
  QTest::keyClick(view_->Form()->outputNameEdit, Qt::Key_Delete);
  EXPECT_EQ(doc_->GetCount(), 1u);

  QTest::keyClick(view_->Form()->frameSizeCombo, Qt::Key_Return, Qt::ControlModifier);
  ASSERT_TRUE(doc_->IsConverting());
  dialogs_->answers.push_back(false);
  QTest::keyClick(list, Qt::Key_Escape);
  ASSERT_EQ(dialogs_->questions.size(), 1u);
  EXPECT_EQ(dialogs_->questions[0], res::Text(res::IDS_BREAK_QUESTION));
  EXPECT_TRUE(doc_->IsConverting()) << "No leaves the run going";
  dialogs_->answers.push_back(true);
  QTest::keyClick(list, Qt::Key_Escape);
  EXPECT_FALSE(doc_->IsConverting());
  EXPECT_EQ(doc_->GetAt(0)->GetState(), CConvertOrder::kInterrupted);
  // Without a run Escape asks nothing.
  QTest::keyClick(list, Qt::Key_Escape);
  EXPECT_EQ(dialogs_->questions.size(), 2u);
}

// Tab from the list reaches every control the user can work, and comes back to the list.
TEST_F(FormTest, Tab_ReachesEveryEnabledControl) {
  view_->show();
  QApplication::setActiveWindow(view_.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(view_.get()));
  const std::string movie = Movie("tab.avi", 2, 192, 108);
  SamiFile("tab.smi");
  AddThroughDialog({movie});
  ASSERT_EQ(doc_->GetSingleSelected(), doc_->GetAt(0));
  view_->List()->setFocus();
  std::set<QWidget*> reached;
  for (int i = 0; i < 80; ++i) {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_TRUE(focus);
    if (!reached.insert(focus).second) break;
    QTest::keyClick(focus, Qt::Key_Tab);
  }
  EXPECT_EQ(QApplication::focusWidget(), view_->List()) << "Tab went round without coming back to the list";
  EXPECT_GE(reached.size(), 15u);
  for (QWidget* w : view_->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(view_.get()) || !w->isEnabled() || !(w->focusPolicy() & Qt::TabFocus)) continue;
    if (w->focusProxy() || qobject_cast<QAbstractScrollArea*>(w->parentWidget())) continue;  // the list's parts
    EXPECT_TRUE(reached.count(w)) << w->objectName().toStdString() << " is not reached by Tab";
  }
  auto* ui = view_->Form();
  for (QWidget* w : std::initializer_list<QWidget*>{ui->playButton, ui->stopButton, ui->positionSlider,
                                                    ui->subtitleFileEdit, ui->splitCombo, ui->runButton})
    EXPECT_TRUE(reached.count(w)) << w->objectName().toStdString();
}

// Nothing polls: with no run and no preview no timer of the form runs, and the controls
// still follow the document and the list.
TEST_F(FormTest, Idle_NoTimerRuns) {
  AddThroughDialog({Movie("idle.avi", 1)});
  view_->ClosePreview();
  for (QTimer* timer : view_->findChildren<QTimer*>())
    EXPECT_FALSE(timer->isActive()) << timer->objectName().toStdString() << " every " << timer->interval() << " ms";
  EXPECT_TRUE(Eventually([&] { return !view_->Form()->positionSlider->IsFollowing(); }, 2000))
      << "the slider follows a player with no graph";
  // A check box cleared in the list disables Convert at once.
  view_->List()->Model()->SetRowChecked(0, false);
  EXPECT_FALSE(view_->Actions().convert->isEnabled());
  EXPECT_FALSE(view_->Form()->runButton->isEnabled());
  view_->List()->Model()->SetRowChecked(0, true);
  EXPECT_TRUE(view_->Actions().convert->isEnabled());
}

}  // namespace
}  // namespace tav::formtest
