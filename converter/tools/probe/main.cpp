// tavrion-probe: the converter's preview and picture reading, without the desktop program.
//
//   tavrion-probe --preview FILE [--size WxH] [--fit MODE] [--subtitles FILE] [--language CODE]
//                 [--subtitle-size standard|bigger|smaller] [--seek SECONDS] [--snapshot OUT.png]
//   tavrion-probe --frame SECONDS FILE OUT.png
//
// --preview builds the preview graph the desktop program shows for a movie (frame size, fit
// and captions as given), pauses it on its first picture (or the one at --seek), prints its
// filters and with --snapshot saves the picture as the preview window shows it.
//
// --frame reads the decoded picture at the given time (VxVideoKit's media reader holder)
// and writes it to OUT.png; a time past the end is an error.
//
// Exit status 0 done, 1 failed, 2 usage error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "converter/engine/startup.h"
#include "converter/tools/probe/probe.h"
#include "media/contract/com.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: tavrion-probe --preview FILE [--size WxH] [--fit fit|crop|stretch|centre] [--subtitles FILE]\n"
               "                     [--language CODE] [--subtitle-size standard|bigger|smaller] [--seek SECONDS]\n"
               "                     [--snapshot OUT.png]\n"
               "       tavrion-probe --frame SECONDS FILE OUT.png\n");
  return 2;
}

bool ParseSeconds(const char* text, double* seconds) {
  char* end = nullptr;
  *seconds = std::strtod(text, &end);
  return end && end != text && !*end && *seconds >= 0;
}

// The component model, and the component libraries beside the program in ../lib registered
// again where their registration is missing, the graph library first (the others register
// their filters through its mapper).
bool StartPlatform() {
  if (const std::string problem = tav::RegistryProblem(); !problem.empty()) {
    std::fprintf(stderr, "tavrion-probe: %s\n", problem.c_str());
    return false;
  }
  CoInitialize(nullptr);
  tav::ReregisterCodecs(std::string(), {"tavrionstreaming"});
  tav::ReregisterCodecs(
      std::string(), {"tavrionfilters", "captionparser", "vxvideokit", "captionpainter", "qvfreader", "subtypeshim"});
  return true;
}

int FrameMain(int argc, char** argv) {
  if (argc != 5) return Usage();
  probe::FrameOptions options;
  if (!ParseSeconds(argv[2], &options.seconds)) return Usage();
  options.file = argv[3];
  options.output = argv[4];
  if (!StartPlatform()) return 1;
  const int status = probe::RunFrame(options);
  CoUninitialize();
  return status;
}

int PreviewMain(int argc, char** argv) {
  probe::PreviewOptions o;
  bool preview = false;
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--preview") == 0) {
      preview = true;
    } else if (std::strcmp(argv[i], "--size") == 0 && hasValue) {
      if (!probe::ParseFrameSize(argv[++i], &o.width, &o.height)) return Usage();
    } else if (std::strcmp(argv[i], "--fit") == 0 && hasValue) {
      o.fit = probe::ParseFitMode(argv[++i]);
      if (o.fit < 0) return Usage();
    } else if (std::strcmp(argv[i], "--subtitles") == 0 && hasValue) {
      o.subtitles = argv[++i];
    } else if (std::strcmp(argv[i], "--language") == 0 && hasValue) {
      o.language = argv[++i];
    } else if (std::strcmp(argv[i], "--subtitle-size") == 0 && hasValue) {
      o.sizeId = probe::ParseCaptionSize(argv[++i]);
      if (o.sizeId.empty()) return Usage();
    } else if (std::strcmp(argv[i], "--snapshot") == 0 && hasValue) {
      o.snapshot = argv[++i];
    } else if (std::strcmp(argv[i], "--seek") == 0 && hasValue) {
      if (!ParseSeconds(argv[++i], &o.seekSeconds)) return Usage();
    } else if (argv[i][0] == '-' || !o.file.empty()) {
      return Usage();
    } else {
      o.file = argv[i];
    }
  }
  if (!preview || o.file.empty()) return Usage();
  if (!StartPlatform()) return 1;
  const int status = probe::RunPreview(o);
  CoUninitialize();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--frame") == 0) return FrameMain(argc, argv);
  return PreviewMain(argc, argv);
}
