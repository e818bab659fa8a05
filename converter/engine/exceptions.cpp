#include "converter/engine/exceptions.h"

#include <cstring>

#include "converter/engine/strings.h"

namespace tav {
namespace {

UINT CauseText(ArchiveException::Cause cause) {
  switch (cause) {
    case ArchiveException::Cause::kEndOfFile: return res::IDS_ARCHIVE_END_OF_FILE;
    case ArchiveException::Cause::kBadFormat: return res::IDS_ARCHIVE_BAD_FORMAT;
    case ArchiveException::Cause::kBadClass: return res::IDS_ARCHIVE_BAD_CLASS;
    case ArchiveException::Cause::kBadIndex: return res::IDS_ARCHIVE_BAD_INDEX;
  }
  return res::IDS_ARCHIVE_BAD_FORMAT;
}

}  // namespace

ArchiveException::ArchiveException(Cause cause, size_t offset)
    : std::runtime_error(res::FormatId(CauseText(cause), {std::to_string(offset)})), cause_(cause), offset_(offset) {}

std::string ErrnoText(int errnum) {
  char buf[256];
  // GNU strerror_r returns the text (possibly not in buf).
  return strerror_r(errnum, buf, sizeof buf);
}

}  // namespace tav
