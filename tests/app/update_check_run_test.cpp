// The update check run: one check per run on a thread of its own, its end told once and after the check,
// nothing told to a dialog that has gone first.
#include "app/update_check_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/update_gate.h"

namespace ocelo {
namespace {

using test::StallingGate;

std::atomic<int> g_started{0};
std::atomic<int> g_returned{0};
std::atomic<int> g_ended{0};
std::atomic<int> g_returned_at_end{-1};

// Waits at the gate like a check on a server that never answers.
bool GatedCheck() {
  ++g_started;
  StallingGate().Pass();
  ++g_returned;
  return false;
}

void NoteEnd() {
  g_returned_at_end = g_returned.load();
  ++g_ended;
}

// Waits until `done` holds; false when it still does not after a minute, a bound only a lost end reaches.
template <typename Done>
bool WaitUntil(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!done() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return done();
}

TEST(UpdateCheckRun, OneCheckItsEndToldOnceAfterItAndNeverToADialogThatLeft) {
  EXPECT_FALSE(UpdateCheckRun(nullptr).Start(&NoteEnd));

  // The dialog stays: the end is told once, after the check has returned.
  StallingGate().Reset();
  {
    UpdateCheckRun run(&GatedCheck);
    EXPECT_FALSE(run.Running());
    ASSERT_TRUE(run.Start(&NoteEnd));
    StallingGate().WaitUntilEntered();
    EXPECT_TRUE(run.Running());
    EXPECT_TRUE(UpdateCheckRun::AnyRunning());
    EXPECT_FALSE(run.Start(&NoteEnd)) << "a second start while the check runs";
    run.Join();  // returns at once: the dialog never waits for the check
    EXPECT_EQ(g_ended, 0);
    StallingGate().Open();
    ASSERT_TRUE(WaitUntil([] { return g_ended > 0; }));
    EXPECT_EQ(g_returned_at_end, 1);
    EXPECT_FALSE(run.Running());
    EXPECT_FALSE(UpdateCheckRun::AnyRunning());
    run.Join();
    EXPECT_FALSE(run.Start(&NoteEnd)) << "a second start after the end";
  }

  // The dialog goes while the check waits: Detach returns at once, the check ends alone and tells nobody
  // (Running takes the lock the end is told under, so once it is false the end has been told or never
  // will be).
  StallingGate().Reset();
  {
    UpdateCheckRun run(&GatedCheck);
    ASSERT_TRUE(run.Start(&NoteEnd));
    StallingGate().WaitUntilEntered();
    run.Detach();
    EXPECT_TRUE(run.Running());
    EXPECT_FALSE(run.Start(&NoteEnd));
    StallingGate().Open();
    ASSERT_TRUE(WaitUntil([&] { return !run.Running(); }));
  }
  EXPECT_FALSE(UpdateCheckRun::AnyRunning());
  EXPECT_EQ(g_started, 2);
  EXPECT_EQ(g_returned, 2);
  EXPECT_EQ(g_ended, 1);
}

}  // namespace
}  // namespace ocelo
