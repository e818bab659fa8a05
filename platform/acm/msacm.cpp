// The calls of the audio compression manager: argument checks, the handle tables and the
// walk over drivers, format tags and formats. Every handle is looked up in its table first,
// so a stale or made-up handle gives MMSYSERR_INVALHANDLE rather than a crash.
#include "media/contract/msacm.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/acm/acmconvert.h"
#include "platform/acm/acmdrivers.h"

namespace {

using tav::acm::DriverInfo;
using tav::acm::Drivers;
using tav::acm::FormatBlock;

constexpr DWORD kAcmVersion = 0x04000000;  // 4.00

struct OpenDriver {
  const DriverInfo* driver;
  int streams = 0;  // streams opened on this handle; guarded by g_tableLock
};

// What acmStreamPrepareHeader recorded of a header, checked again on every later use.
struct PreparedHeader {
  BYTE* src;
  DWORD srcLength;
  BYTE* dst;
  DWORD dstLength;
};

struct OpenStream {
  const DriverInfo* driver;
  HACMDRIVER openedOn;  // null when the manager chose the driver
  FormatBlock src, dst;
  // Serialises the calls on one stream: prepare, convert, unprepare.
  std::mutex lock;
  std::unique_ptr<tav::acm::Converter> converter;       // guarded by lock
  std::map<ACMSTREAMHEADER*, PreparedHeader> prepared;  // guarded by lock
};

// Guards the two handle tables.
std::mutex g_tableLock;

// Open objects by handle; a handle is its object's address. Objects are shared so that a
// call in progress keeps its object alive while another thread closes the handle. Guarded
// by g_tableLock; the Locked calls expect it held.
template <typename Handle, typename Object>
class HandleTable {
 public:
  Handle AddLocked(std::shared_ptr<Object> object) {
    const auto handle = reinterpret_cast<Handle>(object.get());
    objects_.emplace(handle, std::move(object));
    return handle;
  }
  // Null for a handle that is not open.
  Object* FindLocked(Handle handle) const {
    auto it = objects_.find(handle);
    return it == objects_.end() ? nullptr : it->second.get();
  }
  std::shared_ptr<Object> Find(Handle handle) const {
    std::lock_guard lock(g_tableLock);
    auto it = objects_.find(handle);
    return it == objects_.end() ? nullptr : it->second;
  }
  void EraseLocked(Handle handle) { objects_.erase(handle); }

 private:
  std::map<Handle, std::shared_ptr<Object>> objects_;
};

HandleTable<HACMDRIVER, OpenDriver> g_drivers;
HandleTable<HACMSTREAM, OpenStream> g_streams;

// A driver identifier is the address of the driver's entry in the table.
HACMDRIVERID IdOf(const DriverInfo& d) { return reinterpret_cast<HACMDRIVERID>(const_cast<DriverInfo*>(&d)); }

const DriverInfo* DriverFromId(const void* id) {
  const auto& all = Drivers();
  for (const DriverInfo& d : all)
    if (&d == id) return &d;
  return nullptr;
}

std::shared_ptr<OpenDriver> FindOpenDriver(const void* handle) {
  return g_drivers.Find(static_cast<HACMDRIVER>(const_cast<void*>(handle)));
}

std::shared_ptr<OpenStream> FindStream(HACMSTREAM handle) { return g_streams.Find(handle); }

// What acmStreamPrepareHeader recorded of pash, for a call on the prepared header; null,
// with *error set, when pash is not prepared on the stream (ACMERR_UNPREPARED) or is queued
// (ACMERR_BUSY). Needs stream.lock.
const PreparedHeader* PreparedLocked(const OpenStream& stream, ACMSTREAMHEADER* pash, MMRESULT* error) {
  auto it = stream.prepared.find(pash);
  if (it == stream.prepared.end() || !(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) {
    *error = ACMERR_UNPREPARED;
    return nullptr;
  }
  if (pash->fdwStatus & ACMSTREAMHEADER_STATUSF_INQUEUE) {
    *error = ACMERR_BUSY;
    return nullptr;
  }
  return &it->second;
}

// The driver a `had` argument names: an open driver handle or a driver identifier.
const DriverInfo* DriverFromHad(const void* had) {
  if (const DriverInfo* d = DriverFromId(had)) return d;
  if (auto open = FindOpenDriver(had)) return open->driver;
  return nullptr;
}

// The drivers a call with `had` walks: that driver, or all of them for null. False for a bad handle.
bool DriversFor(HACMDRIVER had, std::vector<const DriverInfo*>* out) {
  out->clear();
  if (!had) {
    for (const DriverInfo& d : Drivers()) out->push_back(&d);
    return true;
  }
  const DriverInfo* d = DriverFromHad(had);
  if (!d) return false;
  out->push_back(d);
  return true;
}

// Whether `d` is the first of `drivers` to offer `tag`: walking all drivers, each tag is
// reported once, by the driver with the highest priority.
bool FirstWithTag(const std::vector<const DriverInfo*>& drivers, const DriverInfo* d, WORD tag) {
  for (const DriverInfo* other : drivers) {
    for (const auto& t : other->tags)
      if (t.tag == tag) return other == d;
  }
  return false;
}

// Copies a caller's format: 16 bytes for PCM, else the structure and its cbSize extra bytes.
FormatBlock CopyFormat(const WAVEFORMATEX* wfx) {
  const DWORD size = tav::acm::FormatSize(*wfx);
  FormatBlock block(std::max<DWORD>(size, sizeof(WAVEFORMATEX)), 0);
  std::memcpy(block.data(), wfx, size);
  return block;
}

const WAVEFORMATEX& Wfx(const FormatBlock& b) { return *reinterpret_cast<const WAVEFORMATEX*>(b.data()); }

// Writes a format into a caller's buffer of `room` bytes; a PCM format in a buffer that holds
// a whole WAVEFORMATEX gets cbSize 0.
void StoreFormat(const FormatBlock& format, WAVEFORMATEX* out, DWORD room) {
  std::memcpy(out, format.data(), format.size());
  if (format.size() < sizeof(WAVEFORMATEX) && room >= sizeof(WAVEFORMATEX)) out->cbSize = 0;
}

void CopyText(char* dst, size_t room, const char* text) {
  std::strncpy(dst, text, room - 1);
  dst[room - 1] = '\0';
}

void FillTagDetails(const DriverInfo& d, size_t index, ACMFORMATTAGDETAILSA* t) {
  const auto& tag = d.tags[index];
  t->cbStruct = sizeof(ACMFORMATTAGDETAILSA);
  t->dwFormatTagIndex = DWORD(index);
  t->dwFormatTag = tag.tag;
  t->cbFormatSize = tag.formatBytes;
  t->fdwSupport = d.support;
  t->cStandardFormats = DWORD(tav::acm::StandardFormats(d, tag.tag).size());
  CopyText(t->szFormatTag, sizeof t->szFormatTag, tag.name);
}

DWORD MaxFormatBytes(const std::vector<const DriverInfo*>& drivers) {
  DWORD size = 0;
  for (const DriverInfo* d : drivers)
    for (const auto& t : d->tags) size = std::max(size, t.formatBytes);
  return size;
}

}  // namespace

extern "C" {

DWORD acmGetVersion() { return kAcmVersion; }

MMRESULT acmMetrics(HACMOBJ hao, UINT uMetric, LPVOID pMetric) {
  if (!pMetric) return MMSYSERR_INVALPARAM;
  auto* value = static_cast<DWORD*>(pMetric);
  const auto& all = Drivers();
  const auto count = [&](DWORD support) {
    return DWORD(std::count_if(all.begin(), all.end(), [support](const DriverInfo& d) { return d.support & support; }));
  };
  switch (uMetric) {
    case ACM_METRIC_COUNT_DRIVERS:
    case ACM_METRIC_COUNT_CODECS:
    case ACM_METRIC_COUNT_CONVERTERS:
    case ACM_METRIC_COUNT_FILTERS:
    case ACM_METRIC_COUNT_DISABLED:
    case ACM_METRIC_COUNT_HARDWARE:
    case ACM_METRIC_COUNT_LOCAL_DRIVERS:
    case ACM_METRIC_COUNT_LOCAL_CODECS:
    case ACM_METRIC_COUNT_LOCAL_CONVERTERS:
    case ACM_METRIC_COUNT_LOCAL_FILTERS:
    case ACM_METRIC_COUNT_LOCAL_DISABLED:
      if (hao) return MMSYSERR_INVALHANDLE;  // the counts are of the whole system
      switch (uMetric) {
        case ACM_METRIC_COUNT_DRIVERS: *value = DWORD(all.size()); break;
        case ACM_METRIC_COUNT_CODECS: *value = count(ACMDRIVERDETAILS_SUPPORTF_CODEC); break;
        case ACM_METRIC_COUNT_CONVERTERS: *value = count(ACMDRIVERDETAILS_SUPPORTF_CONVERTER); break;
        case ACM_METRIC_COUNT_FILTERS: *value = count(ACMDRIVERDETAILS_SUPPORTF_FILTER); break;
        default: *value = 0; break;  // no disabled, hardware or local drivers
      }
      return MMSYSERR_NOERROR;
    case ACM_METRIC_MAX_SIZE_FORMAT:
    case ACM_METRIC_MAX_SIZE_FILTER: {
      std::vector<const DriverInfo*> drivers;
      if (!DriversFor(reinterpret_cast<HACMDRIVER>(hao), &drivers)) return MMSYSERR_INVALHANDLE;
      *value = uMetric == ACM_METRIC_MAX_SIZE_FORMAT ? MaxFormatBytes(drivers) : 0;
      return MMSYSERR_NOERROR;
    }
    case ACM_METRIC_DRIVER_SUPPORT:
    case ACM_METRIC_DRIVER_PRIORITY: {
      const DriverInfo* d = hao ? DriverFromHad(hao) : nullptr;
      if (!d) return MMSYSERR_INVALHANDLE;
      *value = uMetric == ACM_METRIC_DRIVER_SUPPORT ? d->support : DWORD(d - all.data()) + 1;
      return MMSYSERR_NOERROR;
    }
    default:
      return MMSYSERR_NOTSUPPORTED;  // no wave devices belong to these drivers
  }
}

MMRESULT acmDriverEnum(ACMDRIVERENUMCB fnCallback, DWORD_PTR dwInstance, DWORD fdwEnum) {
  if (fdwEnum & ~(ACM_DRIVERENUMF_NOLOCAL | ACM_DRIVERENUMF_DISABLED)) return MMSYSERR_INVALFLAG;
  if (!fnCallback) return MMSYSERR_INVALPARAM;
  for (const DriverInfo& d : Drivers())
    if (!fnCallback(IdOf(d), dwInstance, d.support)) break;
  return MMSYSERR_NOERROR;
}

MMRESULT acmDriverID(HACMOBJ hao, HACMDRIVERID* phadid, DWORD fdwDriverID) {
  if (fdwDriverID) return MMSYSERR_INVALFLAG;
  if (!phadid) return MMSYSERR_INVALPARAM;
  const DriverInfo* d = DriverFromHad(hao);
  if (!d) {
    if (auto s = FindStream(reinterpret_cast<HACMSTREAM>(hao))) d = s->driver;
  }
  if (!d) return MMSYSERR_INVALHANDLE;
  *phadid = IdOf(*d);
  return MMSYSERR_NOERROR;
}

MMRESULT acmDriverDetailsA(HACMDRIVERID hadid, LPACMDRIVERDETAILSA padd, DWORD fdwDetails) {
  if (fdwDetails) return MMSYSERR_INVALFLAG;
  if (!padd || padd->cbStruct < sizeof(DWORD)) return MMSYSERR_INVALPARAM;
  const DriverInfo* d = DriverFromId(hadid);
  if (!d) return MMSYSERR_INVALHANDLE;
  ACMDRIVERDETAILSA details{};
  details.fccType = ACMDRIVERDETAILS_FCCTYPE_AUDIOCODEC;
  details.fccComp = ACMDRIVERDETAILS_FCCCOMP_UNDEFINED;
  details.wMid = 1;
  details.wPid = d->productId;
  details.vdwACM = kAcmVersion;
  details.vdwDriver = 0x01000000;
  details.fdwSupport = d->support;
  details.cFormatTags = DWORD(d->tags.size());
  details.cFilterTags = 0;
  CopyText(details.szShortName, sizeof details.szShortName, d->shortName);
  CopyText(details.szLongName, sizeof details.szLongName, d->longName);
  CopyText(details.szCopyright, sizeof details.szCopyright, "Built on FFmpeg (LGPL)");
  CopyText(details.szLicensing, sizeof details.szLicensing, "");
  CopyText(details.szFeatures, sizeof details.szFeatures, d->features);
  const DWORD size = std::min<DWORD>(padd->cbStruct, sizeof details);
  details.cbStruct = size;
  std::memcpy(padd, &details, size);
  return MMSYSERR_NOERROR;
}

MMRESULT acmDriverOpen(LPHACMDRIVER phad, HACMDRIVERID hadid, DWORD fdwOpen) {
  if (fdwOpen) return MMSYSERR_INVALFLAG;
  if (!phad) return MMSYSERR_INVALPARAM;
  *phad = nullptr;
  const DriverInfo* d = DriverFromId(hadid);
  if (!d) return MMSYSERR_INVALHANDLE;
  auto open = std::make_shared<OpenDriver>();
  open->driver = d;
  std::lock_guard lock(g_tableLock);
  *phad = g_drivers.AddLocked(std::move(open));
  return MMSYSERR_NOERROR;
}

MMRESULT acmDriverClose(HACMDRIVER had, DWORD fdwClose) {
  if (fdwClose) return MMSYSERR_INVALFLAG;
  std::lock_guard lock(g_tableLock);
  const OpenDriver* open = g_drivers.FindLocked(had);
  if (!open) return MMSYSERR_INVALHANDLE;
  if (open->streams > 0) return ACMERR_BUSY;  // streams opened on it are still open
  g_drivers.EraseLocked(had);
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatTagDetailsA(HACMDRIVER had, LPACMFORMATTAGDETAILSA paftd, DWORD fdwDetails) {
  if (fdwDetails > ACM_FORMATTAGDETAILSF_LARGESTSIZE) return MMSYSERR_INVALFLAG;
  if (!paftd || paftd->cbStruct < sizeof(ACMFORMATTAGDETAILSA)) return MMSYSERR_INVALPARAM;
  if (fdwDetails == ACM_FORMATTAGDETAILSF_INDEX && !had) return MMSYSERR_INVALHANDLE;  // an index needs a driver
  std::vector<const DriverInfo*> drivers;
  if (!DriversFor(had, &drivers)) return MMSYSERR_INVALHANDLE;
  const DriverInfo* best = nullptr;
  size_t bestIndex = 0;
  for (const DriverInfo* d : drivers) {
    for (size_t i = 0; i < d->tags.size(); ++i) {
      const auto& t = d->tags[i];
      bool match = false;
      if (fdwDetails == ACM_FORMATTAGDETAILSF_INDEX) match = i == paftd->dwFormatTagIndex;
      else if (fdwDetails == ACM_FORMATTAGDETAILSF_FORMATTAG) match = t.tag == paftd->dwFormatTag;
      else match = (paftd->dwFormatTag == WAVE_FORMAT_UNKNOWN || t.tag == paftd->dwFormatTag) &&
                   (!best || t.formatBytes > best->tags[bestIndex].formatBytes);
      if (match && (!best || fdwDetails == ACM_FORMATTAGDETAILSF_LARGESTSIZE)) {
        best = d;
        bestIndex = i;
      }
    }
  }
  if (!best) return ACMERR_NOTPOSSIBLE;
  FillTagDetails(*best, bestIndex, paftd);
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatTagEnumA(HACMDRIVER had, LPACMFORMATTAGDETAILSA paftd, ACMFORMATTAGENUMCBA fnCallback,
                           DWORD_PTR dwInstance, DWORD fdwEnum) {
  if (fdwEnum) return MMSYSERR_INVALFLAG;
  if (!paftd || paftd->cbStruct < sizeof(ACMFORMATTAGDETAILSA) || !fnCallback) return MMSYSERR_INVALPARAM;
  std::vector<const DriverInfo*> drivers;
  if (!DriversFor(had, &drivers)) return MMSYSERR_INVALHANDLE;
  for (const DriverInfo* d : drivers) {
    for (size_t i = 0; i < d->tags.size(); ++i) {
      if (!FirstWithTag(drivers, d, d->tags[i].tag)) continue;
      FillTagDetails(*d, i, paftd);
      if (!fnCallback(IdOf(*d), paftd, dwInstance, d->support)) return MMSYSERR_NOERROR;
    }
  }
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatEnumA(HACMDRIVER had, LPACMFORMATDETAILSA pafd, ACMFORMATENUMCBA fnCallback, DWORD_PTR dwInstance,
                        DWORD fdwEnum) {
  constexpr DWORD kKnown = ACM_FORMATENUMF_WFORMATTAG | ACM_FORMATENUMF_NCHANNELS | ACM_FORMATENUMF_NSAMPLESPERSEC |
                           ACM_FORMATENUMF_WBITSPERSAMPLE | ACM_FORMATENUMF_CONVERT | ACM_FORMATENUMF_SUGGEST |
                           ACM_FORMATENUMF_HARDWARE | ACM_FORMATENUMF_INPUT | ACM_FORMATENUMF_OUTPUT;
  if (fdwEnum & ~kKnown) return MMSYSERR_INVALFLAG;
  if ((fdwEnum & ACM_FORMATENUMF_CONVERT) && (fdwEnum & ACM_FORMATENUMF_SUGGEST)) return MMSYSERR_INVALFLAG;
  if (!pafd || pafd->cbStruct < sizeof(ACMFORMATDETAILSA) || !pafd->pwfx || !fnCallback) return MMSYSERR_INVALPARAM;
  if (pafd->cbwfx < sizeof(PCMWAVEFORMAT)) return MMSYSERR_INVALPARAM;
  std::vector<const DriverInfo*> drivers;
  if (!DriversFor(had, &drivers)) return MMSYSERR_INVALHANDLE;
  // The enumeration writes into pwfx: keep the caller's format (filter fields or source).
  const bool fromSource = fdwEnum & (ACM_FORMATENUMF_CONVERT | ACM_FORMATENUMF_SUGGEST);
  FormatBlock given(sizeof(WAVEFORMATEX), 0);
  if (fromSource) {
    if (pafd->cbwfx < tav::acm::FormatSize(*pafd->pwfx)) return MMSYSERR_INVALPARAM;
    given = CopyFormat(pafd->pwfx);
  } else {
    std::memcpy(given.data(), pafd->pwfx, std::min<DWORD>(pafd->cbwfx, sizeof(WAVEFORMATEX)));
  }
  const WAVEFORMATEX& filter = Wfx(given);
  // Only a tag enumeration looks at dwFormatTag; it must agree with the format's tag.
  DWORD tagFilter = WAVE_FORMAT_UNKNOWN;
  if (fdwEnum & ACM_FORMATENUMF_WFORMATTAG) {
    if (pafd->dwFormatTag != WAVE_FORMAT_UNKNOWN && pafd->dwFormatTag != filter.wFormatTag) return MMSYSERR_INVALPARAM;
    tagFilter = filter.wFormatTag;
  }
  // No wave device belongs to these drivers: a hardware enumeration finds nothing.
  if (fdwEnum & ACM_FORMATENUMF_HARDWARE) return MMSYSERR_NOERROR;

  const auto wanted = [&](const WAVEFORMATEX& w) {
    if (tagFilter != WAVE_FORMAT_UNKNOWN && w.wFormatTag != tagFilter) return false;
    if ((fdwEnum & ACM_FORMATENUMF_NCHANNELS) && w.nChannels != filter.nChannels) return false;
    if ((fdwEnum & ACM_FORMATENUMF_NSAMPLESPERSEC) && w.nSamplesPerSec != filter.nSamplesPerSec) return false;
    if ((fdwEnum & ACM_FORMATENUMF_WBITSPERSAMPLE) && w.wBitsPerSample != filter.wBitsPerSample) return false;
    return true;
  };
  // Each format is written into the caller's buffer and handed to the callback.
  const auto report = [&](const DriverInfo& d, DWORD index, const FormatBlock& format) {
    if (format.size() > pafd->cbwfx) return true;  // cannot be written: skipped
    StoreFormat(format, pafd->pwfx, pafd->cbwfx);
    pafd->dwFormatIndex = index;
    pafd->dwFormatTag = Wfx(format).wFormatTag;
    pafd->fdwSupport = d.support;
    CopyText(pafd->szFormat, sizeof pafd->szFormat, tav::acm::DescribeFormat(Wfx(format)).c_str());
    return bool(fnCallback(IdOf(d), pafd, dwInstance, d.support));
  };

  for (const DriverInfo* d : drivers) {
    if (fdwEnum & ACM_FORMATENUMF_SUGGEST) {
      FormatBlock suggested;
      if (tav::acm::Suggest(*d, filter, filter, 0, &suggested) && wanted(Wfx(suggested)) &&
          FirstWithTag(drivers, d, Wfx(suggested).wFormatTag) && !report(*d, 0, suggested))
        return MMSYSERR_NOERROR;
      continue;
    }
    for (const auto& tag : d->tags) {
      if (!FirstWithTag(drivers, d, tag.tag)) continue;
      if (tagFilter != WAVE_FORMAT_UNKNOWN && tag.tag != tagFilter) continue;
      const std::vector<FormatBlock> formats = tav::acm::StandardFormats(*d, tag.tag);
      for (size_t i = 0; i < formats.size(); ++i) {
        const WAVEFORMATEX& w = Wfx(formats[i]);
        if (!wanted(w)) continue;
        if ((fdwEnum & ACM_FORMATENUMF_CONVERT) && !tav::acm::CanConvert(*d, filter, w)) continue;
        if (!report(*d, DWORD(i), formats[i])) return MMSYSERR_NOERROR;
      }
    }
  }
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatSuggest(HACMDRIVER had, LPWAVEFORMATEX pwfxSrc, LPWAVEFORMATEX pwfxDst, DWORD cbwfxDst,
                          DWORD fdwSuggest) {
  if (fdwSuggest & ~ACM_FORMATSUGGESTF_TYPEMASK) return MMSYSERR_INVALFLAG;
  if (fdwSuggest & ~(ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC |
                     ACM_FORMATSUGGESTF_WBITSPERSAMPLE))
    return MMSYSERR_INVALFLAG;
  if (!pwfxSrc || !pwfxDst || cbwfxDst < sizeof(PCMWAVEFORMAT)) return MMSYSERR_INVALPARAM;
  std::vector<const DriverInfo*> drivers;
  if (!DriversFor(had, &drivers)) return MMSYSERR_INVALHANDLE;
  const FormatBlock src = CopyFormat(pwfxSrc);
  WAVEFORMATEX want{};
  std::memcpy(&want, pwfxDst, std::min<DWORD>(cbwfxDst, sizeof want));
  for (const DriverInfo* d : drivers) {
    FormatBlock suggested;
    if (!tav::acm::Suggest(*d, Wfx(src), want, fdwSuggest, &suggested) || suggested.size() > cbwfxDst) continue;
    StoreFormat(suggested, pwfxDst, cbwfxDst);
    return MMSYSERR_NOERROR;
  }
  return ACMERR_NOTPOSSIBLE;
}

MMRESULT acmStreamOpen(LPHACMSTREAM phas, HACMDRIVER had, LPWAVEFORMATEX pwfxSrc, LPWAVEFORMATEX pwfxDst,
                       LPWAVEFILTER pwfltr, DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen) {
  if (fdwOpen & ~(ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC | ACM_STREAMOPENF_NONREALTIME | CALLBACK_TYPEMASK))
    return MMSYSERR_INVALFLAG;
  const bool query = fdwOpen & ACM_STREAMOPENF_QUERY;
  if (phas) *phas = nullptr;
  if (!pwfxSrc || !pwfxDst || (!query && !phas)) return MMSYSERR_INVALPARAM;
  std::shared_ptr<OpenDriver> openDriver;
  if (had) {
    openDriver = FindOpenDriver(had);
    if (!openDriver) return MMSYSERR_INVALHANDLE;
  }
  // These drivers convert synchronously and apply no filters.
  if (pwfltr || (fdwOpen & ACM_STREAMOPENF_ASYNC)) return ACMERR_NOTPOSSIBLE;

  auto stream = std::make_shared<OpenStream>();
  stream->src = CopyFormat(pwfxSrc);
  stream->dst = CopyFormat(pwfxDst);
  std::vector<const DriverInfo*> drivers;
  DriversFor(had, &drivers);
  for (const DriverInfo* d : drivers)
    if (tav::acm::CanConvert(*d, Wfx(stream->src), Wfx(stream->dst))) {
      stream->driver = d;
      break;
    }
  if (!stream->driver) return ACMERR_NOTPOSSIBLE;
  if (query) return MMSYSERR_NOERROR;
  stream->converter = tav::acm::MakeConverter(*stream->driver, Wfx(stream->src), Wfx(stream->dst));
  if (!stream->converter) return ACMERR_NOTPOSSIBLE;
  stream->openedOn = had;
  std::lock_guard lock(g_tableLock);
  if (had) {
    OpenDriver* open = g_drivers.FindLocked(had);
    if (!open) return MMSYSERR_INVALHANDLE;  // closed meanwhile
    ++open->streams;
  }
  *phas = g_streams.AddLocked(std::move(stream));
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose) {
  if (fdwClose) return MMSYSERR_INVALFLAG;
  std::lock_guard lock(g_tableLock);
  const OpenStream* stream = g_streams.FindLocked(has);
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (stream->openedOn)
    if (OpenDriver* open = g_drivers.FindLocked(stream->openedOn)) --open->streams;
  g_streams.EraseLocked(has);
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, LPDWORD pdwOutputBytes, DWORD fdwSize) {
  if (fdwSize & ~ACM_STREAMSIZEF_QUERYMASK || (fdwSize & ACM_STREAMSIZEF_QUERYMASK) > ACM_STREAMSIZEF_DESTINATION)
    return MMSYSERR_INVALFLAG;
  if (!pdwOutputBytes) return MMSYSERR_INVALPARAM;
  auto stream = FindStream(has);
  if (!stream) return MMSYSERR_INVALHANDLE;
  const DWORD size = tav::acm::StreamSize(Wfx(stream->src), Wfx(stream->dst), cbInput,
                                          fdwSize == ACM_STREAMSIZEF_SOURCE);
  if (size == 0) return ACMERR_NOTPOSSIBLE;  // not even one block
  *pdwOutputBytes = size;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamReset(HACMSTREAM has, DWORD fdwReset) {
  if (fdwReset) return MMSYSERR_INVALFLAG;
  // Conversions are synchronous: no buffer is ever waiting to be returned.
  return FindStream(has) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwPrepare) {
  if (fdwPrepare) return MMSYSERR_INVALFLAG;
  auto stream = FindStream(has);
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (!pash || pash->cbStruct < sizeof(ACMSTREAMHEADER) || !pash->pbSrc || !pash->pbDst) return MMSYSERR_INVALPARAM;
  std::lock_guard lock(stream->lock);
  if (stream->prepared.count(pash) && (pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED))
    return MMSYSERR_NOERROR;  // preparing twice has no effect
  stream->prepared[pash] = {pash->pbSrc, pash->cbSrcLength, pash->pbDst, pash->cbDstLength};
  pash->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
  pash->cbSrcLengthUsed = 0;
  pash->cbDstLengthUsed = 0;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwConvert) {
  if (fdwConvert & ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END))
    return MMSYSERR_INVALFLAG;
  auto stream = FindStream(has);
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (!pash || pash->cbStruct < sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
  std::lock_guard lock(stream->lock);
  MMRESULT error = MMSYSERR_NOERROR;
  const PreparedHeader* p = PreparedLocked(*stream, pash, &error);
  if (!p) return error;
  // The buffers must be the prepared ones, used up to their prepared lengths at most.
  if (pash->pbSrc != p->src || pash->pbDst != p->dst || pash->cbSrcLength > p->srcLength ||
      pash->cbDstLength > p->dstLength)
    return MMSYSERR_INVALPARAM;
  pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
  DWORD srcUsed = 0, dstUsed = 0;
  const MMRESULT r = stream->converter->Convert(pash->pbSrc, pash->cbSrcLength, pash->pbDst, pash->cbDstLength,
                                                fdwConvert, &srcUsed, &dstUsed);
  pash->cbSrcLengthUsed = srcUsed;
  pash->cbDstLengthUsed = dstUsed;
  pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
  return r;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwUnprepare) {
  if (fdwUnprepare) return MMSYSERR_INVALFLAG;
  auto stream = FindStream(has);
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (!pash || pash->cbStruct < sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
  std::lock_guard lock(stream->lock);
  MMRESULT error = MMSYSERR_NOERROR;
  const PreparedHeader* p = PreparedLocked(*stream, pash, &error);
  if (!p) return error;
  // The lengths must be back at their prepared values.
  if (pash->pbSrc != p->src || pash->pbDst != p->dst || pash->cbSrcLength != p->srcLength ||
      pash->cbDstLength != p->dstLength)
    return MMSYSERR_INVALPARAM;
  stream->prepared.erase(pash);
  pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
  return MMSYSERR_NOERROR;
}

}  // extern "C"
