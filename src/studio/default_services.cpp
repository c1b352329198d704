// The running system's services: the host clock, movie readers, Qt dialogs and desktop
// services, and screen names from Qt's screens.
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QIdentityProxyModel>
#include <QPointer>
#include <QScreen>
#include <QUrl>
#include <mutex>
#include <stdexcept>

#include "capture/display_recorder.h"
#include "localization/qt/qt_text.h"
#include "platform/studio_error.h"
#include "render/edited_audio_player.h"
#include "render/export_options.h"
#include "studio/frame_source.h"
#include "studio/queued_task.h"
#include "studio/studio_services.h"

namespace vantry {

namespace {

// The edited sound as the playback clock; completions reach the main thread through the
// application's event queue.
class EditedAudio : public PlaybackAudio {
 public:
  explicit EditedAudio(std::unique_ptr<EditedAudioPlayer> player) : player_(std::move(player)) {}
  void pause() override { player_->pause(); }
  void play(double rate) override {
    player_->setRate(rate);
    player_->play();
  }
  void seek(double seconds, std::function<void(bool)> done) override {
    player_->seek(seconds, std::move(done));
  }
  double currentTime() const override { return player_->currentTime(); }
  std::string error() const override { return player_->error(); }
  bool configure(const Clip& clip) override {
    player_->configureAudio(clip);
    return true;
  }

 private:
  std::unique_ptr<EditedAudioPlayer> player_;
};

std::unique_ptr<PlaybackAudio> openEditedAudio(const Clip& clip) {
  EditedAudioPlayer::Setup setup;
  setup.post = [](std::function<void()> task) {
    postTask(QCoreApplication::instance(), std::move(task));
  };
  std::string failure;
  bool notAFile = false;
  auto player = EditedAudioPlayer::open(clip, std::move(setup), &failure, &notAFile);
  if (!player) {
    if (notAFile) throw NotAFileError(failure);
    if (!failure.empty()) throw std::runtime_error(failure);
    return nullptr;
  }
  return std::make_unique<EditedAudio>(std::move(player));
}

// The window a file dialog belongs to: without one the window manager may stack the
// dialog behind the main window or the export sheet.
QWidget* dialogOwner() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return QApplication::activeWindow();
}

// Qt's file model writes sizes and dates in the system's locale, whatever the interface
// language: here they follow the dialog's own locale, the interface language's. Its word for
// a folder comes from a context that Qt's Chinese catalogue lacks; the dialog's has it.
class InterfaceLocaleFiles final : public QIdentityProxyModel {
 public:
  explicit InterfaceLocaleFiles(QFileDialog* dialog)
      : QIdentityProxyModel(dialog), dialog_(dialog) {}

  QVariant data(const QModelIndex& index, int role) const override {
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (role != Qt::DisplayRole || !files) return QIdentityProxyModel::data(index, role);
    const QModelIndex file = mapToSource(index);
    switch (index.column()) {
      case kSize:
        if (files->isDir(file)) break;
        return dialog_->locale().formattedDataSize(files->size(file));
      case kType:
        if (!files->isDir(file)) break;
        return QCoreApplication::translate("QFileDialog", "Folder");
      case kModified:
        return dialog_->locale().toString(files->lastModified(file), QLocale::ShortFormat);
    }
    return QIdentityProxyModel::data(index, role);
  }

 private:
  // The columns of Qt's file model.
  enum { kSize = 1, kType = 2, kModified = 3 };
  QFileDialog* dialog_;
};

void showInterfaceLocale(QFileDialog& dialog) {
  dialog.setLocale(qtLocale(currentLanguage()));
  dialog.setProxyModel(new InterfaceLocaleFiles(&dialog));
}

// Gives the keyboard back to the dialog's owner once it closes: without a window manager
// nothing else would, and the owner's keys (Escape, Ctrl+Q) would be dead.
void giveBackKeyboard(const QPointer<QWidget>& owner) {
  if (owner) owner->window()->activateWindow();
}

class QtDialogs : public StudioDialogs {
 public:
  std::optional<std::string> chooseProject() override {
    const QPointer<QWidget> owner = dialogOwner();
    const std::unique_ptr<QFileDialog> dialog = projectFileDialog(owner);
    const bool accepted = dialog->exec() == QDialog::Accepted;
    giveBackKeyboard(owner);
    if (!accepted || dialog->selectedFiles().isEmpty()) return std::nullopt;
    const QString path = dialog->selectedFiles().constFirst();
    if (path.isEmpty()) return std::nullopt;
    return path.toStdString();
  }

  std::optional<std::string> chooseExportDestination(const std::string& suggestedName,
                                                     const ExportOptions& options) override {
    const QString extension = QString::fromStdString(options.fileExtension());
    const QPointer<QWidget> owner = dialogOwner();
    QFileDialog dialog(owner, QL("保存导出视频"), QDir::homePath());
    dialog.setObjectName(QStringLiteral("exportDestination"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setLabelText(QFileDialog::Accept, QL("开始导出"));
    showInterfaceLocale(dialog);
    // Only the type of the chosen format: the movie is written as that type whatever the
    // name says.
    dialog.setNameFilter(options.format == ExportOptions::Format::mp4
                             ? QL("MPEG-4 影片") + QStringLiteral(" (*.mp4)")
                             : QL("QuickTime 影片") + QStringLiteral(" (*.mov)"));
    dialog.setDefaultSuffix(extension);
    dialog.selectFile(QString::fromStdString(suggestedName));
    const bool accepted = dialog.exec() == QDialog::Accepted;
    giveBackKeyboard(owner);
    if (!accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    QString path = dialog.selectedFiles().constFirst();
    if (path.isEmpty()) return std::nullopt;
    if (!path.endsWith("." + extension, Qt::CaseInsensitive)) path += "." + extension;
    return path.toStdString();
  }
};

class QtDesktop : public StudioDesktop {
 public:
  void openFolder(const std::string& path, DesktopDone done) override {
    tell(done, openLocal(path));
  }
  // The freedesktop file-manager interface selects the file; without a session bus or a
  // file manager that answers it, the folder opens instead. The call is asynchronous, since
  // the bus may have to start the file manager first.
  void revealFile(const std::string& path, DesktopDone done) override {
    const QString file = QString::fromStdString(path);
    const std::string folder = QFileInfo(file).absolutePath().toStdString();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return openFolder(folder, std::move(done));
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(file).toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp,
                     [watcher, folder, done = std::move(done)] {
                       watcher->deleteLater();
                       tell(done, !watcher->isError() || openLocal(folder));
                     });
  }
  void openFile(const std::string& path, DesktopDone done) override { tell(done, openLocal(path)); }
  // The help text itself comes with the recording setup.
  void openPermissionHelp() override {}

 private:
  // False when the desktop has no program to open the path with (Qt says "Unable to detect
  // a launcher" in its log, and nothing opens).
  static bool openLocal(const std::string& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
  }
  static void tell(const DesktopDone& done, bool opened) {
    if (done) done(opened);
  }
};

// Displays are X11 RandR monitors; Qt names its screens after the same outputs. A screen
// whose name is not an output (some servers) is matched by its device-pixel geometry.
class QtScreenNames : public ScreenNames {
 public:
  std::optional<std::string> displayName(platform::DisplayId id) const override {
    auto displays = listed();
    for (const platform::DisplayInfo& display : displays) {
      if (display.id != id) continue;
      for (QScreen* screen : QGuiApplication::screens())
        if (screen->name().toStdString() == display.name) return shownName(screen, display);
      for (QScreen* screen : QGuiApplication::screens()) {
        QRect g = screen->geometry();
        double scale = screen->devicePixelRatio();
        if (std::abs(g.x() * scale - display.frame.x) < 1 &&
            std::abs(g.y() * scale - display.frame.y) < 1 &&
            std::abs(g.width() * scale - display.frame.width) < 1 &&
            std::abs(g.height() * scale - display.frame.height) < 1)
          return shownName(screen, display);
      }
      return display.name.empty() ? std::nullopt : std::optional(display.name);
    }
    return std::nullopt;
  }

  platform::DisplayId primaryDisplay() const override {
    auto displays = listed();
    for (const platform::DisplayInfo& display : displays)
      if (display.primary) return display.id;
    return displays.empty() ? 0 : displays.front().id;
  }

 private:
  static std::string shownName(QScreen* screen, const platform::DisplayInfo& display) {
    QString model = screen->model().trimmed();
    if (!model.isEmpty()) return model.toStdString();
    return display.name.empty() ? screen->name().toStdString() : display.name;
  }

  // The monitors as the capture backend lists them; read again when Qt's screens change.
  std::vector<platform::DisplayInfo> listed() const {
    std::lock_guard lock(mutex_);
    QList<QScreen*> screens = QGuiApplication::screens();
    if (!cache_ || screens != cachedScreens_) {
      cachedScreens_ = screens;
      try {
        cache_ = platform::defaultScreenCapture()->shareableContent().displays;
      } catch (const std::exception&) {
        cache_ = std::vector<platform::DisplayInfo>();
      }
    }
    return *cache_;
  }

  mutable std::mutex mutex_;
  mutable std::optional<std::vector<platform::DisplayInfo>> cache_;
  mutable QList<QScreen*> cachedScreens_;
};

}  // namespace

std::unique_ptr<QFileDialog> projectFileDialog(QWidget* owner) {
  // Recordings live under a hidden folder that the dialog would not show from home.
  const QString recordings = QString::fromStdString(DisplayRecorder::defaultRecordingsFolder());
  const QString start = QDir(recordings).exists() ? recordings : QDir::homePath();
  auto dialog =
      std::make_unique<QFileDialog>(owner, QL("打开项目…"), start, QStringLiteral("JSON (*.json)"));
  dialog->setObjectName(QStringLiteral("openProjectDialog"));
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::ExistingFile);
  showInterfaceLocale(*dialog);
  return dialog;
}

StudioServices defaultStudioServices() {
  StudioServices services;
  services.clock = [] { return platform::hostTime(); };
  services.openFrames = [](const std::string& path) { return openMovieFrames(path); };
  services.makeAudio = [](const Clip& clip, const std::string&) { return openEditedAudio(clip); };
  services.dialogs = std::make_shared<QtDialogs>();
  services.desktop = std::make_shared<QtDesktop>();
  services.screens = std::make_shared<QtScreenNames>();
  services.capture = defaultStudioCapture();
  return services;
}

}  // namespace vantry
