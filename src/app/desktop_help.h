#pragma once

// What the application shows of the desktop around it: the one Settings window, the in-app
// help on display, camera and sound access (Linux has no permission panes to open), and the
// privacy notes shipped with the application.

#include <QPointer>
#include <QString>

#include <memory>

#include "localization/app_language.h"
#include "studio/studio_services.h"

class QWidget;

namespace vantry {

class LanguageSettingsView;
class Studio;

// One Settings window, raised when it is already open. It opens over `over` (kept above it
// by the window manager, centred on it), or over the active window when none is given.
class SettingsWindow {
 public:
  void open(QWidget* over = nullptr);
  QWidget* window() const;

 private:
  QPointer<LanguageSettingsView> view_;
};

// Shows the access help (one window, raised when it is already open).
QWidget* showAccessHelp(QWidget* parent = nullptr);

// The studio's desktop with the in-app access help; folders open through `inner`.
class AppDesktop : public StudioDesktop {
 public:
  explicit AppDesktop(std::shared_ptr<StudioDesktop> inner) : inner_(std::move(inner)) {}
  void openFolder(const std::string& path, DesktopDone done) override;
  void revealFile(const std::string& path, DesktopDone done) override;
  void openFile(const std::string& path, DesktopDone done) override;
  void openPermissionHelp() override;

 private:
  std::shared_ptr<StudioDesktop> inner_;
};

// A file the application ships: share/vantry beside the program's folder (installed or in
// the build tree), then the data folders. `programFolder` empty: this program's folder.
// Empty when none is found.
QString sharedFilePath(const QString& name, const QString& programFolder = {});
// The privacy notes of a language ("Privacy.txt", "Privacy-en.txt").
QString privacyNotesPath(AppLanguage language, const QString& programFolder = {});
// The notes of the language chosen at the moment of the call, opened through the studio;
// nothing happens when they are missing.
void openPrivacyNotes(Studio& studio);

}  // namespace vantry
