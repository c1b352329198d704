#pragma once

// The full-screen player: the edit filling the active window's screen, cropped rather than
// letterboxed, with the progress slider and the transport at the bottom, which hide while
// it plays and the pointer is away. Escape, the exit button or the window manager leaving
// full screen close it.

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

#include "studio/studio_services.h"

class QGraphicsOpacityEffect;
class QTimer;

namespace vantry {

class Animated;
class NeonSlider;
class PlaybackControls;
class PreviewSurface;
class Studio;

class FullscreenWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kHideDelayMs = 2500;
  static constexpr int kPanelMaxWidth = 900;

  explicit FullscreenWindow(Studio& studio);

  PreviewSurface* surface() const { return surface_; }
  QWidget* panel() const { return panel_; }
  NeonSlider* slider() const { return slider_; }
  PlaybackControls* controls() const { return controls_; }
  // False from the moment the controls start fading out until they are revealed again.
  bool controlsShown() const { return shown_; }
  bool panelHovered() const { return panelHovered_; }
  // The auto-hide delay (tests shorten it).
  void setHideDelay(int ms);
  // Hides the controls at once, as the delay would (the screenshots of the hidden state).
  void hideControlsNow();
  // Leaves full screen (the window then closes itself), or closes it when not full screen.
  void dismiss();
  // Shows the window full screen. Under X11 the window manager decides, and it may ignore
  // the request (or there is none to ask): a window that does not cover its screen within
  // `patienceMs` has failed to enter full screen and closes.
  void enterFullScreen(int patienceMs = kEntryPatienceMs);
  static constexpr int kEntryPatienceMs = 1500;

 signals:
  void closed();

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void revealControls();
  void hideControls(bool animated);
  void setPanelOpacity(double opacity);
  void layoutPanel();
  void paintBackdrop();
  void refresh();
  void retranslate();
  void checkEntry();
  bool coversScreen() const;

  Studio& studio_;
  PreviewSurface* surface_;
  QWidget* panel_;
  NeonSlider* slider_;
  PlaybackControls* controls_;
  QTimer* hideTimer_;
  Animated* fade_;
  QGraphicsOpacityEffect* opacity_ = nullptr;
  bool shown_ = true;
  bool panelHovered_ = false;
  bool playing_ = false;
  bool wasFullScreen_ = false;
  QTimer* entryCheck_;
  QElapsedTimer entry_;
  int entryPatience_ = kEntryPatienceMs;
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
  QPointer<Studio> studio_;
  QPointer<FullscreenWindow> window_;
};

}  // namespace vantry
