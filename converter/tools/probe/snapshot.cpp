#include <cstdio>
#include <cstring>
#include <vector>

#include "converter/engine/graphwalk.h"
#include "converter/engine/hrchecker.h"
#include "converter/tools/probe/pngfile.h"
#include "converter/tools/probe/probe.h"
#include "media/contract/codepage.h"
#include "media/contract/errortext.h"

namespace probe {

namespace {

constexpr LONG kPauseTimeoutMs = 20000;

}  // namespace

bool ParseFrameSize(const char* text, int* width, int* height) {
  int w = 0, h = 0;
  char tail = 0;
  if (std::sscanf(text, "%dx%d%c", &w, &h, &tail) != 2 || w <= 0 || h <= 0 || w > 4096 || h > 4096) return false;
  *width = w;
  *height = h;
  return true;
}

int ParseFitMode(const char* text) {
  if (!std::strcmp(text, "stretch") || !std::strcmp(text, "0")) return 0;
  if (!std::strcmp(text, "centre") || !std::strcmp(text, "center") || !std::strcmp(text, "1")) return 1;
  if (!std::strcmp(text, "fit") || !std::strcmp(text, "2")) return 2;
  if (!std::strcmp(text, "crop") || !std::strcmp(text, "3")) return 3;
  return -1;
}

std::string ParseCaptionSize(const char* text) {
  if (!std::strcmp(text, "standard")) return tav::kDefaultSubtitleSize;
  if (!std::strcmp(text, "bigger")) return "9F0194EA-D60A-43d2-B994-CB0FDDE02C3E";
  if (!std::strcmp(text, "smaller")) return "30174FFF-6773-425b-BB87-BA5038C9EF4A";
  return std::string();
}

int RunPreview(const PreviewOptions& o) {
  tav::PreviewGraph preview;
  if (FAILED(preview.Init())) {
    std::fprintf(stderr, "tavrion-probe: cannot make a graph\n");
    return 1;
  }
  // Only the picture matters here; it always ends in the subtitle renderer, whose window
  // holds the picture as the preview composes it.
  tav::PreviewSettings settings;
  settings.width = o.width;
  settings.height = o.height;
  settings.fit = o.fit;
  settings.subtitles = !o.subtitles.empty();
  settings.subtitleFile = o.subtitles;
  settings.subtitleSize = o.sizeId;
  settings.subtitleLanguage = o.language;
  settings.sound = false;
  settings.keepDrawer = true;
  try {
    preview.Build(o.file, settings);
  } catch (const tav::HRChecker& e) {
    if (e.GetContext().empty())
      std::fprintf(stderr, "tavrion-probe: %s: %s\n", o.file.c_str(), tav::ResultText(e.GetHr()).c_str());
    else
      std::fprintf(stderr, "tavrion-probe: %s: %s while making \"%s\"\n", o.file.c_str(),
                   tav::ResultText(e.GetHr()).c_str(), e.GetContext().c_str());
    return 1;
  }
  if (o.seekSeconds > 0) preview.Seek(REFERENCE_TIME(o.seekSeconds * 1e7));
  const HRESULT hr = preview.PauseAndWait(kPauseTimeoutMs);
  if (hr != S_OK) {
    std::fprintf(stderr, "tavrion-probe: %s: the preview did not pause: %s\n", o.file.c_str(),
                 tav::ResultText(hr).c_str());
    preview.Stop();
    return 1;
  }

  int width = 0, height = 0;
  preview.Builder().FindVideoSize(false, &width, &height);
  std::printf("preview %s: %dx%d, fit %d, %s\n", o.file.c_str(), width, height, o.fit,
              o.subtitles.empty() ? "no subtitles" : ("subtitles " + o.subtitles + " (" + o.language + ")").c_str());
  // The filters in streaming order: the graph lists the last added first.
  std::vector<ComPtr<IBaseFilter>> filters = tav::FiltersOf(preview.Graph());
  for (auto it = filters.rbegin(); it != filters.rend(); ++it)
    std::printf("  %s\n", tav::Utf16ToUtf8(tav::FilterName(it->Get())).c_str());

  int status = 0;
  if (!o.snapshot.empty()) {
    tav::PreviewPicture picture;
    if (!preview.ShownPicture(&picture) ||
        !WritePng(o.snapshot, picture.width, picture.height, picture.pixels.data())) {
      std::fprintf(stderr, "tavrion-probe: cannot write %s\n", o.snapshot.c_str());
      status = 1;
    } else {
      std::printf("snapshot %s\n", o.snapshot.c_str());
    }
  }
  preview.Stop();
  return status;
}

}  // namespace probe
