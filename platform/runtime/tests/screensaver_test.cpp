// The screen-saver switch against a private session bus: one inhibition held from "off" to
// "on" with the same cookie, and a quiet, quick failure wherever there is no desktop to ask.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "media/contract/hresult.h"
#include "media/contract/sync.h"
#include "media/contract/sysparams.h"
#include "tests/support/fakescreensaver.h"
#include "tests/support/testenv.h"

namespace {

using tavtest::FakeScreenSaver;
using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point t) {
  return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

BOOL ReadActive(BOOL* active) { return SystemParametersInfo(SPI_GETSCREENSAVEACTIVE, 0, active, 0); }
BOOL SwitchTo(BOOL active) { return SystemParametersInfo(SPI_SETSCREENSAVEACTIVE, UINT(active), nullptr, 0); }

TEST(ScreenSaver, SwitchedOff_HoldsOneInhibitionUntilSwitchedOnWithTheSameCookie) {
  FakeScreenSaver bus;
  ASSERT_TRUE(bus.Ready()) << bus.Error();
  // Once through the announced address, once through the runtime folder's socket alone.
  for (bool viaRuntimeDir : {false, true}) {
    SCOPED_TRACE(viaRuntimeDir ? "XDG_RUNTIME_DIR/bus" : "DBUS_SESSION_BUS_ADDRESS");
    if (viaRuntimeDir) {
      unsetenv("DBUS_SESSION_BUS_ADDRESS");
      setenv("XDG_RUNTIME_DIR", bus.SocketFolder().c_str(), 1);
    }
    bus.ClearCalls();
    BOOL active = FALSE;
    ASSERT_TRUE(ReadActive(&active));
    EXPECT_TRUE(active);
    ASSERT_TRUE(SwitchTo(FALSE));
    ASSERT_TRUE(SwitchTo(FALSE));  // already off: no second inhibition
    ASSERT_TRUE(ReadActive(&active));
    EXPECT_FALSE(active);
    EXPECT_TRUE(SwitchTo(TRUE));
    EXPECT_TRUE(SwitchTo(TRUE));  // already on: nothing to undo
    ASSERT_TRUE(ReadActive(&active));
    EXPECT_TRUE(active);

    const auto calls = bus.Calls(2, 2000);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].method, "Inhibit");
    EXPECT_EQ(calls[0].application, "runtime_screensaver_test");
    EXPECT_FALSE(calls[0].reason.empty());
    EXPECT_EQ(calls[1].method, "UnInhibit");
    EXPECT_EQ(calls[1].cookie, calls[0].cookie);
  }
  EXPECT_EQ(SystemParametersInfo(SPI_GETSCREENSAVEACTIVE, 0, nullptr, 0), FALSE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

// No session bus, an address that leads nowhere, a bus without the service, and a socket
// that accepts but never speaks: the setting cannot be read, switching it off fails, and
// none of it prints anything or takes long.
TEST(ScreenSaver, WithoutADesktop_TheSettingCannotBeReadQuietlyAndQuickly) {
  const std::string dir = tavtest::MakeTempSubdir("nobus");
  const std::string mute = dir + "/mute";
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  snprintf(addr.sun_path, sizeof addr.sun_path, "%s", mute.c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(listener, 4), 0);

  struct Case {
    const char* name;
    std::string address;  // empty: unset
    long limitMs;
  };
  const Case cases[] = {{"unset", "", 250},
                        {"nowhere", "unix:path=" + dir + "/none", 250},
                        {"bus only", "bus", 1500},
                        {"mute socket", "unix:path=" + mute, 1500}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<FakeScreenSaver> bus;
    if (c.address == "bus") {
      bus = std::make_unique<FakeScreenSaver>(FakeScreenSaver::Mode::kBusOnly);
      ASSERT_TRUE(bus->Ready()) << bus->Error();
    } else if (c.address.empty()) {
      unsetenv("DBUS_SESSION_BUS_ADDRESS");
    } else {
      setenv("DBUS_SESSION_BUS_ADDRESS", c.address.c_str(), 1);
    }
    testing::internal::CaptureStderr();
    const auto start = Clock::now();
    BOOL active = 7;
    EXPECT_FALSE(ReadActive(&active));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(active, 7);
    const long readMs = MsSince(start);
    EXPECT_FALSE(SwitchTo(FALSE));
    EXPECT_TRUE(SwitchTo(TRUE));
    const long totalMs = MsSince(start);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_LT(readMs, c.limitMs);
    EXPECT_LT(totalMs, 2 * c.limitMs);
  }
  close(listener);
}

TEST(ScreenSaver, ServiceThatNeverAnswers_CostsOnlyTheShortTimeout) {
  FakeScreenSaver bus(FakeScreenSaver::Mode::kSilent);
  ASSERT_TRUE(bus.Ready()) << bus.Error();
  BOOL active = FALSE;
  ASSERT_TRUE(ReadActive(&active));  // the bus itself answers that the name is owned
  const auto start = Clock::now();
  EXPECT_FALSE(SwitchTo(FALSE));
  EXPECT_LT(MsSince(start), 1500);
  EXPECT_EQ(bus.Calls(1, 1000).size(), 1u);
  // Nothing is held, so switching on again asks nothing.
  EXPECT_TRUE(SwitchTo(TRUE));
  ASSERT_TRUE(ReadActive(&active));
  EXPECT_TRUE(active);
  EXPECT_EQ(bus.Calls().size(), 1u);
}

}  // namespace
