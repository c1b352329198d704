#pragma once

// Steps the roads share: a spot on the desktop away from the app's windows, and a
// recording made with the keyboard alone.

#include <filesystem>
#include <functional>
#include <string>

#include "e2e/app_driver.h"

namespace vantry::e2e {

// A point on the screen outside every visible window of the app (a click there lands
// on the bare desktop).
struct Spot {
  int x = 0, y = 0;
};
Spot desktopSpot(const AppDriver& app, int index = 0);

// Holds the button long enough for the app's pointer sampling to see the click.
void desktopClick(AppDriver& app, Spot spot);

// The name of the control that holds the keyboard ("" for none or an unnamed one).
std::string focusedControl(const AppDriver& app);
// Presses Tab until the control named `name` holds the keyboard; false when 80 presses did
// not get there.
bool tabTo(AppDriver& app, const std::string& name);

// How recordByKeyboard() ends the recording.
enum class StopWith { keyboard, stopButton };

// From the open main window: Shift+Ctrl+2, Return with the pointer on the desktop, the
// countdown, `clicks` clicks on the desktop spread over about `length`, Shift+Ctrl+2 again
// (or a click on the Stop button).
// Returns the recording's folder once "project.json" and "edit.json" are written and the
// app shows the project; empty (with a failed expectation) otherwise. Screenshots on the way.
// `whileRecording` runs once the recording has started.
std::filesystem::path recordByKeyboard(AppDriver& app, Millis length, int clicks,
                                       const std::function<void()>& whileRecording = {},
                                       StopWith stop = StopWith::keyboard);

}  // namespace vantry::e2e
