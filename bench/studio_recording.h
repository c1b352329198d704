// Driving a controller through a recording in a benchmark: the event loop runs while it
// waits, as the application's would.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <functional>

#include "studio/studio.h"

namespace vantry::bench {

// Runs the event loop until `done` holds; false when `seconds` passed first.
inline bool waitFor(const std::function<bool()>& done, double seconds) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > seconds * 1000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// Starts the live preview with the sources chosen in `studio`, then the recording; false,
// with the reason on standard error, when either does not start.
inline bool beginRecording(Studio& studio) {
  studio.launchPreview();
  if (!waitFor([&] { return studio.canStartRecording() || studio.setupError(); }, 30) ||
      studio.setupError()) {
    std::fprintf(stderr, "preview not ready: %s\n",
                 studio.setupError().value_or("timeout").c_str());
    return false;
  }
  studio.startPreparedRecording();
  if (!waitFor([&] { return studio.recording() || !studio.busy(); }, 30) || !studio.recording()) {
    std::fprintf(stderr, "recording did not start: %s\n", studio.setupError().value_or("").c_str());
    return false;
  }
  return true;
}

}  // namespace vantry::bench
