#pragma once

// Display recordings and the window list leave out this app's own windows: those of Qt's
// X connection, as the server made their ids, whatever class or pid another program may
// claim. Call once the QApplication exists; without X11 it does nothing.

namespace vantry {

void claimOwnWindows();

}  // namespace vantry
