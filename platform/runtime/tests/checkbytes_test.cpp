// The registry's check-byte lines against a stream in memory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "media/contract/checkbytes.h"

namespace {

bool Matches(const std::string& line, const std::string& bytes) {
  return tav::CheckBytesMatch(line, LONGLONG(bytes.size()), [&](LONGLONG offset, LONG count, BYTE* buffer) {
    if (offset < 0 || offset + count > LONGLONG(bytes.size())) return false;
    std::memcpy(buffer, bytes.data() + offset, size_t(count));
    return true;
  });
}

TEST(CheckBytes, GroupsMasksAndOffsetsFromTheEnd) {
  const std::string riff = std::string("RIFF\x10\0\0\0AVI LIST", 16);
  EXPECT_TRUE(Matches("0,4,,52494646", riff));
  EXPECT_TRUE(Matches("0,4,,52494646,8,4,,41564920", riff)) << "every group matches";
  EXPECT_FALSE(Matches("0,4,,52494646,8,4,,41564921", riff)) << "one group fails";
  EXPECT_TRUE(Matches("0,4,FFFFFF00,52494600", riff)) << "the mask drops the last byte";
  EXPECT_TRUE(Matches("-4,4,,4C495354", riff)) << "from the end";
  EXPECT_TRUE(Matches("0, 4, , 52 49 46 46", std::string("RIFF"))) << "spaces in the hex fields";
}

TEST(CheckBytes, MalformedLinesAndBytesOutsideTheStreamNeverMatch) {
  const std::string data = "RIFF";
  for (const char* line : {"", "0,4,,524946", "0,4,,5249464", "0,4,,5249464G", "0,4,", "0,0,,", "0,5000,,",
                           "1,4,,52494646", "-5,4,,52494646", "0,4,,52494646,1"})
    EXPECT_FALSE(Matches(line, data)) << line;
}

}  // namespace
