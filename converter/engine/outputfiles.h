// Output files of a conversion: the name chosen for an entry's movie, the numbered parts
// of a split movie, the split limits handed to the exporter, and the figures that depend
// on the exporter's bit rate (its configuration value and the estimated output size).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "converter/engine/convertorder.h"
#include "converter/engine/path.h"
#include "media/contract/wintypes.h"

namespace tav {

// One per entry conversion. PrepareName chooses the movie's name; every FinishPart moves
// the movie written so far to the next free numbered part name.
class OutputFileSequence {
 public:
  explicit OutputFileSequence(const std::string& outputPath, ULONGLONG splitSize = 0);

  // basePath when no file has that name; else the first free "name[n].ext", numbering on
  // from a "[n]" the name already ends in. basePath becomes the chosen name. The name is
  // taken at once by creating the (empty) file exclusively, so a conversion running beside
  // this one cannot choose it too; the exporter then writes over that empty file.
  std::string PrepareName();
  // Why the last PrepareName could not create its file (an errno value; 0 when it could).
  int CreateError() const { return createError_; }
  // Moves the file at basePath to the first free "name0001.ext", "name0002.ext", ...
  // and returns that name. A failed move is not reported: the part stays under basePath
  // and the numbering does not advance.
  std::string FinishPart();
  // Removes the file at basePath: a part that holds no picture, or one that cannot be made
  // playable.
  void Discard();

  // Numbering goes on from an earlier conversion of the same movie that left parts up to
  // nextPart - 1 (a resumed conversion).
  void ContinueNumbering(LONG nextPart) { nextPart_ = nextPart > 1 ? nextPart : 1; }
  LONG NextPart() const { return nextPart_; }
  const CPath& BasePath() const { return basePath_; }
  ULONGLONG SplitSize() const { return splitSize_; }

 private:
  LONG nextPart_ = 1;        // number tried first by the next FinishPart
  bool reserved_ = false;    // kept for the batch layout; always false
  int createError_ = 0;      // errno of the last PrepareName's creation
  ULONGLONG splitSize_ = 0;  // requested split size in bytes, kept only
  CPath basePath_;           // the movie being written
};

// What keeps a movie from being created in the folder of outputPath, for the entry's
// status ("The output folder /x/y does not exist"); err is the errno of the creation.
// *hr gets the code the entry fails with.
std::string OutputFolderProblem(const std::string& outputPath, int err, HRESULT* hr);

// The file at path as it is now; not set (size -1) when there is none.
CConvertOrder::OutputStamp StampOf(const std::string& path);
// Whether the file at path is still the one stamp recorded: the same file, unchanged
// since (finished: an interrupted movie), or grown from it (a movie being written when
// the program died). False when nothing was recorded.
bool StampHolds(const CConvertOrder::OutputStamp& stamp, const std::string& path, bool mayHaveGrown);

// The name of part `number` of the movie at basePath: "name0001.ext" and so on.
std::string PartNameOf(const CPath& basePath, LONG number);

// Whether a conversion into outputPath may write a file named candidate: the name itself,
// a free "name[n].ext" chosen in its place, or a numbered part "name0001.ext" of either.
// Folders are compared as the file system resolves them.
bool MayBecomeOutputOf(const std::string& outputPath, const std::string& candidate);

// The number of video frames a finished movie holds (the total-frames field of its main
// header); -1 when the file cannot be read or does not begin as a movie of this kind.
LONGLONG VideoFramesIn(const std::string& moviePath);

// The limit handed to the exporter for a split size chosen in the entry: the nominal
// sizes become a little smaller so a part never ends above the size the user chose;
// anything else (0 = unlimited) passes unchanged.
ULONGLONG MapSplitSize(ULONGLONG nominalBytes);

// The exporter's video bit rate (kbit/s) for an entry, from the configured rate for
// 320 x 240 at 25 fps or more.
LONG AdjustBitrate(int frameWidth, double frameRate, LONG kbps);
LONG AdjustBitrate(const CConvertOrder& entry, LONG kbps);

// Size of the exporter's configuration block and the offset of its 32-bit video bit rate.
inline constexpr size_t kExportConfigBytes = 3264;
inline constexpr size_t kExportConfigBitrateOffset = 4;
// Rewrites the bit rate inside a configuration block read from the exporter; false when
// the block is too short to hold it.
bool AdjustConfigBitrate(std::vector<BYTE>& block, int frameWidth, double frameRate);

// The configured bit rate: "BITRATE" of section "ZR44" in compressIni, default 300.
LONG ReadConfiguredBitrate(const std::string& compressIni);
// compress.ini in the program folder.
std::string DefaultCompressIni();
// Expected output size in bytes for duration (100 ns) at the entry's frame size and rate.
LONGLONG EstimateOutputSize(int frameWidth, double frameRate, REFERENCE_TIME duration,
                            const std::string& compressIni);
// The same with the configured bit rate (ReadConfiguredBitrate) already read, for summing
// many entries.
LONGLONG EstimateOutputSize(int frameWidth, double frameRate, REFERENCE_TIME duration, LONG configuredKbps);
LONGLONG EstimateOutputSize(const CConvertOrder& entry, REFERENCE_TIME duration);

}  // namespace tav
