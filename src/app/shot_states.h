#pragma once

// The named states in which `vantry-tool shots` renders the main window. Each view adds
// its own states here; a state puts a fresh controller (with fake capture, no clock) into
// the state it shows.

#include <functional>
#include <string>
#include <vector>

class QImage;

namespace vantry {

class Studio;
class StudioWindow;

struct ShotState {
  std::string name;  // the PNG's file name without extension
  std::function<void(Studio&, StudioWindow&)> apply;
  // What the PNG shows, once the state is applied; empty: the main window.
  std::function<QImage(Studio&, StudioWindow&)> render = {};
};

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

// Lets the window listing of the offscreen capture finish again (a state may hold it to
// show the list while it loads). Call after rendering each state.
void finishShot();

// A made-up desktop picture for the live preview of the shots.
QImage syntheticDesktop(int width, int height);

// The display overlay of the screen with the controls: choosing, connecting, counting down,
// with a failure message, and its control bar.
std::vector<ShotState> overlayShotStates();

}  // namespace vantry
