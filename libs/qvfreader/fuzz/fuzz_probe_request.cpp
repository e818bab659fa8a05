// libFuzzer target: any bytes as a camera movie file, probed the way the reader filter probes
// a loaded file, then read through the pin's request engine with fuzzed positions, lengths,
// queued and synchronous reads, flushes and re-opens. Every read must deliver exactly the
// file's bytes (the form type's last byte as an AVI file has it), touch nothing past what it
// reports, and end short only at the end of the file; anything else aborts.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "libs/qvfreader/qvffilestream.h"
#include "libs/qvfreader/qvfrequestengine.h"

namespace {

constexpr BYTE kGuard = 0xA5;
constexpr LONG kMaxLength = 1 << 16;

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "qvfreader fuzz: %s\n", what);
  std::abort();
}

// One read's buffer with guard bytes behind the requested length.
struct ReadBuffer {
  explicit ReadBuffer(LONG length) : bytes(size_t(length > 0 ? length : 0) + 16, kGuard) {}
  BYTE* Data() { return bytes.data(); }
  std::vector<BYTE> bytes;
};

// What a read of length bytes at position must deliver from this file.
void CheckDelivered(const std::vector<BYTE>& file, LONGLONG position, LONG length, HRESULT hr, LONG got,
                    const ReadBuffer& buffer) {
  if (position < 0 || length < 0) {
    Check(FAILED(hr), "a negative position or length was read");
    return;
  }
  if (FAILED(hr)) return;  // positioning past what the file system allows
  const LONGLONG size = LONGLONG(file.size());
  const LONGLONG available = position >= size ? 0 : size - position;
  const LONG want = LONG(available < length ? available : length);
  Check(got == want, "a read delivered another count than the file holds");
  Check(hr == (got == length ? S_OK : S_FALSE), "a short read was not reported as short");
  for (LONG i = 0; i < got; ++i) {
    const LONGLONG at = position + i;
    const BYTE expected = at == kQvfFormTypeLastByte ? BYTE(0x20) : file[size_t(at)];
    Check(buffer.bytes[size_t(i)] == expected, "a delivered byte differs from the file");
  }
  for (size_t i = size_t(got > length ? got : length); i < buffer.bytes.size(); ++i)
    Check(buffer.bytes[i] == kGuard, "a read wrote past its length");
  if (got < length) {
    for (LONG i = got; i < length; ++i) Check(buffer.bytes[size_t(i)] == kGuard, "a short read wrote past its end");
  }
}

struct Queued {
  LONGLONG position;
  LONG length;
  std::unique_ptr<ReadBuffer> buffer;
};

LONGLONG FuzzedPosition(FuzzedDataProvider& in, LONGLONG size) {
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: return in.ConsumeIntegralInRange<LONGLONG>(-16, size + 16);
    case 1: return in.ConsumeIntegralInRange<LONGLONG>(0, 96);
    case 2: return size - in.ConsumeIntegralInRange<LONGLONG>(0, 32);
    default: return in.ConsumeIntegral<LONGLONG>();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/qvfreader_fuzz_" + std::to_string(getpid()) + ".qvf";
  FuzzedDataProvider in(data, size);
  // Operations come from the end of the input, the file from its start, so that the header
  // bytes mutate freely.
  struct Op {
    int kind;
    LONGLONG position;
    LONG length;
  };
  std::vector<Op> ops(in.ConsumeIntegralInRange<size_t>(0, 24));
  const std::vector<BYTE> file = [&] {
    // Reserve what the operations need before taking the rest as the file.
    const size_t opBytes = std::min(in.remaining_bytes(), ops.size() * 14);
    const size_t fileBytes = in.remaining_bytes() - opBytes;
    return in.ConsumeBytes<BYTE>(fileBytes);
  }();
  for (Op& op : ops) {
    op.kind = in.ConsumeIntegralInRange<int>(0, 5);
    op.position = FuzzedPosition(in, LONGLONG(file.size()));
    op.length = in.ConsumeIntegralInRange<LONG>(-4, kMaxLength);
  }

  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  if (!file.empty()) std::fwrite(file.data(), 1, file.size(), f);
  std::fclose(f);

  // The probe agrees with the header check on the same bytes.
  const QvfProbe probe = ProbeQvfFile(path);
  Check(probe != QvfProbe::CannotOpen, "an existing file could not be probed");
  Check((probe == QvfProbe::Movie) == IsQvfHeader(file.data(), int(std::min<size_t>(file.size(), kQvfHeaderBytes))),
        "the probe and the header check disagree");

  QvfFileStream stream([] { return path; });
  std::vector<Queued> queued;
  {
    QvfRequestEngine engine(&stream);
    auto collect = [&](DWORD timeoutMs) {
      IMediaSample* context = nullptr;
      DWORD_PTR user = 0;
      LONG got = 0;
      const HRESULT hr = engine.WaitForNext(timeoutMs, &context, &user, &got);
      // Nothing came back: a time-out, or a flush with nothing left.
      if (user == 0) return false;
      Check(user <= queued.size(), "a completed request came back with a foreign user word");
      Queued& q = queued[user - 1];
      Check(q.buffer != nullptr, "a request completed twice");
      if (hr != VFW_E_TIMEOUT) {
        // A queued short read fails unless it ends at the end of the file.
        HRESULT asRead = hr;
        if (hr == E_FAIL && q.position >= 0 && q.length >= 0 && got < q.length) {
          Check(q.position + got != LONGLONG(file.size()), "a short read at the end of the file failed");
          asRead = S_FALSE;
        } else if (hr == S_FALSE) {
          Check(q.position + got == LONGLONG(file.size()), "a short read before the end was not a failure");
        }
        CheckDelivered(file, q.position, q.length, asRead, got, *q.buffer);
      }
      q.buffer.reset();
      return true;
    };
    for (const Op& op : ops) {
      switch (op.kind) {
        case 0:
        case 1: {
          ReadBuffer buffer(op.length);
          LONG got = -1;
          const HRESULT hr = engine.SyncRead(op.position, op.length, op.kind == 1, buffer.Data(), nullptr, &got);
          CheckDelivered(file, op.position, op.length, hr, got, buffer);
          break;
        }
        case 2:
        case 3: {
          queued.push_back({op.position, op.length, std::make_unique<ReadBuffer>(op.length)});
          const HRESULT hr = engine.Request(op.position, op.length, op.kind == 3, queued.back().buffer->Data(),
                                            nullptr, DWORD_PTR(queued.size()));
          if (FAILED(hr)) queued.back().buffer.reset();
          break;
        }
        case 4:
          // Everything queued comes back, served or cancelled.
          engine.BeginFlush();
          while (collect(0)) {
          }
          engine.EndFlush();
          break;
        default:
          stream.Lock();
          stream.CloseLocked();
          stream.Unlock();
          break;
      }
    }
    while (true) {
      bool pending = false;
      for (const Queued& q : queued) pending = pending || q.buffer != nullptr;
      if (!pending) break;
      Check(collect(10000), "a queued request never came back");
    }
  }
  return 0;
}
