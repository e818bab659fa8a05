// Movie bytes for the reader's tests: the header the camera writer starts a movie with.
#pragma once

#include <string>

namespace qvftest {

// The first 32 bytes a writer puts down (RIFF, the AVI form, the header list and avih), the
// form type ending in 0x19 for a camera movie, then a counting pattern so that every byte is
// predictable.
inline std::string MovieBytes(bool qvf, size_t size) {
  std::string b(size, '\0');
  for (size_t i = 0; i < size; ++i) b[i] = char(i * 7 + 3);
  const char header[] = "RIFF\x10\x00\x00\x00"
                        "AVI "
                        "LIST\x44\x00\x00\x00"
                        "hdrl"
                        "avih\x38\x00\x00\x00";
  for (size_t i = 0; i < 32 && i < size; ++i) b[i] = header[i];
  if (qvf && size > 11) b[11] = '\x19';
  return b;
}

}  // namespace qvftest
