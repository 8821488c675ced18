// Long waits and the clock in one place: the shipped program keeps the described retries,
// tests shorten the waits and move "now" without touching the code that waits.
#pragma once

#include <chrono>
#include <cstdint>

namespace ocelo {

/// How long the program waits for busy files and slow helpers.
struct WaitPolicy {
  int open_attempts = 100;                            ///< opening a busy file: attempts...
  std::chrono::milliseconds open_wait{100};           ///< ...and the pause after each failed one
  int rewrite_limit = 10;                             ///< a write that reads back empty: rewrites after the first...
  std::chrono::milliseconds rewrite_wait{10};         ///< ...each after this pause
  std::chrono::milliseconds program_lookup{10000};    ///< the longest wait for a program lookup
  std::chrono::milliseconds connect_timeout{5000};    ///< a web download: connecting to the server...
  std::chrono::milliseconds transfer_timeout{30000};  ///< ...and the whole transfer, connection included
  void (*pause_hook)(std::chrono::milliseconds) = nullptr;  ///< tests: sees each Pause instead of sleeping it
};

/// The policy in force for the process.
const WaitPolicy& Waits();

/// Replaces the policy (tests); returns the previous one.
WaitPolicy SetWaits(const WaitPolicy& policy);

/// Sleeps for the given time (nothing for zero or less); with a pause hook in the policy, calls it instead.
void Pause(std::chrono::milliseconds duration);

/// Whether waiting can clear a failure with this C error number: a lock that another open file holds
/// (EBUSY), a call broken off by a signal (EINTR), a resource that is not available yet (EAGAIN,
/// EWOULDBLOCK), a program file that is being written or run (ETXTBSY). Everything else is permanent and
/// fails at once: no permission (EACCES, EPERM, EROFS), a folder or a bad name where a file should be
/// (EISDIR, ENOTDIR, ENAMETOOLONG, EINVAL), a missing file or folder (ENOENT: waiting does not create
/// it), a full disk or quota (ENOSPC, EDQUOT, EFBIG), a failed device (EIO), no memory (ENOMEM).
[[nodiscard]] bool IsBusy(int error);

/// How the pauses between the attempts of RetryWhileBusy run.
enum class BusyPauses {
  kSteady,   ///< up to Waits().open_attempts attempts, Waits().open_wait after each busy one (the last too)
  kBackOff,  ///< the same whole wait (open_attempts x open_wait), in pauses from 1 ms doubling up to
             ///< open_wait: for a lock that its holders keep only for a moment
};

/// Calls `attempt`, which returns 0 or a C error number, until it succeeds, fails with an error that
/// waiting cannot clear (IsBusy false: returned after that one attempt), or the wait runs out (the last
/// busy error is returned). There is always at least one attempt. Nothing is written to the dump log, so
/// the dump log's own append can use it.
///
/// On Windows the only failure that the program's waits wait out is a sharing violation (another process
/// holds the file without sharing it). This is the Linux adaptation: the busy advisory lock is the sharing
/// violation, and the other errors that a later attempt can get past (EINTR, EAGAIN, ETXTBSY) join it.
template <class Attempt>
[[nodiscard]] int RetryWhileBusy(Attempt attempt, BusyPauses pauses = BusyPauses::kSteady);

namespace detail {

/// The pauses of one RetryWhileBusy: Next pauses after a busy attempt and tells whether another follows.
class BusyWait {
 public:
  explicit BusyWait(BusyPauses pauses);
  bool Next();

 private:
  BusyPauses pauses_;
  int attempts_ = 1;  ///< attempts made so far
  std::chrono::milliseconds waited_{0};
  std::chrono::milliseconds pause_{1};
};

}  // namespace detail

template <class Attempt>
int RetryWhileBusy(Attempt attempt, BusyPauses pauses) {
  detail::BusyWait wait(pauses);
  for (;;) {
    const int error = attempt();
    if (error == 0 || !IsBusy(error) || !wait.Next()) return error;
  }
}

/// The current time in seconds since 1970, moved by the offset that tests set.
std::int64_t Now();

/// Moves the program's clock by the given number of seconds (tests); returns the previous offset.
std::int64_t SetClockOffset(std::int64_t seconds);

}  // namespace ocelo
