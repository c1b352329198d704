#include "setup/overlay_controller.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <X11/Xlib.h>

#include <cmath>

#include "localization/qt/qt_text.h"
#include "platform/x11/x11_connection.h"
#include "setup/monitor_overlay_view.h"
#include "studio/studio.h"

namespace vantry {

namespace {

double timeScale = 1.0;

int scaled(int ms) {
  return std::max(0, int(std::lround(ms * timeScale)));
}

// Without a compositing manager the screen keeps what was drawn last: a sheet that has just
// closed still shows until the windows under it repaint. Once the server has answered on
// Qt's own connection the sheet is unmapped; the app's windows then repaint at once, and
// the grab that follows sees the screen as it is.
void settleBeforeGrab() {
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11 || !x11->display()) return;
  XSync(x11->display(), False);
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top->isVisible() && !qobject_cast<OverlayWindow*>(top)) top->repaint();
  XSync(x11->display(), False);
}

}  // namespace

OverlayWindow::OverlayWindow(platform::DisplayId id, QScreen* screen)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      id_(id),
      screen_(screen) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
}

void OverlayWindow::cover() {
  // Not showFullScreen(): it also activates, and with several overlays the last one shown
  // would take the keys from the one carrying the controls.
  if (!testAttribute(Qt::WA_DontShowOnScreen)) setWindowState(Qt::WindowFullScreen);
  show();
}

void OverlayWindow::setView(MonitorOverlayView* view) {
  view_ = view;
  view_->setParent(this);
  view_->setGeometry(rect());
}

void OverlayWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:  // the keypad's
      if (onConfirm) onConfirm();
      return;
    case Qt::Key_Escape:
      if (onCancel) onCancel();
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

void OverlayWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (view_) view_->setGeometry(rect());
}

RecordingOverlayController& RecordingOverlayController::shared() {
  static auto* controller = new RecordingOverlayController(qApp);
  return *controller;
}

RecordingOverlayController::RecordingOverlayController(QObject* parent)
    : QObject(parent), timer_(new QTimer(this)) {
  timer_->setSingleShot(true);
}

RecordingOverlayController::~RecordingOverlayController() {
  // The views refer to this controller: they go with it.
  blockSignals(true);
  for (OverlayWindow* window : windows_)
    delete window;
  windows_.clear();
  for (const QPointer<OverlayWindow>& window : closing_)
    delete window.data();
}

void RecordingOverlayController::setTimeScale(double scale) {
  timeScale = scale;
}

void RecordingOverlayController::publish() {
  emit changed();
}

void RecordingOverlayController::setHovered(std::optional<platform::DisplayId> id) {
  if (hovered_ == id) return;
  hovered_ = id;
  publish();
}

void RecordingOverlayController::leave(platform::DisplayId id) {
  if (hovered_ == id) setHovered(std::nullopt);
}

bool RecordingOverlayController::compositing() {
  try {
    platform::x11::Connection& c = platform::x11::threadConnection();
    const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(c.display()));
    return XGetSelectionOwner(c.display(), c.atom(name.c_str())) != None;
  } catch (...) {
    return false;
  }
}

platform::DisplayId RecordingOverlayController::displayIdFor(
    const QScreen* screen, const std::vector<platform::DisplayInfo>& displays) {
  if (!screen) return 0;
  for (const platform::DisplayInfo& d : displays)
    if (!d.name.empty() && screen->name().toStdString() == d.name) return d.id;
  const QRect g = screen->geometry();
  const double scale = screen->devicePixelRatio();
  for (const platform::DisplayInfo& d : displays) {
    if (std::abs(g.x() * scale - d.frame.x) < 1 && std::abs(g.y() * scale - d.frame.y) < 1 &&
        std::abs(g.width() * scale - d.frame.width) < 1 &&
        std::abs(g.height() * scale - d.frame.height) < 1)
      return d.id;
  }
  return 0;
}

void RecordingOverlayController::show(Studio& studio) {
  close(false);
  if (studioConnection_) disconnect(studioConnection_);
  studio_ = &studio;
  hovered_.reset();
  pending_.reset();
  countdown_.reset();
  message_.reset();

  QScreen* controls = nullptr;
  if (QWidget* active = QApplication::activeWindow()) controls = active->screen();
  if (!controls) controls = QGuiApplication::primaryScreen();
  const QList<QScreen*> screens = QGuiApplication::screens();
  if (!controls && !screens.isEmpty()) controls = screens.front();
  controlsScreen_ = controls;

  const bool translucent = !offscreen_ && compositing();
  if (!translucent && !offscreen_) settleBeforeGrab();
  OverlayWindow* key = nullptr;
  for (QScreen* screen : screens) {
    const platform::DisplayId id = displayIdFor(screen, studio.displays());
    auto* window = new OverlayWindow(id, screen);
    window->setObjectName(QStringLiteral("overlay:%1").arg(screen->name()));
    if (offscreen_) window->setAttribute(Qt::WA_DontShowOnScreen);
    if (translucent) {
      window->setAttribute(Qt::WA_TranslucentBackground);
    } else if (!offscreen_) {
      window->setBackdrop(screen->grabWindow(0).toImage());
    }
    QPointer<RecordingOverlayController> self(this);
    window->onCancel = [self] {
      if (self) self->cancel();
    };
    window->onConfirm = [self, window] {
      if (self) self->start(self->hovered_.value_or(window->displayId()));
    };
    const QSize pixels(int(std::lround(screen->geometry().width() * screen->devicePixelRatio())),
                       int(std::lround(screen->geometry().height() * screen->devicePixelRatio())));
    window->setView(
        new MonitorOverlayView(studio, *this, window, screen->name(), pixels, screen == controls));
    window->winId();
    if (window->windowHandle()) window->windowHandle()->setScreen(screen);
    window->setGeometry(screen->geometry());
    window->cover();
    window->view()->fadeTo(1.0, 0.22);
    windows_.push_back(window);
    if (!key && screen == controls) key = window;
  }
  if (key) {
    key->raise();
    key->activateWindow();
    key->setFocus();
  }

  studioConnection_ =
      connect(&studio, &Studio::changed, this, &RecordingOverlayController::studioChanged);
  connect(&studio, &QObject::destroyed, this, &RecordingOverlayController::studioDestroyed,
          Qt::UniqueConnection);
  publish();
  if (!studio.standby() || studio.selectedWindowID()) {
    studio.setSelectedWindowID(std::nullopt);
    studio.prepareRecording();
  }
  studio.refreshCaptureSources();
}

void RecordingOverlayController::studioChanged() {
  // The monitors are listed by the source refresh, which may end after show.
  if (!studio_) return;
  for (OverlayWindow* window : windows_) {
    if (window->displayId() != 0) continue;
    window->setDisplayId(displayIdFor(window->targetScreen(), studio_->displays()));
    // A pointer that entered before the listing hovered the unknown display.
    if (hovered_ == platform::DisplayId(0) && window->underMouse()) setHovered(window->displayId());
  }
}

void RecordingOverlayController::studioDestroyed(QObject* studio) {
  // Overlays never outlive the studio they show: with it they go at once.
  if (studio_ && studio_.data() != studio) return;
  stopTask();
  close(false);
}

void RecordingOverlayController::close(bool animated) {
  std::vector<OverlayWindow*> taken;
  taken.swap(windows_);
  std::erase_if(closing_, [](const QPointer<OverlayWindow>& w) { return w.isNull(); });
  for (OverlayWindow* window : taken) {
    closing_.emplace_back(window);
    window->onCancel = nullptr;
    window->onConfirm = nullptr;
    window->view()->release();
    // While it fades it still paints the camera picture: out of sight should the studio go.
    if (studio_) connect(studio_.data(), &QObject::destroyed, window, &QWidget::hide);
    // Offscreen overlays have nothing to show fading: they go at once.
    if (animated && window->isVisible() && !offscreen_) {
      window->view()->fadeTo(0.0, 0.18);
      QTimer::singleShot(scaled(180), window, [window] {
        window->hide();
        window->deleteLater();
      });
    } else {
      window->hide();
      window->deleteLater();
    }
  }
  if (!taken.empty()) publish();
}

void RecordingOverlayController::wait(int ms) {
  currentWait_ = ms;
  timer_->start(scaled(ms));
}

void RecordingOverlayController::stopTask() {
  timer_->stop();
  timer_->disconnect();
  step_ = Step::idle;
}

void RecordingOverlayController::hide() {
  stopTask();
  if (studioConnection_) disconnect(studioConnection_);
  close(true);
}

void RecordingOverlayController::cancel() {
  // While a start is in flight the setup cannot be dismissed: the task must stay to bring
  // the overlays back should the start fail.
  if (studio_ && studio_->busy()) return;
  stopTask();
  pending_.reset();
  countdown_.reset();
  publish();
  if (studio_) studio_->dismissRecordingSetup();
}

void RecordingOverlayController::chooseWindow() {
  if (!studio_ || studio_->busy()) return;
  stopTask();
  pending_.reset();
  countdown_.reset();
  publish();
  studio_->setSetupMode(RecordingSource::window);
}

void RecordingOverlayController::start(platform::DisplayId id) {
  if (!studio_ || studio_->busy() || pending_) return;
  pending_ = id;
  message_.reset();
  countdown_.reset();
  publish();
  Studio& s = *studio_;
  const bool showing =
      !s.selectedWindowID() && s.selectedDisplay() == id && !s.liveScreenImage().isNull();
  if (!showing || s.setupError()) {
    s.setSelectedWindowID(std::nullopt);
    s.setSelectedDisplay(id);
    s.prepareRecording();
  }
  step_ = Step::waiting;
  polls_ = 0;
  timer_->disconnect();
  connect(timer_, &QTimer::timeout, this, &RecordingOverlayController::poll);
  wait(0);
}

void RecordingOverlayController::poll() {
  if (!studio_) return stopTask();
  Studio& s = *studio_;
  const bool settled = !s.preparing() && (s.canStartRecording() || s.setupError());
  if (!settled && polls_ < kPollCount) {
    ++polls_;
    wait(kPollInterval);
    return;
  }
  timer_->disconnect();
  if (!s.canStartRecording()) {
    message_ = s.setupError()
                   ? QLM(*s.setupError())
                   : QL("未收到实时画面。请检查所选屏幕、摄像头和系统权限，再点击重新预览。");
    pending_.reset();
    step_ = Step::idle;
    publish();
    return;
  }
  step_ = Step::counting;
  countdown_ = 3;
  publish();
  connect(timer_, &QTimer::timeout, this, &RecordingOverlayController::tick);
  wait(kCountdownStep);
}

void RecordingOverlayController::tick() {
  if (*countdown_ > 1) {
    countdown_ = *countdown_ - 1;
    publish();
    wait(kCountdownStep);
    return;
  }
  timer_->disconnect();
  enterStarting();
}

void RecordingOverlayController::setOverlaysHidden(bool hidden) {
  for (OverlayWindow* window : windows_) {
    window->setAttribute(Qt::WA_TransparentForMouseEvents, hidden);
    if (hidden) {
      window->hide();
    } else {
      window->view()->fadeTo(1.0, 0);
      window->cover();
    }
  }
  // Unmapped before the capture starts: without a compositor the root grab would record them.
  if (hidden) QGuiApplication::sync();
}

void RecordingOverlayController::enterStarting() {
  step_ = Step::starting;
  countdown_.reset();
  publish();
  setOverlaysHidden(true);
  Studio* s = studio_;
  if (!s) return stopTask();
  s->startPreparedRecording();
  connect(timer_, &QTimer::timeout, this, &RecordingOverlayController::watchBusy);
  wait(0);
}

void RecordingOverlayController::watchBusy() {
  if (!studio_) return stopTask();
  Studio& s = *studio_;
  if (s.busy()) {
    wait(kBusyPoll);
    return;
  }
  timer_->disconnect();
  step_ = Step::idle;
  if (s.recording() || !s.showingRecordingSetup()) return;
  setOverlaysHidden(false);
  message_ = s.setupError() ? std::optional(QLM(*s.setupError())) : std::nullopt;
  pending_.reset();
  publish();
  for (OverlayWindow* window : windows_) {
    if (window->targetScreen() == controlsScreen_) {
      window->activateWindow();
      window->setFocus();
    }
  }
}

}  // namespace vantry
