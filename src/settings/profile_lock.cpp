// The process-wide guard that the basic Profile operations hold around each backend call.
#include "settings/profile_lock.h"

#include <atomic>
#include <mutex>

namespace ocelo {
namespace {

std::recursive_mutex& Guard() {
  static std::recursive_mutex guard;
  return guard;
}

std::atomic<int> depth{0};

}  // namespace

void ProfileLock::Lock() {
  Guard().lock();
  depth.fetch_add(1, std::memory_order_relaxed);
}

void ProfileLock::Unlock() {
  depth.fetch_sub(1, std::memory_order_relaxed);
  Guard().unlock();
}

bool ProfileLock::Busy() { return depth.load(std::memory_order_relaxed) > 0; }

}  // namespace ocelo
