// The player window: the default picture, the video rectangle with pan and zoom, the mouse
// phases reaching the owner, and raw frames of a still picture.
#include <gtest/gtest.h>

#include <QTest>
#include <vector>

#include "converter/ui/player/playerwnd.h"
#include "converter/ui/player/stillimage.h"
#include "media/contract/mediatypes.h"

namespace tav::ui {
namespace {

TEST(PlayerWnd, WithoutGraphOrStillShowsTheDefaultBlackRectangle_ScaledToTheWindow) {
  CPlayerWnd player;
  player.resize(500, 300);
  // 4:3 as large as the window allows, centred.
  EXPECT_EQ(player.VideoRect(), QRect(50, 0, 400, 300));
  const QImage image = player.grab().toImage();
  EXPECT_EQ(image.pixelColor(250, 150), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(50, 0), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(449, 299), QColor(Qt::black));
  EXPECT_NE(image.pixelColor(20, 20), QColor(Qt::black));  // the background around it
  EXPECT_NE(image.pixelColor(460, 150), QColor(Qt::black));
  player.resize(320, 480);
  EXPECT_EQ(player.VideoRect(), QRect(0, 120, 320, 240));
}

TEST(PlayerWnd, APictureLargerThanTheWindowIsFitted_AtActualSizeItPansWithoutGaps) {
  CPlayerWnd player;
  player.resize(200, 160);  // smaller than the 320 x 240 picture
  player.show();
  EXPECT_TRUE(player.IsZoomed());
  EXPECT_EQ(player.VideoRect(), QRect(0, 5, 200, 150));
  // A double-click shows it at actual size.
  QTest::mouseDClick(&player, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_FALSE(player.IsZoomed());
  EXPECT_EQ(player.VideoRect(), QRect(-60, -40, 320, 240));

  // Dragging right by 100 moves the picture until its left edge meets the window's.
  QTest::mousePress(&player, Qt::LeftButton, {}, QPoint(50, 50));
  QTest::mouseMove(&player, QPoint(150, 60));
  EXPECT_EQ(player.VideoRect(), QRect(0, -30, 320, 240));
  QTest::mouseMove(&player, QPoint(1, 1));  // back left at once, then up to the bottom edge
  EXPECT_EQ(player.VideoRect(), QRect(-120, -80, 320, 240));
  QTest::mouseRelease(&player, Qt::LeftButton, {}, QPoint(1, 1));

  // A double-click fits it into the window again, aspect kept.
  QTest::mouseDClick(&player, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_TRUE(player.IsZoomed());
  EXPECT_EQ(player.VideoRect(), QRect(0, 5, 200, 150));

  // In a larger window the fitted picture grows; at actual size it stays as it is, centred,
  // and nothing pans it.
  player.resize(400, 300);
  EXPECT_EQ(player.VideoRect(), QRect(0, 0, 400, 300));
  QTest::mouseDClick(&player, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_FALSE(player.IsZoomed());
  QTest::mousePress(&player, Qt::LeftButton, {}, QPoint(50, 50));
  QTest::mouseMove(&player, QPoint(150, 90));
  QTest::mouseRelease(&player, Qt::LeftButton, {}, QPoint(150, 90));
  EXPECT_EQ(player.VideoRect(), QRect(40, 30, 320, 240));
}

// A frame of w x h in the given bits per pixel, each pixel's blue = x, green = y.
std::vector<uint8_t> Frame(int w, int h, int bits, bool bottomUp, MediaTypeValue* type) {
  const int stride = int(DibStride(w, bits));
  std::vector<uint8_t> data(size_t(stride * h));
  for (int y = 0; y < h; ++y) {
    uint8_t* row = data.data() + size_t((bottomUp ? h - 1 - y : y) * stride);
    for (int x = 0; x < w; ++x) {
      row[x * bits / 8] = uint8_t(x);
      row[x * bits / 8 + 1] = uint8_t(y);
      row[x * bits / 8 + 2] = 0x80;
    }
  }
  VIDEOINFOHEADER info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = bottomUp ? h : -h;
  info.bmiHeader.biBitCount = WORD(bits);
  info.bmiHeader.biCompression = BI_RGB;
  type->majortype = MEDIATYPE_Video;
  type->subtype = bits == 32 ? MEDIASUBTYPE_RGB32 : MEDIASUBTYPE_RGB24;
  type->formattype = FORMAT_VideoInfo;
  type->format.assign(reinterpret_cast<const BYTE*>(&info), reinterpret_cast<const BYTE*>(&info) + sizeof info);
  return data;
}

TEST(StillImage, RawFramesOfEitherRowOrderAndBadInput) {
  for (int bits : {32, 24}) {
    for (bool bottomUp : {true, false}) {
      MediaTypeValue type;
      const std::vector<uint8_t> data = Frame(7, 5, bits, bottomUp, &type);
      const QImage image = FrameImage(type, data.data(), data.size());
      ASSERT_EQ(image.size(), QSize(7, 5)) << bits << " bits";
      EXPECT_EQ(image.pixel(3, 1), qRgb(0x80, 1, 3)) << bits << " bits, bottom-up " << bottomUp;
      EXPECT_EQ(image.pixel(6, 4), qRgb(0x80, 4, 6));
      // Bits shorter than the frame give nothing.
      EXPECT_TRUE(FrameImage(type, data.data(), data.size() - 1).isNull());
    }
  }
  MediaTypeValue type;
  std::vector<uint8_t> data = Frame(4, 4, 32, true, &type);
  EXPECT_TRUE(FrameImage(MediaTypeValue(), data.data(), data.size()).isNull());
  EXPECT_TRUE(FrameImage(type, nullptr, 0).isNull());
  reinterpret_cast<VIDEOINFOHEADER*>(type.format.data())->bmiHeader.biCompression = 0x34363248;  // compressed
  EXPECT_TRUE(FrameImage(type, data.data(), data.size()).isNull());
}

}  // namespace
}  // namespace tav::ui
