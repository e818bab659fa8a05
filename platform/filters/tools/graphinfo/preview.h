// graphinfo's preview mode: builds the preview graph the converter's main form uses (the
// engine's FilterGraphBuilder with resizing, 15 fps and the subtitle drawer), pauses it on
// its first picture and optionally writes that picture, as the preview window shows it
// (canvas of the frame size with the fit and the caption), to a PNG file.
#pragma once

#include <string>

#include "converter/engine/framesize.h"

struct PreviewOptions {
  std::string file;
  int width = tav::kSmallFrame.width, height = tav::kSmallFrame.height;
  int fit = 2;                 // 0 stretch, 1 centred, 2 fit, 3 crop
  std::string subtitles;       // empty: no captions
  std::string language = "en-us";
  std::string sizeId = "A551CAEA-E6D4-4e47-8422-9128EEEE0D46";
  double seekSeconds = 0;
  std::string snapshot;        // PNG path; empty: none
};

// Parses "WxH"; false for anything else.
bool ParseFrameSize(const char* text, int* width, int* height);
// "fit", "crop", "stretch", "centre" or a number 0-3; -1 for anything else.
int ParseFitMode(const char* text);
// "standard", "bigger" or "smaller" to the size class identifier; empty for anything else.
std::string ParseCaptionSize(const char* text);

// Exit status as graphinfo's: 0 done, 1 the graph could not be built, paused or saved.
int RunPreview(const PreviewOptions& options);
