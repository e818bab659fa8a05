// PreviewGraph: the preview of one movie as the main form shows it, and the probe that
// opening it makes. It owns a preview-mode FilterGraphBuilder and builds into it the picture
// (resized to the output frame size with the screen fit, at the preview's own picture rate,
// ending in the subtitle renderer when captions are drawn over it) and the sound (converted
// to the camera's format, ending in the sound renderer). The desktop form attaches the built
// graph to its player; tavrion-probe pauses it itself and reads the shown picture back.
//
// Threads: every method runs on the thread that owns the graph (the GUI thread in the
// program); the graph's streaming threads never call back into this object.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "converter/engine/convertorder.h"
#include "converter/engine/filtergraphbuilder.h"
#include "converter/engine/framesize.h"

namespace tav {

// Every preview plays at this picture rate, whatever rate its entry converts to: a preview
// only has to show the picture, and half the pictures cost half the decoding.
inline constexpr double kPreviewFrameRate = 15.0;

struct PreviewSettings {
  // The output frame: the picture is resized to it, and captions are drawn on a canvas of it.
  int width = kSmallFrame.width, height = kSmallFrame.height;
  int fit = CConvertOrder::kFit;  // the screen fit: 0 stretch, 1 centred, 2 fit, 3 crop
  // Captions drawn over the picture; the file must be set when they are on.
  bool subtitles = false;
  std::string subtitleFile;
  std::string subtitleSize = kDefaultSubtitleSize;
  std::string subtitleLanguage;
  // False: the sound is left out (the probe tool reads pictures only).
  bool sound = true;
  // End the picture in the subtitle renderer even without captions, so that its window
  // holds the picture exactly as the preview composes it (the tool's snapshot). Without it
  // a preview without captions ends in the platform's video renderer.
  bool keepDrawer = false;

  // The preview of an entry: its frame size, screen fit and captions.
  static PreviewSettings ForEntry(const CConvertOrder& entry);
};

// A picture as the preview shows it: top row first, one 0x00RRGGBB word a pixel.
struct PreviewPicture {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

class PreviewGraph {
 public:
  PreviewGraph() = default;
  PreviewGraph(const PreviewGraph&) = delete;
  PreviewGraph& operator=(const PreviewGraph&) = delete;

  // Makes the builder's graph; the failure code, and then nothing can be built.
  HRESULT Init();
  // Stops the graph and takes every filter out of it. A player the graph is attached to
  // must have let it go first.
  void Clear();

  // Clears the graph and builds the preview of source into it. The source is opened twice, one
  // instance for the picture and one for the sound: a paused sound renderer holds its
  // stream's thread, which must not starve the picture. When the captions cannot be drawn
  // over the picture (the drawer stage fails), they are burnt into it instead, unless
  // keepDrawer asks for the drawer. Throws HRChecker with the failing code, media type and
  // filter (E_NOINTERFACE when Init could not make the graph).
  void Build(const std::string& source, const PreviewSettings& settings);
  // True when the last Build burnt the captions in rather than drawing them.
  bool BurnsInCaptions() const { return burnsIn_; }

  // What the built graph tells about its movie, written into entry: duration, source frame
  // size as shown (and as stored when a turn makes them differ), seekability, the drawer's
  // current picture and the subtitle file's encoding. Run it once the graph is paused, so
  // the drawer holds a picture. Throws HRChecker when the graph cannot seek.
  void ProbeInto(CConvertOrder& entry);

  // For a graph that is not attached to a player. Seeks to a time (before pausing, the
  // first picture shown is the one at that time); false when the graph cannot seek.
  bool Seek(REFERENCE_TIME position);
  // Pauses and waits up to timeoutMs for the first picture; S_OK once it is there.
  HRESULT PauseAndWait(LONG timeoutMs);
  void Stop();
  // The picture the subtitle renderer shows, at the frame size of the last Build (its window
  // set to that canvas 1:1 and repainted). False when the graph has no subtitle renderer or its window
  // holds no picture.
  bool ShownPicture(PreviewPicture* picture);

  FilterGraphBuilder& Builder() { return builder_; }
  IGraphBuilder* Graph() const { return builder_.Graph(); }

 private:
  void Configure(const PreviewSettings& settings, bool drawer, bool burnIn);
  // Throws HRChecker.
  void Render(const std::string& source, bool sound);

  FilterGraphBuilder builder_;
  PreviewSettings settings_;  // of the last Build
  bool burnsIn_ = false;
};

// The movie's picture size as stored (the splitter's video output) and as shown (what the
// decoder after the splitter delivers, turned upright as the movie asks: a portrait phone
// movie stored 640 x 360 shows 360 x 640). False when the graph has no video.
bool PictureSizes(IGraphBuilder* graph, int* storedWidth, int* storedHeight, int* shownWidth, int* shownHeight);

// What a probe reads from a movie's graph before its picture sizes.
struct ProbedLength {
  REFERENCE_TIME duration = 0;
  bool seekable = false;  // the split size needs absolute seeks, a stop position and a length
};

// Builds in builder the conversion graph of the movie up to its decoded picture (video
// only, nothing resized, timed or drawn), as the command line and the window probe a movie,
// and reads its length. Throws HRChecker as the builder does; the caller clears the builder.
ProbedLength BuildProbeGraph(FilterGraphBuilder& builder, const std::string& path);

}  // namespace tav
