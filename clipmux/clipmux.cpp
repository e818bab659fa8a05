// The exported functions: one movie in preparation per process, guarded by one lock.
#include "clipmux/clipmux.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "clipmux/countingoutput.h"
#include "clipmux/movieencoder.h"
#include "media/contract/sync.h"

namespace {

using clipmux::AudioLayout;
using clipmux::MovieJob;
using clipmux::VideoLayout;

constexpr DWORD kDefaultVideoKbps = 300;
constexpr DWORD kDefaultKeyIntervalMs = 2000;

CONFIG DefaultConfig() {
  CONFIG c{};
  c.cbSize = sizeof(CONFIG);
  c.videoKbps = kDefaultVideoKbps;
  c.keyIntervalMs = kDefaultKeyIntervalMs;
  c.minQuantizer = 2;
  c.maxQuantizer = 31;
  c.macroblockDecision = 0;
  c.encoderThreads = 1;
  return c;
}

// Guards everything the setters describe: the next movie's job and the settings.
std::mutex g_lock;
MovieJob g_job;                    // guarded by g_lock
bool g_havePath = false;           // guarded by g_lock
bool g_haveVideo = false;          // guarded by g_lock
bool g_qvf = false;                // guarded by g_lock
LONGLONG g_sizeLimit = 0;          // guarded by g_lock
CONFIG g_config = DefaultConfig(); // guarded by g_lock
// Set while StartEncoder runs; a second movie at the same time is refused.
std::atomic<bool> g_encoding{false};
// The file being (or last) written. Its byte count is read from the callback while the
// encoder thread writes, so it is published atomically inside.
clipmux::CountingOutput g_output;

std::string FolderOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Sets idle (when given) however StartEncoder leaves.
struct IdleOnExit {
  HANDLE idle;
  ~IdleOnExit() {
    if (idle) SetEvent(idle);
    g_encoding.store(false);
  }
};

}  // namespace

MyError::MyError(std::string message, int code) : message_(std::move(message)), code_(code) {}
const char* MyError::what() const noexcept { return message_.c_str(); }

int SetUpCompressor(HWND) { return 1; }

int CreateAVI(char* path, IDubberCallback* callback, bool deleteOnFailure) {
  if (!path || !*path) throw MyError("no file name given for the movie");
  if (!callback) throw MyError("no callback given for the movie");
  std::string file(path);
  struct stat st {};
  if (::stat(file.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    throw MyError("'" + file + "' is a folder, not a movie file name");
  std::string folder = FolderOf(file);
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    throw MyError("the folder '" + folder + "' does not exist");
  if (::access(folder.c_str(), W_OK) != 0)
    throw MyError("the folder '" + folder + "' cannot be written: " + std::strerror(errno));
  std::lock_guard lock(g_lock);
  g_job.path = file;
  g_job.callback = callback;
  g_job.deleteOnFailure = deleteOnFailure;
  g_havePath = true;
  return 1;
}

int setVideo(BITMAPINFOHEADER* header, double frameRate) {
  if (!header) throw MyError("no video format given");
  if (header->biCompression != BI_RGB || (header->biBitCount != 32 && header->biBitCount != 24))
    throw MyError("the video must be uncompressed 24- or 32-bit RGB");
  LONG height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
  if (header->biWidth <= 0 || height <= 0 || header->biWidth > 4096 || height > 4096 ||
      header->biWidth % 2 != 0 || height % 2 != 0)
    throw MyError("unsupported frame size " + std::to_string(header->biWidth) + " x " +
                  std::to_string(header->biHeight) + " (even sizes up to 4096 only)");
  if (!(frameRate >= 1.0 && frameRate <= 120.0)) throw MyError("unsupported frame rate " + std::to_string(frameRate));
  VideoLayout v;
  v.width = header->biWidth;
  v.height = height;
  v.bitsPerPixel = header->biBitCount;
  v.bottomUp = header->biHeight > 0;
  v.frameRate = frameRate;
  std::lock_guard lock(g_lock);
  g_job.video = v;
  g_haveVideo = true;
  return 1;
}

int setAudio(WAVEFORMATEX* format, int bitRate) {
  if (!format) throw MyError("no audio format given");
  if (format->wFormatTag != WAVE_FORMAT_PCM || format->wBitsPerSample != 16 ||
      (format->nChannels != 1 && format->nChannels != 2) || format->nSamplesPerSec < 8000 ||
      format->nSamplesPerSec > 48000 || format->nBlockAlign != format->nChannels * 2)
    throw MyError("the audio must be 16-bit PCM, mono or stereo, 8000 to 48000 Hz");
  if (bitRate < 8000 || bitRate > 320000) throw MyError("unsupported MP3 bit rate " + std::to_string(bitRate));
  AudioLayout a;
  a.channels = format->nChannels;
  a.sampleRate = int(format->nSamplesPerSec);
  a.blockAlign = format->nBlockAlign;
  a.bitRate = bitRate;
  std::lock_guard lock(g_lock);
  g_job.audio = a;
  return 1;
}

int StartEncoder(void* started, void* idle) {
  bool expected = false;
  if (!g_encoding.compare_exchange_strong(expected, true)) {
    // The running movie owns idle; only tell this caller that nothing started.
    if (started) SetEvent(started);
    throw MyError("a movie is already being written");
  }
  IdleOnExit onExit{idle};
  if (idle) ResetEvent(idle);
  // Whoever waits for the start is released even when the movie cannot be made.
  if (started) SetEvent(started);

  MovieJob job;
  {
    std::lock_guard lock(g_lock);
    if (!g_havePath) throw MyError("no movie file prepared (CreateAVI was not called)");
    if (!g_haveVideo) throw MyError("no video format set (setVideo was not called)");
    job = g_job;
    job.qvfFormType = g_qvf;
    job.sizeLimit = g_sizeLimit;
    job.config = g_config;
    // One CreateAVI, one file: a finished movie is never overwritten by a repeated start.
    g_havePath = false;
  }
  clipmux::MovieEncoder encoder(job, g_output);
  try {
    return encoder.Run();
  } catch (...) {
    g_output.Close();
    if (job.deleteOnFailure && encoder.fileCreated()) ::unlink(job.path.c_str());
    throw;
  }
}

void SaveAVIasQVF(bool qvf) {
  std::lock_guard lock(g_lock);
  g_qvf = qvf;
}

void SetFileSizeLimit(LONGLONG bytes) {
  if (bytes < 0) throw MyError("the file size limit cannot be negative");
  std::lock_guard lock(g_lock);
  g_sizeLimit = bytes;
}

void GetConfig(CONFIG* config) {
  if (!config) throw MyError("no configuration block given");
  std::lock_guard lock(g_lock);
  *config = g_config;
}

void SetConfig(const CONFIG* config) {
  if (!config) throw MyError("no configuration block given");
  const CONFIG& c = *config;
  if (c.videoKbps < 16 || c.videoKbps > 20000)
    throw MyError("unsupported video bit rate " + std::to_string(c.videoKbps) + " kbit/s");
  if (c.keyIntervalMs == 0 || c.keyIntervalMs > kDefaultKeyIntervalMs)
    throw MyError("the key-frame interval must be 1 to 2000 ms");
  if (c.minQuantizer < 1 || c.minQuantizer > 31 || c.maxQuantizer < c.minQuantizer || c.maxQuantizer > 31)
    throw MyError("the quantiser range must lie within 1 to 31");
  if (c.macroblockDecision > 2) throw MyError("unknown macroblock decision mode");
  if (c.encoderThreads < 1 || c.encoderThreads > 8) throw MyError("the encoder may use 1 to 8 threads");
  std::lock_guard lock(g_lock);
  g_config = c;
  g_config.cbSize = sizeof(CONFIG);
}

void ResetConfig() {
  std::lock_guard lock(g_lock);
  g_config = DefaultConfig();
}

LONGLONG GetDirectBytesWrited() { return g_output.BytesWritten(); }
