#include "converter/ui/form/readysummary.h"

#include "converter/engine/bytesize.h"
#include "converter/engine/document.h"
#include "converter/engine/outputfiles.h"
#include "converter/engine/strings.h"
#include "converter/engine/timetext.h"

namespace tav {

ReadySummary SummariseBatch(const CTavrionConverterDoc& doc, LONG configuredKbps) {
  ReadySummary summary;
  summary.entries = doc.GetCount();
  for (size_t i = 0; i < doc.GetCount(); ++i) {
    const CConvertOrder& e = *doc.GetAt(i);
    if (!e.IsChecked()) continue;
    ++summary.checked;
    // A movie that could not be read makes nothing; it need not wait for a length.
    if (e.HasProbeError()) continue;
    REFERENCE_TIME start = -1, end = -1;
    const REFERENCE_TIME duration = e.GetTrimPoints(&start, &end) ? end - start : e.GetDuration();
    if (duration == kUnknownTime || duration <= 0) {
      ++summary.unsized;
      continue;
    }
    summary.bytes += EstimateOutputSize(e.GetFrameWidth(), e.GetFrameRate(), duration, configuredKbps);
  }
  return summary;
}

std::string ReadySummaryText(const ReadySummary& summary) {
  if (summary.entries == 0) return res::Text(res::IDS_READY_EMPTY);
  if (summary.checked == 0) return res::Text(res::IDS_READY_NONE_CHECKED);
  const std::string count = std::to_string(summary.checked);
  // A size that leaves out movies not probed yet would read as the whole batch's.
  if (summary.unsized > 0 || summary.bytes <= 0)
    return res::FormatId(summary.checked == 1 ? res::IDS_READY_ONE_UNSIZED : res::IDS_READY_MANY_UNSIZED, {count});
  return res::FormatId(summary.checked == 1 ? res::IDS_READY_ONE : res::IDS_READY_MANY,
                       {count, ByteSizeText(ULONGLONG(summary.bytes))});
}

}  // namespace tav
