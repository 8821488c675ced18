// Long waits and the clock: the process-wide policy and its test hooks.
#include "util/policy.h"

#include <ctime>
#include <thread>

namespace ocelo {
namespace {

WaitPolicy& CurrentPolicy() {
  static WaitPolicy policy;
  return policy;
}

std::int64_t& ClockOffset() {
  static std::int64_t offset = 0;
  return offset;
}

}  // namespace

const WaitPolicy& Waits() { return CurrentPolicy(); }

WaitPolicy SetWaits(const WaitPolicy& policy) {
  WaitPolicy previous = CurrentPolicy();
  CurrentPolicy() = policy;
  return previous;
}

void Pause(std::chrono::milliseconds duration) {
  if (duration.count() > 0) std::this_thread::sleep_for(duration);
}

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)) + ClockOffset(); }

std::int64_t SetClockOffset(std::int64_t seconds) {
  std::int64_t previous = ClockOffset();
  ClockOffset() = seconds;
  return previous;
}

}  // namespace ocelo
