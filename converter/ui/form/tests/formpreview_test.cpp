// The form's preview while paused: a change of screen size, frame size, subtitles on or off
// and subtitle language shows on the paused picture at once, without playing, with the
// caption of the picture's time after a seek.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QTest>
#include <fstream>

#include "converter/ui/bridge/windowhost.h"
#include "converter/ui/form/tests/formfixture.h"
#include "converter/ui/player/customslider.h"
#include "converter/ui/player/playerwnd.h"
#include "tests/support/testenv.h"
#include "ui_tavrionconverterview.h"

namespace tav::formtest {
namespace {

constexpr REFERENCE_TIME kSecond = 10'000'000;

class FormPreviewTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // The program registers the subtitle renderer too: the preview draws captions over the
    // picture instead of burning them in.
    ASSERT_EQ(S_OK, tavtest::RegisterLibrary("captionpainter"));
  }

  // A dark 16:9 movie (every bright pixel is a caption) with a SAMI file of its own name, so
  // the entry takes it: a short English and a long French caption from 0.5 s to 3 s.
  std::string DarkMovieWithCaptions(const std::string& title, bool captions = true) {
    const std::string movie = dir_ + "/" + title + ".avi";
    EXPECT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=0x305070:size=320x180:rate=15 "
                           "-f lavfi -i sine=sample_rate=22050 -t 4 -c:v mpeg4 -vtag XVID -c:a libmp3lame -ac 2 '" +
                           movie + "'"),
              0);
    if (!captions) return movie;
    std::ofstream(dir_ + "/" + title + ".smi")
        << "<SAMI><HEAD><STYLE TYPE=\"text/css\"><!--\n"
           "P { text-align:center; color:white; }\n"
           ".ENUSCC {Name:English; lang:en-US; SAMIType:CC;}\n"
           ".FRFRCC {Name:French; lang:fr-FR; SAMIType:CC;}\n"
           "--></STYLE></HEAD><BODY>\n"
           "<SYNC Start=500><P Class=ENUSCC>HI</P><P Class=FRFRCC>MMMMMMMMMMMMMMMMMMMM</P>\n"
           "<SYNC Start=3000><P Class=ENUSCC>&nbsp;</P><P Class=FRFRCC>&nbsp;</P>\n"
           "</BODY></SAMI>\n";
    return movie;
  }

  QImage Picture() { return view_->Form()->videoHost->grab().toImage(); }
  // Caption pixels of the shown picture (the form's background around it is light too).
  int Bright() {
    const QImage image = Picture();
    const QRect video = view_->Form()->videoHost->VideoRect().intersected(image.rect());
    int n = 0;
    for (int y = video.top(); y <= video.bottom(); ++y)
      for (int x = video.left(); x <= video.right(); ++x) n += qGray(image.pixel(x, y)) > 0xC0;
    return n;
  }
  // Whether row y of the shown video is black all across (a letterbox bar).
  bool VideoRowBlack(int y) {
    const QImage image = Picture();
    const QRect video = view_->Form()->videoHost->VideoRect();
    for (int x = video.left() + 2; x < video.right() - 2; ++x)
      if (qGray(image.pixel(x, video.top() + y)) > 16) return false;
    return true;
  }
  void Choose(QComboBox* combo, const QString& text) {
    const int i = combo->findText(text);
    ASSERT_GE(i, 0) << text.toStdString();
    combo->setCurrentIndex(i);
    emit combo->activated(i);
  }
};

TEST_F(FormPreviewTest, PausedPreview_ShowsEveryLiveChangeAtOnce) {
  AddThroughDialog({DarkMovieWithCaptions("paused")});
  CConvertOrder* e = doc_->GetSingleSelected();
  ASSERT_TRUE(e);
  ASSERT_EQ(view_->Previewed(), e);
  auto* ui = view_->Form();
  ASSERT_TRUE(ui->useSubtitlesCheck->isChecked()) << "the movie's own subtitle file is taken";
  ASSERT_TRUE(Eventually([&] { return view_->Player().GetState() == PlayerCore::kPaused; }, 5000));
  EXPECT_EQ(Bright(), 0) << "no caption at 0 s";
  // Into the caption: the picture has to be fetched at a position, and its caption is the
  // one at that time of the movie.
  ASSERT_EQ(view_->Player().Seek(kSecond), S_OK);
  ASSERT_TRUE(Eventually([&] { return Bright() > 10; }, 5000)) << "the English caption";
  Choose(ui->screenSizeCombo, "Fit");
  ASSERT_TRUE(Eventually([&] { return VideoRowBlack(2); }, 5000)) << "Fit letterboxes a 16:9 movie";

  // Screen size: Stretch fills the frame.
  Choose(ui->screenSizeCombo, "Stretch");
  EXPECT_TRUE(Eventually([&] { return !VideoRowBlack(2); }, 5000)) << "Stretch has no bars";
  EXPECT_EQ(view_->Player().GetState(), PlayerCore::kPaused);

  // Language: the long French caption.
  const int english = Bright();
  Choose(ui->languageCombo, "French");
  EXPECT_TRUE(Eventually([&] { return Bright() > english * 2; }, 5000)) << english << " / " << Bright();

  // Subtitles off and on again.
  QTest::mouseClick(ui->useSubtitlesCheck, Qt::LeftButton);
  ASSERT_FALSE(ui->useSubtitlesCheck->isChecked());
  EXPECT_TRUE(Eventually([&] { return Bright() == 0; }, 5000)) << "captions off";
  QTest::mouseClick(ui->useSubtitlesCheck, Qt::LeftButton);
  ASSERT_TRUE(ui->useSubtitlesCheck->isChecked());
  EXPECT_TRUE(Eventually([&] { return Bright() > 10; }, 5000)) << "captions on";

  // Frame size: the paused picture becomes 640 x 480, where the position was.
  Choose(ui->frameSizeCombo, "640 x 480");
  ui->videoHost->ActualSizeAction()->trigger();  // the picture at its own size, not fitted
  EXPECT_TRUE(Eventually([&] { return ui->videoHost->VideoHost()->geometry().size() == QSize(640, 480); }, 5000))
      << "video at " << ui->videoHost->VideoHost()->geometry().width();
  EXPECT_EQ(view_->Player().GetState(), PlayerCore::kPaused);
  REFERENCE_TIME position = 0;
  view_->Player().GetPosition(&position);
  EXPECT_EQ(position, kSecond);
  // Larger than the player's window: part of it shows at actual size, and the status line
  // says so; fitted to the window, the whole picture shows with its caption.
  ASSERT_LT(ui->videoHost->width(), 640);
  EXPECT_TRUE(ui->videoHost->IsCropped());
  EXPECT_TRUE(Eventually([&] { return ui->playStatusLabel->text().contains("actual size, drag to move"); }, 3000))
      << ui->playStatusLabel->text().toStdString();
  ui->videoHost->FitAction()->trigger();
  EXPECT_TRUE(Eventually([&] { return Bright() > 10; }, 5000)) << "still with its caption";
  EXPECT_TRUE(Eventually([&] { return !ui->playStatusLabel->text().contains("actual size"); }, 3000));
}

// Without subtitles the preview ends in the platform's video renderer, which has nothing to
// repaint a paused picture with: the picture is fetched again through the resizer.
TEST_F(FormPreviewTest, PausedPreviewWithoutSubtitles_ShowsTheScreenSizeAtOnce) {
  AddThroughDialog({DarkMovieWithCaptions("plain", false)});
  ASSERT_TRUE(doc_->GetSingleSelected());
  auto* ui = view_->Form();
  ASSERT_FALSE(ui->useSubtitlesCheck->isChecked());
  ASSERT_TRUE(Eventually([&] { return view_->Player().GetState() == PlayerCore::kPaused; }, 5000));
  Choose(ui->screenSizeCombo, "Fit");
  ASSERT_TRUE(Eventually([&] { return VideoRowBlack(2); }, 5000)) << "Fit letterboxes a 16:9 movie";
  Choose(ui->screenSizeCombo, "Stretch");
  EXPECT_TRUE(Eventually([&] { return !VideoRowBlack(2); }, 5000)) << "Stretch has no bars";
  Choose(ui->screenSizeCombo, "Fit");
  EXPECT_TRUE(Eventually([&] { return VideoRowBlack(2); }, 5000)) << "Fit again";
  EXPECT_EQ(view_->Player().GetState(), PlayerCore::kPaused);
}

}  // namespace
}  // namespace tav::formtest
