// The system reference clock: monotonic time, one-shot and periodic advise requests.
#include <chrono>
#include <thread>
#include <vector>

#include "media/contract/sync.h"
#include "platform/streaming/tests/graph_testutil.h"

namespace {

constexpr REFERENCE_TIME kMs = MILLISECONDS;

class GraphClockTest : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    ASSERT_EQ(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, &clock_), S_OK);
    event_ = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  }
  void TearDown() override {
    clock_ = nullptr;
    CloseHandle(event_);
    GraphTest::TearDown();
  }
  REFERENCE_TIME Now() {
    REFERENCE_TIME t = 0;
    clock_->GetTime(&t);
    return t;
  }
  ComPtr<IReferenceClock> clock_;
  HANDLE event_ = nullptr;
};

TEST_F(GraphClockTest, GetTime_IsMonotonicAndFollowsWallTime) {
  REFERENCE_TIME last = Now();
  for (int i = 0; i < 1000; ++i) {
    REFERENCE_TIME t = 0;
    ASSERT_TRUE(SUCCEEDED(clock_->GetTime(&t)));
    ASSERT_GE(t, last);
    last = t;
  }
  auto wall0 = std::chrono::steady_clock::now();
  REFERENCE_TIME t0 = Now();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the span the two clocks measure
  REFERENCE_TIME elapsed = Now() - t0;
  auto wall = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - wall0).count();
  EXPECT_NEAR(static_cast<double>(elapsed) / 10, static_cast<double>(wall), 2000.0);
  EXPECT_EQ(clock_->GetTime(nullptr), E_POINTER);
}

TEST_F(GraphClockTest, AdviseTime_SignalsAtTheDueTimeOnlyOnce) {
  DWORD_PTR cookie = 0;
  REFERENCE_TIME start = Now();
  ASSERT_EQ(clock_->AdviseTime(start, 30 * kMs, reinterpret_cast<HEVENT>(event_), &cookie), S_OK);
  EXPECT_NE(cookie, 0u);
  // Never early; how late depends on the machine's load, so the wait's own limit is the
  // only bound (a busy machine made a 50 ms bound fail on a clock that was right).
  ASSERT_EQ(WaitForSingleObject(event_, 2000), WAIT_OBJECT_0);
  REFERENCE_TIME late = Now() - (start + 30 * kMs);
  EXPECT_GE(late, 0);
  EXPECT_EQ(WaitForSingleObject(event_, 60), static_cast<DWORD>(WAIT_TIMEOUT));
  // A request already fired is gone.
  EXPECT_EQ(clock_->Unadvise(cookie), S_FALSE);
}

TEST_F(GraphClockTest, Unadvise_CancelsAPendingRequest) {
  DWORD_PTR cookie = 0;
  ASSERT_EQ(clock_->AdviseTime(Now(), 40 * kMs, reinterpret_cast<HEVENT>(event_), &cookie), S_OK);
  EXPECT_EQ(clock_->Unadvise(cookie), S_OK);
  EXPECT_EQ(WaitForSingleObject(event_, 120), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(GraphClockTest, AdvisePeriodic_SignalsEveryPeriodUntilCancelled) {
  DWORD_PTR cookie = 0;
  REFERENCE_TIME start = Now() + 10 * kMs;
  ASSERT_EQ(clock_->AdvisePeriodic(start, 20 * kMs, reinterpret_cast<HSEMAPHORE>(event_), &cookie), S_OK);
  std::vector<REFERENCE_TIME> ticks;
  while (ticks.size() < 6 && WaitForSingleObject(event_, 1000) == WAIT_OBJECT_0) ticks.push_back(Now() - start);
  ASSERT_EQ(ticks.size(), 6u);
  // Each tick lies at or after its slot on the 20 ms grid; the grid does not drift.
  EXPECT_GE(ticks.back(), 5 * 20 * kMs);
  EXPECT_LT(ticks.back(), 5 * 20 * kMs + 80 * kMs);
  EXPECT_EQ(clock_->Unadvise(cookie), S_OK);
  WaitForSingleObject(event_, 0);
  EXPECT_EQ(WaitForSingleObject(event_, 80), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(GraphClockTest, BadRequests_AreRefused) {
  DWORD_PTR cookie = 0;
  EXPECT_EQ(clock_->AdviseTime(Now(), 10 * kMs, 0, &cookie), E_INVALIDARG);
  EXPECT_EQ(clock_->AdviseTime(Now(), 10 * kMs, reinterpret_cast<HEVENT>(event_), nullptr), E_POINTER);
  EXPECT_EQ(clock_->AdviseTime(0, 0, reinterpret_cast<HEVENT>(event_), &cookie), E_INVALIDARG);
  EXPECT_EQ(clock_->AdvisePeriodic(Now(), 0, reinterpret_cast<HSEMAPHORE>(event_), &cookie), E_INVALIDARG);
  EXPECT_EQ(clock_->Unadvise(12345), S_FALSE);
}

}  // namespace
