#pragma once

// The window manager's close button of a window that a modal sheet blocks: Qt drops that
// request, so the quit flow would never hear of it and the person would get no answer.
// This watches the X11 close messages for one window and reports them while it is blocked.

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <functional>

class QWidget;

namespace vantry {

class BlockedCloseWatcher : public QObject, public QAbstractNativeEventFilter {
 public:
  // `onClose` runs on the main loop after each close request `window` gets while a modal
  // window blocks it. Without an X11 connection this does nothing.
  BlockedCloseWatcher(QWidget* window, std::function<void()> onClose);
  ~BlockedCloseWatcher() override;

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  QWidget* window_;
  std::function<void()> onClose_;
  unsigned long protocols_ = 0;
  unsigned long deleteWindow_ = 0;
};

}  // namespace vantry
