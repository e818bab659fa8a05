// The translation between the platform's media
// types (FOURCC subtypes, bitmap headers, wave formats) and FFmpeg's codec identifiers
// and pixel / sample formats, shared by the decoders and converters of this library.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixfmt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "media/contract/videoinfo.h"
#include "platform/filters/avptr.h"
#include "platform/streaming/base/streams.h"

namespace tav::filters {


// Sample times cross the pins in 100-ns units; packets and frames carry them unchanged.
inline constexpr AVRational kReferenceTimeBase{1, 10000000};

// ---- video ------------------------------------------------------------------------------

// The pixel layout of an uncompressed video type, AV_PIX_FMT_NONE for a compressed one.
// bottomUp is set for RGB kinds stored bottom row first (positive height).
AVPixelFormat RawPixelFormat(const AM_MEDIA_TYPE& mt, bool* bottomUp = nullptr);

// The codec of a compressed video type (FOURCC subtype, biCompression or MPEG-1), with
// its extra data (after the bitmap header, or the MPEG-1 sequence header) copied into the
// context. AV_CODEC_ID_NONE when FFmpeg has no decoder for it.
AVCodecID VideoCodecId(const AM_MEDIA_TYPE& mt);
HRESULT OpenVideoDecoder(const AM_MEDIA_TYPE& mt, AvCodecContextPtr* ctx);
// Sets the decoding threads of a context whose codec and picture size are known.
void ChooseDecoderThreads(AVCodecContext* ctx);

// How a stored picture is shown: a turn (in quarter turns clockwise, after an optional
// mirror image left to right), the pixel shape and whether the pictures are interlaced.
// The sources append it to a compressed video type's format block, after the codec's
// extra data, as a tagged trailer; the video engine reads it back and delivers upright,
// square-pixel, progressive pictures of the display size. A type without the trailer is
// shown as stored.
struct DisplayGeometry {
  int quarterTurns = 0;  // 0..3, clockwise
  bool mirror = false;   // left and right swapped before the turn
  int sarNum = 1, sarDen = 1;  // sample (pixel) aspect ratio
  bool interlaced = false;
  bool IsPlain() const { return quarterTurns == 0 && !mirror && sarNum == sarDen && !interlaced; }
};
// The geometry of a display matrix (9 values, 16.16 fixed point as in MP4 / QuickTime).
DisplayGeometry GeometryFromDisplayMatrix(const int32_t* matrix);
// The trailer's bytes, and reading it from a type (plain geometry when absent).
inline constexpr size_t kDisplayGeometryBytes = 28;
void WriteDisplayGeometry(const DisplayGeometry& g, BYTE* out);
DisplayGeometry ReadDisplayGeometry(const AM_MEDIA_TYPE& mt);
// The display size of a stored picture: the pixel shape stretches the width (to an even
// size), a quarter or three-quarter turn swaps width and height.
void DisplaySize(const DisplayGeometry& g, LONG width, LONG height, LONG* outWidth, LONG* outHeight);

// Output kinds a video decoder or converter offers.
struct VideoOutputKind {
  const GUID* subtype;
  WORD bitCount;
  AVPixelFormat pixFmt;  // the layout of one row as written, bottom-up rows for RGB
};
// RGB32, RGB24, RGB565, RGB555, YUY2.
const VideoOutputKind* VideoOutputKinds(int* count);
const VideoOutputKind* FindVideoOutputKind(const GUID& subtype);
// An uncompressed VIDEOINFOHEADER type of the kind, bottom-up for RGB.
void MakeVideoOutputType(const VideoOutputKind& kind, LONG width, LONG height, REFERENCE_TIME avgTimePerFrame,
                         CMediaType* mt);
// True for YUV pixel layouts (planar or packed).
bool IsYuvPixelFormat(AVPixelFormat fmt);

// ---- audio ------------------------------------------------------------------------------

// The wave format of an audio type; null when it has none.
const WAVEFORMATEX* AudioWaveFormat(const AM_MEDIA_TYPE& mt);
// The sample format of an uncompressed type (PCM 8/16/24/32 bits, IEEE float, and their
// extensible forms); AV_SAMPLE_FMT_NONE for a compressed one. 24-bit PCM answers S32 and
// sets packed24.
AVSampleFormat RawSampleFormat(const AM_MEDIA_TYPE& mt, bool* packed24 = nullptr);
// The codec of a compressed audio type (format tag or subtype).
AVCodecID AudioCodecId(const AM_MEDIA_TYPE& mt);
HRESULT OpenAudioDecoder(const AM_MEDIA_TYPE& mt, AvCodecContextPtr* ctx);
// A PCM type; above two channels a WAVEFORMATEXTENSIBLE with the usual speaker mask.
void MakePcmType(DWORD samplesPerSec, WORD channels, WORD bitsPerSample, CMediaType* mt);

// The HRESULT for an FFmpeg error code.
HRESULT HResultFromAv(int err);

}  // namespace tav::filters
