// tavrion-convert where a run meets the unexpected: names relative to the working folder,
// a batch file named over a movie, signals, a full disk, settings a batch file should not
// hold, movies too short for the trim points, and inputs that are not movies at all. Each
// entry that cannot be converted fails alone with its reason; the others convert.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "converter/engine/document.h"
#include "tests/support/testenv.h"

namespace {

namespace fs = std::filesystem;
using tav::CConvertOrder;
using tav::CTavrionConverterDoc;

std::string Program() { return "'" + tavtest::ProgramPath("tavrion-convert") + "'"; }

std::string Convert(const std::string& args, int* status) {
  return tavtest::Capture("timeout 120 " + Program() + " " + args + " 2>&1", status);
}

std::string Movie(const std::string& path, const std::string& size, int seconds) {
  EXPECT_TRUE(tavtest::GeneratedMovie("-f lavfi -i testsrc=size=" + size +
                                       ":rate=30 -f lavfi -i sine=frequency=440:sample_rate=44100 -t " +
                                       std::to_string(seconds) + " -c:v mpeg4 -vtag XVID -c:a libmp3lame -ac 2",
                                       path));
  return path;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> QvfFiles(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".qvf") names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

#define NEED_FFMPEG() \
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies"

TEST(CliPaths, RelativeNamesInASavedBatch_NameTheFilesGiven) {
  NEED_FFMPEG();
  const std::string dir = tavtest::MakeTempSubdir("relative");
  fs::create_directories(dir + "/p/movies");
  fs::create_directories(dir + "/p/out");
  fs::create_directories(dir + "/other");
  Movie(dir + "/p/movies/a.avi", "160x120", 1);

  int status = 0;
  std::string out = tavtest::Capture("cd '" + dir + "/p' && " + Program() +
                                         " --quiet --save-batch b.tvc --output-dir out movies/a.avi 2>&1",
                                     &status);
  ASSERT_EQ(status, 0) << out;
  out = tavtest::Capture("cd '" + dir + "/p' && " + Program() + " --quiet --save-batch ../other/b.tvc movies/a.avi 2>&1",
                         &status);
  ASSERT_EQ(status, 0) << out;

  // Loaded from anywhere, each batch names the movie and output folder it was given.
  out = Convert("--quiet '" + dir + "/p/b.tvc'", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, dir + "/p/movies/a.avi -> " + dir + "/p/out/[QVF]-a.qvf: Converted\n");
  out = Convert("--quiet '" + dir + "/other/b.tvc'", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, dir + "/p/movies/a.avi -> " + dir + "/p/movies/[QVF]-a.qvf: Converted\n");
}

TEST(CliPaths, SaveBatchNeverOverwritesAMovie_ButReplacesAnOlderBatch) {
  NEED_FFMPEG();
  const std::string dir = tavtest::MakeTempSubdir("overwrite");
  const std::string beach = Movie(dir + "/beach.avi", "160x120", 1);
  const std::string holiday = Movie(dir + "/holiday.avi", "160x120", 1);
  const std::string before = Read(holiday);

  int status = 0;
  std::string out = Convert("--save-batch '" + holiday + "' '" + beach + "'", &status);
  EXPECT_EQ(status, 2) << out;
  EXPECT_NE(out.find("is not a batch file"), std::string::npos) << out;
  out = Convert("--save-batch '" + beach + "' '" + beach + "'", &status);
  EXPECT_EQ(status, 2) << out;
  EXPECT_EQ(Read(holiday), before);
  EXPECT_TRUE(QvfFiles(dir).empty());

  // A batch, even an empty one, is replaced.
  const std::string batch = dir + "/b.tvc";
  out = Convert("--quiet --save-batch '" + batch + "' '" + beach + "'", &status);
  ASSERT_EQ(status, 0) << out;
  out = Convert("--quiet --save-batch '" + batch + "' '" + beach + "' '" + holiday + "'", &status);
  EXPECT_EQ(status, 0) << out;
  CTavrionConverterDoc doc;
  std::string error;
  ASSERT_TRUE(doc.OnOpenDocument(batch, &error)) << error;
  EXPECT_EQ(doc.GetCount(), 2u);
  doc.DeleteContents();
  ASSERT_TRUE(doc.OnSaveDocument(batch, &error)) << error;
  out = Convert("--quiet --save-batch '" + batch + "' '" + beach + "'", &status);
  EXPECT_EQ(status, 0) << out;
}

TEST(CliSignals, TermAndHangUp_FinishThePlayableMovieAndSaySo) {
  NEED_FFMPEG();
  const std::string dir = tavtest::MakeTempSubdir("signals");
  const std::string movie = Movie(dir + "/long.avi", "320x240", 60);
  for (const char* sig : {"TERM", "HUP"}) {
    const std::string output = dir + "/[QVF]-long.qvf";
    fs::remove(output);
    int status = 0;
    // The signal comes once the movie has grown past its first 100 KB.
    const std::string out = tavtest::Capture(
        "cd '" + dir + "' && (" + Program() + " --quiet long.avi > run.txt 2>&1 & pid=$!; "
        "for i in $(seq 600); do [ $(stat -c %s '" + output + "' 2>/dev/null || echo 0) -gt 100000 ] && break; "
        "sleep 0.1; done; kill -" + sig + " $pid; wait $pid; echo \"exit $?\"; cat run.txt)",
        &status);
    EXPECT_NE(out.find("exit 1\n"), std::string::npos) << sig << ": " << out;
    EXPECT_NE(out.find(": Interrupted at 00:"), std::string::npos) << sig << ": " << out;
    const std::string duration = tavtest::Capture(
        "ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of "
        "default=nw=1:nk=1 '" + output + "'");
    ASSERT_FALSE(duration.empty()) << sig;
    EXPECT_GT(std::stoi(duration), 0) << sig;
  }
}

TEST(CliDisk, AFullDiskIsSaid_TheBrokenMovieGoes_AndTheBatchGoesOn) {
  NEED_FFMPEG();
  const std::string dir = tavtest::MakeTempSubdir("diskfull");
  const std::string big = Movie(dir + "/big.avi", "640x480", 8);
  const std::string small = Movie(dir + "/small.avi", "160x120", 1);
  int status = 0;
  // No file may grow beyond 200 KB (400 blocks of 512 bytes): the big movie's output cannot
  // be written to its end, the small one's fits.
  const std::string out = tavtest::Capture("trap '' XFSZ; ulimit -f 400; " + Program() + " --quiet --size 640x480 '" +
                                               big + "' '" + small + "' 2>&1",
                                           &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find(big + " -> -: Error: There is not enough space on the disk. (0x80070070)"), std::string::npos)
      << out;
  EXPECT_NE(out.find(small + " -> " + dir + "/[QVF]-small.qvf: Converted"), std::string::npos) << out;
  EXPECT_EQ(QvfFiles(dir), std::vector<std::string>{"[QVF]-small.qvf"});
}

// A batch whose entries hold what the command line would never give them.
std::string BadBatch(const std::string& dir, const std::string& movie) {
  CTavrionConverterDoc doc;
  auto add = [&](auto&& edit) {
    CConvertOrder* e = doc.AddOrder(movie);
    edit(*e);
  };
  add([](CConvertOrder& e) { e.SetFrameRate(1e-300); });
  add([](CConvertOrder& e) { e.SetFrameRate(1e308); });
  add([](CConvertOrder& e) { e.SetFrameRate(1e6); });
  add([](CConvertOrder& e) { e.SetFrameSize(1, 1); });
  add([](CConvertOrder& e) {
    e.SetSourceInfo(20000000, 160, 120, true);
    e.SetSplitSize(7);
  });
  add([](CConvertOrder& e) { e.SetTrimPoints(1000 * 10000000LL, 1001 * 10000000LL); });
  add([](CConvertOrder&) {});
  const std::string batch = dir + "/bad.tvc";
  std::string error;
  EXPECT_TRUE(doc.OnSaveDocument(batch, &error)) << error;
  return batch;
}

TEST(CliBatch, ValuesNoEntryAccepts_FailThatEntryAlone_AndLeaveNoFile) {
  NEED_FFMPEG();
  const std::string dir = tavtest::MakeTempSubdir("badvalues");
  const std::string movie = Movie(dir + "/a.avi", "160x120", 2);
  const std::string batch = BadBatch(dir, movie);
  int status = 0;
  const std::string out = Convert("--quiet '" + batch + "'", &status);
  EXPECT_EQ(status, 1) << out;
  const std::string failed = movie + " -> -: Error: ";
  for (const char* reason :
       {"the frame rate 1e-300 is not between 1 and 120 fps", "the frame rate 1e+308 is not between 1 and 120 fps",
        "the frame rate 1e+06 is not between 1 and 120 fps",
        "the frame size 1 x 1 is not an even size from 16 x 16 to 4096 x 4096", "the split size of 7 bytes is not between 64 KB and 8 EB",
        "the start point is at or beyond the end of the movie (2."})
    EXPECT_NE(out.find(failed + reason), std::string::npos) << reason << "\n" << out;
  EXPECT_NE(out.find(movie + " -> " + dir + "/[QVF]-a.qvf: Converted\n"), std::string::npos) << out;
  EXPECT_EQ(QvfFiles(dir), std::vector<std::string>{"[QVF]-a.qvf"});
}

TEST(CliTrim, AMovieShorterThanTheEndPoint_FailsAlone) {
  NEED_FFMPEG();
  const std::string dir = tavtest::MakeTempSubdir("shorttrim");
  const std::string a = Movie(dir + "/a.avi", "160x120", 2);
  const std::string b = Movie(dir + "/b.avi", "160x120", 5);
  int status = 0;
  const std::string out = Convert("--quiet --start 1 --end 4 '" + a + "' '" + b + "'", &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find(a + " -> -: Error: the end point is beyond the end of the movie (2."),
            std::string::npos)
      << out;
  EXPECT_NE(out.find(b + " -> " + dir + "/[QVF]-b.qvf: Converted\n"), std::string::npos) << out;
}

TEST(CliBadInputs, WhatIsNotAMovieIsNamed_AndEveryInputHasItsLine) {
  NEED_FFMPEG();
  const std::string dir = tavtest::MakeTempSubdir("notmovies");
  const std::string a = Movie(dir + "/a.avi", "160x120", 1);
  fs::create_directories(dir + "/folder.avi");
  fs::create_symlink(dir + "/loop1.avi", dir + "/loop2.avi");
  fs::create_symlink(dir + "/loop2.avi", dir + "/loop1.avi");
  const std::string tooLong = dir + "/" + std::string(300, 'x') + ".avi";
  int status = 0;
  std::string out = Convert("--quiet '" + dir + "/folder.avi' '" + dir + "/loop1.avi' '" + tooLong + "' '" + a + "'",
                            &status);
  EXPECT_EQ(status, 1) << out;
  // A folder stands for the movies inside it; this one has none.
  EXPECT_NE(out.find(dir + "/folder.avi -> -: Error: " + dir + "/folder.avi is a folder without movie files"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find(dir + "/loop1.avi -> -: Error: " + dir + "/loop1.avi is a loop of symbolic links"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find(tooLong + " -> -: Error: "), std::string::npos) << out;
  EXPECT_NE(out.find(a + " -> " + dir + "/[QVF]-a.qvf: Converted\n"), std::string::npos) << out;

  out = Convert("--quiet --subtitles '" + dir + "/missing.srt' '" + a + "'", &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("Error: the subtitle file " + dir + "/missing.srt cannot be found (0x80040301)"),
            std::string::npos)
      << out;

  // An empty name is a usage error; "--" ends the options.
  out = Convert("''", &status);
  EXPECT_EQ(status, 2) << out;
  fs::copy_file(a, dir + "/-dash.avi");
  out = tavtest::Capture("cd '" + dir + "' && " + Program() + " --quiet -- -dash.avi 2>&1", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find(dir + "/-dash.avi -> " + dir + "/[QVF]--dash.qvf: Converted\n"), std::string::npos) << out;
}

TEST(CliProbe, AVideoNoDecoderTakes_IsNamedInTheResult_AndTheDroppedSplitIsSaid) {
  NEED_FFMPEG();
  const std::string dir = tavtest::MakeTempSubdir("nodecoder");
  const std::string plain = dir + "/plain.avi";
  ASSERT_TRUE(tavtest::GeneratedMovie("-f lavfi -i testsrc=size=160x120:rate=30 -t 1 -c:v mpeg4 -vtag XVID -an", plain));
  // The same movie with a FOURCC no decoder knows.
  std::string bytes = Read(plain);
  for (const char* tag : {"XVID", "xvid"})
    for (size_t at = bytes.find(tag); at != std::string::npos && at < 4096; at = bytes.find(tag, at))
      bytes.replace(at, 4, "ABCD");
  const std::string odd = dir + "/odd.avi";
  std::ofstream(odd, std::ios::binary) << bytes;
  int status = 0;
  const std::string out = Convert("--quiet --split 32M '" + odd + "'", &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find(odd + " -> -: Cannot decode ABCD video: this program has no decoder for it\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("could not be read to find whether it can be split"), std::string::npos) << out;
}

TEST(CliRegistry, AFolderThatCannotHoldTheRegistry_IsNamedAsTheCause) {
  NEED_FFMPEG();
  const std::string dir = tavtest::MakeTempSubdir("noregistry");
  const std::string a = Movie(dir + "/a.avi", "160x120", 1);
  std::ofstream(dir + "/file") << "a file, not a folder";
  int status = 0;
  const std::string out = tavtest::Capture("TAVRION_REGISTRY_DIR='" + dir + "/file/registry' " + Program() +
                                               " --quiet '" + a + "' 2>&1",
                                           &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("the registry folder " + dir + "/file/registry cannot be made"), std::string::npos) << out;
  EXPECT_TRUE(QvfFiles(dir).empty()) << out;
}

TEST(CliProgress, EachConvertedFileEndsAtAHundredPercent_WithItsSize) {
  NEED_FFMPEG();
  const std::string dir = tavtest::MakeTempSubdir("progress");
  const std::string a = Movie(dir + "/a.avi", "160x120", 1);
  const std::string b = Movie(dir + "/b.avi", "160x120", 2);
  int status = 0;
  const std::string out = Convert("'" + a + "' '" + b + "'", &status);
  EXPECT_EQ(status, 0) << out;
  for (const char* name : {"a", "b"}) {
    const auto size = fs::file_size(dir + "/[QVF]-" + name + ".qvf");
    EXPECT_NE(out.find(std::string(name) + ".avi 100% | " + std::to_string(size / 1024) + " KB\n"), std::string::npos)
        << out;
  }
}

TEST(CliConcurrent, TwoRunsOfOneMovieIntoOneFolder_WriteTwoFiles) {
  NEED_FFMPEG();
  const std::string dir = tavtest::MakeTempSubdir("concurrent");
  const std::string a = Movie(dir + "/a.avi", "160x120", 2);
  int status = 0;
  const std::string out = tavtest::Capture("(" + Program() + " --quiet '" + a + "' & " + Program() + " --quiet '" + a +
                                               "' & wait) 2>&1",
                                           &status);
  EXPECT_EQ(QvfFiles(dir), (std::vector<std::string>{"[QVF]-a.qvf", "[QVF]-a[1].qvf"})) << out;
  EXPECT_NE(out.find("[QVF]-a.qvf: Converted"), std::string::npos) << out;
  EXPECT_NE(out.find("[QVF]-a[1].qvf: Converted"), std::string::npos) << out;
}

}  // namespace
