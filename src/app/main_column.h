#pragma once

// The main window's growing column: the preview stage, the control bar (the presenter
// layout while live, the transport while a project is open) and one block chosen by the
// controller's mode: the recording strip, the standby callout or the timeline.

#include <QWidget>

#include <functional>

#include "design/view_parts.h"

class QGraphicsOpacityEffect;
class QLabel;

namespace vantry {

class CoalescedRefresh;
class GlassButton;
class IconButton;
class PillSegment;
class PlaybackControls;
class PreviewStage;
class PrimaryButton;
class RecordButton;
class Studio;

// The two-item layout picker: screen with presenter bubble, or presenter full screen.
class PresenterPicker : public QWidget {
  Q_OBJECT

 public:
  explicit PresenterPicker(Studio& studio, QWidget* parent = nullptr);
  PillSegment* segment() const { return segment_; }
  // 1, or 0.45 while no camera is available.
  double opacity() const;
  void refresh();

 private:
  Studio& studio_;
  PillSegment* segment_;
  QGraphicsOpacityEffect* fade_;
};

// One status pill of the recording strip.
class RecordingChip : public CapsuleBox {
  Q_OBJECT

 public:
  explicit RecordingChip(QWidget* parent = nullptr);
  void set(const QString& text, const QString& icon, bool on);
  bool on() const { return on_; }
  QString text() const;

 private:
  SymbolView* symbol_;
  ElidedText* label_;
  bool on_ = false;
};

class RecordingStrip : public QWidget {
  Q_OBJECT

 public:
  explicit RecordingStrip(Studio& studio, QWidget* parent = nullptr);
  RecordingChip* screenChip() const { return screen_; }
  RecordingChip* cameraChip() const { return camera_; }
  RecordingChip* microphoneChip() const { return microphone_; }
  RecordButton* stopButton() const { return stop_; }
  void refresh();

 private:
  Studio& studio_;
  RecordingChip* screen_;
  RecordingChip* camera_;
  RecordingChip* microphone_;
  RecordButton* stop_;
};

class StandbyCallout : public QWidget {
  Q_OBJECT

 public:
  explicit StandbyCallout(Studio& studio, QWidget* parent = nullptr);
  GlassButton* demoButton() const { return demo_; }
  PrimaryButton* chooseButton() const { return choose_; }
  void refresh();

 private:
  Studio& studio_;
  QLabel* heading_;
  QLabel* caption_;
  GlassButton* demo_;
  PrimaryButton* choose_;
};

class ControlBar : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kHeight = 52;

  explicit ControlBar(Studio& studio, QWidget* parent = nullptr);
  // The live layout (picker, elapsed time) or the transport.
  QWidget* liveRow() const { return live_; }
  PresenterPicker* livePicker() const { return livePicker_; }
  ElidedText* elapsed() const { return elapsed_; }
  PlaybackControls* transport() const { return transport_; }
  PresenterPicker* projectPicker() const { return projectPicker_; }
  IconButton* deselectButton() const { return deselect_; }
  void refresh();
  void refreshTime();

 private:
  Studio& studio_;
  QWidget* live_;
  PresenterPicker* livePicker_;
  ElidedText* elapsed_;
  PlaybackControls* transport_;
  PresenterPicker* projectPicker_;
  IconButton* deselect_;
};

class MainColumn : public QWidget {
  Q_OBJECT

 public:
  // `picture` is the preview surface (null: a placeholder); `timeline` is shown while a
  // project is open (null: nothing there yet).
  MainColumn(Studio& studio, QWidget* picture, QWidget* timeline, QWidget* parent = nullptr);

  PreviewStage* stage() const { return stage_; }
  ControlBar* controlBar() const { return bar_; }
  RecordingStrip* recordingStrip() const { return strip_; }
  StandbyCallout* standbyCallout() const { return callout_; }
  QWidget* timeline() const { return timeline_; }
  // The block shown under the control bar now.
  QWidget* modeBlock() const;
  void refreshNow();

 private:
  void refresh();

  Studio& studio_;
  PreviewStage* stage_;
  ControlBar* bar_;
  RecordingStrip* strip_;
  StandbyCallout* callout_;
  QWidget* timeline_;
  CoalescedRefresh* refresh_;
};

}  // namespace vantry
