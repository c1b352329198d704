#include "player/fullscreen_player.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "design/chrome.h"
#include "design/motion.h"
#include "design/neon_slider.h"
#include "design/painting.h"
#include "design/space_key.h"
#include "design/theme.h"
#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"
#include "player/playback_controls.h"
#include "preview/preview_surface.h"
#include "studio/studio.h"

namespace vantry {

namespace {

// Around the panel: 24 points at the sides, 16 below; inside it: 18 and 10.
constexpr int kSideMargin = 24;
constexpr int kBottomMargin = 16;

}  // namespace

FullscreenWindow::FullscreenWindow(Studio& studio) : QWidget(nullptr), studio_(studio) {
  setAttribute(Qt::WA_DeleteOnClose);
  // Every pointer movement anywhere in the window reveals the controls.
  setAttribute(Qt::WA_Hover);
  setMouseTracking(true);
  QPalette black = palette();
  black.setColor(QPalette::Window, Qt::black);
  setPalette(black);
  setAutoFillBackground(true);

  surface_ = new PreviewSurface(&studio_, this);
  surface_->setFit(PreviewSurface::Fit::fillCrop);

  panel_ = new QWidget(this);
  panel_->setObjectName(QStringLiteral("fullscreenPanel"));
  glass(panel_, GlassStyle{16, 0.02, std::nullopt});
  // Installed after the glass, so it paints first: the picture under the glass, blurred.
  panel_->installEventFilter(this);
  auto* stack = new QVBoxLayout(panel_);
  stack->setContentsMargins(18, 10, 18, 10);
  stack->setSpacing(6);
  slider_ = new NeonSlider(0, 0, 0.001, std::nullopt, Theme::accent, panel_);
  controls_ = new PlaybackControls(studio_, true, nullptr, panel_);
  stack->addWidget(slider_);
  stack->addWidget(controls_);
  connect(slider_, &NeonSlider::valueChanged, this, [this](double t) { studio_.seek(t); });

  hideTimer_ = new QTimer(this);
  hideTimer_->setSingleShot(true);
  hideTimer_->setInterval(kHideDelayMs);
  connect(hideTimer_, &QTimer::timeout, this, [this] {
    if (studio_.playing() && !panelHovered_) hideControls(true);
  });
  entryCheck_ = new QTimer(this);
  entryCheck_->setInterval(100);
  connect(entryCheck_, &QTimer::timeout, this, &FullscreenWindow::checkEntry);
  fade_ = new Animated(1, this);
  connect(fade_, &Animated::changed, this, [this] { setPanelOpacity(fade_->value()); });

  // The player holds the keyboard itself, so that Space plays and pauses here too instead
  // of pressing the control that would otherwise have the focus.
  holdKeyboardFocus(this);
  new SpaceKey(this, [this] { studio_.togglePlayback(); });
  new ReturnKey(this);

  connect(&studio_, &Studio::changed, this, &FullscreenWindow::refresh);
  connect(&studio_, &Studio::timeChanged, this, [this] { slider_->setValue(studio_.time()); });
  connect(&LanguageSettings::shared(), &LanguageSettings::changed, this,
          &FullscreenWindow::retranslate);
  retranslate();
  playing_ = studio_.playing();
  refresh();
  revealControls();
}

void FullscreenWindow::setHideDelay(int ms) {
  hideTimer_->setInterval(ms);
  if (hideTimer_->isActive()) hideTimer_->start();
}

void FullscreenWindow::retranslate() {
  setWindowTitle(QL("全屏试看"));
  slider_->setAccessibleName(QL("播放进度"));
}

void FullscreenWindow::refresh() {
  slider_->setRange(0, std::max(studio_.duration(), 0.001));
  slider_->setValue(studio_.time());
  if (studio_.playing() != playing_) {
    playing_ = studio_.playing();
    revealControls();
  }
}

void FullscreenWindow::revealControls() {
  hideTimer_->stop();
  if (!shown_ || fade_->value() < 1) {
    shown_ = true;
    panel_->setAttribute(Qt::WA_TransparentForMouseEvents, false);
    fade_->jumpTo(1);
    setPanelOpacity(1);
    unsetCursor();
  }
  // Paused, or the pointer resting on the panel: the controls stay.
  if (studio_.playing() && !panelHovered_) hideTimer_->start();
}

void FullscreenWindow::hideControlsNow() {
  hideControls(false);
}

void FullscreenWindow::hideControls(bool animated) {
  hideTimer_->stop();
  shown_ = false;
  // Hidden controls take no clicks, also while they fade.
  panel_->setAttribute(Qt::WA_TransparentForMouseEvents, true);
  setCursor(Qt::BlankCursor);
  if (animated)
    fade_->animateTo(0, Curve::easeOut(0.2));
  else
    fade_->jumpTo(0);
}

void FullscreenWindow::setPanelOpacity(double opacity) {
  if (opacity <= 0 || opacity >= 1) {
    // The effect renders the panel offscreen: only while it fades.
    panel_->setGraphicsEffect(nullptr);
    opacity_ = nullptr;
    panel_->setVisible(opacity > 0);
    return;
  }
  if (!opacity_) {
    opacity_ = new QGraphicsOpacityEffect(panel_);
    panel_->setGraphicsEffect(opacity_);
  }
  opacity_->setOpacity(opacity);
}

void FullscreenWindow::enterFullScreen(int patienceMs) {
  showFullScreen();
  entryPatience_ = patienceMs;
  entry_.start();
  entryCheck_->start();
  // Often settled at once (no window manager, the offscreen platform).
  QTimer::singleShot(0, this, &FullscreenWindow::checkEntry);
}

bool FullscreenWindow::coversScreen() const {
  const QScreen* shown = screen();
  if (!shown || !isVisible()) return false;
  return QRect(mapToGlobal(QPoint(0, 0)), size()).contains(shown->geometry());
}

void FullscreenWindow::checkEntry() {
  if (!entryCheck_->isActive()) return;
  if (coversScreen()) {
    entryCheck_->stop();
  } else if (entry_.elapsed() >= entryPatience_) {
    entryCheck_->stop();
    close();  // the entry failed: the player ends as if it had been left
  }
}

void FullscreenWindow::dismiss() {
  if (isFullScreen())
    showNormal();  // the state change closes the window
  else
    close();
}

bool FullscreenWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == panel_ && event->type() == QEvent::Paint) paintBackdrop();
  return QWidget::eventFilter(watched, event);
}

void FullscreenWindow::paintBackdrop() {
  // X11 gives no blur of what lies behind, and the picture's details would show sharp
  // through the translucent glass: a small copy of that part of the picture, drawn large,
  // stands in.
  const QImage& picture = surface_->composed();
  const QRectF canvas = surface_->canvasRect();
  if (picture.isNull() || canvas.isEmpty()) return;
  const QRectF under = QRectF(panel_->geometry()).translated(-canvas.topLeft());
  const double sx = picture.width() / canvas.width(), sy = picture.height() / canvas.height();
  const QRect source =
      QRectF(under.x() * sx, under.y() * sy, under.width() * sx, under.height() * sy)
          .toAlignedRect() &
      picture.rect();
  if (source.isEmpty()) return;
  const QSize small((source.width() + 15) / 16, (source.height() + 15) / 16);
  const QImage blurred =
      picture.copy(source).scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  QPainter p(panel_);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.setClipPath(continuousRoundedRect(panel_->rect(), 16));
  p.drawImage(QRectF(panel_->rect()), blurred);
  // Dimmed as the dark material would be, so that light text stays readable on a light film.
  p.fillRect(panel_->rect(), Color(0x000000, 0.3));
}

bool FullscreenWindow::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
      // From the position rather than the panel's enter and leave: a panel that appears
      // under a resting pointer gets no enter, and then no leave either.
      panelHovered_ =
          panel_->geometry().contains(static_cast<QHoverEvent*>(event)->position().toPoint());
      revealControls();
      break;
    case QEvent::HoverLeave:
      panelHovered_ = false;
      revealControls();
      break;
    default:
      break;
  }
  return QWidget::event(event);
}

void FullscreenWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    dismiss();
    return;
  }
  QWidget::keyPressEvent(event);
}

void FullscreenWindow::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowStateChange) {
    const bool full = windowState().testFlag(Qt::WindowFullScreen);
    // Out of full screen (the window manager, Escape or the exit button): the player ends.
    if (wasFullScreen_ && !full) QTimer::singleShot(0, this, &QWidget::close);
    wasFullScreen_ = full;
  }
  QWidget::changeEvent(event);
}

void FullscreenWindow::closeEvent(QCloseEvent* event) {
  hideTimer_->stop();
  entryCheck_->stop();
  emit closed();
  QWidget::closeEvent(event);
}

void FullscreenWindow::resizeEvent(QResizeEvent*) {
  surface_->setGeometry(rect());
  layoutPanel();
}

void FullscreenWindow::layoutPanel() {
  const int w = std::min(width() - 2 * kSideMargin, kPanelMaxWidth);
  const int h = panel_->sizeHint().height();
  panel_->setGeometry((width() - w) / 2, height() - kBottomMargin - h, std::max(w, 0), h);
  panel_->raise();
}

FullscreenPlayer::FullscreenPlayer(Studio& studio) : studio_(&studio) {
  // The window shows the studio: it must not outlive it, not even until a deferred delete.
  connect(&studio, &QObject::destroyed, this, [this] { delete window_.data(); });
}

FullscreenPlayer::~FullscreenPlayer() {
  delete window_.data();
}

void FullscreenPlayer::present() {
  if (!studio_) return;
  if (!window_) {
    window_ = new FullscreenWindow(*studio_);
    // A window closed after the controller is gone tells nobody.
    connect(window_, &FullscreenWindow::closed, this, [this] {
      if (studio_) studio_->fullscreenClosed();
    });
  }
  QScreen* screen = nullptr;
  if (QWidget* active = QApplication::activeWindow()) screen = active->screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (screen) {
    window_->setScreen(screen);
    window_->setGeometry(screen->availableGeometry());
  } else {
    window_->setGeometry(0, 0, 1280, 800);
  }
  window_->enterFullScreen();
  raise();
}

void FullscreenPlayer::raise() {
  if (!window_) return;
  window_->raise();
  window_->activateWindow();
}

}  // namespace vantry
