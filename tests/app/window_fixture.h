// A controller with offscreen services and its main window, put into the states the tests
// look at through the controller's own setters.
#pragma once

#include <QApplication>

#include <memory>

#include "app/shot_states.h"
#include "app/studio_window.h"
#include "localization/qt/language_settings.h"
#include "studio/studio.h"

namespace vantry::testing {

struct WindowFixture {
  std::unique_ptr<Studio> studio;
  std::unique_ptr<StudioWindow> window;

  // `painted`: on the (offscreen) screen, so that its widgets get paint events.
  explicit WindowFixture(StudioWindowParts parts = {}, bool painted = false,
                         StudioServices services = offscreenStudioServices()) {
    studio = std::make_unique<Studio>(std::move(services));
    parts.launchPreview = false;
    window = std::make_unique<StudioWindow>(*studio, std::move(parts));
    if (!painted) window->setAttribute(Qt::WA_DontShowOnScreen);
    window->resize(1250, 880);
    window->show();
    settle();
  }
  ~WindowFixture() {
    window.reset();
    studio.reset();
  }

  Studio& s() { return *studio; }

  void settle() {
    for (int i = 0; i < 3; ++i)
      QApplication::processEvents();
    window->refreshNow();
  }

  void standby() { settle(); }
  void demo() {
    studio->demo();
    studio->setPlaying(false);
    settle();
  }
  // A recording of the display "DP-1" in progress.
  void recording(bool busy = false) {
    studio->setStandby(false);
    studio->setRecording(true);
    studio->setBusy(busy);
    settle();
  }
  void exporting() {
    demo();
    studio->setExporting(true);
    settle();
  }
  // A recorded project (not the demonstration) with its own title.
  void project(const std::string& title = "Lesson One") {
    studio->demo();
    studio->setPlaying(false);
    Clip clip = studio->clip();
    clip.isDemo = false;
    clip.title = title;
    studio->setClip(clip);
    settle();
  }
};

}  // namespace vantry::testing
