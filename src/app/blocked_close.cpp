#include "app/blocked_close.h"

#include <QApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>

#include <xcb/xcb.h>
// After Qt: Xlib's macros would clash with Qt's names.
#include <X11/Xlib.h>

namespace vantry {

BlockedCloseWatcher::BlockedCloseWatcher(QWidget* window, std::function<void()> onClose)
    : QObject(window), window_(window), onClose_(std::move(onClose)) {
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11 || !x11->display()) return;
  protocols_ = XInternAtom(x11->display(), "WM_PROTOCOLS", False);
  deleteWindow_ = XInternAtom(x11->display(), "WM_DELETE_WINDOW", False);
  qApp->installNativeEventFilter(this);
}

BlockedCloseWatcher::~BlockedCloseWatcher() {
  if (protocols_) qApp->removeNativeEventFilter(this);
}

bool BlockedCloseWatcher::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) return false;
  const auto* client = static_cast<const xcb_client_message_event_t*>(message);
  if (client->format != 32 || client->type != protocols_ ||
      client->data.data32[0] != deleteWindow_ || !window_->testAttribute(Qt::WA_WState_Created) ||
      client->window != window_->winId())
    return false;
  QWidget* modal = QApplication::activeModalWidget();
  // Unblocked, Qt delivers the close event itself.
  if (!modal || modal == window_) return false;
  QTimer::singleShot(0, this, [this] {
    if (onClose_) onClose_();
  });
  return false;
}

}  // namespace vantry
