#pragma once

// The menu bar of the main window: every item calls one Studio operation (or opens the
// Settings window, or asks to quit), carries its shortcut, and is disabled exactly when the
// controller would refuse it. Titles and enablement follow the controller and the language.

#include <QObject>

#include <array>
#include <functional>

class QAction;
class QMainWindow;
class QMenu;

namespace vantry {

class CoalescedRefresh;
class Studio;

class AppCommands : public QObject {
  Q_OBJECT

 public:
  enum Command {
    settings,
    newRecording,
    openProject,
    closeWindow,
    quit,
    undo,
    redo,
    record,
    presenter,
    playPause,
    fullScreenPreview,
    exportVideo,
    split,
    deleteSelection,
    zoomIn,
    zoomOut,
    commandCount
  };

  struct Actions {
    std::function<void()> openSettings;
    std::function<void()> requestQuit;
  };

  AppCommands(QMainWindow* window, Studio& studio, Actions actions);

  QAction* action(Command command) const { return actions_[command]; }
  QMenu* fileMenu() const { return file_; }
  QMenu* editMenu() const { return edit_; }
  QMenu* recordingMenu() const { return recording_; }
  QMenu* editingMenu() const { return editing_; }
  void refreshNow();

  // The timeline zoom steps: by 1.5, within 1...32.
  static double zoomedIn(double zoom);
  static double zoomedOut(double zoom);

 private:
  QAction* add(QMenu* menu, Command command, std::function<void()> run);
  void refresh();

  Studio& studio_;
  Actions callbacks_;
  std::array<QAction*, commandCount> actions_{};
  QMenu* file_;
  QMenu* edit_;
  QMenu* recording_;
  QMenu* editing_;
  CoalescedRefresh* refresh_;
};

}  // namespace vantry
