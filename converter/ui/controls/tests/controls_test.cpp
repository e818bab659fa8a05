#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "converter/engine/strings.h"
#include "converter/ui/controls/hintedit.h"
#include "converter/ui/controls/images.h"
#include "converter/ui/controls/imgbutton.h"
#include "converter/ui/controls/stringdatacombo.h"

namespace tav::ui {
namespace {

constexpr UINT kConvert = 1030, kPause = 1040, kResume = 1051;

TEST(MultiButton, ClicksSendTheCurrentStatesCommandAndStatesSwitchById) {
  CMultiButton button;
  button.AddState(kConvert, "&Convert");
  button.AddState(kPause, "&Pause");
  button.AddState(kResume, "&Resume");
  button.resize(100, 30);
  button.show();
  QSignalSpy spy(&button, &CMultiButton::Command);

  EXPECT_EQ(button.CurrentCommand(), kConvert);
  QTest::mouseClick(&button, Qt::LeftButton);
  ASSERT_TRUE(button.SetState(kPause));
  EXPECT_EQ(button.text(), "&Pause");
  QTest::mouseClick(&button, Qt::LeftButton);
  EXPECT_FALSE(button.SetState(4242));  // unknown id: state unchanged
  EXPECT_EQ(button.CurrentCommand(), kPause);
  ASSERT_TRUE(button.SetState(kResume));
  button.click();

  ASSERT_EQ(spy.count(), 3);
  EXPECT_EQ(spy[0][0].value<UINT>(), kConvert);
  EXPECT_EQ(spy[1][0].value<UINT>(), kPause);
  EXPECT_EQ(spy[2][0].value<UINT>(), kResume);

  // A disabled button sends nothing.
  button.setEnabled(false);
  QTest::mouseClick(&button, Qt::LeftButton);
  EXPECT_EQ(spy.count(), 3);
}

TEST(MultiButton, MnemonicOfTheCurrentCaptionClicks) {
  QWidget window;
  auto* button = new CMultiButton(&window);
  button->AddState(kConvert, "&Convert");
  button->AddState(kPause, "&Pause");
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  QSignalSpy spy(button, &CMultiButton::Command);
  button->SetState(kPause);
  EXPECT_EQ(button->shortcut(), QKeySequence(Qt::ALT | Qt::Key_P));
  QTest::keyClick(button, Qt::Key_P, Qt::AltModifier);
  QTest::keyClick(button, Qt::Key_C, Qt::AltModifier);  // "&Convert" is not shown now
  // A mnemonic animates the click, which comes a moment later.
  EXPECT_TRUE(QTest::qWaitFor([&] { return spy.count() > 0; }, 5000));
  // A second click, had "&Convert" been taken, would come within the same animation time.
  QTest::qWait(300);
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy[0][0].value<UINT>(), kPause);
}

TEST(ImgButton, DrawsItsImagesForEveryStateWithoutCaption) {
  CImgMultiButton button;
  button.AddImageState(32776, kImagePlay, kImagePlayDisabled);
  button.AddImageState(32777, kImagePause, kImagePauseDisabled);
  button.resize(32, 28);
  const QImage enabled = button.grab().toImage();
  button.setEnabled(false);
  const QImage disabled = button.grab().toImage();
  button.setEnabled(true);
  button.SetState(32777);
  const QImage paused = button.grab().toImage();
  EXPECT_NE(enabled, disabled);
  EXPECT_NE(enabled, paused);
  EXPECT_TRUE(button.text().isEmpty());
  EXPECT_TRUE(ResourceImage(0).isNull());
}

TEST(StringDataCombo, ExchangeSelectsByDataAndReadsTheSelectedData) {
  CStringDataCombo combo;
  combo.AddString("Bigger", "9F0194EA-D60A-43d2-B994-CB0FDDE02C3E");
  combo.AddString("Standard", "A551CAEA-E6D4-4e47-8422-9128EEEE0D46");
  combo.AddString("English", "en-us");

  std::string value = "A551CAEA-E6D4-4e47-8422-9128EEEE0D46";
  combo.Exchange(false, value);
  EXPECT_EQ(combo.currentIndex(), 1);

  combo.setCurrentIndex(2);
  combo.Exchange(true, value);
  EXPECT_EQ(value, "en-us");

  // Data compares exactly; an unknown value clears the selection, and saving then keeps
  // the value that was there.
  value = "EN-US";
  combo.Exchange(false, value);
  EXPECT_EQ(combo.currentIndex(), -1);
  combo.Exchange(true, value);
  EXPECT_EQ(value, "EN-US");
  EXPECT_EQ(combo.ItemData(7), "");
}

TEST(HintEdit, ShowsTheHintOnlyWhileSetAndEmpty) {
  CHintEdit edit;
  edit.resize(300, 24);
  edit.SetHint(tav::res::IDS_SUBTITLE_HINT);
  EXPECT_EQ(edit.placeholderText().toStdString(), "Cannot find matching subtitle file");
  const QImage withHint = edit.grab().toImage();
  edit.SetHint(0);
  EXPECT_TRUE(edit.placeholderText().isEmpty());
  EXPECT_NE(edit.grab().toImage(), withHint);  // the hint really was drawn
}

}  // namespace
}  // namespace tav::ui
