#include "converter/cli/interrupts.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <initializer_list>

#include "media/contract/window.h"

namespace tav::cli {

namespace {

volatile std::sig_atomic_t g_interrupts = 0;
// The handler writes a byte into [1] so that a loop polling [0] wakes at once.
int g_wakePipe[2] = {-1, -1};

void OnInterrupt(int) {
  g_interrupts = g_interrupts + 1;
  if (g_interrupts >= 2) _exit(1);
  if (g_wakePipe[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = write(g_wakePipe[1], &byte, 1);
  }
}

}  // namespace

void InstallInterruptHandlers() {
  if (pipe2(g_wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) g_wakePipe[0] = g_wakePipe[1] = -1;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}

int InterruptCount() { return g_interrupts; }

int InterruptWakeFd() { return g_wakePipe[0]; }

void DrainInterruptWake() {
  char drain[16];
  while (g_wakePipe[0] >= 0 && read(g_wakePipe[0], drain, sizeof drain) > 0) {
  }
}

void WaitForMessageOrInterrupt(int timeoutMs) {
  pollfd fds[2] = {{MessageQueueFd(), POLLIN, 0}, {g_wakePipe[0], POLLIN, 0}};
  if (poll(fds, g_wakePipe[0] >= 0 ? 2 : 1, timeoutMs) > 0 && (fds[1].revents & POLLIN)) DrainInterruptWake();
}

}  // namespace tav::cli
