#include <QApplication>
#include <QDir>
#include <QIcon>

#include <filesystem>
#include <memory>
#include <thread>

#include "app/desktop_help.h"
#include "app/own_windows.h"
#include "app/qt_translation.h"
#include "app/quit_flow.h"
#include "app/signal_watcher.h"
#include "app/studio_window.h"
#include "app/widget_map.h"
#include "capture/display_recorder.h"
#include "capture/recording_recovery.h"
#include "design/chrome.h"
#include "design/painting.h"
#include "localization/qt/qt_text.h"
#include "platform/durable_file.h"
#include "platform/memory_release.h"
#include "player/fullscreen_player.h"
#include "render/export_workspace.h"
#include "render/movie_exporter.h"
#include "studio/studio.h"

namespace {

int runApplication(int argc, char** argv) {
  using namespace vantry;
  QApplication app(argc, argv);
  claimOwnWindows();
  QApplication::setOrganizationName("Vantry");
  QApplication::setApplicationName("Vantry");
  QApplication::setDesktopFileName("vantry");
  // Only the quit flow ends the application.
  QApplication::setQuitOnLastWindowClosed(false);

  // The stored language before any thread translates a text; Qt's own dialogs follow it,
  // also when it changes.
  QtTranslation qtTexts;
  installInterfaceFont();
  installDarkLook();
  QApplication::setWindowIcon(QIcon::fromTheme(
      QStringLiteral("vantry"), QIcon(sharedFilePath(QStringLiteral("vantry.svg")))));

  StudioServices services = defaultStudioServices();
  services.desktop = std::make_shared<AppDesktop>(services.desktop);
  services.makeFullscreen = [](Studio& s) -> FullscreenPreviewController* {
    return new FullscreenPlayer(s);
  };
  Studio studio(std::move(services));

  StudioWindow window(studio, StudioWindowParts::standard());
  QuitServices quitServices;
  quitServices.prompts = messageBoxPrompts([&window] { return &window; });
  // The window turns close requests into quit requests; once the flow decided, Qt's own
  // closing of the windows on quit must go through.
  quitServices.quit = [&window] {
    window.chrome()->allowClose();
    QCoreApplication::quit();
  };
  QuitFlow quit(&studio, std::move(quitServices));
  QObject::connect(&window, &StudioWindow::quitRequested, &quit, &QuitFlow::request);
  SignalWatcher signals_;
  QObject::connect(&signals_, &SignalWatcher::terminateRequested, &quit, &QuitFlow::terminate);
  QObject::connect(&app, &QCoreApplication::aboutToQuit, &studio, [&studio] { studio.saveNow(); });

  window.show();
  // Without a window manager nothing else gives the new window the keyboard.
  window.activateWindow();
  startWidgetMapFromEnvironment(&app);

  // Recordings whose process died while recording are rebuilt from their pointer journal,
  // off the main thread; one notice says what was recovered. Quitting stops it between two
  // recordings: the rest wait for the next start.
  // Working folders of exports that were killed are swept at the same time.
  std::jthread recovery([&studio](std::stop_token stop) {
    // Recordings made before, under a wider umask or by an older version, are closed to the
    // other users of this machine: our data folder and the recordings folder, where they are.
    const std::filesystem::path recordings = DisplayRecorder::defaultRecordingsFolder();
    for (const auto& folder : {recordings.parent_path(), recordings}) {
      std::error_code ec;
      if (std::filesystem::is_directory(folder, ec)) platform::makePrivateFolder(folder);
    }
    try {
      ExportWorkspace::sweepStale(MovieExporter::temporaryRoot());
    } catch (const std::exception&) {
      // A folder that cannot be listed is left for the next start.
    }
    const std::string notice =
        recoveryNotice(recoverRecordings(DisplayRecorder::defaultRecordingsFolder(), stop));
    if (!notice.empty())
      QMetaObject::invokeMethod(
          &studio, [&studio, notice] { studio.setNotice(notice); }, Qt::QueuedConnection);
  });
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  vantry::platform::configureAllocator();
  return vantry::Studio::exitStatus(runApplication(argc, argv));
}
