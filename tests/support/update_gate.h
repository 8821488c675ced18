// An update check that waits, as one does on a server that never answers, until the test lets it end.
#pragma once

#include <condition_variable>
#include <mutex>

namespace ocelo::test {

/// Where StallingUpdateCheck waits: shut until the test opens it.
class UpdateGate {
 public:
  /// Shut again, with no check at it: for the next test of the process.
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = entered_ = false;
  }
  /// Whether a check has reached the gate.
  bool Entered() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entered_;
  }
  /// Waits until a check has reached the gate.
  void WaitUntilEntered() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return entered_; });
  }
  /// Lets the waiting check, and every later one, through.
  void Open() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }
  /// The check's side: says it is here, then waits until the gate is open.
  void Pass() {
    std::unique_lock<std::mutex> lock(mutex_);
    entered_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  bool entered_ = false;
};

/// The process's gate for StallingUpdateCheck.
inline UpdateGate& StallingGate() {
  static UpdateGate gate;
  return gate;
}

/// An update check that waits at StallingGate() until the test opens it, then finds no change.
inline bool StallingUpdateCheck() {
  StallingGate().Pass();
  return false;
}

}  // namespace ocelo::test
