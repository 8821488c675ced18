// The part of platform/process.h that is the same on every system: the checks before a program starts
// and the opener's wait.
#include <atomic>
#include <cerrno>

#include "platform/process.h"
#include "platform/process_detail.h"

namespace ocelo::sys {
namespace {

std::atomic<long long> g_opener_wait_ms{1000};

}  // namespace

StartResult StartDetached(const std::vector<std::u16string>& argv, std::u16string_view folder,
                          std::chrono::milliseconds watch) {
  if (argv.empty() || argv[0].empty()) {
    StartResult result;
    result.error = ENOENT;
    return result;
  }
  return detail::StartProgramFile(argv, folder, watch);
}

std::chrono::milliseconds SetOpenerWait(std::chrono::milliseconds wait) {
  return std::chrono::milliseconds(g_opener_wait_ms.exchange(wait.count()));
}

std::chrono::milliseconds detail::OpenerWait() { return std::chrono::milliseconds(g_opener_wait_ms.load()); }

}  // namespace ocelo::sys
