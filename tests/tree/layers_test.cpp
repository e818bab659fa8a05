// The layers of the tree, lowest first: the contract (media/), the platform (platform/), the
// movie library (clipmux/), the component libraries (libs/) and the converter (converter/).
// A file includes from its own layer and the ones below it, never from one above: the
// platform and the libraries must build and make sense without the program that uses them.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>

#include "tests/support/testenv.h"
#include "tests/tree/sourcetree.h"

namespace {

const char* const kLayers[] = {"media", "platform", "clipmux", "libs", "converter"};

int LayerOf(const std::string& topFolder) {
  for (int i = 0; i < static_cast<int>(std::size(kLayers)); ++i)
    if (topFolder == kLayers[i]) return i;
  return -1;
}

TEST(Layers, NoFileIncludesFromALayerAboveItsOwn) {
  const std::string src = tavtest::SourceDir();
  static const std::regex kInclude("^[ \\t]*#[ \\t]*include[ \\t]*[\"<]([A-Za-z0-9_]+)/([^\">]+)[\">]");
  int files = 0;
  for (const char* layer : kLayers) {
    const int own = LayerOf(layer);
    for (const std::string& file : treetest::FilesUnder(src, layer, {".cpp", ".h", ".inc"})) {
      ++files;
      std::istringstream lines(treetest::ReadText(src + "/" + file));
      std::string line;
      while (std::getline(lines, line)) {
        std::smatch m;
        if (!std::regex_search(line, m, kInclude)) continue;
        const std::string top = m[1];
        const int theirs = LayerOf(top);
        if (theirs <= own) continue;  // its own layer, one below, or not a layer (tests/, system)
        ADD_FAILURE() << file << " (" << layer << ") includes " << top << "/" << m[2].str() << " from " << top
                      << ", a layer above it";
      }
    }
  }
  EXPECT_GT(files, 100) << "the tree was not found at " << src;
}

}  // namespace
