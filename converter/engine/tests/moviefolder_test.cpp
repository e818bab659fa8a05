// Folders as input: which files of a folder tree become entries, and in which order.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "converter/engine/moviefolder.h"
#include "tests/support/testenv.h"

namespace {

void Write(const std::string& path) { std::ofstream(path) << "x"; }

TEST(EngineMovieFolder, NestedFolders_GiveExactlyTheMovies_InNameOrder) {
  const std::string dir = tavtest::MakeTempSubdir("moviefolder");
  for (const char* sub : {"/b season", "/b season/extras", "/.hidden", "/a", "/empty"})
    ASSERT_EQ(::mkdir((dir + sub).c_str(), 0755), 0) << sub;
  Write(dir + "/b season/02.mkv");
  Write(dir + "/b season/01.avi");
  Write(dir + "/b season/extras/making of.MP4");
  Write(dir + "/b season/notes.txt");                 // not a movie
  Write(dir + "/b season/01.smi");                    // subtitles of a movie
  Write(dir + "/b season/[QVF]-01.qvf");              // an earlier output
  Write(dir + "/b season/[QVF]-020001.qvf");          // a numbered part of one
  Write(dir + "/.hidden/secret.avi");                 // inside a hidden folder
  Write(dir + "/.trailer.avi");                       // a hidden file
  Write(dir + "/a/clip.wmv");
  Write(dir + "/c.qvf");                              // a camera movie of the user's own
  Write(dir + "/README");                             // no extension at all
  ASSERT_EQ(::mkfifo((dir + "/pipe.avi").c_str(), 0644), 0);  // would block a probe
  // A link back up must not walk the tree again and again.
  ASSERT_EQ(::symlink(dir.c_str(), (dir + "/a/loop").c_str()), 0);

  const std::vector<std::string> expected = {dir + "/a/clip.wmv", dir + "/b season/01.avi", dir + "/b season/02.mkv",
                                             dir + "/b season/extras/making of.MP4", dir + "/c.qvf"};
  EXPECT_EQ(tav::MovieFilesInFolder(dir), expected);
  EXPECT_EQ(tav::MovieFilesInFolder(dir + "/"), expected) << "a trailing slash changes nothing";
  EXPECT_TRUE(tav::MovieFilesInFolder(dir + "/empty").empty());
  EXPECT_TRUE(tav::MovieFilesInFolder(dir + "/a/clip.wmv").empty()) << "a file is no folder";
  EXPECT_TRUE(tav::MovieFilesInFolder(dir + "/missing").empty());
}

TEST(EngineMovieFolder, OwnOutputNames) {
  EXPECT_TRUE(tav::IsOwnOutputName("[QVF]-clip.qvf"));
  EXPECT_TRUE(tav::IsOwnOutputName("[QVF]-clip0003.qvf"));
  EXPECT_FALSE(tav::IsOwnOutputName("clip[QVF]-.avi"));
  EXPECT_FALSE(tav::IsOwnOutputName("[QVF]clip.avi"));
}

}  // namespace
