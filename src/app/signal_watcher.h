#pragma once

// Turns SIGTERM and SIGINT into a Qt signal on the main thread (a self-pipe read by a
// socket notifier), so that a termination stops and saves a recording instead of losing it.

#include <QObject>

class QSocketNotifier;

namespace vantry {

class SignalWatcher : public QObject {
  Q_OBJECT

 public:
  explicit SignalWatcher(QObject* parent = nullptr);
  ~SignalWatcher() override;

 signals:
  void terminateRequested();

 private:
  void readPipe();

  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace vantry
