#include "converter/engine/convertorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include <vector>

#include "converter/engine/burninstage.h"
#include "converter/engine/exceptions.h"
#include "converter/engine/filtergraphbuilder.h"
#include "converter/engine/graphwalk.h"
#include "libs/captionpainter/captionpainter.h"
#include "media/contract/codepage.h"
#include "media/contract/uuids.h"
#include "converter/engine/strings.h"
#include "media/contract/com.h"
#include "media/contract/memoryowners.h"
#include "media/contract/errortext.h"
#include "media/contract/mediatypeptr.h"
#include "media/contract/videoinfo.h"

namespace tav {
namespace {

CObject* CreateConvertOrder() { return new CConvertOrder(); }

bool FileExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Platform error text for hr, at most 160 characters; empty when the platform has none.
std::string ErrorText(HRESULT hr) {
  char buf[161] = {};
  const DWORD n = AMGetErrorTextA(hr, buf, 160);
  if (n == 0) return std::string();
  buf[160] = '\0';
  return std::string(buf);
}

// The four characters of a FOURCC subtype, stopping at a NUL; characters that cannot be
// shown are replaced by '?'.
std::string FourccText(DWORD fourcc) {
  std::string s;
  for (int i = 0; i < 4; ++i) {
    const char c = char((fourcc >> (8 * i)) & 0xFF);
    if (c == '\0') break;
    s += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  return s;
}

std::string WaveTagName(const MediaTypeValue& mt) {
  if (mt.format.size() < sizeof(WORD)) return std::string();
  const WORD tag = WORD(mt.format[0] | (mt.format[1] << 8));
  switch (tag) {
    case 0x0001: return res::Text(res::IDS_CODEC_PCM);
    case 0x2000: return res::Text(res::IDS_CODEC_AC3);
    case 0x2001: return res::Text(res::IDS_CODEC_DTS);
    case 0xFFFE: {
      const auto* ext = mt.FormatAs<WAVEFORMATEXTENSIBLE>();
      return ext ? GuidName(ext->SubFormat) : std::string();
    }
    default: {
      char buf[16];
      std::snprintf(buf, sizeof buf, "0x%08hx", tag);
      return buf;
    }
  }
}

// text and code through the "%s (0x%08X)" resource. Substituted by hand, so that a
// translated pattern can never act as a format string.
std::string WithCode(const std::string& text, HRESULT hr) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08X", unsigned(hr));
  std::string out = res::Text(res::IDS_STATUS_WITH_CODE);
  if (size_t at = out.find("%08X"); at != std::string::npos) out.replace(at, 4, hex);
  if (size_t at = out.find("%s"); at != std::string::npos) out.replace(at, 2, text);
  return out;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The subtitle file beside a movie: `base` (folder and title) with the first of the subtitle
// extensions, in lower or upper case, that names a regular file; the SAMI name when none does.
// The usual SAMI name comes first, then SubRip, then the long SAMI name, then the formats
// the lenient readers take.
std::string SubtitleBeside(const std::string& base) {
  const std::string sami = res::Text(res::IDS_SUBTITLE_EXT);
  for (std::string ext : {sami, std::string(".srt"), std::string(".sami"), std::string(".vtt"), std::string(".ass"),
                          std::string(".ssa")}) {
    if (IsRegularFile(base + ext)) return base + ext;
    for (char& c : ext) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (IsRegularFile(base + ext)) return base + ext;
  }
  return base + sami;
}

}  // namespace

const SerialClass CConvertOrder::kClass = {"CConvertOrder", 1, &CreateConvertOrder};

void CConvertOrder::PreviewSnapshot::TaskMemFree::operator()(void* p) const { CoTaskMemFree(p); }

CConvertOrder::CConvertOrder()
    : subtitleSize_(kDefaultSubtitleSize), subtitleLanguage_(res::Text(res::IDS_DEFAULT_LANGUAGE)) {}

CConvertOrder::CConvertOrder(const std::string& sourcePath, const std::string& outputFolder) : CConvertOrder() {
  sourcePath_.Set(sourcePath);
  const std::string folder = sourcePath_.Folder();
  subtitlePath_.Set(SubtitleBeside(folder + sourcePath_.Title()));

  const std::string name =
      res::FormatId(res::IDS_OUTPUT_NAME, {outputFolder.empty() ? folder : outputFolder, sourcePath_.Title(),
                                           res::Text(res::IDS_OUTPUT_EXT)});
  outputPath_.Set(MakeUniqueOutputName(name));

  // The output must be creatable; the name was chosen free, so an existing file (a race)
  // is never truncated.
  const int fd = ::open(outputPath_.Full().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int err = errno;
    throw FileException(outputPath_.Full(), err,
                        res::FormatId(res::IDS_FILE_CREATE_FAILED, {outputPath_.Full(), ErrnoText(err)}));
  }
  ::close(fd);
  ::unlink(outputPath_.Full().c_str());

  if (!IsRegularFile(subtitlePath_.Full())) {
    subtitlePath_.Clear();
    useSubtitles_ = false;
  }
}

CConvertOrder::~CConvertOrder() = default;

void CConvertOrder::Store(ArchiveWriter& ar) const {
  ar.WriteBool(checked_);
  ar.WriteBool(useSubtitles_);
  ar.WritePath(sourcePath_);
  ar.WritePath(subtitlePath_);
  ar.WritePath(outputPath_);
  ar.WriteInt64(startPoint_);
  ar.WriteInt64(endPoint_);
  ar.WriteDword(DWORD(frameWidth_));
  ar.WriteDword(DWORD(frameHeight_));
  ar.WriteDouble(frameRate_);
  ar.WriteDword(DWORD(screenFit_));
  ar.WriteInt64(LONGLONG(splitSize_));
  ar.WriteString(subtitleSize_);
  ar.WriteString(subtitleLanguage_);
}

// Loaded values are stored as they are: the 4:3 and seekable rules apply to accessors.
void CConvertOrder::Load(ArchiveReader& ar) {
  checked_ = ar.ReadBool();
  useSubtitles_ = ar.ReadBool();
  sourcePath_ = ar.ReadPath();
  subtitlePath_ = ar.ReadPath();
  outputPath_ = ar.ReadPath();
  startPoint_ = ar.ReadInt64();
  endPoint_ = ar.ReadInt64();
  frameWidth_ = LONG(ar.ReadDword());
  frameHeight_ = LONG(ar.ReadDword());
  frameRate_ = ar.ReadDouble();
  screenFit_ = LONG(ar.ReadDword());
  splitSize_ = ULONGLONG(ar.ReadInt64());
  subtitleSize_ = ar.ReadString();
  subtitleLanguage_ = ar.ReadString();
}

bool CConvertOrder::GetTrimPoints(REFERENCE_TIME* start, REFERENCE_TIME* end) const {
  if (start) *start = startPoint_;
  if (end) *end = endPoint_;
  return startPoint_ != -1 && endPoint_ != -1;
}

LONGLONG CConvertOrder::GetFileSize() {
  if (cachedFileSize_ == -1) {
    // Attributes only: the file is neither read nor locked.
    struct stat st;
    const bool isFile = ::stat(sourcePath_.Full().c_str(), &st) == 0 && S_ISREG(st.st_mode);
    cachedFileSize_ = isFile ? LONGLONG(st.st_size) : 0;
  }
  return cachedFileSize_;
}

void CConvertOrder::SetSourceInfo(REFERENCE_TIME duration, int width, int height, bool seekable) {
  duration_ = duration;
  sourceWidth_ = width;
  sourceHeight_ = height;
  // An unknown (0 x 0) frame size is no 4:3 source.
  is4by3_ = width > 0 && height > 0 && LONGLONG(width) * 3 == LONGLONG(height) * 4;
  seekable_ = seekable;
}

std::string MovieFileProblem(const std::string& path, HRESULT* hr) {
  *hr = S_OK;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    const int err = errno;
    if (err == ENOENT) return std::string();
    *hr = HResultFromErrno(err);
    if (err == ELOOP) return path + " is a loop of symbolic links, not a movie file";
    if (err == ENAMETOOLONG) return "the name " + path + " is too long";
    return path + ": " + ErrnoText(err);
  }
  if (S_ISREG(st.st_mode)) return std::string();
  *hr = E_INVALIDARG;
  if (S_ISDIR(st.st_mode)) return path + " is a folder, not a movie file";
  if (S_ISFIFO(st.st_mode)) return path + " is a named pipe, not a movie file";
  if (S_ISSOCK(st.st_mode)) return path + " is a socket, not a movie file";
  return path + " is a device, not a movie file";
}

std::string CConvertOrder::CheckSettings(HRESULT* hr) const {
  std::string problem = MovieFileProblem(sourcePath_.Full(), hr);
  if (!problem.empty()) return problem;
  struct stat st;
  if (useSubtitles_ && !subtitlePath_.Full().empty() && ::stat(subtitlePath_.Full().c_str(), &st) != 0 &&
      errno == ENOENT) {
    *hr = TAV_E_SUBTITLE_LOAD;
    return "the subtitle file " + subtitlePath_.Full() + " cannot be found";
  }
  *hr = E_INVALIDARG;
  char text[160];
  // The interface offers 320 x 240 and 640 x 480 at 15 or 30 fps; a batch file may hold
  // anything the exporter can write.
  auto sizeOk = [](int v) { return v >= 16 && v <= 4096 && v % 2 == 0; };
  if (!sizeOk(frameWidth_) || !sizeOk(frameHeight_)) {
    std::snprintf(text, sizeof text, "the frame size %d x %d is not an even size from 16 x 16 to 4096 x 4096",
                  frameWidth_, frameHeight_);
    return text;
  }
  if (!(frameRate_ >= 1.0 && frameRate_ <= 120.0)) {
    std::snprintf(text, sizeof text, "the frame rate %g is not between 1 and 120 fps", frameRate_);
    return text;
  }
  if (screenFit_ < 0 || screenFit_ > 3) {
    std::snprintf(text, sizeof text, "the screen fit %d is not one of Fit, Crop and Stretch", screenFit_);
    return text;
  }
  // Any split size reaches the exporter, but a part must hold more than its headers, and
  // the exporter takes a signed 64-bit limit.
  if (splitSize_ != 0 && (splitSize_ < kMinSplitSize || splitSize_ > ULONGLONG(INT64_MAX))) {
    std::snprintf(text, sizeof text, "the split size of %" PRIu64 " bytes is not between 64 KB and 8 EB",
                  static_cast<uint64_t>(splitSize_));
    return text;
  }
  REFERENCE_TIME start = 0, end = 0;
  if (GetTrimPoints(&start, &end)) {
    if (start < 0 || end < 0) return "a trim point lies before the start of the movie";
    if (duration_ > 0 && duration_ != kUnknownTime) {
      std::snprintf(text, sizeof text, "%.2f s", double(duration_) / 1e7);
      if (start >= duration_) return std::string("the start point is at or beyond the end of the movie (") + text + ")";
      if (end > duration_) return std::string("the end point is beyond the end of the movie (") + text + ")";
    }
    if (end <= start) return "the end point is not after the start point";
  }
  *hr = S_OK;
  return std::string();
}

void CConvertOrder::RestoreState(int state, REFERENCE_TIME interruptedAt, HRESULT resultCode, std::string reason) {
  state_ = state >= kReady && state <= kError ? state : kReady;
  interruptedAt_ = interruptedAt;
  resultCode_ = resultCode;
  failureReason_ = std::move(reason);
}

bool CConvertOrder::CanResume() const {
  if (resume_.nextPart <= 0) return false;
  REFERENCE_TIME start = 0, end = 0;
  if (GetTrimPoints(&start, &end)) return resume_.at > start && resume_.at < end;
  if (duration_ != kUnknownTime && resume_.at >= duration_) return false;
  return resume_.at > 0;
}

void CConvertOrder::SetProbeResult(HRESULT hr, const MediaTypeValue& mediaType, const std::string& message) {
  probeError_ = true;
  resultCode_ = hr;
  failedMediaType_ = mediaType;
  probeMessage_ = message;
  if (hr == TAV_E_SUBTITLE_LOAD) {
    state_ = kError;
    probeError_ = false;
  }
  if (hr == S_OK) {
    resultCode_ = S_OK;
    failedMediaType_.Clear();
    probeMessage_.clear();
    // A good probe undoes a failure (a subtitle file that now reads, a source that opens
    // again), but it says nothing about a finished run: a converted or interrupted entry
    // keeps its outcome when the user selects it to look at it.
    if (state_ == kError) state_ = kReady;
    probeError_ = false;
  }
}

void CConvertOrder::ReplaceSource(const std::string& p) {
  SetSourcePath(p);
  probeError_ = false;
  state_ = kReady;
  playState_ = kNotPlaying;
  resultCode_ = S_OK;
  failedMediaType_.Clear();
  probeMessage_.clear();
  failureReason_.clear();
  interruptedAt_ = 0;
  resume_ = ResumePoint{};
  startPoint_ = endPoint_ = -1;
  snapshot_ = PreviewSnapshot();
  duration_ = kUnknownTime;
  sourceWidth_ = sourceHeight_ = 0;
  storedWidth_ = storedHeight_ = 0;
  is4by3_ = false;
  seekable_ = false;
}

std::string CConvertOrder::GetStatusText() const {
  // A source deleted or moved away fails to open like a file no decoder takes: say what
  // really happened.
  if ((probeError_ || state_ == kError) && !sourcePath_.IsEmpty()) {
    struct stat st;
    if (::lstat(sourcePath_.Full().c_str(), &st) != 0 && errno == ENOENT)
      return res::FormatId(res::IDS_STATUS_SOURCE_GONE, {sourcePath_.Full()});
  }
  // A file without video failed for a reason of its own, whether the probe or the run
  // found it: no codec to install would help.
  if ((probeError_ || state_ == kError) && resultCode_ == TAV_E_NO_VIDEO) return res::Text(res::IDS_STATUS_NO_VIDEO);
  if ((probeError_ || state_ == kError) && resultCode_ == TAV_E_COVER_ONLY)
    return res::Text(res::IDS_STATUS_COVER_ONLY);
  if (!probeError_) {
    if (playState_ == kPlaying) return res::Text(res::IDS_STATUS_PLAYING);
    if (playState_ == kPaused) return res::Text(res::IDS_STATUS_PAUSED);
    switch (state_) {
      case kReady: return res::Text(res::IDS_STATUS_READY);
      case kConverting: return res::Text(res::IDS_STATUS_CONVERTING);
      case kConverted:
        if (!subtitleReader_.empty() && useSubtitles_) {
          return res::FormatId(res::IDS_STATUS_SUBTITLES_READ_AS, {res::Text(res::IDS_STATUS_CONVERTED), subtitleReader_});
        }
        return res::Text(res::IDS_STATUS_CONVERTED);
      case kInterrupted:
        if (interruptedAt_ == 0) return res::Text(res::IDS_STATUS_INTERRUPTED);
        return res::FormatId(res::IDS_STATUS_INTERRUPTED_AT, {FormatTime(interruptedAt_)});
      case kError: {
        if (!failureReason_.empty())
          return WithCode(res::FormatId(res::IDS_STATUS_ERROR_TEXT, {failureReason_}), resultCode_);
        if (resultCode_ >= 0) return res::Text(res::IDS_STATUS_ERROR);
        const std::string platformText = ErrorText(resultCode_);
        std::string text;
        if (!platformText.empty())
          text = res::FormatId(res::IDS_STATUS_ERROR_TEXT, {platformText});
        else if (resultCode_ == TAV_E_SUBTITLE_LOAD)
          text = res::Text(res::IDS_STATUS_BAD_SUBTITLES);
        else
          text = res::Text(res::IDS_STATUS_ERROR);
        return WithCode(text, resultCode_);
      }
      default: return std::string();
    }
  }

  const std::string platformText = resultCode_ < 0 ? ErrorText(resultCode_) : std::string();
  if (platformText.empty()) return res::Text(res::IDS_STATUS_CANNOT_READ);

  const MediaTypeValue& mt = failedMediaType_;
  std::string name;
  UINT message = res::IDS_STATUS_NO_MEDIA_CODEC;
  if (mt.majortype == MEDIATYPE_Video) {
    message = res::IDS_STATUS_NO_VIDEO_CODEC;
    if (mt.formattype == FORMAT_VideoInfo)
      name = FourccText(mt.subtype.Data1);
    else if (mt.formattype == FORMAT_VideoInfo2)
      name = res::Text(res::IDS_CODEC_MPEG2);
  } else if (mt.majortype == MEDIATYPE_Audio) {
    if (mt.subtype == MEDIASUBTYPE_DTS) {
      name = res::Text(res::IDS_CODEC_DTS);
    } else if (mt.subtype == MEDIASUBTYPE_DOLBY_AC3) {
      name = res::Text(res::IDS_CODEC_AC3);
    } else if (mt.formattype == FORMAT_WaveFormatEx) {
      message = res::IDS_STATUS_NO_AUDIO_CODEC;
      name = WaveTagName(mt);
    } else {
      message = res::IDS_STATUS_NO_AUDIO_CODEC;
    }
  } else if (mt.majortype == GUID_NULL) {
    name = probeMessage_;
  } else if (mt.subtype != GUID_NULL) {
    // A stream of unknown kind (a file no splitter recognised) has no name to offer.
    name = GuidName(mt.subtype);
  }

  if (!name.empty() && resultCode_ != REGDB_E_CLASSNOTREG) return res::FormatId(message, {name});
  return res::Text(res::IDS_STATUS_CANNOT_READ) + ". " + platformText + " " +
         (resultCode_ == REGDB_E_CLASSNOTREG ? probeMessage_ : std::string());
}

std::string MakeUniqueOutputName(const std::string& path) {
  const CPath full(path);
  std::string title = full.Title();
  long next = 1;
  // A trailing "[n]" of the title continues the numbering.
  const size_t open = title.rfind('['), close = title.rfind(']');
  if (open != std::string::npos && close != std::string::npos && open < close && close > open + 1) {
    const std::string digits = title.substr(open + 1, close - open - 1);
    if (digits.find_first_not_of("0123456789") == std::string::npos && digits.size() <= 9) {
      const long n = std::strtol(digits.c_str(), nullptr, 10);
      if (n != 0) {
        title.erase(open, close - open + 1);
        next = n + 1;
      }
    }
  }
  if (!FileExists(path)) return path;
  // Bounded so that a folder that claims every name cannot hang the caller.
  for (long i = next; i < next + 1000000; ++i) {
    const std::string candidate =
        res::FormatId(res::IDS_OUTPUT_NAME_NUMBERED, {full.Folder(), title, full.Extension(), std::to_string(i)});
    if (!FileExists(candidate)) return candidate;
  }
  return path;
}

// ---- the preview probe and the still picture ----------------------------------------------

namespace {

// The frame size of the movie's own video: the first video connection met walking the graph
// downstream from its sources (filters without a connected input), before any resizer.
bool SourceVideoSize(IGraphBuilder* graph, int* width, int* height) {
  std::vector<ComPtr<IBaseFilter>> queue;
  for (ComPtr<IBaseFilter>& filter : FiltersOf(graph)) {
    bool fed = false;
    for (ComPtr<IPin>& pin : PinsOf(filter.Get(), PINDIR_INPUT)) fed = fed || IsConnected(pin.Get());
    if (!fed) queue.push_back(filter);
  }
  for (size_t i = 0; i < queue.size() && i < 256; ++i) {
    for (ComPtr<IPin>& pin : PinsOf(queue[i].Get(), PINDIR_OUTPUT)) {
      ComPtr<IPin> peer;
      if (FAILED(pin->ConnectedTo(&peer)) || !peer) continue;
      ScopedMediaType mt;
      if (pin->ConnectionMediaType(mt.Out()) != S_OK) continue;
      const BITMAPINFOHEADER* bih = mt->majortype == MEDIATYPE_Video ? VideoBitmapHeader(mt.Get()) : nullptr;
      if (bih && bih->biWidth > 0 && bih->biHeight != 0) {
        *width = bih->biWidth;
        *height = bih->biHeight < 0 ? -bih->biHeight : bih->biHeight;
        return true;
      }
      if (ComPtr<IBaseFilter> next = OwnerOf(peer.Get())) queue.push_back(next);
    }
  }
  return false;
}

}  // namespace

void CConvertOrder::UpdateFromGraph(FilterGraphBuilder& builder) {
  HRChecker c;
  ComPtr<IMediaSeeking> seeking(builder.Seeking());
  if (!seeking && builder.Graph()) seeking = ComPtr<IGraphBuilder>(builder.Graph()).As<IMediaSeeking>();
  c.CheckPointer(seeking);
  LONGLONG duration = 0;
  c.Check(seeking->GetDuration(&duration));
  // The builder's FindVideoSize reports the first video pin it meets, which in a preview can
  // be the resizer's output; the probe wants the movie's own size.
  int width = 0, height = 0;
  if (!SourceVideoSize(builder.Graph(), &width, &height)) builder.FindVideoSize(true, &width, &height);
  DWORD caps = 0;
  const bool seekable = SUCCEEDED(seeking->GetCapabilities(&caps)) && (caps & 0x37) == 0x37;
  SetSourceInfo(duration, width, height, seekable);

  snapshot_ = PreviewSnapshot();
  tav::ScopedMediaType mt;
  LONG size = 0;
  BYTE* block = nullptr;
  REFERENCE_TIME start = 0, end = 0;
  if (builder.GetDrawerSnapshot(mt.Out(), &size, &block, &start, &end)) {
    snapshot_.mediaType = MediaTypeValue(&mt.Get());
    snapshot_.value = DWORD(size);
    snapshot_.block.reset(block);
    snapshot_.first = start;
    snapshot_.second = end;
  }
}

void CConvertOrder::ConfigureOverlay(IUnknown* drawer) {
  HRChecker c;
  c.SetContext("Subtitle Drawer Object");
  c.CheckPointer(drawer);
  ComPtr<ISubtitleOverlay> overlay;
  c.Check(drawer->QueryInterface(IID_ISubtitleOverlay, overlay.AsVoidOut()));
  c.CheckPointer(overlay);
  c.Check(overlay->SetCanvasSize(frameWidth_, frameHeight_));
  c.Check(overlay->SetFitMode(GetScreenFit()));
  ComPtr<ISubtitleManager> manager;
  c.Check(overlay->GetManager(manager.ReleaseAndGetAddressOf()));
  if (!manager) {
    c.SetContext("Subtitle Manager object");
    c.Check(CoCreateInstance(CLSID_SubtitleManager, nullptr, CLSCTX_ALL, IID_ISubtitleManager, manager.AsVoidOut()));
    c.CheckPointer(manager);
    c.Check(overlay->SetManager(manager.Get()));
  }
  if (useSubtitles_ && !subtitlePath_.IsEmpty()) {
    c.SetContext("Subtitle Manager object");
    const BstrPtr fileText = BstrPtr::Copy(AnsiToWide(subtitlePath_.Full()).c_str());
    const BstrPtr sizeText = BstrPtr::Copy(AnsiToWide(subtitleSize_).c_str());
    const BstrPtr languageText = BstrPtr::Copy(AnsiToWide(subtitleLanguage_).c_str());
    if (!fileText || !sizeText || !languageText) c.Check(E_OUTOFMEMORY);
    c.Check(manager->LoadFile(fileText.Get(), FALSE));
    subtitleEncoding_ = SubtitleEncodingName(manager.Get());
    c.Check(manager->SelectSizeById(sizeText.Get()));
    c.Check(manager->SelectLanguageByCode(languageText.Get()));
  }
}

}  // namespace tav
