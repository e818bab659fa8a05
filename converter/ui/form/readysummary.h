// What Convert would do now, for the status area while no run goes on: how many movies
// are checked and about how much they will make ("3 movies, about 45 MB, ready to
// convert").
#pragma once

#include <string>

#include "media/contract/wintypes.h"

namespace tav {

class CTavrionConverterDoc;

struct ReadySummary {
  size_t entries = 0;   // in the batch
  size_t checked = 0;   // that take part in the next run
  size_t unsized = 0;   // of the checked and readable, those whose length is not known yet
  LONGLONG bytes = 0;   // estimated output of the checked entries of known length
};

// Sums the checked entries of doc, each over its trim range when it has one, with the
// configured bit rate configuredKbps (see ReadConfiguredBitrate).
ReadySummary SummariseBatch(const CTavrionConverterDoc& doc, LONG configuredKbps);

// The sentence the status area shows for summary.
std::string ReadySummaryText(const ReadySummary& summary);

}  // namespace tav
