// Media types, format blocks and their identifiers, with the Windows layouts.
#pragma once

#include "media/contract/guid.h"
#include "media/contract/unknown.h"

// ---- identifiers ----------------------------------------------------------------------

// Subtypes in the four-character-code form XXXXXXXX-0000-0010-8000-00AA00389B71.
constexpr GUID FourccSubtype(FOURCC fcc) {
  return GUID{fcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
constexpr bool IsFourccSubtype(const GUID& g) {
  const GUID base = FourccSubtype(0);
  return g.Data2 == base.Data2 && g.Data3 == base.Data3 && g.Data4[0] == base.Data4[0] &&
         g.Data4[1] == base.Data4[1] && g.Data4[2] == base.Data4[2] && g.Data4[3] == base.Data4[3] &&
         g.Data4[4] == base.Data4[4] && g.Data4[5] == base.Data4[5] && g.Data4[6] == base.Data4[6] &&
         g.Data4[7] == base.Data4[7];
}

#define TAV_STREAMING_GUID(name, l) \
  TAV_DEFINE_GUID(name, l, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70)
// The MPEG-2 and DVD family, and the format-block family.
#define TAV_MPEG2_GUID(name, l) TAV_DEFINE_GUID(name, l, 0xDB46, 0x11CF, 0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA)
#define TAV_FORMAT_GUID(name, l) \
  TAV_DEFINE_GUID(name, l, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A)
#define TAV_FOURCC_GUID(name, a, b, c, d) inline constexpr GUID name = FourccSubtype(MAKEFOURCC(a, b, c, d))
#define TAV_TAG_GUID(name, tag) inline constexpr GUID name = FourccSubtype(tag)

TAV_FOURCC_GUID(MEDIATYPE_Video, 'v', 'i', 'd', 's');
TAV_FOURCC_GUID(MEDIATYPE_Audio, 'a', 'u', 'd', 's');
TAV_FOURCC_GUID(MEDIATYPE_Text, 't', 'x', 't', 's');
TAV_FOURCC_GUID(MEDIATYPE_Interleaved, 'i', 'a', 'v', 's');
TAV_STREAMING_GUID(MEDIATYPE_Stream, 0xE436EB83);
TAV_DEFINE_GUID(MEDIATYPE_Midi, 0x7364696D, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71);
TAV_MPEG2_GUID(MEDIATYPE_DVD_NAVIGATION, 0xE06D802E);
TAV_MPEG2_GUID(MEDIASUBTYPE_DVD_NAVIGATION_PCI, 0xE06D802F);
// The platform sources' own major type for a stream of data that nothing decodes or shows
// (timed metadata, time codes, attachments); the subtype is the container's code for it,
// when it has one.
TAV_DEFINE_GUID(MEDIATYPE_AvData, 0x3C1F0E30, 0x5B7D, 0x4E61, 0x9A, 0x48, 0x2D, 0x6E, 0x81, 0xC4, 0x3F, 0x57);

TAV_STREAMING_GUID(MEDIASUBTYPE_RGB1, 0xE436EB78);
TAV_STREAMING_GUID(MEDIASUBTYPE_RGB4, 0xE436EB79);
TAV_STREAMING_GUID(MEDIASUBTYPE_RGB8, 0xE436EB7A);
TAV_STREAMING_GUID(MEDIASUBTYPE_RGB565, 0xE436EB7B);
TAV_STREAMING_GUID(MEDIASUBTYPE_RGB555, 0xE436EB7C);
TAV_STREAMING_GUID(MEDIASUBTYPE_RGB24, 0xE436EB7D);
TAV_STREAMING_GUID(MEDIASUBTYPE_RGB32, 0xE436EB7E);
TAV_DEFINE_GUID(MEDIASUBTYPE_ARGB32, 0x773C9AC0, 0x3274, 0x11D0, 0xB7, 0x24, 0x00, 0xAA, 0x00, 0x6C, 0x1A, 0x01);
TAV_DEFINE_GUID(MEDIASUBTYPE_ARGB1555, 0x297C55AF, 0xE209, 0x4CB3, 0xB7, 0x57, 0xC7, 0x6D, 0x6B, 0x9C, 0x88, 0xA8);
TAV_DEFINE_GUID(MEDIASUBTYPE_ARGB4444, 0x6E6415E6, 0x5C24, 0x425F, 0x93, 0xCD, 0x80, 0x10, 0x2B, 0x3D, 0x1C, 0xCA);
TAV_DEFINE_GUID(MEDIASUBTYPE_A2R10G10B10, 0x2F8BB76D, 0xB644, 0x4550, 0xAC, 0xF3, 0xD3, 0x0C, 0xAA, 0x65, 0xD5, 0xC5);
TAV_DEFINE_GUID(MEDIASUBTYPE_A2B10G10R10, 0x576F7893, 0xBDF6, 0x48C4, 0x87, 0x5F, 0xAE, 0x7B, 0x81, 0x83, 0x45, 0x67);
TAV_STREAMING_GUID(MEDIASUBTYPE_MPEG1Packet, 0xE436EB80);
TAV_STREAMING_GUID(MEDIASUBTYPE_MPEG1Payload, 0xE436EB81);
TAV_STREAMING_GUID(MEDIASUBTYPE_MPEG1System, 0xE436EB84);
TAV_STREAMING_GUID(MEDIASUBTYPE_MPEG1VideoCD, 0xE436EB85);
TAV_STREAMING_GUID(MEDIASUBTYPE_MPEG1Video, 0xE436EB86);
TAV_STREAMING_GUID(MEDIASUBTYPE_MPEG1Audio, 0xE436EB87);
TAV_STREAMING_GUID(MEDIASUBTYPE_Avi, 0xE436EB88);
TAV_STREAMING_GUID(MEDIASUBTYPE_QTMovie, 0xE436EB89);
TAV_STREAMING_GUID(MEDIASUBTYPE_WAVE, 0xE436EB8B);
TAV_STREAMING_GUID(MEDIASUBTYPE_AU, 0xE436EB8C);
TAV_STREAMING_GUID(MEDIASUBTYPE_AIFF, 0xE436EB8D);
TAV_DEFINE_GUID(MEDIASUBTYPE_Asf, 0x3DB80F90, 0x9412, 0x11D1, 0xAD, 0xED, 0x00, 0x00, 0xF8, 0x75, 0x4B, 0x99);
TAV_MPEG2_GUID(MEDIASUBTYPE_MPEG2_VIDEO, 0xE06D8026);
TAV_MPEG2_GUID(MEDIASUBTYPE_MPEG2_PROGRAM, 0xE06D8022);
TAV_MPEG2_GUID(MEDIASUBTYPE_MPEG2_TRANSPORT, 0xE06D8023);
TAV_MPEG2_GUID(MEDIASUBTYPE_MPEG2_AUDIO, 0xE06D802B);
TAV_MPEG2_GUID(MEDIASUBTYPE_DOLBY_AC3, 0xE06D802C);
TAV_MPEG2_GUID(MEDIASUBTYPE_DTS, 0xE06D8033);

TAV_FOURCC_GUID(MEDIASUBTYPE_YUY2, 'Y', 'U', 'Y', '2');
TAV_FOURCC_GUID(MEDIASUBTYPE_UYVY, 'U', 'Y', 'V', 'Y');
TAV_FOURCC_GUID(MEDIASUBTYPE_YV12, 'Y', 'V', '1', '2');
TAV_FOURCC_GUID(MEDIASUBTYPE_I420, 'I', '4', '2', '0');
TAV_FOURCC_GUID(MEDIASUBTYPE_IYUV, 'I', 'Y', 'U', 'V');
TAV_FOURCC_GUID(MEDIASUBTYPE_NV12, 'N', 'V', '1', '2');
TAV_FOURCC_GUID(MEDIASUBTYPE_dvsd, 'd', 'v', 's', 'd');
TAV_FOURCC_GUID(MEDIASUBTYPE_MJPG, 'M', 'J', 'P', 'G');
TAV_FOURCC_GUID(MEDIASUBTYPE_XVID, 'X', 'V', 'I', 'D');
TAV_FOURCC_GUID(MEDIASUBTYPE_DIVX, 'D', 'I', 'V', 'X');
TAV_FOURCC_GUID(MEDIASUBTYPE_DX50, 'D', 'X', '5', '0');
TAV_FOURCC_GUID(MEDIASUBTYPE_FMP4, 'F', 'M', 'P', '4');
TAV_FOURCC_GUID(MEDIASUBTYPE_MP4V, 'M', 'P', '4', 'V');
TAV_FOURCC_GUID(MEDIASUBTYPE_MP43, 'M', 'P', '4', '3');
TAV_FOURCC_GUID(MEDIASUBTYPE_MP42, 'M', 'P', '4', '2');
TAV_FOURCC_GUID(MEDIASUBTYPE_DIV3, 'D', 'I', 'V', '3');
TAV_FOURCC_GUID(MEDIASUBTYPE_H264, 'H', '2', '6', '4');
TAV_FOURCC_GUID(MEDIASUBTYPE_AVC1, 'A', 'V', 'C', '1');
TAV_FOURCC_GUID(MEDIASUBTYPE_WMV1, 'W', 'M', 'V', '1');
TAV_FOURCC_GUID(MEDIASUBTYPE_WMV2, 'W', 'M', 'V', '2');
TAV_FOURCC_GUID(MEDIASUBTYPE_WMV3, 'W', 'M', 'V', '3');
TAV_FOURCC_GUID(MEDIASUBTYPE_WVC1, 'W', 'V', 'C', '1');
TAV_FOURCC_GUID(MEDIASUBTYPE_H263, 'H', '2', '6', '3');
TAV_FOURCC_GUID(MEDIASUBTYPE_S263, 's', '2', '6', '3');

TAV_TAG_GUID(MEDIASUBTYPE_PCM, 0x0001);
TAV_TAG_GUID(MEDIASUBTYPE_ADPCM, 0x0002);
TAV_TAG_GUID(MEDIASUBTYPE_IEEE_FLOAT, 0x0003);
TAV_TAG_GUID(MEDIASUBTYPE_MSAUDIO1, 0x0160);
TAV_TAG_GUID(MEDIASUBTYPE_WMAUDIO2, 0x0161);
TAV_TAG_GUID(MEDIASUBTYPE_WMAUDIO3, 0x0162);
TAV_TAG_GUID(MEDIASUBTYPE_MPEG_LAYER3, 0x0055);
TAV_TAG_GUID(MEDIASUBTYPE_MPEG_AUDIO, 0x0050);
TAV_TAG_GUID(MEDIASUBTYPE_AAC, 0x00FF);
TAV_TAG_GUID(MEDIASUBTYPE_AMR_NB, 0x0057);
TAV_TAG_GUID(MEDIASUBTYPE_WAVE_EXTENSIBLE, 0xFFFE);
inline constexpr GUID KSDATAFORMAT_SUBTYPE_PCM = MEDIASUBTYPE_PCM;
inline constexpr GUID KSDATAFORMAT_SUBTYPE_IEEE_FLOAT = MEDIASUBTYPE_IEEE_FLOAT;

TAV_DEFINE_GUID(FORMAT_None, 0x0F6417D6, 0xC318, 0x11D0, 0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96);
TAV_FORMAT_GUID(FORMAT_VideoInfo, 0x05589F80);
TAV_FORMAT_GUID(FORMAT_WaveFormatEx, 0x05589F81);
TAV_FORMAT_GUID(FORMAT_MPEGVideo, 0x05589F82);
TAV_FORMAT_GUID(FORMAT_MPEGStreams, 0x05589F83);
TAV_FORMAT_GUID(FORMAT_DvInfo, 0x05589F84);
TAV_DEFINE_GUID(FORMAT_VideoInfo2, 0xF72A76A0, 0xEB0A, 0x11D0, 0xAC, 0xE4, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA);
inline constexpr GUID FORMAT_VIDEOINFO2 = FORMAT_VideoInfo2;
TAV_MPEG2_GUID(FORMAT_MPEG2Video, 0xE06D80E3);
#undef TAV_STREAMING_GUID
#undef TAV_MPEG2_GUID
#undef TAV_FORMAT_GUID

// ---- structures -----------------------------------------------------------------------

struct AM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  GUID formattype;
  IUnknown* pUnk;
  ULONG cbFormat;
  BYTE* pbFormat;  // task-allocated
};

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;
constexpr DWORD BI_RLE4 = 2;
constexpr DWORD BI_BITFIELDS = 3;

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
struct RGBQUAD {
  BYTE rgbBlue, rgbGreen, rgbRed, rgbReserved;
};
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

struct VIDEOINFOHEADER {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  BITMAPINFOHEADER bmiHeader;
};
// VIDEOINFO: the header followed by room for a palette or the three bit-field masks.
struct VIDEOINFO : VIDEOINFOHEADER {
  union {
    RGBQUAD bmiColors[256];
    DWORD dwBitMasks[3];
  };
};

struct VIDEOINFOHEADER2 {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  DWORD dwInterlaceFlags;
  DWORD dwCopyProtectFlags;
  DWORD dwPictAspectRatioX;
  DWORD dwPictAspectRatioY;
  union {
    DWORD dwControlFlags;
    DWORD dwReserved1;
  };
  DWORD dwReserved2;
  BITMAPINFOHEADER bmiHeader;
};

struct MPEG1VIDEOINFO {
  VIDEOINFOHEADER hdr;
  DWORD dwStartTimeCode;
  DWORD cbSequenceHeader;
  BYTE bSequenceHeader[1];
};

#pragma pack(push, 1)
struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};
struct WAVEFORMATEXTENSIBLE {
  WAVEFORMATEX Format;
  union {
    WORD wValidBitsPerSample;
    WORD wSamplesPerBlock;
    WORD wReserved;
  } Samples;
  DWORD dwChannelMask;
  GUID SubFormat;
};
struct MPEGLAYER3WAVEFORMAT {
  WAVEFORMATEX wfx;
  WORD wID;
  DWORD fdwFlags;
  WORD nBlockSize;
  WORD nFramesPerBlock;
  WORD nCodecDelay;
};
#pragma pack(pop)

static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(VIDEOINFOHEADER) == 88);
static_assert(sizeof(VIDEOINFOHEADER2) == 112);
static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40);
static_assert(sizeof(MPEGLAYER3WAVEFORMAT) == 30);
static_assert(sizeof(GUID) == 16);

constexpr WORD WAVE_FORMAT_UNKNOWN = 0x0000;
constexpr WORD WAVE_FORMAT_PCM = 0x0001;
constexpr WORD WAVE_FORMAT_ADPCM = 0x0002;
constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 0x0003;
constexpr WORD WAVE_FORMAT_ALAW = 0x0006;
constexpr WORD WAVE_FORMAT_MULAW = 0x0007;
constexpr WORD WAVE_FORMAT_MPEG = 0x0050;
constexpr WORD WAVE_FORMAT_MPEGLAYER3 = 0x0055;
constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

constexpr DWORD SPEAKER_FRONT_LEFT = 0x1;
constexpr DWORD SPEAKER_FRONT_RIGHT = 0x2;
constexpr DWORD SPEAKER_FRONT_CENTER = 0x4;
constexpr DWORD SPEAKER_LOW_FREQUENCY = 0x8;
constexpr DWORD SPEAKER_BACK_LEFT = 0x10;
constexpr DWORD SPEAKER_BACK_RIGHT = 0x20;
constexpr DWORD SPEAKER_FRONT_LEFT_OF_CENTER = 0x40;
constexpr DWORD SPEAKER_FRONT_RIGHT_OF_CENTER = 0x80;
constexpr DWORD SPEAKER_BACK_CENTER = 0x100;
constexpr DWORD SPEAKER_SIDE_LEFT = 0x200;
constexpr DWORD SPEAKER_SIDE_RIGHT = 0x400;
constexpr DWORD SPEAKER_TOP_CENTER = 0x800;

// ---- the image-size rule ---------------------------------------------------------------

// The bytes of one row of a device-independent bitmap: rows are padded to 32 bits.
constexpr LONGLONG DibStride(LONGLONG width, LONGLONG bitCount) { return ((bitCount * width + 31) / 32) * 4; }

// Uncompressed (BI_RGB) rows are padded to 32 bits: DibStride * |height|; any other
// compression: bits * width * height / 8.
constexpr DWORD GetBitmapSize(const BITMAPINFOHEADER* h) {
  if (h->biCompression == BI_RGB) {
    const LONGLONG stride = DibStride(h->biWidth, h->biBitCount);
    const LONGLONG height = h->biHeight < 0 ? -LONGLONG(h->biHeight) : LONGLONG(h->biHeight);
    return DWORD(stride * height);
  }
  return DWORD(LONGLONG(h->biBitCount) * h->biWidth * h->biHeight / 8);
}
constexpr DWORD DIBWIDTHBYTES(const BITMAPINFOHEADER& h) {
  return DWORD(DibStride(h.biWidth, h.biBitCount));
}
#define HEADER(pVideoInfo) (&(static_cast<VIDEOINFOHEADER*>(pVideoInfo))->bmiHeader)
