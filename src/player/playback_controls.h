#pragma once

// player/: playing the edit: the transport bar under the stage and the full-screen player.
//
// The transport bar: back to start, play or pause, the playhead and duration, a slot for the
// caller's accessory, the playback speed and the full-screen toggle. Shown under the main
// window's stage while a project is open and in the full-screen player. It keeps no
// playback state of its own: everything is read from the Studio.

#include <QAbstractButton>
#include <QWidget>

#include <array>

namespace vantry {

class Animated;
class CoalescedRefresh;
class GlassButton;
class ShadowCaster;
class Studio;

// The round play/pause button with its cyan glow.
class PlayButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit PlayButton(QWidget* parent = nullptr);

  bool playing() const { return playing_; }
  void setPlaying(bool playing);
  bool hovering() const { return hovering_; }

  QSize sizeHint() const override { return QSize(38, 38); }

 protected:
  void changeEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  bool hitButton(const QPoint& pos) const override;

 private:
  void setHovering(bool hovering);

  bool playing_ = false;
  bool hovering_ = false;
  Animated* hover_;
  ShadowCaster* shadow_;
};

// "00:05 / 01:15" on a dark rounded plate.
class ClockReadout : public QWidget {
  Q_OBJECT

 public:
  explicit ClockReadout(QWidget* parent = nullptr);
  void setTimes(double time, double duration);
  QString timeText() const { return time_; }
  QString durationText() const { return duration_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString time_;
  QString duration_;
};

// The speed menu's button: the speedometer and the current rate as "%g×".
class SpeedMenuButton : public QAbstractButton {
  Q_OBJECT

 public:
  static constexpr std::array<double, 6> rates{0.5, 0.75, 1.0, 1.25, 1.5, 2.0};
  // "0.5×", "1×", "1.25×": plain formatting, no locale.
  static QString rateText(double rate);

  explicit SpeedMenuButton(Studio& studio, QWidget* parent = nullptr);
  void setRate(double rate);
  double rate() const { return rate_; }
  // The menu as it opens now: one checkable action per rate, checked where the studio's
  // rate equals it exactly.
  class QMenu* buildMenu();
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Studio& studio_;
  double rate_ = 1.0;
};

class PlaybackControls : public QWidget {
  Q_OBJECT

 public:
  // `accessory` (may be null) is placed between the clock and the speed menu and becomes a
  // child of the bar.
  PlaybackControls(Studio& studio, bool fullScreen = false, QWidget* accessory = nullptr,
                   QWidget* parent = nullptr);

  bool fullScreen() const { return fullScreen_; }
  QAbstractButton* backButton() const;
  PlayButton* playButton() const { return play_; }
  ClockReadout* clockReadout() const { return clock_; }
  SpeedMenuButton* speedButton() const { return speed_; }
  QAbstractButton* fullScreenButton() const;
  // Brings the bar up to date at once instead of on the next turn of the event loop.
  void refreshNow();

 private:
  void refresh();
  void refreshTime();
  void retranslate();
  void toggleFullScreen();

  Studio& studio_;
  bool fullScreen_;
  GlassButton* back_;
  PlayButton* play_;
  ClockReadout* clock_;
  SpeedMenuButton* speed_;
  GlassButton* toggle_;
  CoalescedRefresh* refresh_;
};

}  // namespace vantry
