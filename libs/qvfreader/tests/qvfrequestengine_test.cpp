// The reader's byte view and request engine, without a graph: the header patch, the probe,
// reads at the end of the file, and the flush protocol under load.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "libs/qvfreader/qvffilestream.h"
#include "libs/qvfreader/qvfrequestengine.h"
#include "libs/qvfreader/tests/moviebytes.h"
#include "tests/support/testenv.h"

namespace {

using qvftest::MovieBytes;
using tavtest::WriteTempFile;

std::string Read(QvfRequestEngine& engine, LONGLONG at, LONG count, HRESULT* hr = nullptr) {
  std::string out(size_t(count), '\xEE');
  LONG got = 0;
  HRESULT r = engine.SyncRead(at, count, FALSE, reinterpret_cast<BYTE*>(out.data()), nullptr, &got);
  if (hr) *hr = r;
  out.resize(size_t(got));
  return out;
}

TEST(qvfreader_Stream, FormTypeByteReadsAsSpace_OnlyWhenTheReadCoversIt) {
  const std::string original = MovieBytes(true, 4096);
  std::string path = WriteTempFile("patch.qvf", original);
  QvfFileStream stream([&] { return path; });
  QvfRequestEngine engine(&stream);

  EXPECT_EQ(Read(engine, 0, 12).substr(8, 4), "AVI ");
  EXPECT_EQ(Read(engine, 0, 11), original.substr(0, 11));
  EXPECT_EQ(Read(engine, 11, 1), " ");
  EXPECT_EQ(Read(engine, 12, 20), original.substr(12, 20));
  std::string fromFive = Read(engine, 5, 100);
  EXPECT_EQ(fromFive[6], ' ');
  EXPECT_EQ(fromFive.substr(7), original.substr(12, 93));
  std::string whole = Read(engine, 0, 4096);
  std::string expected = original;
  expected[11] = ' ';
  EXPECT_EQ(whole, expected) << "exactly one byte differs from the file";

  // An ordinary AVI file reads unchanged.
  std::string avi = MovieBytes(false, 256);
  std::string aviPath = WriteTempFile("plain.avi", avi);
  QvfFileStream aviStream([&] { return aviPath; });
  QvfRequestEngine aviEngine(&aviStream);
  EXPECT_EQ(Read(aviEngine, 0, 256), avi);
}

TEST(qvfreader_Stream, ShortFileNearTheFormType_GetsNoStrayByte) {
  std::string path = WriteTempFile("tiny.qvf", MovieBytes(true, 10));
  QvfFileStream stream([&] { return path; });
  QvfRequestEngine engine(&stream);
  std::string buffer(20, '\xEE');
  LONG got = 0;
  EXPECT_EQ(engine.SyncRead(0, 20, FALSE, reinterpret_cast<BYTE*>(buffer.data()), nullptr, &got), S_FALSE);
  EXPECT_EQ(got, 10);
  EXPECT_EQ(buffer[11], '\xEE');
}

TEST(qvfreader_Stream, Probe_AcceptsAviAndQvf_RefusesShortForeignAndMissing) {
  EXPECT_EQ(ProbeQvfFile(WriteTempFile("a.qvf", MovieBytes(true, 88))), QvfProbe::Movie);
  EXPECT_EQ(ProbeQvfFile(WriteTempFile("a.avi", MovieBytes(false, 200))), QvfProbe::Movie);
  EXPECT_EQ(ProbeQvfFile(WriteTempFile("short.qvf", MovieBytes(true, 87))), QvfProbe::Foreign);
  std::string wave = MovieBytes(false, 200);
  wave.replace(8, 4, "WAVE");
  EXPECT_EQ(ProbeQvfFile(WriteTempFile("sound.wav", wave)), QvfProbe::Foreign);
  std::string movi = MovieBytes(true, 200);
  movi.replace(20, 4, "movi");
  EXPECT_EQ(ProbeQvfFile(WriteTempFile("nohdrl.qvf", movi)), QvfProbe::Foreign);
  std::string noAvih = MovieBytes(true, 200);
  noAvih.replace(24, 4, "strl");
  EXPECT_EQ(ProbeQvfFile(WriteTempFile("noavih.qvf", noAvih)), QvfProbe::Foreign);
  EXPECT_EQ(ProbeQvfFile(tavtest::TempDir() + "/missing.qvf"), QvfProbe::CannotOpen);
  EXPECT_EQ(ProbeQvfFile(std::string(300, 'x')), QvfProbe::CannotOpen);
}

TEST(qvfreader_Stream, MissingFile_FailsWithFileNotFound) {
  QvfFileStream stream([] { return tavtest::TempDir() + "/gone.qvf"; });
  stream.Lock();
  LONGLONG size = 0;
  EXPECT_EQ(stream.SizeLocked(&size), HRESULT(0x80070002));
  EXPECT_EQ(stream.SetPointerLocked(0), HRESULT(0x80070002));
  stream.Unlock();
}

TEST(qvfreader_Engine, RequestsPastTheEnd_ComeBackShort) {
  std::string path = WriteTempFile("end.qvf", MovieBytes(true, 1000));
  QvfFileStream stream([&] { return path; });
  QvfRequestEngine engine(&stream);
  std::vector<BYTE> a(100), b(100), c(100);
  ASSERT_EQ(engine.Request(960, 100, TRUE, a.data(), nullptr, 1), S_OK);  // ends at the end of the file
  ASSERT_EQ(engine.Request(2000, 100, TRUE, b.data(), nullptr, 2), S_OK);  // starts past it
  ASSERT_EQ(engine.Request(0, 100, TRUE, c.data(), nullptr, 3), S_OK);
  std::map<DWORD_PTR, std::pair<HRESULT, LONG>> seen;
  for (int i = 0; i < 3; ++i) {
    IMediaSample* ctx = nullptr;
    DWORD_PTR user = 0;
    LONG length = -1;
    HRESULT hr = engine.WaitForNext(2000, &ctx, &user, &length);
    seen[user] = {hr, length};
  }
  EXPECT_TRUE(SUCCEEDED(seen[1].first));
  EXPECT_EQ(seen[1].second, 40);
  EXPECT_EQ(seen[2].first, E_FAIL);
  EXPECT_EQ(seen[3].first, S_OK);
  EXPECT_EQ(seen[3].second, 100);
  EXPECT_EQ(c[11], 0x20);
  IMediaSample* ctx = nullptr;
  DWORD_PTR user = 0;
  LONG length = 0;
  EXPECT_EQ(engine.WaitForNext(20, &ctx, &user, &length), VFW_E_TIMEOUT);
}

TEST(qvfreader_Engine, Flush_CancelsWaitingRequests_RefusesNewOnes_AndWaitsForTheOneBeingRead) {
  std::string path = WriteTempFile("flush.qvf", MovieBytes(true, 1 << 16));
  // The worker opens the file inside its first request: holding it there stalls that request.
  HANDLE opening = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  HANDLE mayOpen = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  QvfFileStream stream([&] {
    SetEvent(opening);
    WaitForSingleObject(mayOpen, 30000);
    return path;
  });
  QvfRequestEngine engine(&stream);
  std::vector<std::vector<BYTE>> buffers(6, std::vector<BYTE>(512));

  for (int i = 0; i < 6; ++i) ASSERT_EQ(engine.Request(i * 512, 512, TRUE, buffers[i].data(), nullptr, DWORD_PTR(i)), S_OK);
  ASSERT_EQ(WaitForSingleObject(opening, 10000), WAIT_OBJECT_0) << "the worker never took a request";
  std::atomic<bool> flushed{false};
  std::atomic<int> flusherId{0};
  std::thread flusher([&] {
    flusherId = tavtest::CurrentThreadId();
    engine.BeginFlush();
    flushed = true;
  });
  EXPECT_TRUE(tavtest::WaitFor([&] { return flushed || (flusherId && tavtest::ThreadIsBlocked(flusherId)); }));
  EXPECT_FALSE(flushed) << "the flush must wait for the request being read";
  EXPECT_EQ(engine.Request(0, 512, TRUE, buffers[0].data(), nullptr, 99), VFW_E_WRONG_STATE);
  SetEvent(mayOpen);
  flusher.join();

  int served = 0, cancelled = 0;
  for (;;) {
    IMediaSample* ctx = nullptr;
    DWORD_PTR user = 0;
    LONG length = 0;
    HRESULT hr = engine.WaitForNext(1000, &ctx, &user, &length);
    if (hr == VFW_E_WRONG_STATE) break;  // flushing and nothing left
    ASSERT_NE(user, DWORD_PTR(99));
    if (hr == S_OK) ++served;
    else if (hr == VFW_E_TIMEOUT) ++cancelled;
    else ADD_FAILURE() << std::hex << hr;
  }
  EXPECT_EQ(served, 1);
  EXPECT_EQ(cancelled, 5);

  engine.EndFlush();
  ASSERT_EQ(engine.Request(0, 512, TRUE, buffers[0].data(), nullptr, 7), S_OK);
  IMediaSample* ctx = nullptr;
  DWORD_PTR user = 0;
  LONG length = 0;
  EXPECT_EQ(engine.WaitForNext(2000, &ctx, &user, &length), S_OK);
  EXPECT_EQ(user, DWORD_PTR(7));
  CloseHandle(opening);
  CloseHandle(mayOpen);
}

TEST(qvfreader_Engine, ManyReadersAndFlushes_LoseNothingAndNeverHang) {
  const int kSize = 1 << 18;
  std::string expected = MovieBytes(true, kSize);
  std::string path = WriteTempFile("load.qvf", expected);
  expected[11] = ' ';
  QvfFileStream stream([&] { return path; });
  QvfRequestEngine engine(&stream);

  constexpr int kThreads = 4, kPerThread = 400;
  constexpr DWORD_PTR kNone = ~DWORD_PTR(0);
  auto offsetOf = [&](DWORD_PTR id) { return LONGLONG(id * 97 % (kSize - 256)); };
  std::vector<std::vector<BYTE>> buffers(kThreads * kPerThread, std::vector<BYTE>(256));
  std::vector<std::atomic<int>> backCount(kThreads * kPerThread);
  std::atomic<int> queued{0}, returned{0}, wrong{0};

  // Takes one completed request if there is one; counts it and checks what was read.
  auto take = [&](DWORD timeoutMs) {
    IMediaSample* ctx = nullptr;
    DWORD_PTR user = kNone;
    LONG length = 0;
    HRESULT hr = engine.WaitForNext(timeoutMs, &ctx, &user, &length);
    if (user == kNone) {
      if (hr != VFW_E_TIMEOUT && hr != VFW_E_WRONG_STATE) ++wrong;
      return false;
    }
    ++backCount[user];
    ++returned;
    if (hr == S_OK) {
      if (length != 256 || std::memcmp(buffers[user].data(), expected.data() + offsetOf(user), 256) != 0) ++wrong;
    } else if (hr != VFW_E_TIMEOUT) {
      ++wrong;  // only reads and cancellations are expected
    }
    return true;
  };

  std::atomic<bool> producing{true};
  std::vector<std::thread> producers;
  for (int t = 0; t < kThreads; ++t)
    producers.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        DWORD_PTR id = DWORD_PTR(t * kPerThread + i);
        HRESULT hr = engine.Request(offsetOf(id), 256, TRUE, buffers[id].data(), nullptr, id);
        if (hr == S_OK) ++queued;
        else if (hr != VFW_E_WRONG_STATE) ++wrong;
        if (i % 4 == 0) take(0);
      }
    });
  std::thread flusher([&] {
    // Flushes interleaved with the producers at a pace that lets some requests through.
    while (producing) {
      engine.BeginFlush();
      Sleep(1);
      engine.EndFlush();
      Sleep(2);
    }
  });
  for (auto& p : producers) p.join();
  producing = false;
  flusher.join();

  // Every queued request comes back exactly once, read or cancelled.
  for (int idle = 0; returned < queued && idle < 20;) idle = take(100) ? 0 : idle + 1;
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(queued, 0);
  EXPECT_EQ(returned.load(), queued.load());
  int twice = 0;
  for (auto& c : backCount) twice += c > 1;
  EXPECT_EQ(twice, 0);
}

}  // namespace
