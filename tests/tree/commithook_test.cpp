// The commit-message hook of .githooks (scripts/setup.sh installs it in a git checkout): it
// takes the message as git hands it over, comments and the diff of `commit -v` included.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/testenv.h"

namespace {

// The hook's exit status for a message.
int Check(const std::string& message) {
  static int n = 0;
  const std::string file = tavtest::TempDir() + "/COMMIT_EDITMSG" + std::to_string(++n);
  std::ofstream(file, std::ios::binary) << message;
  return tavtest::Run("sh '" + tavtest::SourceDir() + "/.githooks/commit-msg' '" + file + "' 2>/dev/null");
}

TEST(CommitHook, TakesASubjectOfAtMost72CharactersAndABlankLineBeforeTheBody) {
  const std::string s72(72, 's');
  EXPECT_EQ(Check("Keep the batch when the disk is full\n"), 0);
  EXPECT_EQ(Check("Keep the batch when the disk is full\n\nThe why, on as many lines\nas it needs.\n"), 0);
  EXPECT_EQ(Check(s72 + "\n\nbody\n"), 0);
  // Characters, not bytes: 72 of them with two bytes each still fit.
  std::string wide;
  for (int i = 0; i < 72; ++i) wide += "\xC3\xA9";
  EXPECT_EQ(Check(wide + "\n"), 0);

  EXPECT_NE(Check(s72 + "s\n"), 0);
  EXPECT_NE(Check("Subject\nbody straight below it\n"), 0);
  EXPECT_NE(Check("\n\n"), 0);
}

TEST(CommitHook, ReadsTheMessageAsGitKeepsIt) {
  // Comment lines, blank lines on top and the diff below the scissors are not the message.
  EXPECT_EQ(Check("\n# Please enter the commit message\nSubject\n# a comment between\n\nbody\n"), 0);
  EXPECT_EQ(Check("Subject\n\nbody\n# ------------------------ >8 ------------------------\n" + std::string(100, 'x') +
                  "\nno blank line\n"),
            0);
  EXPECT_NE(Check("# comment\n" + std::string(73, 'x') + "\n"), 0);
}

}  // namespace
