#include "converter/engine/outputfiles.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "converter/engine/convertorder.h"
#include "converter/engine/exceptions.h"
#include "converter/engine/framesize.h"
#include "converter/engine/strings.h"
#include "media/contract/folders.h"
#include "media/contract/profile.h"

namespace tav {
namespace {

bool FileExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::string PrintNumber(const char* format, LONG n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, format, static_cast<int>(n));
  return buf;
}

// A part is never moved over an existing file, even one that appeared since the check.
bool MoveNoReplace(const std::string& from, const std::string& to, bool* targetExists) {
  *targetExists = false;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) *targetExists = true;
  return false;
}

// Guards the numbering loops against a folder that claims every name.
constexpr LONG kMaxPartNumber = 1000000;

}  // namespace

OutputFileSequence::OutputFileSequence(const std::string& outputPath, ULONGLONG splitSize)
    : splitSize_(splitSize), basePath_(outputPath) {}

std::string OutputFileSequence::PrepareName() {
  const std::string wanted = basePath_.Full();
  std::string name = MakeUniqueOutputName(wanted);
  // A name taken between the check and the creation is passed over for the next free one.
  createError_ = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      break;
    }
    // Any other failure (a missing or read-only folder) is the caller's to report.
    if (errno != EEXIST) {
      createError_ = errno;
      break;
    }
    name = MakeUniqueOutputName(wanted);
  }
  basePath_.Set(name);
  return name;
}

void OutputFileSequence::Discard() { ::unlink(basePath_.Full().c_str()); }

std::string OutputFileSequence::FinishPart() {
  for (; nextPart_ < kMaxPartNumber; ++nextPart_) {
    const std::string candidate = PartNameOf(basePath_, nextPart_);
    if (FileExists(candidate)) continue;
    bool exists = false;
    if (MoveNoReplace(basePath_.Full(), candidate, &exists)) {
      ++nextPart_;
      return candidate;
    }
    if (exists) continue;
    // The part stays under the base name (not reported); no part was made.
    return basePath_.Full();
  }
  return basePath_.Full();
}

std::string OutputFolderProblem(const std::string& outputPath, int err, HRESULT* hr) {
  std::string folder = CPath(outputPath).Folder();
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  // The folder itself tells more than the creation's errno: a missing parent also gives
  // ENOENT, a file in the way ENOTDIR.
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) {
    *hr = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    return errno == ENOTDIR ? res::FormatId(res::IDS_OUTPUT_FOLDER_NOT_FOLDER, {folder})
                            : res::FormatId(res::IDS_OUTPUT_FOLDER_MISSING, {folder});
  }
  if (!S_ISDIR(st.st_mode)) {
    *hr = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    return res::FormatId(res::IDS_OUTPUT_FOLDER_NOT_FOLDER, {folder});
  }
  *hr = HResultFromErrno(err);
  if (err == EACCES || err == EPERM || err == EROFS) return res::FormatId(res::IDS_OUTPUT_FOLDER_READ_ONLY, {folder});
  return res::FormatId(res::IDS_OUTPUT_FOLDER_FAILED, {folder, ErrnoText(err)});
}

CConvertOrder::OutputStamp StampOf(const std::string& path) {
  CConvertOrder::OutputStamp stamp;
  struct stat st;
  if (path.empty() || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return stamp;
  stamp.device = uint64_t(st.st_dev);
  stamp.inode = uint64_t(st.st_ino);
  stamp.size = int64_t(st.st_size);
  stamp.changeSec = int64_t(st.st_ctim.tv_sec);
  stamp.changeNsec = int64_t(st.st_ctim.tv_nsec);
  return stamp;
}

bool StampHolds(const CConvertOrder::OutputStamp& stamp, const std::string& path, bool mayHaveGrown) {
  if (!stamp.IsSet()) return false;
  const CConvertOrder::OutputStamp now = StampOf(path);
  if (!now.IsSet() || now.device != stamp.device || now.inode != stamp.inode) return false;
  if (!mayHaveGrown) return now.size == stamp.size && now.changeSec == stamp.changeSec && now.changeNsec == stamp.changeNsec;
  const bool later = now.changeSec > stamp.changeSec || (now.changeSec == stamp.changeSec && now.changeNsec >= stamp.changeNsec);
  return now.size >= stamp.size && later;
}

std::string PartNameOf(const CPath& basePath, LONG number) {
  return res::FormatId(res::IDS_OUTPUT_NAME_PART,
                       {basePath.Folder(), basePath.Title(), basePath.Extension(), PrintNumber("%i", number),
                        PrintNumber("%4i", number), PrintNumber("%04i", number)});
}

namespace {

// The title without its last "[n]" group (n a number other than 0), as the free-name rule
// drops it before numbering anew.
std::string WithoutNumberGroup(const std::string& title) {
  const size_t open = title.rfind('['), close = title.rfind(']');
  if (open == std::string::npos || close == std::string::npos || close < open + 2) return title;
  const std::string digits = title.substr(open + 1, close - open - 1);
  if (digits.find_first_not_of("0123456789") != std::string::npos || digits.find_first_not_of('0') == std::string::npos)
    return title;
  return title.substr(0, open) + title.substr(close + 1);
}

std::string ResolvedFolder(const std::string& folder) {
  char* real = ::realpath(folder.empty() ? "." : folder.c_str(), nullptr);
  if (!real) return folder;
  std::string out = real;
  std::free(real);
  if (out.empty() || out.back() != '/') out += '/';
  return out;
}

}  // namespace

bool MayBecomeOutputOf(const std::string& outputPath, const std::string& candidate) {
  const CPath output(outputPath), other(candidate);
  if (output.IsEmpty() || other.IsEmpty() || output.Extension() != other.Extension()) return false;
  if (output.Folder() != other.Folder() && ResolvedFolder(output.Folder()) != ResolvedFolder(other.Folder()))
    return false;
  const std::string base = WithoutNumberGroup(output.Title());
  std::string title = other.Title();
  std::vector<std::string> forms = {title};
  // A part number: four digits or more before the extension.
  size_t digits = 0;
  while (digits < title.size() && std::isdigit(static_cast<unsigned char>(title[title.size() - 1 - digits]))) ++digits;
  if (digits >= 4) forms.push_back(title.substr(0, title.size() - digits));
  for (const std::string& form : forms)
    if (form == output.Title() || form == base || WithoutNumberGroup(form) == base) return true;
  return false;
}

LONGLONG VideoFramesIn(const std::string& moviePath) {
  // "RIFF" size form "LIST" size "hdrl" "avih" size, then the main header, whose fifth
  // 32-bit field counts the frames.
  constexpr size_t kTotalFramesAt = 32 + 16;
  unsigned char head[kTotalFramesAt + 4];
  const int fd = ::open(moviePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  const ssize_t n = ::pread(fd, head, sizeof head, 0);
  ::close(fd);
  if (n != ssize_t(sizeof head)) return -1;
  if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 12, "LIST", 4) != 0 ||
      std::memcmp(head + 20, "hdrlavih", 8) != 0)
    return -1;
  const unsigned char* p = head + kTotalFramesAt;
  return LONGLONG(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

ULONGLONG MapSplitSize(ULONGLONG nominalBytes) {
  constexpr ULONGLONG kMiB = 1024 * 1024;
  switch (nominalBytes) {
    case 32 * kMiB: return 29 * kMiB;
    case 64 * kMiB: return 59 * kMiB;
    case 128 * kMiB: return 120 * kMiB;
    case 256 * kMiB: return 240 * kMiB;
    case 512 * kMiB: return 472 * kMiB;
    case 1024 * kMiB: return 944 * kMiB;
    default: return nominalBytes;
  }
}

LONG AdjustBitrate(int frameWidth, double frameRate, LONG kbps) {
  const bool fast = frameRate >= 25.0;
  // Computed in 64 bits: the configured rate comes from a text file.
  const int64_t b = kbps;
  int64_t r;
  if (frameWidth == kSmallFrame.width) {
    r = fast ? b : 3 * b / 4;
  } else {
    r = fast ? 2 * b : 3 * b / 2;
  }
  if (r > INT32_MAX) r = INT32_MAX;
  if (r < INT32_MIN) r = INT32_MIN;
  return static_cast<LONG>(r);
}

LONG AdjustBitrate(const CConvertOrder& entry, LONG kbps) {
  return AdjustBitrate(entry.GetFrameWidth(), entry.GetFrameRate(), kbps);
}

bool AdjustConfigBitrate(std::vector<BYTE>& block, int frameWidth, double frameRate) {
  if (block.size() < kExportConfigBitrateOffset + sizeof(int32_t)) return false;
  int32_t kbps;
  std::memcpy(&kbps, block.data() + kExportConfigBitrateOffset, sizeof kbps);
  kbps = AdjustBitrate(frameWidth, frameRate, kbps);
  std::memcpy(block.data() + kExportConfigBitrateOffset, &kbps, sizeof kbps);
  return true;
}

LONG ReadConfiguredBitrate(const std::string& compressIni) {
  return static_cast<LONG>(GetPrivateProfileInt("ZR44", "BITRATE", 300, compressIni.c_str()));
}

std::string DefaultCompressIni() {
  std::string folder = ProgramFolder();
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + "compress.ini";
}

LONGLONG EstimateOutputSize(int frameWidth, double frameRate, REFERENCE_TIME duration,
                            const std::string& compressIni) {
  return EstimateOutputSize(frameWidth, frameRate, duration, ReadConfiguredBitrate(compressIni));
}

LONGLONG EstimateOutputSize(int frameWidth, double frameRate, REFERENCE_TIME duration, LONG configuredKbps) {
  const int64_t kbps = AdjustBitrate(frameWidth, frameRate, configuredKbps);
  // 69 kbit/s of audio and container on top of the video rate.
  const int64_t bytesPerSecond = ((kbps + 69) * 1024) / 8;
  if (duration <= 0 || bytesPerSecond <= 0) return 0;
  // Whole seconds and the rest apart, so long movies cannot overflow.
  const int64_t seconds = duration / 10000000;
  const int64_t rest = duration % 10000000;
  return bytesPerSecond * seconds + bytesPerSecond * rest / 10000000;
}

LONGLONG EstimateOutputSize(const CConvertOrder& entry, REFERENCE_TIME duration) {
  return EstimateOutputSize(entry.GetFrameWidth(), entry.GetFrameRate(), duration, DefaultCompressIni());
}

}  // namespace tav
