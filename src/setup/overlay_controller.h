#pragma once

// setup/: choosing what to record: the display overlays with the countdown, and the window
// sheet.
//
// The display overlays of the recording setup: one frameless window per screen over which
// the user picks the display to record. The controller runs the road from the choice to the
// running recording: live preview of the chosen display, the wait for a startable preview,
// the 3-2-1 countdown, hiding the overlays so that they are not recorded, the start, and
// on a failed start the overlays back with the reason.

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QScreen>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

#include "platform/screen_source.h"
#include "studio/studio.h"  // complete for QPointer<Studio>

class QScreen;
class QTimer;

namespace vantry {

class MonitorOverlayView;

// One overlay window covering one screen. Return and keypad Enter confirm, Escape cancels.
class OverlayWindow : public QWidget {
  Q_OBJECT

 public:
  OverlayWindow(platform::DisplayId id, QScreen* screen);

  platform::DisplayId displayId() const { return id_; }
  void setDisplayId(platform::DisplayId id) { id_ = id; }
  QScreen* targetScreen() const { return screen_; }
  MonitorOverlayView* view() const { return view_; }
  void setView(MonitorOverlayView* view);
  // Shows the window over its whole screen (full-screen keeps it above panels) without
  // taking the keys.
  void cover();
  // Without a compositor the window cannot be translucent: it paints this grab, dimmed.
  void setBackdrop(QImage grab) { backdrop_ = std::move(grab); }
  const QImage& backdrop() const { return backdrop_; }

  std::function<void()> onCancel;
  std::function<void()> onConfirm;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  platform::DisplayId id_;
  QPointer<QScreen> screen_;
  MonitorOverlayView* view_ = nullptr;
  QImage backdrop_;
};

class RecordingOverlayController : public QObject {
  Q_OBJECT

 public:
  // Waits of the start sequence, in milliseconds.
  static constexpr int kPollInterval = 100;
  static constexpr int kPollCount = 150;
  static constexpr int kCountdownStep = 800;
  static constexpr int kBusyPoll = 50;

  static RecordingOverlayController& shared();
  explicit RecordingOverlayController(QObject* parent = nullptr);
  ~RecordingOverlayController() override;

  // Tests shorten every wait by this factor (1 = real time).
  static void setTimeScale(double scale);
  // Tests and shots: overlays are made but never shown on a screen.
  void setOffscreen(bool offscreen) { offscreen_ = offscreen; }

  std::optional<platform::DisplayId> hovered() const { return hovered_; }
  std::optional<platform::DisplayId> pending() const { return pending_; }
  std::optional<int> countdown() const { return countdown_; }
  const std::optional<QString>& message() const { return message_; }
  const std::vector<OverlayWindow*>& windows() const { return windows_; }
  Studio* studio() const { return studio_; }
  // The screen whose overlay carries the controls (null: none).
  QScreen* controlsScreen() const { return controlsScreen_; }
  // The task of the start sequence runs (waiting, counting or starting).
  bool running() const { return step_ != Step::idle; }
  // The length of the wait now running, unscaled, in milliseconds (tests).
  int currentWait() const { return currentWait_; }

  void setHovered(std::optional<platform::DisplayId> id);
  // The pointer left the overlay of `id`: clears `hovered` only if it still names it.
  void leave(platform::DisplayId id);

  void show(Studio& studio);
  void hide();
  void cancel();
  void chooseWindow();
  void start(platform::DisplayId id);

  // The display id of a screen: the capture's monitor of the same output name, else of the
  // same device-pixel geometry; 0 when none matches.
  static platform::DisplayId displayIdFor(const QScreen* screen,
                                          const std::vector<platform::DisplayInfo>& displays);
  // A compositing manager owns _NET_WM_CM_S<n>: translucent windows work.
  static bool compositing();

 signals:
  void changed();

 private:
  enum class Step { idle, waiting, counting, starting };

  void close(bool animated);
  void stopTask();
  void poll();
  void tick();
  void enterStarting();
  void watchBusy();
  void setOverlaysHidden(bool hidden);
  void studioChanged();
  void studioDestroyed(QObject* studio);
  void publish();

  QPointer<Studio> studio_;
  std::optional<platform::DisplayId> hovered_;
  std::optional<platform::DisplayId> pending_;
  std::optional<int> countdown_;
  std::optional<QString> message_;
  std::vector<OverlayWindow*> windows_;
  std::vector<QPointer<OverlayWindow>> closing_;  // fading out or deleted later
  QPointer<QScreen> controlsScreen_;
  QMetaObject::Connection studioConnection_;
  bool offscreen_ = false;

  Step step_ = Step::idle;
  int polls_ = 0;
  int currentWait_ = 0;
  void wait(int ms);
  QTimer* timer_;
};

}  // namespace vantry
