// The subtitle pieces of the conversion graph: the burn-in stage of the video chain (the
// "Subtitle Filter" with its own manager) and the creation of a loaded "Subtitle Manager".
// Both reach the CaptionParser library by class identifier only and report every failure by
// throwing the caller's HRChecker with the context of the step that failed.
#pragma once

#include <string>

#include "converter/engine/hrchecker.h"
#include "libs/captionparser/captionparser.h"
#include "media/contract/comptr.h"
#include "media/contract/strmif.h"

namespace tav {

// What a subtitle stage needs of the builder's settings (ANSI strings).
struct SubtitleSettings {
  std::string file;      // the SAMI or SubRip file
  std::string sizeId;    // a size class identifier, e.g. the default "A551CAEA-..."
  std::string language;  // a language code such as "en-us"
};

// The name the burn-in filter gets in the graph.
inline constexpr const char16_t* kBurnInFilterName = u"KORVA Subtitles Parser";

// Creates a "Subtitle Manager" and loads settings.file, then selects settings.sizeId and
// settings.language. Context "Subtitle Manager Object"; a file that cannot be loaded throws
// 0x80040301.
ComPtr<ISubtitleManager> CreateSubtitleManager(HRChecker& checker, const SubtitleSettings& settings);

// The burn-in stage of the video chain, for a builder whose burn-in and subtitles are both on:
// puts a "Subtitle Filter" with a manager of its own after `pin` and returns the filter's
// output pin, the chain's new current pin. When `pin` already belongs to a subtitle filter
// the stage is skipped and `pin` is returned. An empty settings.file throws 0x80040301 before
// anything is created; a failed connection throws VFW_E_CANNOT_CONNECT and leaves no filter
// of the stage in the graph.
// When `reader` is given, it receives the name of the reader that took a file that is not plain
// SAMI or SubRip ("WebVTT", ...), or is emptied; `encoding` the encoding the file was read in.
ComPtr<IPin> AddBurnInStage(HRChecker& checker, IGraphBuilder* graph, IPin* pin, const SubtitleSettings& settings,
                            std::string* reader = nullptr, std::string* encoding = nullptr);

// The name of the reader that took the manager's file when it was not plain SAMI or SubRip
// ("WebVTT", "SSA/ASS", "SubRip (tolerant)"); empty otherwise.
std::string LenientReaderName(ISubtitleManager* manager);

// The encoding the manager's file was read in ("UTF-8", "CP949", ...); empty when nothing is
// loaded.
std::string SubtitleEncodingName(ISubtitleManager* manager);

}  // namespace tav
