// graphinfo's frame mode: reads the decoded picture at a given time through VxVideoKit's
// media reader holder (RGB24, its private graph) and writes it to a PNG file.
#pragma once

#include <string>

struct FrameOptions {
  std::string file;
  double seconds = 0;   // time of the picture
  std::string output;   // PNG path
};

// Exit status as graphinfo's: 0 written, 1 the file could not be opened, read at that time
// (past the end, for instance) or the picture not saved.
int RunFrame(const FrameOptions& options);
