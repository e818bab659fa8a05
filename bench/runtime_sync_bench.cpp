// Throughput of the runtime's sync objects and message queues, against the rates the
// streaming hand-over protocols need (one event round trip per frame and per audio chunk;
// graph events and a 100-ms timer on the UI queue).
//   bench_runtime_sync [ROUND_TRIPS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "media/contract/sync.h"
#include "media/contract/window.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

struct PingPong {
  HANDLE ping, pong;
  int rounds;
};

DWORD Ponger(void* p) {
  auto* pp = static_cast<PingPong*>(p);
  for (int i = 0; i < pp->rounds; ++i) {
    WaitForSingleObject(pp->ping, INFINITE);
    SetEvent(pp->pong);
  }
  return 0;
}

LRESULT CountProc(HWND hwnd, UINT, WPARAM, LPARAM) {
  ++*static_cast<long*>(GetWindowUserData(hwnd));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 100000;
  int failures = 0;

  // Two threads handing over through a pair of auto-reset events, like a pin and the
  // encoder thread passing a frame.
  PingPong pp{CreateEvent(nullptr, FALSE, FALSE, nullptr), CreateEvent(nullptr, FALSE, FALSE, nullptr), rounds};
  HANDLE th = CreateThread(nullptr, 0, Ponger, &pp, 0, nullptr);
  auto start = Clock::now();
  for (int i = 0; i < rounds; ++i) {
    SetEvent(pp.ping);
    WaitForSingleObject(pp.pong, INFINITE);
  }
  const double perRoundUs = Seconds(start) * 1e6 / rounds;
  WaitForSingleObject(th, INFINITE);
  CloseHandle(th);
  // A conversion at 30 fps needs a few hundred hand-overs per second; this leaves ample room
  // on a loaded machine.
  constexpr double kTargetRoundUs = 200.0;
  printf("event round trip: %.2f us (target < %.0f us)\n", perRoundUs, kTargetRoundUs);
  if (perRoundUs > kTargetRoundUs) ++failures;

  // Several threads posting to one window, drained by its owner.
  long received = 0;
  HWND hwnd = CreatePlatformWindow(CountProc, &received);
  constexpr int kPosters = 4;
  const long perPoster = rounds;
  start = Clock::now();
  std::vector<std::thread> posters;
  for (int t = 0; t < kPosters; ++t)
    posters.emplace_back([&] {
      for (long i = 0; i < perPoster; ++i)
        while (!PostMessage(hwnd, WM_APP, 0, 0)) std::this_thread::yield();  // queue full: retry
    });
  MSG m;
  while (received < kPosters * perPoster && GetMessage(&m, nullptr, 0, 0)) DispatchMessage(&m);
  for (auto& t : posters) t.join();
  const double msgsPerSec = received / Seconds(start);
  constexpr double kTargetMsgsPerSec = 200000;
  printf("posted messages: %.0f per second (target > %.0f)\n", msgsPerSec, kTargetMsgsPerSec);
  if (msgsPerSec < kTargetMsgsPerSec) ++failures;
  DestroyWindow(hwnd);
  return failures ? 1 : 0;
}
