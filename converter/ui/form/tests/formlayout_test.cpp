// How the main form is laid out and reads: it fits a small laptop screen with every control
// shown whole and apart, gives the room of a larger window to the list and the preview, is
// reached by Tab in reading order with every control named for a screen reader, and its
// status area says what Convert would do before a run and how far each movie has come
// during one.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTest>

#include "converter/engine/strings.h"
#include "converter/ui/app/mainframe.h"
#include "converter/ui/app/translation.h"
#include "converter/ui/batchlist/convertorderlistctrl.h"
#include "converter/ui/form/formview.h"
#include "converter/ui/form/tests/formfixture.h"
#include "tests/support/testenv.h"
#include "ui_tavrionconverterview.h"

namespace tav::formtest {
namespace {

// The form inside the main frame, as the application shows it.
class FormLayoutTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    view_.reset();
    frame_ = std::make_unique<ui::CMainFrame>();
    form_ = MakeFormView(*doc_, frame_.get());
    view_ = std::unique_ptr<CTavrionConverterView>(qobject_cast<CTavrionConverterView*>(form_.widget));
    ASSERT_TRUE(view_);
    view_->SetDialogs(std::unique_ptr<FormDialogs>(dialogs_ = new ScriptedDialogs));
    frame_->SetView(view_.get());
    form_.initialUpdate();
    frame_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame_.get()));
  }
  void TearDown() override {
    // The frame owns the form as its central widget.
    (void)view_.release();
    frame_.reset();
    FormTest::TearDown();
  }
  void ResizeFrame(QSize size) {
    frame_->resize(size);
    Pump(50);
  }
  // The form's controls: the widgets the form file places (those inside the status pages
  // too), not the parts of composite widgets.
  std::vector<QWidget*> Controls() const {
    auto* ui = view_->Form();
    std::vector<QWidget*> out;
    for (QWidget* w : view_->findChildren<QWidget*>()) {
      QWidget* parent = w->parentWidget();
      if (w == ui->statusStack || w == ui->idlePage || w == ui->runPage) continue;
      if (parent == view_.get() || parent == ui->idlePage || parent == ui->runPage) out.push_back(w);
    }
    return out;
  }
  // Every control of the shown status page and of the form is shown, inside the form, at
  // least its least size, and no two overlap.
  void ExpectEveryControlShownWholeAndApart(const std::string& when) {
    auto* ui = view_->Form();
    std::vector<std::pair<QWidget*, QRect>> shown;
    for (QWidget* w : Controls()) {
      const QWidget* page = w->parentWidget();
      const bool expected = page == view_.get() || page == ui->statusStack->currentWidget();
      EXPECT_EQ(w->isVisibleTo(view_.get()), expected) << when << ": " << w->objectName().toStdString();
      if (!expected) continue;
      const QRect rect(w->mapTo(view_.get(), QPoint(0, 0)), w->size());
      const std::string name = when + ": " + w->objectName().toStdString();
      EXPECT_TRUE(view_->rect().contains(rect)) << name;
      auto* label = qobject_cast<QLabel*>(w);
      if (!(label && label->wordWrap())) {
        EXPECT_GE(w->width(), w->minimumSizeHint().width()) << name;
      }
      EXPECT_GE(w->height(), w->minimumSizeHint().height()) << name;
      shown.emplace_back(w, rect);
    }
    // Apart: a few pixels between any two, so that a label never runs into its field.
    constexpr int kGap = 3;
    for (size_t i = 0; i < shown.size(); ++i)
      for (size_t j = i + 1; j < shown.size(); ++j)
        EXPECT_FALSE(shown[i].second.adjusted(-kGap, -kGap, kGap, kGap).intersects(shown[j].second))
            << when << ": " << shown[i].first->objectName().toStdString() << " and "
            << shown[j].first->objectName().toStdString() << " touch: (" << shown[i].second.x() << ","
            << shown[i].second.y() << " " << shown[i].second.width() << "x" << shown[i].second.height() << ") ("
            << shown[j].second.x() << "," << shown[j].second.y() << " " << shown[j].second.width() << "x"
            << shown[j].second.height() << ")";
  }

  std::unique_ptr<ui::CMainFrame> frame_;
  ui::FormView form_;
};

TEST_F(FormLayoutTest, SmallestWindow_FitsALaptopScreenWithEveryControlWholeAndApart) {
  const QSize least = frame_->minimumSizeHint().expandedTo(frame_->minimumSize());
  EXPECT_LE(least.width(), 1280);
  EXPECT_LE(least.height(), 660);
  ResizeFrame(QSize(200, 200));
  EXPECT_EQ(frame_->size(), least) << "the window can't get smaller than its controls";
  ExpectEveryControlShownWholeAndApart("idle");
  // The run's figures take the same place.
  view_->Form()->statusStack->setCurrentWidget(view_->Form()->runPage);
  ExpectEveryControlShownWholeAndApart("running");
}

// The form in English and in Korean: texts of other lengths, and texts that come only once
// a movie is shown (its play status, the subtitle lists), still show whole at the least size.
class FormLayoutLanguageTest : public FormLayoutTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    const QString language = QString::fromLatin1(GetParam());
    if (!language.isEmpty()) {
      const QString folder = ui::TranslationsFolder(QString::fromStdString(tavtest::BuildDir() + "/bin"));
      ASSERT_TRUE(translations_.Install({language}, folder));
    }
    FormLayoutTest::SetUp();
  }
  void TearDown() override {
    FormLayoutTest::TearDown();
    translations_.Remove();
  }
  ui::Translations translations_;
};

TEST_P(FormLayoutLanguageTest, SmallestWindow_ShowsEveryTextWholeWithAMovieShown) {
  auto* ui = view_->Form();
  const std::string movie = Movie("least.avi", 3);
  SamiFile("least.smi");
  AddThroughDialog({movie});
  ASSERT_EQ(doc_->GetCount(), 1u);
  ASSERT_TRUE(Eventually([&] { return !ui->playStatusLabel->text().isEmpty(); }, 20000)) << "the movie shows";
  ASSERT_EQ(ui->languageCombo->count(), 2);
  ResizeFrame(QSize(200, 200));
  ExpectEveryControlShownWholeAndApart("idle");
  // Labels are never cut, a caption's last letter (a mnemonic in brackets) least of all.
  for (QLabel* label : view_->findChildren<QLabel*>()) {
    if (label->wordWrap() || label->text().isEmpty() || !label->isVisibleTo(view_.get())) continue;
    EXPECT_GE(label->width(), label->sizeHint().width())
        << label->objectName().toStdString() << ": " << label->text().toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(Languages, FormLayoutLanguageTest, ::testing::Values("", "ko_KR"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(*info.param ? info.param : "en");
                         });

TEST_F(FormLayoutTest, LargerWindow_GivesTheRoomToTheListAndThePreview) {
  auto* ui = view_->Form();
  ResizeFrame(QSize(200, 200));
  const QSize list = ui->batchList->size(), video = ui->videoHost->size();
  const QRect picture = ui->videoHost->VideoRect();
  const int source = ui->batchList->header()->sectionSize(ui::CConvertOrderModel::kSourceColumn);
  const int comboHeight = ui->frameSizeCombo->height();
  ResizeFrame(QSize(1900, 1000));
  EXPECT_GT(ui->batchList->width(), list.width() + 300);
  EXPECT_GT(ui->batchList->height(), list.height() + 250);
  EXPECT_GT(ui->videoHost->width(), video.width() + 300);
  EXPECT_GT(ui->videoHost->height(), video.height() + 250);
  EXPECT_EQ(ui->frameSizeCombo->height(), comboHeight) << "the settings keep their size";
  EXPECT_GT(ui->batchList->header()->sectionSize(ui::CConvertOrderModel::kSourceColumn), source + 300);
  // The picture grows with its window and keeps its 4:3.
  const QRect grown = ui->videoHost->VideoRect();
  EXPECT_GT(grown.height(), picture.height() + 200);
  EXPECT_NEAR(double(grown.width()) / grown.height(), 4.0 / 3.0, 0.02);
  EXPECT_TRUE(ui->videoHost->rect().contains(grown));
}

TEST_F(FormLayoutTest, Tab_GoesInReadingOrder_AndEveryControlHasAnAccessibleName) {
  auto* ui = view_->Form();
  const std::vector<QWidget*> expected = {
      ui->batchList,        ui->removeAfterCheck,  ui->useSubtitlesCheck,        ui->subtitleFileEdit,
      ui->subtitleBrowseButton, ui->languageCombo, ui->subtitleSizeCombo,        ui->outputFolderEdit,
      ui->outputFolderBrowseButton, ui->outputNameEdit, ui->breakButton,         ui->runButton,
      ui->positionSlider,   ui->playButton,        ui->stopButton,               ui->outputFormatCombo,
      ui->frameSizeCombo,   ui->screenSizeCombo,   ui->frameRateCombo,           ui->splitCombo};
  std::vector<QWidget*> order;
  QWidget* w = ui->batchList;
  do {
    if ((w->focusPolicy() & Qt::TabFocus) && std::find(expected.begin(), expected.end(), w) != expected.end())
      order.push_back(w);
    w = w->nextInFocusChain();
  } while (w != ui->batchList && order.size() < 2 * expected.size());
  ASSERT_EQ(order.size(), expected.size());
  for (size_t i = 0; i < order.size(); ++i)
    EXPECT_EQ(order[i], expected[i]) << i << ": " << order[i]->objectName().toStdString() << " where "
                                     << expected[i]->objectName().toStdString() << " belongs";
  // A screen reader names every control, not only those next to a label.
  for (QWidget* c : Controls()) {
    if (qobject_cast<QLabel*>(c) && (qobject_cast<QLabel*>(c)->buddy() || c->accessibleName().isEmpty())) {
      // Labels speak through the control they name; captions and notices are read as text.
      continue;
    }
    EXPECT_FALSE(c->accessibleName().isEmpty()) << c->objectName().toStdString();
  }
  for (QWidget* c : expected) EXPECT_FALSE(c->accessibleName().isEmpty()) << c->objectName().toStdString();
}

TEST_F(FormLayoutTest, StatusArea_SaysWhatConvertWouldDo_AndEachRowShowsItsProgressDuringTheRun) {
  auto* ui = view_->Form();
  doc_->SetRemoveAfterConversion(false);
  auto summary = [&] { return ui->idleSummaryLabel->text().toStdString(); };
  EXPECT_TRUE(Eventually([&] { return summary() == res::Text(res::IDS_READY_EMPTY); }, 5000)) << summary();
  EXPECT_EQ(ui->statusStack->currentWidget(), ui->idlePage);
  EXPECT_FALSE(ui->fileProgress->isVisible()) << "no empty bars while idle";

  const std::string a = Movie("ready_a.avi", 3), b = Movie("ready_b.avi", 3);
  AddThroughDialog({a, b});
  ASSERT_EQ(doc_->GetCount(), 2u);
  const QRegularExpression two("^2 movies, about \\d+\\.\\d [KM]B, ready to convert$");
  EXPECT_TRUE(Eventually([&] { return two.match(ui->idleSummaryLabel->text()).hasMatch(); }, 20000)) << summary();
  view_->List()->Model()->SetRowChecked(0, false);  // as a click on its box does
  const QRegularExpression one("^1 movie, about \\d+\\.\\d [KM]B, ready to convert$");
  EXPECT_TRUE(Eventually([&] { return one.match(ui->idleSummaryLabel->text()).hasMatch(); }, 5000)) << summary();
  CConvertOrder* converted = doc_->GetAt(1);

  ASSERT_TRUE(Eventually([&] { return ui->runButton->isEnabled(); }, 10000));
  QTest::mouseClick(ui->runButton, Qt::LeftButton);
  ASSERT_TRUE(doc_->IsConverting());
  int rowProgress = -1;
  bool barsShown = false;
  ASSERT_TRUE(Eventually(
      [&] {
        rowProgress = std::max(rowProgress, view_->List()->ProgressOf(converted));
        barsShown = barsShown || (ui->statusStack->currentWidget() == ui->runPage && ui->fileProgress->isVisible());
        return !doc_->IsConverting();
      },
      120000));
  EXPECT_TRUE(barsShown) << "the run's bars showed while it went";
  EXPECT_GE(rowProgress, 0) << "the converting row showed its progress";
  EXPECT_TRUE(Eventually([&] { return ui->statusStack->currentWidget() == ui->idlePage; }, 10000));
  EXPECT_EQ(view_->List()->ProgressOf(converted), -1);
  EXPECT_EQ(converted->GetState(), CConvertOrder::kConverted);
  // Converted movies are unchecked: nothing is left to convert.
  EXPECT_TRUE(Eventually([&] { return summary() == res::Text(res::IDS_READY_NONE_CHECKED); }, 5000)) << summary();
}

}  // namespace
}  // namespace tav::formtest
