// The audio compression manager: drivers that convert between wave formats, their format
// tags and standard formats, and conversion streams. The calls, structures, flags and
// result codes keep the platform's names and values; the drivers behind them are the
// platform's own (libtavrionacm).
#pragma once

#include "media/contract/mediatypes.h"
#include "media/contract/wintypes.h"

// ---- result codes --------------------------------------------------------------------------

using MMRESULT = UINT;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;

constexpr MMRESULT ACMERR_BASE = 512;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = ACMERR_BASE + 0;
constexpr MMRESULT ACMERR_BUSY = ACMERR_BASE + 1;
constexpr MMRESULT ACMERR_UNPREPARED = ACMERR_BASE + 2;
constexpr MMRESULT ACMERR_CANCELED = ACMERR_BASE + 3;

// ---- handles -------------------------------------------------------------------------------

TAV_DECLARE_HANDLE(HACMDRIVERID);
TAV_DECLARE_HANDLE(HACMDRIVER);
TAV_DECLARE_HANDLE(HACMSTREAM);
TAV_DECLARE_HANDLE(HACMOBJ);
using LPHACMDRIVER = HACMDRIVER*;
using LPHACMSTREAM = HACMSTREAM*;

// ---- wave formats the drivers know ---------------------------------------------------------

constexpr WORD WAVE_FORMAT_DVI_ADPCM = 0x0011;
constexpr WORD WAVE_FORMAT_IMA_ADPCM = WAVE_FORMAT_DVI_ADPCM;

constexpr WORD MPEGLAYER3_WFX_EXTRA_BYTES = 12;
constexpr WORD MPEGLAYER3_ID_UNKNOWN = 0;
constexpr WORD MPEGLAYER3_ID_MPEG = 1;
constexpr WORD MPEGLAYER3_ID_CONSTANTFRAMESIZE = 2;
constexpr DWORD MPEGLAYER3_FLAG_PADDING_ISO = 0x00000000;
constexpr DWORD MPEGLAYER3_FLAG_PADDING_ON = 0x00000001;
constexpr DWORD MPEGLAYER3_FLAG_PADDING_OFF = 0x00000002;

#pragma pack(push, 1)
struct PCMWAVEFORMAT {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
};
struct IMAADPCMWAVEFORMAT {
  WAVEFORMATEX wfx;
  WORD wSamplesPerBlock;
};
#pragma pack(pop)
static_assert(sizeof(PCMWAVEFORMAT) == 16);
static_assert(sizeof(IMAADPCMWAVEFORMAT) == 20);

// ---- structures ----------------------------------------------------------------------------

constexpr int ACMDRIVERDETAILS_SHORTNAME_CHARS = 32;
constexpr int ACMDRIVERDETAILS_LONGNAME_CHARS = 128;
constexpr int ACMDRIVERDETAILS_COPYRIGHT_CHARS = 80;
constexpr int ACMDRIVERDETAILS_LICENSING_CHARS = 128;
constexpr int ACMDRIVERDETAILS_FEATURES_CHARS = 512;
constexpr int ACMFORMATTAGDETAILS_FORMATTAG_CHARS = 48;
constexpr int ACMFORMATDETAILS_FORMAT_CHARS = 128;

constexpr DWORD ACMDRIVERDETAILS_FCCTYPE_AUDIOCODEC = 0x63647561;  // 'audc'
constexpr DWORD ACMDRIVERDETAILS_FCCCOMP_UNDEFINED = 0;

constexpr DWORD ACMDRIVERDETAILS_SUPPORTF_CODEC = 0x00000001;
constexpr DWORD ACMDRIVERDETAILS_SUPPORTF_CONVERTER = 0x00000002;
constexpr DWORD ACMDRIVERDETAILS_SUPPORTF_FILTER = 0x00000004;
constexpr DWORD ACMDRIVERDETAILS_SUPPORTF_HARDWARE = 0x00000008;
constexpr DWORD ACMDRIVERDETAILS_SUPPORTF_ASYNC = 0x00000010;
constexpr DWORD ACMDRIVERDETAILS_SUPPORTF_LOCAL = 0x40000000;
constexpr DWORD ACMDRIVERDETAILS_SUPPORTF_DISABLED = 0x80000000;

// The structures keep the platform's byte packing. Each starts with cbStruct, the number of
// bytes the caller provides (the driver details are filled up to that many bytes; the format
// tag and format details need the whole structure).
#pragma pack(push, 1)
struct ACMDRIVERDETAILSA {
  DWORD cbStruct;
  DWORD fccType;
  DWORD fccComp;
  WORD wMid;
  WORD wPid;
  DWORD vdwACM;
  DWORD vdwDriver;
  DWORD fdwSupport;
  DWORD cFormatTags;
  DWORD cFilterTags;
  HICON hicon;
  char szShortName[ACMDRIVERDETAILS_SHORTNAME_CHARS];
  char szLongName[ACMDRIVERDETAILS_LONGNAME_CHARS];
  char szCopyright[ACMDRIVERDETAILS_COPYRIGHT_CHARS];
  char szLicensing[ACMDRIVERDETAILS_LICENSING_CHARS];
  char szFeatures[ACMDRIVERDETAILS_FEATURES_CHARS];
};

struct ACMFORMATTAGDETAILSA {
  DWORD cbStruct;
  DWORD dwFormatTagIndex;
  DWORD dwFormatTag;
  DWORD cbFormatSize;
  DWORD fdwSupport;
  DWORD cStandardFormats;
  char szFormatTag[ACMFORMATTAGDETAILS_FORMATTAG_CHARS];
};

struct ACMFORMATDETAILSA {
  DWORD cbStruct;
  DWORD dwFormatIndex;
  DWORD dwFormatTag;
  DWORD fdwSupport;
  WAVEFORMATEX* pwfx;
  DWORD cbwfx;
  char szFormat[ACMFORMATDETAILS_FORMAT_CHARS];
};

struct WAVEFILTER {
  DWORD cbStruct;
  DWORD dwFilterTag;
  DWORD fdwFilter;
  DWORD dwReserved[5];
};

// Space the driver keeps in each stream header (the 64-bit platform's count).
constexpr int ACMSTREAMHEADER_DRVRESERVED = 15;

struct ACMSTREAMHEADER {
  DWORD cbStruct;
  DWORD fdwStatus;
  DWORD_PTR dwUser;
  BYTE* pbSrc;
  DWORD cbSrcLength;
  DWORD cbSrcLengthUsed;
  DWORD_PTR dwSrcUser;
  BYTE* pbDst;
  DWORD cbDstLength;
  DWORD cbDstLengthUsed;
  DWORD_PTR dwDstUser;
  DWORD dwReservedDriver[ACMSTREAMHEADER_DRVRESERVED];
};
#pragma pack(pop)
static_assert(sizeof(ACMDRIVERDETAILSA) == 36 + sizeof(HICON) + 32 + 128 + 80 + 128 + 512);
static_assert(sizeof(ACMFORMATTAGDETAILSA) == 72);
static_assert(sizeof(ACMFORMATDETAILSA) == 20 + sizeof(void*) + 128);
static_assert(sizeof(ACMSTREAMHEADER) == 6 * 4 + 5 * sizeof(void*) + ACMSTREAMHEADER_DRVRESERVED * 4);

using LPACMDRIVERDETAILSA = ACMDRIVERDETAILSA*;
using LPACMFORMATTAGDETAILSA = ACMFORMATTAGDETAILSA*;
using LPACMFORMATDETAILSA = ACMFORMATDETAILSA*;
using LPACMSTREAMHEADER = ACMSTREAMHEADER*;
using LPWAVEFORMATEX = WAVEFORMATEX*;
using LPWAVEFILTER = WAVEFILTER*;

constexpr DWORD ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_INQUEUE = 0x00100000;

// ---- flags ---------------------------------------------------------------------------------

constexpr DWORD ACM_DRIVERENUMF_NOLOCAL = 0x40000000;
constexpr DWORD ACM_DRIVERENUMF_DISABLED = 0x80000000;

constexpr DWORD ACM_FORMATTAGDETAILSF_INDEX = 0x00000000;
constexpr DWORD ACM_FORMATTAGDETAILSF_FORMATTAG = 0x00000001;
constexpr DWORD ACM_FORMATTAGDETAILSF_LARGESTSIZE = 0x00000002;

constexpr DWORD ACM_FORMATENUMF_WFORMATTAG = 0x00010000;
constexpr DWORD ACM_FORMATENUMF_NCHANNELS = 0x00020000;
constexpr DWORD ACM_FORMATENUMF_NSAMPLESPERSEC = 0x00040000;
constexpr DWORD ACM_FORMATENUMF_WBITSPERSAMPLE = 0x00080000;
constexpr DWORD ACM_FORMATENUMF_CONVERT = 0x00100000;
constexpr DWORD ACM_FORMATENUMF_SUGGEST = 0x00200000;
constexpr DWORD ACM_FORMATENUMF_HARDWARE = 0x00400000;
constexpr DWORD ACM_FORMATENUMF_INPUT = 0x00800000;
constexpr DWORD ACM_FORMATENUMF_OUTPUT = 0x01000000;

constexpr DWORD ACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000;
constexpr DWORD ACM_FORMATSUGGESTF_NCHANNELS = 0x00020000;
constexpr DWORD ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x00040000;
constexpr DWORD ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x00080000;
constexpr DWORD ACM_FORMATSUGGESTF_TYPEMASK = 0x00FF0000;

constexpr DWORD ACM_STREAMOPENF_QUERY = 0x00000001;
constexpr DWORD ACM_STREAMOPENF_ASYNC = 0x00000002;
constexpr DWORD ACM_STREAMOPENF_NONREALTIME = 0x00000004;
constexpr DWORD CALLBACK_TYPEMASK = 0x00070000;
constexpr DWORD CALLBACK_NULL = 0x00000000;
constexpr DWORD CALLBACK_WINDOW = 0x00010000;
constexpr DWORD CALLBACK_FUNCTION = 0x00030000;
constexpr DWORD CALLBACK_EVENT = 0x00050000;

constexpr DWORD ACM_STREAMSIZEF_SOURCE = 0x00000000;
constexpr DWORD ACM_STREAMSIZEF_DESTINATION = 0x00000001;
constexpr DWORD ACM_STREAMSIZEF_QUERYMASK = 0x0000000F;

constexpr DWORD ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004;
constexpr DWORD ACM_STREAMCONVERTF_START = 0x00000010;
constexpr DWORD ACM_STREAMCONVERTF_END = 0x00000020;

constexpr UINT ACM_METRIC_COUNT_DRIVERS = 1;
constexpr UINT ACM_METRIC_COUNT_CODECS = 2;
constexpr UINT ACM_METRIC_COUNT_CONVERTERS = 3;
constexpr UINT ACM_METRIC_COUNT_FILTERS = 4;
constexpr UINT ACM_METRIC_COUNT_DISABLED = 5;
constexpr UINT ACM_METRIC_COUNT_HARDWARE = 6;
constexpr UINT ACM_METRIC_COUNT_LOCAL_DRIVERS = 20;
constexpr UINT ACM_METRIC_COUNT_LOCAL_CODECS = 21;
constexpr UINT ACM_METRIC_COUNT_LOCAL_CONVERTERS = 22;
constexpr UINT ACM_METRIC_COUNT_LOCAL_FILTERS = 23;
constexpr UINT ACM_METRIC_COUNT_LOCAL_DISABLED = 24;
constexpr UINT ACM_METRIC_HARDWARE_WAVE_INPUT = 30;
constexpr UINT ACM_METRIC_HARDWARE_WAVE_OUTPUT = 31;
constexpr UINT ACM_METRIC_MAX_SIZE_FORMAT = 50;
constexpr UINT ACM_METRIC_MAX_SIZE_FILTER = 51;
constexpr UINT ACM_METRIC_DRIVER_SUPPORT = 100;
constexpr UINT ACM_METRIC_DRIVER_PRIORITY = 101;

// ---- callbacks -----------------------------------------------------------------------------

// Each returns TRUE to go on with the enumeration, FALSE to stop it.
using ACMDRIVERENUMCB = BOOL (*)(HACMDRIVERID hadid, DWORD_PTR dwInstance, DWORD fdwSupport);
using ACMFORMATTAGENUMCBA = BOOL (*)(HACMDRIVERID hadid, LPACMFORMATTAGDETAILSA paftd, DWORD_PTR dwInstance,
                                     DWORD fdwSupport);
using ACMFORMATENUMCBA = BOOL (*)(HACMDRIVERID hadid, LPACMFORMATDETAILSA pafd, DWORD_PTR dwInstance,
                                  DWORD fdwSupport);

// ---- calls ---------------------------------------------------------------------------------

extern "C" {

// Version of the manager: 0xMMmmbbbb.
DWORD acmGetVersion();
MMRESULT acmMetrics(HACMOBJ hao, UINT uMetric, LPVOID pMetric);

MMRESULT acmDriverEnum(ACMDRIVERENUMCB fnCallback, DWORD_PTR dwInstance, DWORD fdwEnum);
MMRESULT acmDriverID(HACMOBJ hao, HACMDRIVERID* phadid, DWORD fdwDriverID);
MMRESULT acmDriverDetailsA(HACMDRIVERID hadid, LPACMDRIVERDETAILSA padd, DWORD fdwDetails);
MMRESULT acmDriverOpen(LPHACMDRIVER phad, HACMDRIVERID hadid, DWORD fdwOpen);
MMRESULT acmDriverClose(HACMDRIVER had, DWORD fdwClose);

MMRESULT acmFormatTagDetailsA(HACMDRIVER had, LPACMFORMATTAGDETAILSA paftd, DWORD fdwDetails);
MMRESULT acmFormatTagEnumA(HACMDRIVER had, LPACMFORMATTAGDETAILSA paftd, ACMFORMATTAGENUMCBA fnCallback,
                           DWORD_PTR dwInstance, DWORD fdwEnum);
MMRESULT acmFormatEnumA(HACMDRIVER had, LPACMFORMATDETAILSA pafd, ACMFORMATENUMCBA fnCallback,
                        DWORD_PTR dwInstance, DWORD fdwEnum);
MMRESULT acmFormatSuggest(HACMDRIVER had, LPWAVEFORMATEX pwfxSrc, LPWAVEFORMATEX pwfxDst, DWORD cbwfxDst,
                          DWORD fdwSuggest);

MMRESULT acmStreamOpen(LPHACMSTREAM phas, HACMDRIVER had, LPWAVEFORMATEX pwfxSrc, LPWAVEFORMATEX pwfxDst,
                       LPWAVEFILTER pwfltr, DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose);
MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, LPDWORD pdwOutputBytes, DWORD fdwSize);
MMRESULT acmStreamReset(HACMSTREAM has, DWORD fdwReset);
MMRESULT acmStreamPrepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwPrepare);
MMRESULT acmStreamConvert(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwConvert);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwUnprepare);

}  // extern "C"
