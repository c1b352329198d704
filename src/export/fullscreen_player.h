#pragma once

// The full-screen player: the edit filling the active window's screen, cropped rather than
// letterboxed, with the transport at the bottom that hides while it plays and the pointer
// is away. Escape, the exit button or the window manager leaving full screen close it.

#include <QPointer>
#include <QWidget>

#include "studio/studio_services.h"

class QTimer;

namespace vantry {

class PlaybackControls;
class PreviewSurface;
class Studio;

class FullscreenWindow : public QWidget {
  Q_OBJECT

 public:
  explicit FullscreenWindow(Studio& studio);

  PreviewSurface* surface() const { return surface_; }
  QWidget* panel() const { return panel_; }
  bool controlsShown() const { return shown_; }
  // The auto-hide delay (2.5 s; tests shorten it).
  void setHideDelay(int ms);

 signals:
  void closed();

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void showControls();
  void considerHiding();
  void layoutPanel();

  Studio& studio_;
  PreviewSurface* surface_;
  QWidget* panel_;
  PlaybackControls* controls_;
  QTimer* hideTimer_;
  bool shown_ = true;
  bool wasFullScreen_ = false;
};

class FullscreenPlayer : public FullscreenPreviewController {
  Q_OBJECT

 public:
  explicit FullscreenPlayer(Studio& studio);
  ~FullscreenPlayer() override;

  void present() override;
  void raise() override;
  FullscreenWindow* window() const { return window_; }

 private:
  Studio& studio_;
  QPointer<FullscreenWindow> window_;
};

}  // namespace vantry
