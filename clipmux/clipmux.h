// The movie library the camera exporter drives: it pulls raw RGB32 frames and PCM audio
// through a callback, encodes MPEG-4 Part 2 video (Simple Profile, FOURCC "XVID") and MP3
// audio, and writes an AVI file, optionally with the camera's RIFF form type "AVI\x19".
//
// The library keeps one movie in preparation per process: setVideo / setAudio / CreateAVI
// describe it, StartEncoder writes it on the calling thread. Failures are thrown as MyError.
#pragma once

#include <cstddef>
#include <exception>
#include <string>

#include "media/contract/mediatypes.h"
#include "media/contract/wintypes.h"

#define CLIPMUX_API __attribute__((visibility("default")))

// The pull callback. The encoder asks for one video frame, then for the audio that goes
// with it, until a frame comes back empty.
class IDubberCallback {
 public:
  virtual ~IDubberCallback() = default;
  // Fills buffer with audio bytes (the PCM format of setAudio); *bytes = bytes written,
  // *blocks = *bytes / nBlockAlign. 0 bytes means no audio for this frame.
  virtual void GetAudioChunk(char* buffer, int* bytes, int* blocks) = 0;
  // Fills buffer with one frame in the layout of setVideo's header; *bytes = bytes written,
  // *pixels = *bytes / 4. 0 bytes ends the movie.
  virtual void GetVideoFrame(char* buffer, int* bytes, int* pixels) = 0;
  // GetVideoFrame without the copy: lends the next frame in place. *frame points at *bytes
  // bytes in the layout of setVideo's header and stays valid until ReturnVideoFrame, which
  // follows every lend (also one of 0 bytes, which ends the movie). A callback that only
  // copies keeps this default, which fills buffer through GetVideoFrame.
  // A lend of kRepeatPicture bytes (no frame) shows the picture lent before it once more.
  static constexpr int kRepeatPicture = -1;
  virtual void LendVideoFrame(char* buffer, const char** frame, int* bytes) {
    int pixels = 0;
    GetVideoFrame(buffer, bytes, &pixels);
    *frame = buffer;
  }
  virtual void ReturnVideoFrame() {}
  // Called once, on the thread in StartEncoder, after a movie was closed at its size limit
  // (SetFileSizeLimit): the first framesWritten frames pulled are in the file, the frames
  // pulled after them are not. projected is the size the file would have had with the next
  // one. The file is complete when this is called.
  virtual void SizeLimitReached(int /*framesWritten*/, LONGLONG /*projected*/) {}
};

// Thrown by every function of the library on failure; the message says what went wrong.
class CLIPMUX_API MyError : public std::exception {
 public:
  explicit MyError(std::string message, int code = 0);
  const char* what() const noexcept override;
  const std::string& message() const noexcept { return message_; }
  // The system error (an errno value) behind the failure; 0 when there is none. A full
  // disk reads ENOSPC.
  int code() const noexcept { return code_; }

 private:
  std::string message_;
  int code_ = 0;
};

// Encoder settings. The block has a fixed size of 3 264 bytes so that callers can keep and
// copy it whole; only the named fields are used, the rest is reserved and kept zero.
// ResetConfig's defaults are given with each field.
#pragma pack(push, 1)
struct CONFIG {
  DWORD cbSize;            // 0: size of the block, 3264
  DWORD videoKbps;         // 4: video bit rate in kbit/s; default 300, accepted 16..20000
  DWORD keyIntervalMs;     // 8: longest time between key frames in ms; default 2000, at most 2000
  DWORD minQuantizer;      // 12: smallest quantiser (best quality); default 2, 1..31
  DWORD maxQuantizer;      // 16: largest quantiser; default 31, minQuantizer..31
  DWORD macroblockDecision;// 20: 0 simple (fastest), 1 fewest bits, 2 rate-distortion; default 0
  DWORD encoderThreads;    // 24: video encoder threads (slices); default 1, 1..8
  BYTE reserved[3264 - 28];
};
#pragma pack(pop)
static_assert(sizeof(CONFIG) == 3264);
static_assert(offsetof(CONFIG, videoKbps) == 4);

// Does nothing on this platform (there is no compressor dialog); returns 1.
CLIPMUX_API int SetUpCompressor(HWND parent);
// Prepares a new movie file at path (UTF-8): checks that the folder exists and can be
// written and that path isn't a folder. The file itself is created by StartEncoder, which
// then pulls data through callback (not owned). deleteOnFailure: when StartEncoder fails,
// remove the incomplete file instead of leaving it. Returns 1.
CLIPMUX_API int CreateAVI(char* path, IDubberCallback* callback, bool deleteOnFailure);
// The frame layout: a 32-bit (RGB32) or 24-bit uncompressed header, bottom-up for a
// positive height, top-down for a negative one; width and height even. frameRate > 0.
CLIPMUX_API int setVideo(BITMAPINFOHEADER* header, double frameRate);
// The audio layout: 16-bit PCM, 1 or 2 channels, 8 000 .. 48 000 Hz. bitRate is the MP3
// bit rate in bit/s (64000 = 64 kbit/s).
CLIPMUX_API int setAudio(WAVEFORMATEX* format, int bitRate);
// Writes the prepared movie on the calling thread. started (an auto-reset event) is
// signalled once the encoder runs; idle (a manual-reset event) is reset meanwhile and set
// again when this returns, also when it throws. Returns when a frame comes back empty, after
// the index is written, with the number of frames written. Either event may be null.
CLIPMUX_API int StartEncoder(void* started, void* idle);
// Gives written files the camera's RIFF form type ("AVI" followed by 0x19) when on.
CLIPMUX_API void SaveAVIasQVF(bool qvf);
CLIPMUX_API void GetConfig(CONFIG* config);
// Refuses (MyError) a block with values out of range; the old settings then stay.
CLIPMUX_API void SetConfig(const CONFIG* config);
CLIPMUX_API void ResetConfig();
// Caps the size of the movies written from now on (0: no cap). A frame goes into the file only
// when the file, closed right after that frame, stays within bytes: its chunk, the sound
// pulled with it, the sound the MP3 encoder still holds, and the index entries of them all.
// The first frame that does not fit ends the movie: neither it nor any frame pulled after it
// is written, the movie is closed, and the callback hears of it (SizeLimitReached).
CLIPMUX_API void SetFileSizeLimit(LONGLONG bytes);
// Size the file being written has reached so far (bytes handed to the file, counting those
// still buffered, and the chunks of packets the muxer holds back to interleave the streams):
// what the file holds once those are written, before its index. After StartEncoder returns,
// the size of the finished file.
CLIPMUX_API LONGLONG GetDirectBytesWrited();
