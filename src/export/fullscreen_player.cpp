#include "export/fullscreen_player.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include "export/playback_controls.h"
#include "localization/qt/qt_text.h"
#include "preview/preview_surface.h"
#include "studio/studio.h"

namespace vantry {

FullscreenWindow::FullscreenWindow(Studio& studio) : QWidget(nullptr), studio_(studio) {
  setWindowTitle(QL("全屏试看"));
  setAttribute(Qt::WA_DeleteOnClose);
  setMouseTracking(true);
  QPalette black = palette();
  black.setColor(QPalette::Window, Qt::black);
  setPalette(black);
  setAutoFillBackground(true);
  surface_ = new PreviewSurface(&studio_, this);
  surface_->setFit(PreviewSurface::Fit::fillCrop);
  surface_->setMouseTracking(true);
  panel_ = new QWidget(this);
  panel_->setObjectName(QStringLiteral("fullscreenPanel"));
  panel_->setAttribute(Qt::WA_Hover);
  auto* stack = new QVBoxLayout(panel_);
  stack->setContentsMargins(0, 0, 0, 0);
  controls_ = new PlaybackControls(studio_, true, nullptr, panel_);
  stack->addWidget(controls_);
  hideTimer_ = new QTimer(this);
  hideTimer_->setSingleShot(true);
  hideTimer_->setInterval(2500);
  connect(hideTimer_, &QTimer::timeout, this, [this] {
    // Hover over the panel keeps it; a pause keeps it.
    if (!studio_.playing() || panel_->underMouse()) return;
    shown_ = false;
    panel_->hide();
    setCursor(Qt::BlankCursor);
  });
  connect(&studio_, &Studio::changed, this, [this] { considerHiding(); });
  considerHiding();
}

void FullscreenWindow::setHideDelay(int ms) {
  hideTimer_->setInterval(ms);
}

void FullscreenWindow::showControls() {
  shown_ = true;
  panel_->show();
  unsetCursor();
  considerHiding();
}

void FullscreenWindow::considerHiding() {
  if (studio_.playing()) {
    if (shown_ && !hideTimer_->isActive()) hideTimer_->start();
  } else {
    hideTimer_->stop();
    if (!shown_) showControls();
  }
}

bool FullscreenWindow::event(QEvent* event) {
  // The pointer moving over any child counts as movement too.
  if (event->type() == QEvent::HoverMove || event->type() == QEvent::Enter) {
    if (!shown_)
      showControls();
    else
      hideTimer_->start();
  }
  return QWidget::event(event);
}

void FullscreenWindow::mouseMoveEvent(QMouseEvent* event) {
  if (!shown_)
    showControls();
  else if (studio_.playing())
    hideTimer_->start();
  QWidget::mouseMoveEvent(event);
}

void FullscreenWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void FullscreenWindow::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowStateChange) {
    const bool full = windowState().testFlag(Qt::WindowFullScreen);
    // The window manager took it out of full screen: the player ends.
    if (wasFullScreen_ && !full) QTimer::singleShot(0, this, &QWidget::close);
    wasFullScreen_ = full;
  }
  QWidget::changeEvent(event);
}

void FullscreenWindow::closeEvent(QCloseEvent* event) {
  hideTimer_->stop();
  emit closed();
  QWidget::closeEvent(event);
}

void FullscreenWindow::resizeEvent(QResizeEvent*) {
  surface_->setGeometry(rect());
  layoutPanel();
}

void FullscreenWindow::layoutPanel() {
  const int width = std::min(this->width() - 48, 900);
  const int height = controls_->sizeHint().height();
  panel_->setGeometry((this->width() - width) / 2, this->height() - height - 28, width, height);
  panel_->raise();
}

FullscreenPlayer::FullscreenPlayer(Studio& studio) : studio_(studio) {}

FullscreenPlayer::~FullscreenPlayer() {
  if (window_) {
    window_->disconnect(this);
    delete window_.data();
  }
}

void FullscreenPlayer::present() {
  if (!window_) {
    window_ = new FullscreenWindow(studio_);
    // The controller as context: a window closed after it is gone tells nobody.
    connect(window_, &FullscreenWindow::closed, &studio_, [this] { studio_.fullscreenClosed(); });
  }
  QScreen* screen = nullptr;
  if (QWidget* active = QApplication::activeWindow()) screen = active->screen();
  if (screen) {
    window_->setGeometry(screen->geometry());
  } else {
    window_->resize(1280, 800);
  }
  window_->showFullScreen();
  window_->activateWindow();
}

void FullscreenPlayer::raise() {
  if (!window_) return;
  window_->raise();
  window_->activateWindow();
}

}  // namespace vantry
