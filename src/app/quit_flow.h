#pragma once

// The quit flow: it alone ends the application. It refuses while a video is being
// processed, stops and saves a running recording first, saves the open project, and lets
// the user keep a fresh recording or move its folder to the Trash. A termination signal
// takes the same road without any dialog.

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QTimer;

namespace vantry {

class Studio;

// The questions the flow asks; message boxes in the application, scripted in tests.
class QuitPrompts {
 public:
  enum class Keep { save, cancel, remove };
  virtual ~QuitPrompts() = default;
  // "Keep this recording before quitting?" with the folder as shown (home as "~"); the
  // remove choice is offered only when `deletable`.
  virtual Keep askKeep(const QString& folder, bool deletable) = 0;
  // The second question before the folder goes to the Trash; Cancel is the default.
  virtual bool confirmDelete() = 0;
  // The project could not be saved: quit anyway and lose the latest edits?
  virtual bool quitAnyway(const QString& message) = 0;
};

std::shared_ptr<QuitPrompts> messageBoxPrompts(std::function<QWidget*()> parent);

// Moves a folder to the Trash; on failure returns the reason (translated).
using TrashFolder = std::function<std::optional<std::string>(const QString& folder)>;

struct QuitServices {
  std::shared_ptr<QuitPrompts> prompts;
  TrashFolder trash;           // empty: moveFolderToTrash
  QString recordingsRoot;      // empty: the recorder's default folder
  std::function<void()> quit;  // empty: QCoreApplication::quit
  int pollMilliseconds = 100;
};

class QuitFlow : public QObject {
  Q_OBJECT

 public:
  QuitFlow(Studio* studio, QuitServices services, QObject* parent = nullptr);

  // The user asks to quit (menu, shortcut, window close). Ignored while a request runs.
  void request();
  // SIGTERM or SIGINT: finish a recording or export, save, quit; no dialogs.
  void terminate();
  bool pending() const { return pending_; }

  // The recording's folder when the project lies directly in the recordings folder.
  static std::optional<QString> deletableFolder(const QString& projectFile, const QString& root);
  // The folder of a project file, cleaned and absolute.
  static QString projectFolder(const QString& projectFile);
  // A path with the home folder written as "~".
  static QString abbreviatedPath(const QString& path);

 private:
  void pollStop();
  void finish();
  // Saves; on failure asks whether to quit anyway. False: stay.
  bool saveOrAsk();
  bool confirmQuit();
  void stay();
  void quitNow();
  void terminateStep();

  QPointer<Studio> studio_;
  QuitServices services_;
  bool pending_ = false;
  bool terminating_ = false;
  bool terminateStopAsked_ = false;
  std::optional<std::string> errorBefore_;
};

}  // namespace vantry
