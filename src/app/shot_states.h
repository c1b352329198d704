#pragma once

// The named states in which `vantry-tool shots` renders the main window. Each view adds
// its own states here; a state puts a fresh controller (with fake capture, no clock) into
// the state it shows.

#include <QImage>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QDialog;
class QPixmap;

namespace vantry {

class Studio;
class StudioWindow;

struct ShotState {
  std::string name;  // the PNG's file name without extension
  std::function<void(Studio&, StudioWindow&)> apply;
  // What the PNG shows, once the state is applied; empty: the main window.
  std::function<QImage(Studio&, StudioWindow&)> render = {};
};

// A state rendered as `vantry-tool shots` saves it: applied to a fresh controller and main
// window (1250 x 880, offscreen), with the window's sheets and alert drawn over the window.
// The controller and window stay for a look at what the picture shows.
struct RenderedShot {
  std::unique_ptr<Studio> studio;
  std::unique_ptr<StudioWindow> window;
  QImage picture;

  RenderedShot();
  RenderedShot(RenderedShot&&) noexcept;
  ~RenderedShot();
};
RenderedShot renderShot(const ShotState& state);

// The registered states, in registration order (the main window's own come first).
std::vector<ShotState>& shotStates();
// Adds or replaces the state of that name.
void registerShotState(ShotState state);

// Services for rendering without devices: capture that delivers nothing (the states set
// the live pictures themselves), fixed screen names, dialogs that are always cancelled, a
// desktop that opens nothing, and no frame clock. The real movie readers and sound player
// stay, so the demonstration project renders as it does in the application.
struct StudioServices;
StudioServices offscreenStudioServices();

// A dialog of the main window (a sheet, the alert, a file dialog) drawn over `picture` of
// it, where a window manager centres it; placed there first, so that a sheet shows what
// lies behind it. Nothing when the dialog is not shown.
void drawDialogOver(QPixmap& picture, StudioWindow& window, QDialog* dialog);

// Lets the window listing of the offscreen capture finish again (a state may hold it to
// show the list while it loads). Call after rendering each state.
void finishShot();

// A made-up desktop picture for the live preview of the shots.
QImage syntheticDesktop(int width, int height);

// The display overlay of the screen with the controls: choosing, connecting, counting down,
// with a failure message, and its control bar.
std::vector<ShotState> overlayShotStates();

}  // namespace vantry
