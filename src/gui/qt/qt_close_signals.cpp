// The signals that end a session, carried into the event loop through a pipe: the handler only writes
// one byte, which is all a signal handler may safely do here.
#include "gui/qt/qt_close_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>

namespace ocelo {
namespace {

std::atomic<int> g_write_end{-1};

extern "C" void OnCloseSignal(int) {
  const int saved = errno;
  const int fd = g_write_end.load();
  if (fd >= 0) {
    const char byte = 1;
    (void)!::write(fd, &byte, 1);  // a full pipe already holds a close
  }
  errno = saved;
}

}  // namespace

CloseOnSignals::CloseOnSignals(QObject* parent) : QObject(parent) {
  if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    pipe_[0] = pipe_[1] = -1;
    return;
  }
  notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &CloseOnSignals::Drain);
  previous_write_end_ = g_write_end.exchange(pipe_[1]);
  struct sigaction action = {};
  action.sa_handler = &OnCloseSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 3; ++i) {
    // A signal ignored when the program started (SIGINT and SIGQUIT of a job started with "&", SIGHUP under
    // nohup) stays ignored: whoever started the program asked for that.
    if (::sigaction(kSignals[i], nullptr, &previous_[i]) != 0 || previous_[i].sa_handler == SIG_IGN) continue;
    installed_[i] = ::sigaction(kSignals[i], &action, nullptr) == 0;
  }
}

void CloseOnSignals::Drain() {
  char bytes[64];
  bool any = false;
  while (::read(pipe_[0], bytes, sizeof bytes) > 0) any = true;
  if (any) emit Received();
}

CloseOnSignals::~CloseOnSignals() {
  if (pipe_[0] < 0) return;
  for (int i = 0; i < 3; ++i) {
    if (installed_[i]) ::sigaction(kSignals[i], &previous_[i], nullptr);
  }
  g_write_end.store(previous_write_end_);
  delete notifier_;
  ::close(pipe_[0]);
  ::close(pipe_[1]);
}

}  // namespace ocelo
