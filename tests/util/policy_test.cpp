// Long waits: which failures RetryWhileBusy waits out, how many attempts it makes, and its pauses.
#include "util/policy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "support/sandbox.h"

namespace ocelo {
namespace {

TEST(RetryWhileBusy, WaitsOutOnlyWhatWaitingCanClear) {
  constexpr int kAttempts = 7;
  test::CountedPauses pauses(kAttempts);
  struct Case {
    std::vector<int> results;  // what the attempts answer in turn; the last one repeats
    int attempts;              // how many are made
    int error;                 // what RetryWhileBusy returns
  };
  std::vector<Case> cases = {
      {{0}, 1, 0},
      {{EBUSY, EBUSY, 0}, 3, 0},
      {{EINTR, EAGAIN, ETXTBSY, 0}, 4, 0},
      {{EBUSY}, kAttempts, EBUSY},
      {{EWOULDBLOCK}, kAttempts, EWOULDBLOCK},
      {{EBUSY, EINTR}, kAttempts, EINTR},
      {{EBUSY, EACCES}, 2, EACCES},  // a permanent error after a busy one still ends at once
  };
#ifndef EDQUOT
  constexpr int EDQUOT = ENOSPC;  // Windows knows no disk quota error
#endif
  for (const int permanent : {EACCES, EPERM, EROFS, EISDIR, ENOTDIR, ENAMETOOLONG, ENOSPC, EDQUOT, EFBIG, EIO, ENOENT,
                              ENOMEM, EINVAL, EEXIST, ELOOP, ENXIO}) {
    cases.push_back({{permanent}, 1, permanent});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(std::strerror(c.results.front())) + " first, " + std::strerror(c.results.back()) +
                 " last");
    int made = 0;
    const int error = RetryWhileBusy([&] {
      const int result = c.results[std::min<std::size_t>(made, c.results.size() - 1)];
      ++made;
      return result;
    });
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(made, c.attempts);
    // A pause after every busy attempt, the last one too; none after success or a permanent error.
    EXPECT_EQ(pauses.Take(), c.error == 0 || !IsBusy(c.error) ? c.attempts - 1 : c.attempts);
  }
}

TEST(RetryWhileBusy, BackOffSpendsTheSameWholeWaitInShortPauses) {
  // The whole wait is 3 x 8 ms = 24 ms: pauses of 1, 2, 4, 8, 8 and the 1 ms left.
  test::CountedPauses pauses(3, std::chrono::milliseconds(8));
  int made = 0;
  EXPECT_EQ(RetryWhileBusy([&] { return ++made, EBUSY; }, BusyPauses::kBackOff), EBUSY);
  EXPECT_EQ(made, 7);
  EXPECT_EQ(pauses.Take(), 6);
  made = 0;
  EXPECT_EQ(RetryWhileBusy([&] { return ++made, EACCES; }, BusyPauses::kBackOff), EACCES);
  EXPECT_EQ(made, 1);
  EXPECT_EQ(pauses.Take(), 0);
}

}  // namespace
}  // namespace ocelo
