#pragma once

// app/: the application around the views: the main window with its header, main column
// and stage, the menus and their commands, alerts, the quit flow, the trash, the offscreen
// shots, and main(). It puts the views of the other view folders together.
//
// The main window: the ambient ground, the header, the main column and the inspector
// column, with the window-level behaviour around them: it starts the live preview once,
// follows the controller's recording-setup and export flags to show the overlays and the
// sheets, shows the one alert, carries the menus, and turns every close into a quit request.

#include <QDialog>
#include <QMainWindow>
#include <QPointer>

#include <functional>

#include "app/desktop_help.h"

namespace vantry {

class AppCommands;
class CoalescedRefresh;
class ErrorAlert;
class HeaderBar;
class MainColumn;
class Studio;
class TransparentWindow;

// The pieces that later views plug into the window. Each is optional.
struct StudioWindowParts {
  using MakeWidget = std::function<QWidget*(Studio&, QWidget* parent)>;
  using MakeSheet = std::function<QDialog*(Studio&, QWidget* parent)>;

  MakeWidget preview;    // the stage's picture (default: the preview surface)
  MakeWidget timeline;   // shown under the control bar while a project is open
  MakeWidget inspector;  // the content of the 296-point column
  // Shows (true) or hides (false) the per-screen display overlays.
  std::function<void(Studio&, bool shown)> displayOverlay;
  MakeSheet windowSheet;  // the window-mode recording setup
  MakeSheet exportSheet;
  // Call Studio::launchPreview() when the window is first shown.
  bool launchPreview = true;

  // The parts built so far: the timeline card under the stage.
  static StudioWindowParts standard();
};

class StudioWindow : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kInspectorWidth = 296;

  StudioWindow(Studio& studio, StudioWindowParts parts, QWidget* parent = nullptr);
  ~StudioWindow() override;

  HeaderBar* header() const { return header_; }
  MainColumn* mainColumn() const { return column_; }
  QWidget* inspectorColumn() const { return inspector_; }
  AppCommands* commands() const { return commands_; }
  ErrorAlert* alert() const { return alert_; }
  SettingsWindow& settingsWindow() { return settings_; }
  QDialog* windowSheet() const { return windowSheet_; }
  QDialog* exportSheet() const { return exportSheet_; }
  TransparentWindow* chrome() const { return chrome_; }

  // Applies every pending refresh now (tests, shots, benchmarks).
  void refreshNow();

 signals:
  // The window was asked to close, or a menu item asked to quit: the quit flow decides.
  void quitRequested();

 protected:
  void showEvent(QShowEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void refresh();
  void followSheets();
  // Before a paint: brings the views up to date and lays them out, and has the stage's new
  // picture composed; says when the window paints.
  enum class Paint { now, nextTurn, whenPictureReady };
  Paint prepareToPaint();
  void requestPaint();
  void drawHiddenViewsOnce();

  Studio& studio_;
  StudioWindowParts parts_;
  HeaderBar* header_;
  MainColumn* column_;
  QWidget* inspector_;
  AppCommands* commands_;
  ErrorAlert* alert_;
  TransparentWindow* chrome_;
  SettingsWindow settings_;
  QPointer<QDialog> windowSheet_;
  QPointer<QDialog> exportSheet_;
  bool overlayShown_ = false;
  bool playerShown_ = false;
  bool launched_ = false;
  bool viewsDrawnOnce_ = false;
  // The steps taken to prepare the next paint.
  static constexpr int kFollowed = 1, kComposed = 2, kGroundDrawn = 4, kLanesDrawn = 8;
  int prepared_ = 0;
  CoalescedRefresh* refresh_;
};

}  // namespace vantry
