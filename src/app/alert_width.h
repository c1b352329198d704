#pragma once

// Alerts wide enough for what they say. Qt sizes a message box to its title label and its
// longest word, so paths and commands broke at every slash and hyphen and window managers
// cut the title. An alert is at least 440 points wide, wider for a path or a title that
// needs it, and at most half the screen.

class QMessageBox;

namespace vantry {

// Sets the width of `box` for its present title and texts; call it again after changing them.
void fitAlertWidth(QMessageBox& box);

}  // namespace vantry
