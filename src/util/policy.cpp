// Long waits and the clock: the process-wide policy and its test hooks.
#include "util/policy.h"

#include <algorithm>
#include <cerrno>
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
  if (const auto hook = Waits().pause_hook) return hook(duration);
  if (duration.count() > 0) std::this_thread::sleep_for(duration);
}

bool IsBusy(int error) {
  return error == EBUSY || error == EINTR || error == EAGAIN || error == EWOULDBLOCK || error == ETXTBSY;
}

namespace detail {

BusyWait::BusyWait(BusyPauses pauses) : pauses_(pauses) {}

bool BusyWait::Next() {
  const WaitPolicy& waits = Waits();
  if (pauses_ == BusyPauses::kSteady) {
    Pause(waits.open_wait);
    return attempts_++ < waits.open_attempts;
  }
  const std::chrono::milliseconds limit = waits.open_wait * std::max(waits.open_attempts, 0);
  if (waited_ >= limit) return false;
  const std::chrono::milliseconds pause = std::min(pause_, limit - waited_);
  Pause(pause);
  waited_ += pause;
  pause_ = std::min(pause_ * 2, std::max(waits.open_wait, std::chrono::milliseconds(1)));
  ++attempts_;
  return true;
}

}  // namespace detail

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)) + ClockOffset(); }

std::int64_t SetClockOffset(std::int64_t seconds) {
  std::int64_t previous = ClockOffset();
  ClockOffset() = seconds;
  return previous;
}

}  // namespace ocelo
