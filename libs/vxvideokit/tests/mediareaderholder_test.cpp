// The media reader holder over real movies, created by class identifier as an application
// would: the picture it returns for a time is the one ffmpeg decodes at that time, from an
// AVI, an MP4 and a camera movie; reads go back and forth in one graph; a time past the end
// fails without a picture.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "libs/vxvideokit/tests/testgraph.h"
#include "libs/vxvideokit/vxvideokit.h"
#include "media/contract/codepage.h"
#include "media/contract/mediatypeptr.h"
#include "media/contract/mediatypes.h"

using namespace vktest;

namespace {

// Every picture differs from the next, so a wrong frame shows.
constexpr const char* kPattern = "-f lavfi -i testsrc2=size=320x240:rate=25:duration=4 ";

struct Picture {
  LONG width = 0, height = 0;
  std::vector<BYTE> bgr;  // top-down rows of 3 * width bytes
};

// ffmpeg's picture at `seconds`, as top-down BGR.
Picture FfmpegFrame(const std::string& file, double seconds) {
  char at[32];
  std::snprintf(at, sizeof at, "%.3f", seconds);
  const std::string raw = tavtest::Capture("ffmpeg -nostdin -loglevel error -ss " + std::string(at) + " -i '" + file +
                                           "' -frames:v 1 -f rawvideo -pix_fmt bgr24 -");
  Picture p;
  p.width = 320;
  p.height = 240;
  p.bgr.assign(raw.begin(), raw.end());
  return p;
}

// The holder's sample as top-down BGR; empty when the type is not RGB24.
Picture FromSample(const BYTE* data, LONG length, const AM_MEDIA_TYPE& mt) {
  Picture p;
  const BITMAPINFOHEADER* h = nullptr;
  if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
    h = &reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
  else if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat >= sizeof(VIDEOINFOHEADER2))
    h = &reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->bmiHeader;
  if (!h || h->biBitCount != 24) return p;
  const LONG rows = h->biHeight < 0 ? -h->biHeight : h->biHeight;
  const size_t stride = size_t(DibStride(h->biWidth, 24));
  if (size_t(length) < stride * size_t(rows)) return p;
  p.width = h->biWidth;
  p.height = rows;
  for (LONG y = 0; y < rows; ++y) {
    const BYTE* row = data + stride * size_t(h->biHeight > 0 ? rows - 1 - y : y);
    p.bgr.insert(p.bgr.end(), row, row + 3 * h->biWidth);
  }
  return p;
}

double MeanDifference(const Picture& a, const Picture& b) {
  if (a.bgr.size() != b.bgr.size() || a.bgr.empty()) return 1e9;
  double sum = 0;
  for (size_t i = 0; i < a.bgr.size(); ++i) sum += std::abs(int(a.bgr[i]) - int(b.bgr[i]));
  return sum / double(a.bgr.size());
}

std::u16string Wide(const std::string& s) { return tav::Utf8ToUtf16(s); }

class vxvideokit_MediaReaderHolder : public FilterFixture {
 protected:
  static void SetUpTestSuite() {
    if (!tavtest::HaveFfmpeg()) return;
    const std::string dir = tavtest::MakeTempSubdir("reader");
    avi = dir + "/pattern.avi";
    mp4 = dir + "/pattern.mp4";
    qvf = dir + "/pattern.qvf";
    ASSERT_TRUE(tavtest::GeneratedMovie(std::string(kPattern) + "-c:v mpeg4 -q:v 2", avi));
    ASSERT_TRUE(tavtest::GeneratedMovie(std::string(kPattern) +
                                            "-f lavfi -i sine=duration=4 -c:v libx264 -pix_fmt yuv420p -c:a aac",
                                        mp4));
    // A camera movie is an AVI file whose RIFF form type ends in 0x19 instead of a space.
    ASSERT_TRUE(tavtest::GeneratedMovie(std::string(kPattern) + "-c:v mpeg4 -q:v 2", dir + "/camera.avi"));
    std::fstream f(dir + "/camera.avi", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(11);
    f.put(char(0x19));
    f.close();
    ASSERT_EQ(0, std::rename((dir + "/camera.avi").c_str(), qvf.c_str()));
  }

  void SetUp() override {
    if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the platform filters decode with FFmpeg";
    Start({"tavrionstreaming", "tavrionfilters", "qvfreader", "vxvideokit"}, AtEnd::kLastLibraryUnloads);
  }

  static ComPtr<IMediaReaderHolder> MakeHolder(REFIID iid = IID_IMediaReaderHolder) {
    ComPtr<IMediaReaderHolder> holder;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_VxMediaReaderHolder, nullptr, CLSCTX_INPROC_SERVER, iid, holder.AsVoidOut()));
    return holder;
  }

  // Reads the picture at `seconds` and compares it with ffmpeg's at that time and with
  // ffmpeg's a few frames later (which it must not resemble as closely).
  static void ExpectFrameAt(IMediaReaderHolder* holder, const std::string& file, double seconds) {
    SCOPED_TRACE(file + " at " + std::to_string(seconds));
    BYTE* data = nullptr;
    LONG length = 0;
    tav::ScopedMediaType type;
    ASSERT_EQ(S_OK, holder->ReadSample(REFERENCE_TIME(std::llround(seconds * UNITS)), &data, &length, type.Out()));
    const Picture got = FromSample(data, length, type.Get());
    CoTaskMemFree(data);
    ASSERT_EQ(320, got.width);
    ASSERT_EQ(240, got.height);
    const double same = MeanDifference(got, FfmpegFrame(file, seconds));
    const double later = MeanDifference(got, FfmpegFrame(file, seconds + 0.2));
    EXPECT_LT(same, 2.0);
    EXPECT_GT(later, same + 2.0) << "the picture of another time";
  }

  static std::string avi, mp4, qvf;
};

std::string vxvideokit_MediaReaderHolder::avi;
std::string vxvideokit_MediaReaderHolder::mp4;
std::string vxvideokit_MediaReaderHolder::qvf;

}  // namespace

TEST_F(vxvideokit_MediaReaderHolder, ReturnsThePictureAtATime_FromAviMp4AndCameraMovie) {
  for (const std::string& file : {avi, mp4, qvf}) {
    SCOPED_TRACE(file);
    // Both interface identifiers give the holder.
    ComPtr<IMediaReaderHolder> holder = MakeHolder(file == mp4 ? IID_IMediaReaderHolder2 : IID_IMediaReaderHolder);
    ASSERT_TRUE(holder);
    ASSERT_EQ(S_OK, holder->OpenVideo(Wide(file).c_str(), &TIME_FORMAT_MEDIA_TIME, nullptr));
    tav::ScopedMediaType connected;
    ASSERT_EQ(S_OK, holder->GetConnectedType(connected.Out()));
    EXPECT_EQ(MEDIASUBTYPE_RGB24, connected->subtype);
    LONGLONG duration = 0;
    ASSERT_EQ(S_OK, holder->GetDuration(&duration));
    EXPECT_NEAR(4.0, double(duration) / UNITS, 0.1);
    // Forwards, backwards and from the start, in one graph.
    for (double t : {2.0, 0.6, 3.2, 0.0}) ExpectFrameAt(holder.Get(), file == qvf ? avi : file, t);
  }
}

TEST_F(vxvideokit_MediaReaderHolder, TimePastTheEnd_FailsWithoutAPicture_ThenReadsAgain) {
  ComPtr<IMediaReaderHolder> holder = MakeHolder();
  ASSERT_EQ(S_OK, holder->OpenVideo(Wide(avi).c_str(), nullptr, nullptr));
  BYTE* data = nullptr;
  LONG length = -1;
  EXPECT_EQ(E_FAIL, holder->ReadSample(10 * UNITS, &data, &length, nullptr));
  EXPECT_EQ(nullptr, data);
  ExpectFrameAt(holder.Get(), avi, 1.0);
}

TEST_F(vxvideokit_MediaReaderHolder, CallsOutOfOrder_AndFilesItCannotRead) {
  ComPtr<IMediaReaderHolder> holder = MakeHolder();
  BYTE* data = nullptr;
  LONG length = 0;
  LONGLONG duration = 0;
  tav::ScopedMediaType type;
  EXPECT_EQ(E_UNEXPECTED, holder->ReadSample(0, &data, &length, nullptr));
  EXPECT_EQ(E_UNEXPECTED, holder->GetConnectedType(type.Out()));
  EXPECT_EQ(E_UNEXPECTED, holder->Reserved2());
  EXPECT_EQ(E_NOTIMPL, holder->Reserved6());
  EXPECT_EQ(E_FAIL, holder->GetDuration(&duration));
  EXPECT_EQ(MAX_TIME, duration);
  EXPECT_EQ(E_POINTER, holder->OpenVideo(nullptr, nullptr, nullptr));

  ASSERT_EQ(S_OK, holder->OpenVideo(Wide(avi).c_str(), nullptr, nullptr));
  EXPECT_EQ(E_NOTIMPL, holder->Reserved2());
  EXPECT_EQ(E_UNEXPECTED, holder->OpenVideo(Wide(mp4).c_str(), nullptr, nullptr)) << "open once";
  EXPECT_EQ(E_POINTER, holder->ReadSample(0, nullptr, &length, nullptr));

  EXPECT_TRUE(FAILED(MakeHolder()->OpenVideo(Wide(avi + ".missing").c_str(), nullptr, nullptr)));

  // A reader that takes only 32-bit pictures takes none: rendering fails.
  ComPtr<IMediaReaderHolder> rgb32 = MakeHolder();
  AM_MEDIA_TYPE only{};
  only.majortype = MEDIATYPE_Video;
  only.subtype = MEDIASUBTYPE_RGB32;
  only.formattype = FORMAT_VideoInfo;
  EXPECT_TRUE(FAILED(rgb32->Open(Wide(avi).c_str(), &MEDIATYPE_Video, 1, &only, nullptr, nullptr)));
  EXPECT_EQ(E_UNEXPECTED, rgb32->ReadSample(0, &data, &length, nullptr));
}
