#include "app/quit_flow.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <iostream>

#include "app/alert_width.h"
#include "app/trash.h"
#include "capture/display_recorder.h"
#include "localization/platform_texts.h"
#include "localization/qt/qt_text.h"
#include "localization/user_message.h"
#include "studio/studio.h"

namespace vantry {

namespace {

// Asks, wide enough for what the box says, then gives the keyboard back to the window the box
// belongs to: without a window manager nothing else would, and the window's shortcuts would
// be dead after a Cancel.
void ask(QMessageBox& box) {
  fitAlertWidth(box);
  box.exec();
  if (QWidget* owner = box.parentWidget()) owner->window()->activateWindow();
}

class MessageBoxPrompts final : public QuitPrompts {
 public:
  explicit MessageBoxPrompts(std::function<QWidget*()> parent) : parent_(std::move(parent)) {}

  Keep askKeep(const QString& folder, bool deletable) override {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Vantry"), QL("退出前要保留这段录制吗？"),
                    QMessageBox::NoButton, parentWidget());
    box.setInformativeText(QL("录制和剪辑都保存在：") + QStringLiteral("\n") + folder);
    QPushButton* save = box.addButton(QL("保存并退出"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QL("取消"), QMessageBox::RejectRole);
    QPushButton* remove =
        deletable ? box.addButton(QL("删除录制并退出"), QMessageBox::DestructiveRole) : nullptr;
    save->setObjectName(QStringLiteral("keepRecording"));
    cancel->setObjectName(QStringLiteral("cancel"));
    if (remove) remove->setObjectName(QStringLiteral("deleteRecording"));
    box.setDefaultButton(save);
    box.setEscapeButton(cancel);
    ask(box);
    if (box.clickedButton() == save) return Keep::save;
    if (remove && box.clickedButton() == remove) return Keep::remove;
    return Keep::cancel;
  }

  bool confirmDelete() override {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Vantry"), QL("删除这段录制？"),
                    QMessageBox::NoButton, parentWidget());
    box.setInformativeText(QL("录屏、摄像头和声音文件会移到废纸篓，可以从废纸篓恢复。"));
    QPushButton* remove = box.addButton(QL("删除并退出"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(QL("取消"), QMessageBox::RejectRole);
    remove->setObjectName(QStringLiteral("confirmDelete"));
    cancel->setObjectName(QStringLiteral("cancel"));
    // Return must never throw a recording away.
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    ask(box);
    return box.clickedButton() == remove;
  }

  bool quitAnyway(const QString& message) override {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Vantry"),
                    QL("编辑未能保存，现在退出会丢失最近的修改。"), QMessageBox::NoButton,
                    parentWidget());
    box.setInformativeText(message);
    QPushButton* quit = box.addButton(QL("仍然退出"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(QL("取消"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    ask(box);
    return box.clickedButton() == quit;
  }

 private:
  QWidget* parentWidget() const {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    return parent_ ? parent_() : nullptr;
  }

  std::function<QWidget*()> parent_;
};

}  // namespace

std::shared_ptr<QuitPrompts> messageBoxPrompts(std::function<QWidget*()> parent) {
  return std::make_shared<MessageBoxPrompts>(std::move(parent));
}

QuitFlow::QuitFlow(Studio* studio, QuitServices services, QObject* parent)
    : QObject(parent), studio_(studio), services_(std::move(services)) {
  if (!services_.prompts) services_.prompts = messageBoxPrompts({});
  if (!services_.trash) services_.trash = moveFolderToTrash;
  if (services_.recordingsRoot.isEmpty()) {
    services_.recordingsRoot = QString::fromStdString(DisplayRecorder::defaultRecordingsFolder());
  }
  if (!services_.quit) services_.quit = [] { QCoreApplication::quit(); };
}

QString QuitFlow::projectFolder(const QString& projectFile) {
  return QDir::cleanPath(QFileInfo(projectFile).absolutePath());
}

std::optional<QString> QuitFlow::deletableFolder(const QString& projectFile, const QString& root) {
  const QString folder = projectFolder(projectFile);
  const QString parent = QDir::cleanPath(QFileInfo(folder).absolutePath());
  if (folder == parent) return std::nullopt;  // the file system root
  if (parent != QDir::cleanPath(QFileInfo(root).absoluteFilePath())) return std::nullopt;
  return folder;
}

QString QuitFlow::abbreviatedPath(const QString& path) {
  const QString home = QDir::cleanPath(QDir::homePath());
  if (home.isEmpty() || home == QStringLiteral("/")) return path;
  if (path == home) return QStringLiteral("~");
  if (path.startsWith(home + QLatin1Char('/'))) return QStringLiteral("~") + path.mid(home.size());
  return path;
}

void QuitFlow::request() {
  if (pending_ || terminating_) return;
  if (!studio_) {
    quitNow();
    return;
  }
  // A project still opening is dropped: the question is about the one open now.
  studio_->cancelOpening();
  if (studio_->exporting() || studio_->busy()) {
    studio_->setError(L("正在处理视频，请完成后再退出。"));
    return;
  }
  pending_ = true;
  if (studio_->recording()) {
    // Only an error raised by this stop counts, not one the user has not closed yet.
    errorBefore_ = studio_->error();
    studio_->stop();
    QTimer::singleShot(services_.pollMilliseconds, this, &QuitFlow::pollStop);
    return;
  }
  finish();
}

void QuitFlow::pollStop() {
  if (terminating_) return;  // the termination road has taken over
  if (!studio_) {
    quitNow();
    return;
  }
  if (studio_->busy()) {
    QTimer::singleShot(services_.pollMilliseconds, this, &QuitFlow::pollStop);
    return;
  }
  const auto& error = studio_->error();
  if (studio_->recording() || (error && error != errorBefore_)) {
    stay();  // the stop failed: its error is in the alert
    return;
  }
  finish();
}

void QuitFlow::finish() {
  if (!saveOrAsk()) return;
  if (terminating_) return;
  if (!confirmQuit()) {
    if (!terminating_) stay();
    return;
  }
  quitNow();
}

bool QuitFlow::saveOrAsk() {
  if (studio_->saveNow()) return true;
  // The save failed: say so here rather than in the alert, and let the user choose.
  const std::string message = studio_->error().value_or(std::string());
  studio_->setError(std::nullopt);
  const bool quit = services_.prompts->quitAnyway(QString::fromStdString(shownMessage(message)));
  if (terminating_) return false;
  if (quit) {
    quitNow();
  } else {
    stay();
  }
  return false;
}

bool QuitFlow::confirmQuit() {
  Studio& s = *studio_;
  if (s.clip().isDemo || !s.projectURL()) return true;
  const QString file = QString::fromStdString(*s.projectURL());
  const QString folder = projectFolder(file);
  const auto deletable = deletableFolder(file, services_.recordingsRoot);
  switch (services_.prompts->askKeep(abbreviatedPath(folder), deletable.has_value())) {
    case QuitPrompts::Keep::cancel:
      return false;
    case QuitPrompts::Keep::save:
      if (terminating_ || !studio_) return false;
      return saveOrAsk();
    case QuitPrompts::Keep::remove:
      break;
  }
  if (!deletable || terminating_ || !studio_) return false;
  if (!services_.prompts->confirmDelete() || terminating_ || !studio_) return false;
  // Nothing may write into the folder once it is on its way to the Trash.
  const auto project = s.projectURL();
  s.setProjectURL(std::nullopt);
  if (const auto failure = services_.trash(*deletable)) {
    // Keep the project attached to its autosave.
    s.setProjectURL(project);
    s.setError(L("录制未能删除：") + *failure);
    return false;
  }
  return true;
}

void QuitFlow::stay() {
  pending_ = false;
}

void QuitFlow::quitNow() {
  pending_ = false;
  services_.quit();
}

void QuitFlow::terminate() {
  if (terminating_) return;
  terminating_ = true;
  // A question on screen has no one to answer it now.
  if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) dialog->reject();
  QTimer::singleShot(0, this, &QuitFlow::terminateStep);
}

void QuitFlow::terminateStep() {
  if (!studio_) {
    services_.quit();
    return;
  }
  Studio& s = *studio_;
  s.cancelOpening();
  if (s.exporting() && !s.exportCancelling()) s.cancelExport();
  if (s.recording() && !s.busy() && !terminateStopAsked_) {
    terminateStopAsked_ = true;
    s.stop();
  }
  if (s.busy() || s.exporting()) {
    QTimer::singleShot(services_.pollMilliseconds, this, &QuitFlow::terminateStep);
    return;
  }
  // Only edits that are not in the file yet are written, and only those can be lost.
  if (!s.saveNow() && s.saveFailure()) {
    // Nobody is left to answer a question: standard error is where a terminal or the
    // session's log keeps what is lost.
    const SaveFailure& why = *s.saveFailure();
    std::cerr << systemFailure(L("退出时未能保存项目 {0}，最近的修改已丢失。", shownPath(why.path)),
                               why.errnum, {}, why.detail)
              << std::endl;
  }
  services_.quit();
}

}  // namespace vantry
