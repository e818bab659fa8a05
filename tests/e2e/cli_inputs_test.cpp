// tavrion-convert on movies as phones, camcorders and downloads give them: turned and
// mirrored pictures, non-square pixels, interlaced pictures, irregular frame times, the
// containers of today, and files that hold no moving picture.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/clirun.h"
#include "tests/support/testenv.h"

namespace {

namespace fs = std::filesystem;
using namespace clitest;

// One output picture at a time as RGB24 (3 bytes a pixel, top row first).
struct Picture {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  const unsigned char* At(int x, int y) const { return &rgb[(size_t(y) * width + x) * 3]; }
  double RowMean(int y) const {
    double sum = 0;
    for (int x = 0; x < width * 3; ++x) sum += rgb[size_t(y) * width * 3 + x];
    return sum / (width * 3);
  }
  double ColumnMean(int x) const {
    double sum = 0;
    for (int y = 0; y < height; ++y) sum += At(x, y)[0] + At(x, y)[1] + At(x, y)[2];
    return sum / (height * 3);
  }
};

// What ffmpeg decodes from movie (reading it with the input options) into the raw format of the
// output options, read whole; the file it writes is movie + suffix.
std::vector<unsigned char> Decoded(const std::string& movie, const std::string& input, const std::string& output,
                                   const std::string& suffix) {
  const std::string raw = movie + suffix;
  EXPECT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y " + input + " -i " + Quote(movie) + " " + output + " " +
                         Quote(raw)),
            0);
  return ReadBytes(raw);
}

Picture Frame(const std::string& movie, int width, int height, double at = 1.0) {
  Picture p;
  p.rgb = Decoded(movie, "-ss " + std::to_string(at), "-frames:v 1 -f rawvideo -pix_fmt rgb24", ".rgb");
  if (p.rgb.size() != size_t(width) * height * 3) {
    ADD_FAILURE() << movie << ": decoded frame has " << p.rgb.size() << " bytes";
    p.rgb.assign(size_t(width) * height * 3, 0);
  }
  p.width = width;
  p.height = height;
  return p;
}

// Writes a display matrix into the first track header of an MP4 file, as cameras do
// instead of turning the pictures themselves.
void SetDisplayMatrix(const std::string& path, const std::vector<int32_t>& matrix) {
  std::vector<unsigned char> bytes = ReadBytes(path);
  const std::string tkhd = "tkhd";
  auto it = std::search(bytes.begin(), bytes.end(), tkhd.begin(), tkhd.end());
  ASSERT_NE(it, bytes.end()) << path;
  ASSERT_EQ(*(it + 4), 0) << "a version 0 track header";
  // Type, version and flags, times, track, reserved, duration, reserved, layer, group,
  // volume, reserved: the matrix follows 44 bytes after the type.
  size_t at = size_t(it - bytes.begin()) + 44;
  ASSERT_LE(at + 36, bytes.size());
  for (int32_t v : matrix)
    for (int shift = 24; shift >= 0; shift -= 8) bytes[at++] = static_cast<unsigned char>(uint32_t(v) >> shift);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

constexpr int32_t kOne = 1 << 16;

// The colours of the four quarters of the test picture as seen upright.
enum Quarter { kRed, kGreen, kBlue, kWhite, kOther };
Quarter ColourAt(const Picture& p, int x, int y) {
  const unsigned char* c = p.At(x, y);
  const bool r = c[0] > 150, g = c[1] > 90, b = c[2] > 150;
  if (r && g && b) return kWhite;
  if (r && !g && !b) return kRed;
  if (!r && g && !b) return kGreen;
  if (!r && !g && b) return kBlue;
  return kOther;
}

// A portrait picture 144 x 256 as the viewer should see it: red top left, green top
// right, blue bottom left, white bottom right. stored turns it into what the file holds.
std::string PortraitMovie(const std::string& dir, const std::string& name, const std::string& stored) {
  const std::string path = dir + "/" + name;
  std::string vf =
      "drawbox=x=72:y=0:w=72:h=128:c=green:t=fill,drawbox=x=0:y=128:w=72:h=128:c=blue:t=fill,"
      "drawbox=x=72:y=128:w=72:h=128:c=white:t=fill";
  if (!stored.empty()) vf += "," + stored;
  EXPECT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=red:size=144x256:rate=15 "
                         "-f lavfi -i sine=frequency=440:sample_rate=22050 -t 2 -vf " + Quote(vf) +
                         " -c:v libx264 -pix_fmt yuv420p -c:a aac " + Quote(path)),
            0);
  return path;
}

TEST(CliRealWorldInputs, TurnedAndMirroredPicturesConvertUpright) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("turned");
  struct Case {
    const char* name;
    const char* stored;  // what the camera wrote, undone by the matrix
    std::vector<int32_t> matrix;
  };
  const Case cases[] = {
      {"turn90.mp4", "transpose=cclock", {0, kOne, 0, -kOne, 0, 0, 144 * kOne, 0, 1 << 30}},
      {"turn180.mp4", "hflip,vflip", {-kOne, 0, 0, 0, -kOne, 0, 144 * kOne, 256 * kOne, 1 << 30}},
      {"turn270.mp4", "transpose=clock", {0, -kOne, 0, kOne, 0, 0, 0, 256 * kOne, 1 << 30}},
      {"mirror.mp4", "hflip", {-kOne, 0, 0, 0, kOne, 0, 144 * kOne, 0, 1 << 30}},
      {"transposed.mp4", "transpose=cclock_flip", {0, kOne, 0, kOne, 0, 0, 0, 0, 1 << 30}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string movie = PortraitMovie(dir, c.name, c.stored);
    SetDisplayMatrix(movie, c.matrix);
    const std::string out = ConvertOne(movie, "--size 320x240 --fit fit", std::string("turned_") + c.name);
    if (out.empty()) continue;
    const Picture p = Frame(out, 320, 240);
    // 144 x 256 upright fitted to 240 rows is 135 columns wide: black at both sides.
    for (int x : {0, 40, 85, 235, 280, 319}) EXPECT_LT(p.ColumnMean(x), 24) << "column " << x;
    EXPECT_EQ(ColourAt(p, 130, 60), kRed);
    EXPECT_EQ(ColourAt(p, 190, 60), kGreen);
    EXPECT_EQ(ColourAt(p, 130, 180), kBlue);
    EXPECT_EQ(ColourAt(p, 190, 180), kWhite);
  }
}

// Rows of the picture (brighter than the black bars) of the grey picture one second in.
int PictureRows(const Picture& p, int* first) {
  int rows = 0;
  *first = -1;
  for (int y = 0; y < p.height; ++y)
    if (p.RowMean(y) > 100) {
      if (*first < 0) *first = y;
      ++rows;
    }
  return rows;
}

TEST(CliRealWorldInputs, NonSquarePixelsAreShownInTheirDisplayShape) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("aspect");
  auto make = [&](const std::string& name, const std::string& input, const std::string& codec) {
    const std::string path = dir + "/" + name;
    EXPECT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i " + input +
                           " -f lavfi -i sine=sample_rate=48000 -t 2 " + codec + " " + Quote(path)),
              0);
    return path;
  };
  const std::string grey = "color=c=0xC0C0C0:rate=25:size=";
  struct Case {
    std::string movie;
    int rows;  // picture rows at 320 x 240 Fit
  };
  const Case cases[] = {
      // PAL widescreen, 16:11 pixels: 360 x 288 shows as 524 x 288, 176 rows at 320 wide.
      {make("pal169.mp4", grey + "360x288,setsar=16/11", "-c:v libx264 -pix_fmt yuv420p -c:a aac"), 176},
      // 12:11 pixels show as 4:3: the whole frame.
      {make("pal43.mp4", grey + "360x288,setsar=12/11", "-c:v libx264 -pix_fmt yuv420p -c:a aac"), 240},
      // An MPEG-2 program stream whose sequence header says 16:9.
      {make("wide.mpg", grey + "352x288", "-c:v mpeg2video -aspect 16:9 -c:a mp2 -f vob"), 180},
      // DV, PAL 16:9.
      {make("dv169.avi", grey + "720x576", "-aspect 16:9 -c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le -ac 2"), 180},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.movie);
    const std::string out = ConvertOne(c.movie, "--size 320x240 --fit fit", "aspect_out");
    if (out.empty()) continue;
    int first = 0;
    const int rows = PictureRows(Frame(out, 320, 240), &first);
    EXPECT_NEAR(rows, c.rows, 2);
    EXPECT_NEAR(first, (240 - c.rows) / 2, 2) << "the picture is centred";
  }
}

TEST(CliRealWorldInputs, EveryContainerOfTodayConverts) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("containers");
  const MovieKind cases[] = {
      {"h264.mkv", "-c:v libx264 -pix_fmt yuv420p -c:a flac"},
      {"vp9.webm", "-c:v libvpx-vp9 -deadline realtime -c:a libopus"},
      {"vp8.webm", "-c:v libvpx -deadline realtime -c:a libvorbis"},
      {"h264.m4v", "-c:v libx264 -pix_fmt yuv420p -c:a aac"},
      {"h264.mts", "-c:v libx264 -pix_fmt yuv420p -c:a ac3 -f mpegts"},
      {"hevc.m2ts", "-c:v libx265 -x265-params log-level=none -pix_fmt yuv420p -c:a aac -f mpegts"},
      {"mpeg2.ts", "-c:v mpeg2video -c:a mp2 -f mpegts"},
      {"mpeg2.vob", "-c:v mpeg2video -c:a ac3 -f vob"},
      {"h264.flv", "-c:v libx264 -pix_fmt yuv420p -c:a aac"},
  };
  for (const MovieKind& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string movie = dir + "/" + c.name;
    ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi "
                           "-i sine=frequency=440:sample_rate=48000 -t 2 " + std::string(c.codecs) + " " +
                           Quote(movie)),
              0);
    const std::string out = ConvertOne(movie, "--size 320x240 --fps 15", std::string("containers_") + c.name);
    if (out.empty()) continue;
    int status = 0;
    const std::string probe = tavtest::Capture(
        "ffprobe -v error -show_entries stream=codec_type,width,height,avg_frame_rate -of csv=p=0 " + Quote(out),
        &status);
    EXPECT_NE(probe.find("video,320,240,15/1"), std::string::npos) << probe;
    EXPECT_NE(probe.find("audio"), std::string::npos) << probe;
    // The sound came through: the tone is loud, not the silence of a missing track.
    const std::string volume =
        tavtest::Capture("ffmpeg -nostdin -i " + Quote(out) + " -vn -af volumedetect -f null - 2>&1", &status);
    const size_t at = volume.find("mean_volume: ");
    ASSERT_NE(at, std::string::npos) << volume;
    EXPECT_GT(std::atof(volume.c_str() + at + 13), -40.0) << volume;
  }
}

// Combing: how far each row strays from the mean of its neighbours, over the grey
// picture one second in. Interlaced fields of a moving picture zigzag; progressive
// pictures of upright edges do not.
double Combing(const std::string& movie, int width) {
  const std::vector<unsigned char> g = Decoded(movie, "-ss 1", "-frames:v 1 -f rawvideo -pix_fmt gray", ".gray");
  const int height = int(g.size() / size_t(width));
  if (height < 3) return 1e9;
  double sum = 0;
  for (int y = 1; y + 1 < height; ++y)
    for (int x = 0; x < width; ++x) {
      const size_t i = size_t(y) * width + x;
      sum += std::abs(2 * int(g[i]) - int(g[i - width]) - int(g[i + width]));
    }
  return sum / (double(width) * height);
}

TEST(CliRealWorldInputs, InterlacedPicturesAreDeinterlaced_ProgressiveOnesUntouched) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("interlaced");
  // A white bar crossing the picture fast, at 50 pictures a second.
  const std::string moving =
      "color=black:s=640x480:r=50[b];color=white:s=80x480:r=50[w];[b][w]overlay=x='mod(t*400\\,560)'";
  const std::string interlaced = dir + "/interlaced.mpg", progressive = dir + "/progressive.mpg";
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i \"" + moving +
                         ",tinterlace=interleave_top,setfield=tff\" -t 2 -c:v mpeg2video -q:v 2 -flags +ilme+ildct "
                         "-top 1 " + Quote(interlaced)),
            0);
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i \"" + moving +
                         ",fps=25\" -t 2 -c:v mpeg2video -q:v 2 " + Quote(progressive)),
            0);
  ASSERT_GT(Combing(interlaced, 640), 5.0) << "the interlaced fixture should comb as stored";

  const std::string fromInterlaced = ConvertOne(interlaced, "--size 640x480", "interlaced_out");
  const std::string fromProgressive = ConvertOne(progressive, "--size 640x480", "progressive_out");
  ASSERT_FALSE(fromInterlaced.empty());
  ASSERT_FALSE(fromProgressive.empty());
  const double reference = Combing(fromProgressive, 640);
  EXPECT_LT(Combing(fromInterlaced, 640), reference + 1.0);
  // The bar is still there: deinterlacing did not blank the picture.
  const Picture p = Frame(fromInterlaced, 640, 480);
  double bright = 0;
  for (int x = 0; x < 640; ++x) bright = std::max(bright, p.ColumnMean(x));
  EXPECT_GT(bright, 200);
}

// When a flash shows first after `from` seconds (pictures at 15 a second), and when the
// beep sounds first after it.
double FlashAfter(const std::string& movie, double from) {
  const std::vector<unsigned char> g = Decoded(movie, "", "-vf scale=16:12 -f rawvideo -pix_fmt gray", ".flash");
  for (size_t frame = 0; (frame + 1) * 192 <= g.size(); ++frame) {
    double sum = 0;
    for (size_t i = 0; i < 192; ++i) sum += g[frame * 192 + i];
    if (double(frame) / 15.0 >= from && sum / 192 > 150) return double(frame) / 15.0;
  }
  return -1;
}
double BeepAfter(const std::string& movie, double from, double* length) {
  const std::vector<unsigned char> b = Decoded(movie, "", "-vn -ac 1 -ar 8000 -f s16le", ".pcm");
  *length = double(b.size() / 2) / 8000.0;
  for (size_t i = 0; i + 1 < b.size(); i += 2) {
    const int sample = int16_t(uint16_t(b[i] | b[i + 1] << 8));
    if (double(i / 2) / 8000.0 >= from && std::abs(sample) > 8000) return double(i / 2) / 8000.0;
  }
  return -1;
}

TEST(CliRealWorldInputs, VariableFrameRateMovieStaysInStep) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("vfr");
  // A minute of grey with a flash and a beep at 1 s and at 57 s; pictures dropped in
  // irregular runs (gaps of 0.4 s and 1 s between bursts at 30 a second), their times kept,
  // the last second kept whole so that picture and sound both last the minute. Small
  // pictures keep the minute cheap; any drift grows with the length.
  const std::string movie = dir + "/phone.mp4";
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i \"color=c=0x404040:s=160x120:r=30,"
                         "drawbox=c=white:t=fill:enable='between(t,1,1.1)+between(t,57,57.1)',"
                         "select='not(between(mod(n\\,30)\\,5\\,17))*not(between(mod(n\\,89)\\,40\\,70))'\" "
                         "-f lavfi -i \"aevalsrc='0.8*sin(2*PI*1000*t)*(between(t,1,1.1)+between(t,57,57.1))':s=48000\" "
                         "-t 60 -fps_mode passthrough -c:v libx264 -pix_fmt yuv420p -c:a aac " + Quote(movie)),
            0);
  const std::string out = ConvertOne(movie, "--size 320x240 --fps 15", "vfr_out");
  ASSERT_FALSE(out.empty());
  double soundLength = 0;
  const double flash1 = FlashAfter(out, 0.5), flash2 = FlashAfter(out, 55);
  const double beep1 = BeepAfter(out, 0.5, &soundLength), beep2 = BeepAfter(out, 55, &soundLength);
  ASSERT_GE(flash1, 0);
  ASSERT_GE(flash2, 0);
  ASSERT_GE(beep1, 0);
  ASSERT_GE(beep2, 0);
  EXPECT_NEAR(flash1, 1.0, 0.1);
  EXPECT_NEAR(flash2, 57.0, 0.1);
  EXPECT_NEAR(flash2 - beep2, flash1 - beep1, 0.1) << "picture and sound drift apart";
  int status = 0;
  const std::string frames = tavtest::Capture(
      "ffprobe -v error -select_streams v -count_packets -show_entries stream=nb_read_packets -of csv=p=0 " +
          Quote(out),
      &status);
  const double pictureLength = std::atof(frames.c_str()) / 15.0;
  EXPECT_NEAR(pictureLength, 60.0, 0.1);
  EXPECT_NEAR(soundLength, pictureLength, 0.1);
}

TEST(CliRealWorldInputs, CoverPicturesAreNoVideo_SoundOnlyFilesAreRefused) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("covers");
  const std::string cover = dir + "/cover.png", tone = dir + "/tone.wav";
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=blue:size=200x200 -frames:v 1 " +
                         Quote(cover)),
            0);
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=sample_rate=44100 -t 2 " + Quote(tone)),
            0);
  // A downloaded movie with a poster attached: the poster is no stream, the movie converts.
  const std::string movie = dir + "/poster.mp4";
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=320x240:rate=25 -i " +
                         Quote(tone) + " -i " + Quote(cover) + " -map 0 -map 1 -map 2 -t 2 -c:v:0 libx264 "
                         "-pix_fmt yuv420p -c:a aac -c:v:1 png -disposition:v:1 attached_pic " + Quote(movie)),
            0);
  const std::string out = ConvertOne(movie, "--size 320x240 --fps 15", "covers_movie");
  EXPECT_FALSE(out.empty());

  // A song with album art, and sound alone: refused, no black movie written.
  const std::string song = dir + "/song.mp4";
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -i " + Quote(tone) + " -i " + Quote(cover) +
                         " -map 0 -map 1 -c:a aac -c:v mjpeg -disposition:v attached_pic " + Quote(song)),
            0);
  // An MP3 with its album art given as a movie, and one without.
  const std::string mp3 = dir + "/song.mp3", bare = dir + "/bare.mp3";
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -i " + Quote(tone) + " -i " + Quote(cover) +
                         " -map 0 -map 1 -c:a libmp3lame -c:v mjpeg -disposition:v attached_pic -id3v2_version 3 " +
                         Quote(mp3)),
            0);
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -i " + Quote(tone) + " -c:a libmp3lame " + Quote(bare)), 0);
  const std::string coverOnly = "The file's only picture is a still cover image; there is no video to convert.";
  const std::string noVideo = "The file has no video to convert.";
  const std::pair<std::string, std::string> refused[] = {
      {song, coverOnly}, {mp3, coverOnly}, {tone, noVideo}, {bare, noVideo}};
  for (const auto& [input, reason] : refused) {
    SCOPED_TRACE(input);
    const std::string outDir = tavtest::MakeTempSubdir("covers_refused");
    int status = 0;
    const std::string text =
        Convert("--quiet --size 320x240 --output-dir " + Quote(outDir) + " " + Quote(input), &status);
    EXPECT_NE(status, 0) << text;
    EXPECT_NE(text.find(input + " -> -: " + reason), std::string::npos) << text;
    EXPECT_TRUE(fs::is_empty(outDir)) << text;
  }
}

}  // namespace

namespace {

// A folder on the command line: exactly its movies, nested ones included, in name order.
TEST(CliFolderInput, AddsTheMoviesOfTheTree_InNameOrder) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("folderinput");
  const std::string tree = dir + "/movies";
  for (const char* sub : {"", "/b", "/.hidden", "/empty"}) fs::create_directories(tree + sub);
  ASSERT_TRUE(tavtest::GeneratedMovie("-f lavfi -i testsrc=size=160x120:rate=15 -t 1 -c:v mpeg4 -an", tree + "/a.avi"));
  for (const char* copy : {"/b/02.avi", "/b/01.avi", "/.hidden/secret.avi", "/b/[QVF]-01.qvf"})
    fs::copy_file(tree + "/a.avi", tree + copy);
  std::ofstream(tree + "/b/notes.txt") << "not a movie";

  int status = 0;
  std::string out = Convert("--quiet --output-dir " + Quote(dir) + " " + Quote(tree), &status);
  EXPECT_EQ(status, 0) << out;
  std::vector<std::string> sources;
  for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = out.substr(at, end - at);
    if (const size_t arrow = line.find(" -> "); arrow != std::string::npos) sources.push_back(line.substr(0, arrow));
  }
  EXPECT_EQ(sources, (std::vector<std::string>{tree + "/a.avi", tree + "/b/01.avi", tree + "/b/02.avi"})) << out;

  out = Convert("--quiet " + Quote(tree + "/empty"), &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find(tree + "/empty -> -: Error: " + tree + "/empty is a folder without movie files"),
            std::string::npos)
      << out;
}

}  // namespace
