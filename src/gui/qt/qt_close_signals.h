// The signals that end a session (SIGTERM, SIGINT, SIGHUP) turned into the dialog's own close.
#pragma once

#include <QObject>
#include <csignal>

class QSocketNotifier;

namespace ocelo {

/// While it exists, each of the three signals emits Received on the object's thread, from its event loop,
/// instead of ending the process; the handlers before it are put back when it goes. A signal that is
/// ignored when it starts stays ignored. While several exist,
/// the newest one receives them (they must end in the reverse order of their start).
class CloseOnSignals : public QObject {
  Q_OBJECT

 public:
  explicit CloseOnSignals(QObject* parent);
  ~CloseOnSignals() override;

  /// The signals handled.
  static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

 signals:
  void Received();

 private:
  void Drain();

  int pipe_[2] = {-1, -1};
  int previous_write_end_ = -1;
  QSocketNotifier* notifier_ = nullptr;
  struct sigaction previous_[3] = {};
  bool installed_[3] = {};
};

}  // namespace ocelo
