// tavrion-probe's two modes: the preview snapshot (the desktop program's preview of a movie,
// paused on a picture and saved as the window shows it) and the frame grab (the decoded
// picture at a time, read through VxVideoKit's media reader holder).
#pragma once

#include <string>

#include "converter/engine/framesize.h"
#include "converter/engine/previewgraph.h"

namespace probe {

struct PreviewOptions {
  std::string file;
  int width = tav::kSmallFrame.width, height = tav::kSmallFrame.height;
  int fit = 2;            // 0 stretch, 1 centred, 2 fit, 3 crop
  std::string subtitles;  // empty: no captions
  std::string language = "en-us";
  std::string sizeId = tav::kDefaultSubtitleSize;
  double seekSeconds = 0;
  std::string snapshot;  // PNG path; empty: none
};

struct FrameOptions {
  std::string file;
  double seconds = 0;  // time of the picture
  std::string output;  // PNG path
};

// Parses "WxH" (each side 1 to 4096); false for anything else.
bool ParseFrameSize(const char* text, int* width, int* height);
// "fit", "crop", "stretch", "centre" (or "center") or a number 0-3; -1 for anything else.
int ParseFitMode(const char* text);
// "standard", "bigger" or "smaller" to the size class identifier; empty for anything else.
std::string ParseCaptionSize(const char* text);

// Exit statuses: 0 done; 1 the preview could not be built, paused or saved (RunPreview), or
// the file could not be opened, read at that time (past the end, for instance) or the
// picture not saved (RunFrame).
int RunPreview(const PreviewOptions& options);
int RunFrame(const FrameOptions& options);

}  // namespace probe
