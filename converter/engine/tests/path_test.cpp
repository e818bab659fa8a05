// CPath: splitting a path into folder, title and extension; relative and absolute forms.
#include <gtest/gtest.h>

#include "converter/engine/path.h"

namespace tav {
namespace {

TEST(EnginePath, SplitsIntoFolderTitleAndExtension) {
  CPath p("/movies/sub/clip.final.avi");
  EXPECT_EQ(p.Folder(), "/movies/sub/");
  EXPECT_EQ(p.Title(), "clip.final");
  EXPECT_EQ(p.Extension(), ".avi");
  EXPECT_EQ(p.FileName(), "clip.final.avi");
  EXPECT_TRUE(p.HasDrive());
  CPath bare("clip");
  EXPECT_EQ(bare.Folder(), "");
  EXPECT_EQ(bare.Extension(), "");
  EXPECT_FALSE(bare.HasDrive());
  EXPECT_EQ(CPath("/").Folder(), "/");
  EXPECT_EQ(CPath("/a.b/c").Extension(), "");  // a dot in the folder is no extension
}

TEST(EnginePath, MakeRelativeAndAbsolute) {
  const CPath movie("/m/clip.avi");
  CPath sub("/m/subs/clip.smi");
  sub.MakeRelative(movie);
  EXPECT_EQ(sub.Full(), "subs/clip.smi");
  sub.MakeAbsolute(movie);
  EXPECT_EQ(sub.Full(), "/m/subs/clip.smi");
  CPath far("/other/clip.smi");
  far.MakeRelative(movie);
  EXPECT_EQ(far.Full(), "/other/clip.smi");
  CPath prefix("/mm/clip.smi");  // "/m/" is no folder prefix of "/mm/"
  prefix.MakeRelative(movie);
  EXPECT_EQ(prefix.Full(), "/mm/clip.smi");
  CPath noDrive("x/y.smi");
  noDrive.MakeRelative(movie);
  EXPECT_EQ(noDrive.Full(), "/m/y.smi");
  CPath empty;
  empty.MakeAbsolute(movie);
  EXPECT_TRUE(empty.IsEmpty());
  CPath rel("a.smi");
  rel.MakeAbsolute(CPath());
  EXPECT_EQ(rel.Full(), "a.smi");
}

}  // namespace
}  // namespace tav
