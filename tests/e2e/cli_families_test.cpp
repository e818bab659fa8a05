// tavrion-convert on every kind of source movie: each family is generated with the ffmpeg CLI,
// converted at 320 x 240 and 15 fps, and the camera movie is read back with ffprobe.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <sstream>
#include <string>

#include "tests/support/testenv.h"

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

struct Family {
  const char* name;     // test name suffix
  const char* file;     // source file name (its extension picks the container)
  const char* encode;   // ffmpeg arguments after the lavfi inputs: maps, codecs, muxer
  int width, height, fps;
  bool sound;
};

// Inputs 0 (picture), 1 and 2 (two tones) are always there; each family maps what it needs.
const Family kFamilies[] = {
    {"AviXvidMp3", "xvid.avi", "-map 0:v -map 1:a -c:v mpeg4 -vtag XVID -c:a libmp3lame -ac 2", 320, 240, 25, true},
    {"AviDiv3Pcm", "div3.avi", "-map 0:v -map 1:a -c:v msmpeg4 -vtag DIV3 -c:a pcm_s16le -ac 2", 320, 240, 25, true},
    {"AviCinepak", "cinepak.avi", "-map 0:v -map 1:a -c:v cinepak -c:a pcm_s16le -ac 2", 160, 120, 15, true},
    {"AviMjpg", "mjpg.avi", "-map 0:v -map 1:a -c:v mjpeg -vtag MJPG -pix_fmt yuvj420p -c:a pcm_s16le -ac 2", 320, 240,
     25, true},
    {"AviRawRgb24", "rgb.avi", "-map 0:v -map 1:a -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le -ac 2", 160, 120, 15,
     true},
    {"Mpeg1SystemMp2", "mpeg1.mpg", "-map 0:v -map 1:a -c:v mpeg1video -b:v 800k -c:a mp2 -ar 44100 -ac 2 -f mpeg",
     352, 240, 25, true},
    {"DvAvi", "dv.avi", "-map 0:v -map 1:a -c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le -ar 48000 -ac 2", 720, 576, 25,
     true},
    {"AsfWmv2Wma2", "wmv2.wmv", "-map 0:v -map 1:a -c:v wmv2 -c:a wmav2 -ac 2 -f asf", 320, 240, 25, true},
    {"MovMpeg4Aac", "mpeg4.mov", "-map 0:v -map 1:a -c:v mpeg4 -c:a aac -ac 2", 320, 240, 25, true},
    // QuickTime sound without a wave format tag: big-endian PCM and IMA ADPCM.
    {"MovMjpegTwos", "twos.mov", "-map 0:v -map 1:a -c:v mjpeg -c:a pcm_s16be -ac 2", 320, 240, 25, true},
    {"MovMpeg4Ima4", "ima4.mov", "-map 0:v -map 1:a -c:v mpeg4 -c:a adpcm_ima_qt -ac 2", 320, 240, 25, true},
    {"Mp4H264Aac", "h264.mp4", "-map 0:v -map 1:a -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -ac 2", 320,
     240, 25, true},
    {"ThreeGpH263Aac", "h263.3gp", "-map 0:v -map 1:a -c:v h263 -c:a aac -ar 22050 -ac 1", 176, 144, 15, true},
    {"SixChannelAc3", "surround.avi", "-map 0:v -map 1:a -c:v mpeg4 -vtag XVID -c:a ac3 -ac 6 -channel_layout 5.1",
     320, 240, 25, true},
    {"NoAudio", "silent.avi", "-map 0:v -c:v mpeg4 -vtag XVID -an", 320, 240, 25, false},
    {"TwoAudioTracks", "twotracks.avi", "-map 0:v -map 1:a -map 2:a -c:v mpeg4 -vtag XVID -c:a libmp3lame -ac 2", 320,
     240, 25, true},
};

void PrintTo(const Family& f, std::ostream* os) { *os << f.file; }

class CliFamilies : public ::testing::TestWithParam<Family> {};

// Duration of the first video stream: frames counted by decoding, over the stream's frame rate
// (some containers, MPEG program streams and ASF among them, carry no stream duration).
double VideoDuration(const std::string& movie) {
  const std::string out = tavtest::Capture(
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames,r_frame_rate "
      "-of default=nw=1:nk=1 " + Quote(movie));
  std::istringstream in(out);
  std::string rate, frames;
  in >> rate >> frames;
  const auto slash = rate.find('/');
  if (slash == std::string::npos || frames.empty()) return -1;
  const double fps = std::atof(rate.c_str()) / std::atof(rate.c_str() + slash + 1);
  return fps > 0 ? std::atof(frames.c_str()) / fps : -1;
}

// Peak level of the first audio track in dB (-inf for digital silence).
double PeakVolume(const std::string& movie) {
  const std::string out = tavtest::Capture("ffmpeg -nostdin -hide_banner -i " + Quote(movie) +
                                           " -map 0:a:0 -af volumedetect -f null - 2>&1");
  const auto at = out.find("max_volume:");
  if (at == std::string::npos) {
    ADD_FAILURE() << movie << ": no level measured: " << out;
    return 0;
  }
  return std::strtod(out.c_str() + at + 11, nullptr);
}

TEST_P(CliFamilies, ConvertsToMpeg4AndMp3InAvi) {
  const Family& f = GetParam();
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir(f.name);
  const std::string source = dir + "/" + f.file;
  std::ostringstream make;
  make << "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=" << f.width << "x" << f.height
       << ":rate=" << f.fps << " -f lavfi -i sine=frequency=440:sample_rate=44100 -f lavfi -i "
       << "sine=frequency=880:sample_rate=44100 -t 2 " << f.encode << " " << Quote(source);
  ASSERT_EQ(tavtest::Run(make.str()), 0) << make.str();

  int status = 0;
  const std::string out = tavtest::Capture(Quote(tavtest::ProgramPath("tavrion-convert")) +
                                               " --quiet --size 320x240 --fps 15 " + Quote(source) + " 2>&1",
                                           &status);
  ASSERT_EQ(status, 0) << out;
  const std::string name = source.substr(0, source.rfind('/') + 1) + "[QVF]-" +
                           std::string(f.file).substr(0, std::string(f.file).rfind('.')) + ".qvf";
  EXPECT_NE(out.find(" -> " + name + ": Converted"), std::string::npos) << out;

  const std::string probe = tavtest::Capture(
      "ffprobe -v error -show_entries stream=codec_type,codec_name,width,height,r_frame_rate,sample_rate,channels "
      "-show_entries format=format_name -of compact " + Quote(name));
  EXPECT_NE(probe.find("format_name=avi"), std::string::npos) << probe;
  EXPECT_NE(probe.find("codec_name=mpeg4|codec_type=video|width=320|height=240|"), std::string::npos) << probe;
  EXPECT_NE(probe.find("r_frame_rate=15/1"), std::string::npos) << probe;
  // The camera movie always has one MP3 track: the source's first one, or silence when it has none.
  EXPECT_NE(probe.find("codec_name=mp3|codec_type=audio|sample_rate=22050|channels=2"), std::string::npos) << probe;
  EXPECT_EQ(probe.find("codec_type=audio"), probe.rfind("codec_type=audio")) << probe;
  const double peak = PeakVolume(name);
  if (f.sound) {
    EXPECT_GT(peak, -30) << "the source's tone is lost";
  } else {
    EXPECT_LT(peak, -80) << "a movie without sound gets a silent track";
  }

  // Within one output frame of the source; the extra millisecond covers the millisecond rounding
  // of the frame rates ffprobe reports (for example 30000/1001) and of the source's timestamps.
  const double want = VideoDuration(source);
  const double got = VideoDuration(name);
  ASSERT_GT(want, 0) << source;
  EXPECT_NEAR(got, want, 1.0 / 15 + 0.001) << "source " << want << " s, camera movie " << got << " s";
}

INSTANTIATE_TEST_SUITE_P(Sources, CliFamilies, ::testing::ValuesIn(kFamilies),
                         [](const ::testing::TestParamInfo<Family>& info) { return std::string(info.param.name); });

}  // namespace
