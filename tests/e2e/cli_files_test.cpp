// tavrion-convert and the files around a run: a batch is never saved over a movie the run
// makes, names that are not UTF-8 convert with their bytes kept, an output folder that is
// not there is named, every file follows the user's umask, and a batch of entries that are
// not checked ends at once.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "converter/engine/document.h"
#include "tests/e2e/moviefacts.h"
#include "tests/support/testenv.h"

namespace {

namespace fs = std::filesystem;
using clitest::Quote;
using clitest::VideoDuration;
using tav::CConvertOrder;
using tav::CTavrionConverterDoc;

#define NEED_FFMPEG() \
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies"

std::string Program() { return Quote(tavtest::ProgramPath("tavrion-convert")); }

// Runs tavrion-convert in dir with args; stdout and stderr together.
std::string ConvertIn(const std::string& dir, const std::string& args, int* status, const std::string& env = "") {
  return tavtest::Capture("cd " + Quote(dir) + " && " + env + " timeout 120 " + Program() + " " + args + " 2>&1",
                          status);
}

std::string Movie(const std::string& path, int seconds = 1) {
  EXPECT_TRUE(tavtest::GeneratedMovie("-f lavfi -i testsrc=size=160x120:rate=15 -f lavfi -i "
                                      "sine=frequency=440:sample_rate=22050 -t " + std::to_string(seconds) +
                                          " -c:v mpeg4 -vtag XVID -c:a libmp3lame -ac 2",
                                      path));
  return path;
}

std::vector<std::string> Files(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

// The batch saved after a run would land on the movie that run made: refused before
// anything is converted, whether the name is the movie's, its free "[n]" name or a part's.
TEST(CliFiles, SaveBatchWithConvert_IsNeverWrittenOverAMovieOfTheRun) {
  NEED_FFMPEG();
  const std::string dir = tavtest::MakeTempSubdir("batch-over-movie");
  Movie(dir + "/clip.avi");
  fs::create_directories(dir + "/out");
  int status = 0;
  for (const std::string& args :
       {std::string("--save-batch '[QVF]-clip.qvf' --convert clip.avi"),
        std::string("--output-dir out --save-batch 'out/[QVF]-clip.qvf' --convert clip.avi"),
        std::string("--save-batch '[QVF]-clip0001.qvf' --convert --split 32M clip.avi"),
        std::string("--save-batch './[QVF]-clip[2].qvf' --convert clip.avi")}) {
    SCOPED_TRACE(args);
    const std::string out = ConvertIn(dir, args, &status);
    EXPECT_EQ(status, 2) << out;
    EXPECT_NE(out.find("choose another name"), std::string::npos) << out;
    EXPECT_EQ(Files(dir), (std::vector<std::string>{"clip.avi", "out"}));
    EXPECT_TRUE(fs::is_empty(dir + "/out"));
  }

  // Any other name: the movie and the batch, each what it should be.
  const std::string out = ConvertIn(dir, "--quiet --save-batch clip.tvc --convert clip.avi", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NEAR(VideoDuration(dir + "/[QVF]-clip.qvf"), 1.0, 0.1);
  CTavrionConverterDoc doc;
  std::string error;
  ASSERT_TRUE(doc.OnOpenDocument(dir + "/clip.tvc", &error)) << error;
  EXPECT_EQ(doc.GetCount(), 1u);
}

// Latin-1 names, as old memory cards hold them: they convert under any locale, given
// directly or through a folder; the output keeps the source's bytes, the result line shows
// replacement characters, and a saved batch keeps the bytes.
TEST(CliFiles, NamesThatAreNotUtf8_ConvertAndKeepTheirBytes) {
  NEED_FFMPEG();
  const std::string dir = tavtest::MakeTempSubdir("latin1-names");
  const std::string cafe = Movie(dir + "/caf\xE9.avi");
  fs::create_directories(dir + "/card");
  Movie(dir + "/card/\xE9t\xE9.avi");
  const std::string shownCafe = dir + "/caf\xEF\xBF\xBD.avi";
  for (const std::string env : {"LANG=C.UTF-8", "LC_ALL=C"}) {
    SCOPED_TRACE(env);
    int status = 0;
    std::string out = ConvertIn(dir, "--quiet " + Quote("caf\xE9.avi"), &status, env);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, shownCafe + " -> " + dir + "/[QVF]-caf\xEF\xBF\xBD.qvf: Converted\n");
    EXPECT_NEAR(VideoDuration(dir + "/[QVF]-caf\xE9.qvf"), 1.0, 0.1);
    fs::remove(dir + "/[QVF]-caf\xE9.qvf");

    out = ConvertIn(dir, "--quiet card", &status, env);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find(": Converted"), std::string::npos) << out;
    EXPECT_NEAR(VideoDuration(dir + "/card/[QVF]-\xE9t\xE9.qvf"), 1.0, 0.1);
    fs::remove(dir + "/card/[QVF]-\xE9t\xE9.qvf");
  }

  int status = 0;
  const std::string out = ConvertIn(dir, "--quiet --save-batch b.tvc " + Quote(cafe), &status);
  ASSERT_EQ(status, 0) << out;
  CTavrionConverterDoc doc;
  std::string error;
  ASSERT_TRUE(doc.OnOpenDocument(dir + "/b.tvc", &error)) << error;
  ASSERT_EQ(doc.GetCount(), 1u);
  EXPECT_EQ(doc.GetAt(0)->SourcePath().Full(), cafe);
  EXPECT_EQ(doc.GetAt(0)->OutputPath().Full(), dir + "/[QVF]-caf\xE9.qvf");
}

// An entry of a batch whose output folder is gone (a card that is not inserted) fails with
// the folder and the reason, and the next entry converts.
TEST(CliFiles, BatchEntryIntoAMissingFolder_SaysWhich_AndTheRestConverts) {
  NEED_FFMPEG();
  const std::string dir = tavtest::MakeTempSubdir("missing-folder");
  const std::string a = Movie(dir + "/a.avi"), b = Movie(dir + "/b.avi");
  const std::string batch = dir + "/two.tvc";
  {
    CTavrionConverterDoc doc;
    doc.AddOrder(a)->SetOutputPath(dir + "/card/DCIM/[QVF]-a.qvf");
    doc.AddOrder(b);
    std::string error;
    ASSERT_TRUE(doc.OnSaveDocument(batch, &error)) << error;
  }
  int status = 0;
  const std::string out = ConvertIn(dir, "--quiet two.tvc", &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_EQ(out, a + " -> -: Error: The output folder " + dir + "/card/DCIM does not exist (0x80070003)\n" + b +
                     " -> " + dir + "/[QVF]-b.qvf: Converted\n");
}

// Under umask 002 a group shares what the program writes: movies and batches alike.
TEST(CliFiles, UnderAPermissiveUmask_MoviesAndBatchesAreGroupWritable) {
  NEED_FFMPEG();
  const std::string dir = tavtest::MakeTempSubdir("umask");
  Movie(dir + "/clip.avi");
  int status = 0;
  const std::string out =
      tavtest::Capture("cd " + Quote(dir) + " && umask 002 && " + Program() +
                           " --quiet --save-batch clip.tvc --convert clip.avi 2>&1",
                       &status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_EQ(ModeOf(dir + "/[QVF]-clip.qvf"), 0664u);
  EXPECT_EQ(ModeOf(dir + "/clip.tvc"), 0664u);
  const std::string strict = tavtest::Capture(
      "cd " + Quote(dir) + " && umask 077 && " + Program() + " --quiet clip.avi 2>&1", &status);
  ASSERT_EQ(status, 0) << strict;
  EXPECT_EQ(ModeOf(dir + "/[QVF]-clip[1].qvf"), 0600u);
}

// 20,000 entries that are not checked (movies converted long ago) and one that is: the run
// converts the one and never opens the others' movies, so the batch walks through at once.
TEST(CliFiles, UncheckedEntries_AreNeverOpened_AndTheRunEndsWithTheCheckedOne) {
  NEED_FFMPEG();
  const std::string dir = tavtest::MakeTempSubdir("unchecked");
  const std::string old = Movie(dir + "/old.avi"), clip = Movie(dir + "/clip.avi");
  const std::string batch = dir + "/big.tvc";
  {
    CTavrionConverterDoc doc;
    for (int i = 0; i < 20000; ++i) {
      auto e = std::make_unique<CConvertOrder>();
      e->SetSourcePath(old);
      e->SetOutputPath(dir + "/[QVF]-old" + std::to_string(i) + ".qvf");
      e->SetChecked(false);
      doc.AppendOrder(std::move(e));
    }
    doc.AddOrder(clip);
    std::string error;
    ASSERT_TRUE(doc.OnSaveDocument(batch, &error)) << error;
  }
  int status = 0;
  const std::string out = ConvertIn(
      dir, "--quiet big.tvc", &status, "TAVRION_TRACE=engine TAVRION_TRACE_FILE=" + Quote(dir + "/trace.log"));
  EXPECT_EQ(status, 0) << out.substr(out.size() > 2000 ? out.size() - 2000 : 0);
  EXPECT_NE(out.find(clip + " -> " + dir + "/[QVF]-clip.qvf: Converted\n"), std::string::npos);
  std::ifstream in(dir + "/trace.log");
  const std::string trace((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(trace.find("AddSourceAndRender(\"" + clip + "\")"), std::string::npos) << "no trace written";
  EXPECT_EQ(trace.find("AddSourceAndRender(\"" + old + "\")"), std::string::npos) << "an unchecked movie was opened";
}

}  // namespace
