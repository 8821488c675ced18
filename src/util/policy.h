// Long waits and the clock in one place: the shipped program keeps the described retries,
// tests shorten the waits and move "now" without touching the code that waits.
#pragma once

#include <chrono>
#include <cstdint>

namespace ocelo {

/// How long the program waits for busy files and slow helpers.
struct WaitPolicy {
  int open_attempts = 100;                             ///< opening a busy file: attempts...
  std::chrono::milliseconds open_wait{100};            ///< ...and the pause after each failed one
  int rewrite_limit = 10;                              ///< a write that reads back empty: rewrites after the first...
  std::chrono::milliseconds rewrite_wait{10};          ///< ...each after this pause
  std::chrono::milliseconds program_lookup{10000};     ///< the longest wait for a program lookup
  std::chrono::milliseconds connect_timeout{5000};     ///< a web download: connecting to the server...
  std::chrono::milliseconds transfer_timeout{30000};   ///< ...and the whole transfer, connection included
};

/// The policy in force for the process.
const WaitPolicy& Waits();

/// Replaces the policy (tests); returns the previous one.
WaitPolicy SetWaits(const WaitPolicy& policy);

/// Sleeps for the given time (nothing for zero or less).
void Pause(std::chrono::milliseconds duration);

/// The current time in seconds since 1970, moved by the offset that tests set.
std::int64_t Now();

/// Moves the program's clock by the given number of seconds (tests); returns the previous offset.
std::int64_t SetClockOffset(std::int64_t seconds);

}  // namespace ocelo
