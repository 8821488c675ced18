// A dialog's update check on a thread of its own: started once, never waited for by the dialog, its end
// told to the dialog unless the dialog has gone first.
#pragma once

#include <functional>
#include <memory>
#include <thread>

namespace ocelo {

/// One dialog's update check. The check may wait a long time for its server; the dialog goes on meanwhile,
/// and may close first: a check still running is then left to end alone (it opens the browser itself when
/// that is due) and tells nobody. Start, Join and Detach belong to the dialog's thread.
class UpdateCheckRun {
 public:
  using Check = bool (*)();
  /// Called on the check's thread once the check has ended, with the run's lock held: it hands the news to
  /// the dialog's thread (a queued call, a posted message) and waits for nothing.
  using Ended = std::function<void()>;

  /// Nothing runs yet; a null check never runs.
  explicit UpdateCheckRun(Check check);
  /// As Detach: never waits for a check still running.
  ~UpdateCheckRun();
  UpdateCheckRun(const UpdateCheckRun&) = delete;
  UpdateCheckRun& operator=(const UpdateCheckRun&) = delete;

  /// Starts the check on a thread of its own; `ended` is called when it ends, unless Detach comes first.
  /// Only the first call starts it: false for any later one, without a check, after Detach, and (with a
  /// dump line) when the system has no thread to spare.
  bool Start(Ended ended);
  /// Whether the check has started and not yet ended.
  bool Running() const;
  /// Waits for the thread of a check that has ended (a moment: it has only its lock to give back); does
  /// nothing while the check runs, so the dialog never waits for the check.
  void Join();
  /// Cuts the link to the dialog: once it returns, `ended` is never called and nothing starts. A check
  /// still running is left to end alone; the thread of one that has ended is joined.
  void Detach();

  /// Whether any run's check is still running, one left running by a closed dialog included: the process
  /// then ends without tearing down what that thread may still use.
  static bool AnyRunning();

 private:
  struct Link;

  Check check_;
  std::shared_ptr<Link> link_;
  std::thread thread_;
};

}  // namespace ocelo
