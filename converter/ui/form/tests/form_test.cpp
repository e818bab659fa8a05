// The main form over real generated movies: what it enables in each state, the exchange
// of every setting with the selected entry, the subtitle file steps, a whole run driven
// from the form with pause, resume and break, the preview and play list, and a batch that
// is saved and opened again.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "converter/engine/conversionrun.h"
#include "converter/ui/app/mainframe.h"
#include "converter/ui/form/formview.h"
#include "converter/ui/player/customslider.h"
#include "converter/ui/form/tests/formfixture.h"
#include "tests/support/testenv.h"
#include "ui_tavrionconverterview.h"

namespace tav::formtest {
namespace {

constexpr REFERENCE_TIME kSecond = 10000000;

TEST_F(FormTest, Enabling_FollowsSelectionSubtitlesAndSource) {
  auto* ui = view_->Form();
  view_->UpdateDialogControls();
  // Nothing selected: the entry settings are off, Add is on, Convert needs a checked entry.
  EXPECT_FALSE(ui->frameSizeCombo->isEnabled());
  EXPECT_FALSE(ui->useSubtitlesCheck->isEnabled());
  EXPECT_TRUE(view_->IsCommandEnabled(ID_ADD_FILES));
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
  view_->UpdateDialogControls();
  EXPECT_TRUE(ui->frameSizeCombo->isEnabled());
  EXPECT_TRUE(ui->outputNameEdit->isEnabled());
  EXPECT_FALSE(ui->screenSizeCombo->isEnabled()) << "a 4:3 source always fits";
  EXPECT_TRUE(ui->runButton->isEnabled());
  EXPECT_TRUE(view_->IsCommandEnabled(ID_MODIFY_SOURCE));

  SelectRow(w);
  EXPECT_EQ(doc_->GetSingleSelected(), w);
  EXPECT_EQ(view_->Previewed(), w);
  view_->UpdateDialogControls();
  EXPECT_TRUE(ui->screenSizeCombo->isEnabled());
  EXPECT_TRUE(ui->splitCombo->isEnabled());

  // Subtitles off: file, language and size are off, the box itself stays on.
  ui->useSubtitlesCheck->setChecked(false);
  view_->OnUseSubtitles();
  view_->UpdateDialogControls();
  EXPECT_TRUE(ui->useSubtitlesCheck->isEnabled());
  EXPECT_FALSE(ui->subtitleFileEdit->isEnabled());
  EXPECT_FALSE(ui->languageCombo->isEnabled());
  EXPECT_FALSE(ui->subtitleSizeCombo->isEnabled());

  // A source that cannot seek: no split, shown as "unlimited".
  view_->ClosePreview();
  w->SetSourceInfo(w->GetDuration(), 192, 108, false);
  view_->UpdateData(false);
  view_->UpdateDialogControls();
  EXPECT_FALSE(ui->splitCombo->isEnabled());
  EXPECT_EQ(ui->splitCombo->currentText().toStdString(), "unlimited");

  // Both selected: only list commands.
  view_->List()->selectAll();
  EXPECT_EQ(doc_->GetSelection().size(), 2u);
  view_->UpdateDialogControls();
  EXPECT_FALSE(ui->frameSizeCombo->isEnabled());
  EXPECT_FALSE(ui->useSubtitlesCheck->isEnabled());
  EXPECT_TRUE(view_->IsCommandEnabled(ID_REMOVE));
  EXPECT_FALSE(view_->IsCommandEnabled(ID_MOVE_UP));
  EXPECT_FALSE(view_->IsCommandEnabled(ID_MODIFY_SOURCE));
}

TEST_F(FormTest, Exchange_CarriesEverySettingBothWays) {
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

  ui->frameSizeCombo->setCurrentIndex(1);
  ui->frameRateCombo->setCurrentIndex(0);
  ui->screenSizeCombo->setCurrentIndex(2);
  ui->splitCombo->setCurrentIndex(2);
  ui->languageCombo->setCurrentIndex(1);
  ui->subtitleSizeCombo->setCurrentIndex(ui->subtitleSizeCombo->findText("Bigger"));
  ui->outputFolderEdit->setText(QString::fromStdString(dir_ + "/out"));
  ui->outputNameEdit->setText("clip");
  view_->UpdateData(true);
  EXPECT_EQ(e->GetFrameWidth(), 640);
  EXPECT_EQ(e->GetFrameHeight(), 480);
  EXPECT_DOUBLE_EQ(e->GetFrameRate(), 15.0);
  EXPECT_EQ(e->GetScreenFit(), CConvertOrder::kStretch);
  EXPECT_EQ(e->GetSplitSize(), 64ull << 20);
  EXPECT_EQ(e->GetSubtitleLanguage(), ui->languageCombo->itemData(1).toString().toStdString());
  EXPECT_EQ(e->GetSubtitleSize(), "9F0194EA-D60A-43d2-B994-CB0FDDE02C3E");
  EXPECT_EQ(e->OutputPath().Full(), dir_ + "/out/clip.qvf");
  EXPECT_EQ(e->SubtitlePath().Full(), sami) << "the relative text is stored absolute";

  // Reloading shows the same.
  ui->frameSizeCombo->setCurrentIndex(0);
  ui->screenSizeCombo->setCurrentIndex(0);
  view_->UpdateData(false);
  EXPECT_EQ(ui->frameSizeCombo->currentText().toStdString(), "640 x 480");
  EXPECT_EQ(ui->frameRateCombo->currentText().toStdString(), "15 fps");
  EXPECT_EQ(ui->screenSizeCombo->currentText().toStdString(), "Stretch");
  EXPECT_EQ(ui->splitCombo->currentText().toStdString(), "64 M");
  EXPECT_EQ(ui->languageCombo->currentIndex(), 1);
  EXPECT_EQ(ui->subtitleSizeCombo->currentText().toStdString(), "Bigger");
  EXPECT_EQ(ui->outputNameEdit->text().toStdString(), "clip");

  // Old crop value 1 shows as Crop; a stored rate with no item selects none.
  e->SetScreenFit(1);
  e->SetFrameRate(25.0);
  view_->UpdateData(false);
  EXPECT_EQ(ui->screenSizeCombo->currentText().toStdString(), "Crop");
  EXPECT_EQ(ui->frameRateCombo->currentIndex(), -1);
  // Nothing chosen reads as the unparsable -1.
  ui->frameSizeCombo->setCurrentIndex(-1);
  view_->UpdateData(true);
  EXPECT_EQ(e->GetFrameWidth(), -1);
  EXPECT_EQ(e->GetFrameHeight(), -1);
  EXPECT_DOUBLE_EQ(e->GetFrameRate(), -1.0);
}

TEST_F(FormTest, UseSubtitles_WithoutFile_AsksAndCancelUnchecks) {
  const std::string movie = Movie("plain.avi", 2);
  AddThroughDialog({movie});
  CConvertOrder* e = doc_->GetSingleSelected();
  ASSERT_TRUE(e);
  auto* ui = view_->Form();
  ui->subtitleFileEdit->clear();
  view_->UpdateData(true);
  EXPECT_EQ(ui->subtitleFileEdit->placeholderText(), "Cannot find matching subtitle file");

  ui->useSubtitlesCheck->setChecked(false);
  view_->OnUseSubtitles();
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

  // A file that is not there empties the lists, without a message.
  ui->subtitleFileEdit->setText("missing.smi");
  EXPECT_EQ(ui->languageCombo->count(), 0);
  EXPECT_EQ(ui->subtitleSizeCombo->count(), 0);
}

TEST_F(FormTest, EstimatedSize_FollowsTrimPointsAndIsEmptyWhenUnknown) {
  AddThroughDialog({Movie("est.avi", 3)});
  CConvertOrder* e = doc_->GetSingleSelected();
  ASSERT_TRUE(e);
  view_->UpdateDialogControls();
  const QString whole = view_->Form()->estimatedSizeLabel->text();
  EXPECT_TRUE(whole.startsWith("Estimated file size ")) << whole.toStdString();
  EXPECT_TRUE(whole.endsWith("B"));
  view_->ClosePreview();
  e->SetSourceInfo(kUnknownTime, 160, 120, true);
  view_->UpdateDialogControls();
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
  view_->UpdateData(true);
  REFERENCE_TIME s = 0, t = 0;
  ASSERT_TRUE(trimmed->GetTrimPoints(&s, &t));
  EXPECT_NEAR(double(s) / kSecond, 1.0, 0.05);
  EXPECT_NEAR(double(t - s) / kSecond, 2.0, 0.05);

  EXPECT_EQ(ui->runButton->text().toStdString(), "&Convert");
  QSignalSpy progress(view_.get(), &CTavrionConverterView::totalProgressChanged);
  ASSERT_TRUE(Eventually([&] { return ui->runButton->isEnabled(); }, 10000)) << "no idle update enabled the button";
  QTest::mouseClick(ui->runButton, Qt::LeftButton);
  ASSERT_TRUE(doc_->IsConverting());
  EXPECT_EQ(ui->runButton->text().toStdString(), "&Pause");
  EXPECT_EQ(view_->Previewed(), nullptr);
  view_->UpdateDialogControls();
  EXPECT_TRUE(ui->breakButton->isEnabled());
  EXPECT_FALSE(ui->frameSizeCombo->isEnabled());
  EXPECT_FALSE(view_->IsCommandEnabled(ID_REMOVE));
  EXPECT_TRUE(ui->fileStatusLabel->text().startsWith("Current file: ")) << ui->fileStatusLabel->text().toStdString();
  EXPECT_EQ(ui->totalStatusLabel->text().toStdString(), "Converting file #1 from 3");
  EXPECT_TRUE(ui->fileElapsedLabel->text().startsWith("Elapsed: "));
  EXPECT_TRUE(ui->totalRemainingLabel->text().startsWith("Remained: "));

  QTest::mouseClick(ui->runButton, Qt::LeftButton);
  EXPECT_EQ(ui->runButton->text().toStdString(), "&Resume");
  EXPECT_TRUE(view_->Run()->IsPaused());
  view_->UpdateDialogControls();
  // Paused: Resume and Break, nothing else.
  EXPECT_TRUE(ui->runButton->isEnabled());
  EXPECT_TRUE(ui->breakButton->isEnabled());
  EXPECT_FALSE(ui->frameSizeCombo->isEnabled());
  EXPECT_FALSE(ui->positionSlider->isEnabled());
  EXPECT_FALSE(view_->IsCommandEnabled(ID_ADD_FILES));
  EXPECT_FALSE(view_->IsCommandEnabled(IDC_PAUSE_RUN));
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
  view_->RunCommand(IDC_CONVERT);
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
  view_->RunCommand(IDC_CONVERT);
  ASSERT_TRUE(Eventually([&] { return view_->Form()->fileProgress->value() >= 10 || !doc_->IsConverting(); }, 60000));
  ASSERT_TRUE(doc_->IsConverting()) << "the movie converted before it could be broken";
  QTest::mouseClick(view_->Form()->breakButton, Qt::LeftButton);
  ASSERT_EQ(e->GetState(), CConvertOrder::kInterrupted);
  const REFERENCE_TIME at = e->GetInterruptedAt();
  EXPECT_TRUE(dialogs_->questions.empty());

  dialogs_->answers.push_back(true);
  view_->RunCommand(IDC_CONVERT);
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
  view_->RunCommand(IDC_CONVERT);
  EXPECT_EQ(dialogs_->questions.size(), 1u);
  if (doc_->IsConverting()) view_->RunCommand(IDC_BREAK_RUN);
}

TEST_F(FormTest, Preview_RemovedEntryClosesAndPlayListKeepsListOrder) {
  const std::string a = Movie("p1.avi", 1), b = Movie("p2.avi", 1), c = Movie("p3.avi", 1);
  AddThroughDialog({a, b, c});
  view_->List()->selectAll();
  ASSERT_EQ(doc_->GetSelection().size(), 3u);
  std::vector<CConvertOrder*> played;
  view_->RunCommand(ID_PLAY);
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
  view_->RunCommand(ID_REMOVE);
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
  view_->RunCommand(IDC_CONVERT);
  ASSERT_TRUE(doc_->IsConverting());
  const std::string more = Movie("more.avi", 1);
  doc_->UpdateAllViews(kHintMovieOpened, nullptr, &more);
  EXPECT_EQ(doc_->GetCount(), 3u);
  view_->RunCommand(IDC_BREAK_RUN);
}

TEST_F(FormTest, AddFolder_AddsExactlyTheMoviesInNameOrder) {
  const std::string folder = dir_ + "/chosen";
  tavtest::Run("mkdir -p '" + folder + "/b' '" + folder + "/.hidden'");
  const std::string a = Movie("chosen/a.avi", 1), b1 = Movie("chosen/b/1.avi", 1);
  Movie("chosen/.hidden/secret.avi", 1);
  tavtest::Run("cp '" + a + "' '" + folder + "/b/[QVF]-1.qvf'");  // an earlier output
  std::ofstream(folder + "/b/notes.txt") << "not a movie";
  EXPECT_TRUE(view_->IsCommandEnabled(ID_ADD_FOLDER));
  dialogs_->folders.push_back(folder);
  view_->RunCommand(ID_ADD_FOLDER);
  ASSERT_EQ(doc_->GetCount(), 2u);
  EXPECT_EQ(doc_->GetAt(0)->SourcePath().Full(), a);
  EXPECT_EQ(doc_->GetAt(1)->SourcePath().Full(), b1);
  EXPECT_EQ(doc_->GetSingleSelected(), doc_->GetAt(1));

  // Cancelling the folder dialog adds nothing.
  view_->RunCommand(ID_ADD_FOLDER);
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
  ui->frameSizeCombo->setCurrentIndex(1);
  ui->frameRateCombo->setCurrentIndex(0);
  ui->screenSizeCombo->setCurrentIndex(1);
  ui->splitCombo->setCurrentIndex(3);
  ASSERT_EQ(ui->subtitleFileEdit->text().toStdString(), "s2.smi");
  ui->languageCombo->setCurrentIndex(1);
  ui->subtitleSizeCombo->setCurrentIndex(ui->subtitleSizeCombo->findText("Smaller"));
  ui->outputFolderEdit->setText(QString::fromStdString(dir_ + "/out"));
  ui->outputNameEdit->setText("renamed");
  ASSERT_EQ(view_->Player().SetPoints(1 * kSecond, 3 * kSecond), S_OK);
  view_->UpdateData(true);
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
  EXPECT_EQ(ui->splitCombo->currentText().toStdString(), "128 M");
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
  const ui::FormView form = MakeFormView(*doc_, &frame);
  auto* view = qobject_cast<CTavrionConverterView*>(form.widget);
  ASSERT_TRUE(view);
  frame.SetView(form.widget);
  form.initialUpdate();
  frame.show();
  const QString plain = frame.windowTitle();
  EXPECT_EQ(plain.toStdString(), "Tavrion Converter");

  const std::string movie = Movie("title.avi", 10, 320, 240);
  doc_->UpdateAllViews(kHintMovieOpened, nullptr, &movie);
  ASSERT_EQ(doc_->GetCount(), 1u);
  auto* ui = view->Form();

  // Status-bar texts and tooltips: every control that does something has both, from the
  // string table; the output folder's tooltip is the folder.
  EXPECT_EQ(ui->breakButton->toolTip().toStdString(),
            "Break conversion. Unfinished output file will be stored as valid movie file.");
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
  // The batch commands of the File menu come from the string table with their prompts.
  for (const char* text : {"Move &up", "Move &down", "&Modify source..."}) {
    QAction* found = nullptr;
    for (QAction* a : frame.findChildren<QAction*>())
      if (a->text() == QString::fromUtf8(text)) found = a;
    ASSERT_TRUE(found) << text;
    EXPECT_FALSE(found->statusTip().isEmpty()) << text;
  }

  // During a run the title leads with the total progress, and is plain again after it.
  const QString convertTip = ui->runButton->statusTip();
  view->RunCommand(IDC_CONVERT);
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

}  // namespace
}  // namespace tav::formtest
