// A dialog's update check on a thread of its own: started once, never waited for by the dialog, its end
// told to the dialog unless the dialog has gone first.
#include "app/update_check_run.h"

#include <atomic>
#include <mutex>
#include <system_error>
#include <utility>

#include "util/dump.h"

namespace ocelo {
namespace {

// The checks started and not yet ended, of every run.
std::atomic<int> g_running{0};

}  // namespace

// What the check's thread shares with the run: the thread may outlive the run, and the dialog with it.
struct UpdateCheckRun::Link {
  std::mutex mutex;
  bool running = false;
  Ended ended;  // empty once the dialog has gone
};

UpdateCheckRun::UpdateCheckRun(Check check) : check_(check), link_(std::make_shared<Link>()) {}

UpdateCheckRun::~UpdateCheckRun() { Detach(); }

bool UpdateCheckRun::Start(Ended ended) {
  const Check check = std::exchange(check_, nullptr);  // once per run
  if (check == nullptr) return false;
  {
    std::lock_guard<std::mutex> lock(link_->mutex);
    link_->running = true;
    link_->ended = std::move(ended);
  }
  ++g_running;
  try {
    thread_ = std::thread([link = link_, check] {
      check();
      std::lock_guard<std::mutex> lock(link->mutex);
      link->running = false;
      --g_running;
      if (link->ended) link->ended();
    });
  } catch (const std::system_error&) {
    {
      std::lock_guard<std::mutex> lock(link_->mutex);
      link_->running = false;
      link_->ended = nullptr;
    }
    --g_running;
    DumpText(u"Can't start the update check, no thread");
    return false;
  }
  return true;
}

bool UpdateCheckRun::Running() const {
  std::lock_guard<std::mutex> lock(link_->mutex);
  return link_->running;
}

void UpdateCheckRun::Join() {
  // An ended check's thread has only its lock to let go: joining it waits no longer than that.
  if (thread_.joinable() && !Running()) thread_.join();
}

void UpdateCheckRun::Detach() {
  check_ = nullptr;
  {
    std::lock_guard<std::mutex> lock(link_->mutex);
    link_->ended = nullptr;
    // A check still waiting for the network is left to end alone; it touches nothing of the dialog.
    if (thread_.joinable() && link_->running) thread_.detach();
  }
  if (thread_.joinable()) thread_.join();
}

bool UpdateCheckRun::AnyRunning() { return g_running.load() > 0; }

}  // namespace ocelo
