// The form in the main frame and at the keyboard: every control says what it does and the
// title shows a run's progress, mnemonics are unique, Insert, Delete, Ctrl+Return and Escape
// work the list and the run, Tab reaches every control, and nothing polls while idle.
#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <map>
#include <set>

#include "converter/engine/strings.h"
#include "converter/ui/app/mainframe.h"
#include "converter/ui/form/formview.h"
#include "converter/ui/form/tests/formfixture.h"
#include "converter/ui/player/customslider.h"
#include "ui_tavrionconverterview.h"

namespace tav::formtest {
namespace {

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
