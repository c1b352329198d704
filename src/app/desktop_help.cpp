#include "app/desktop_help.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

#include "design/language_settings_view.h"
#include "design/painting.h"
#include "design/space_key.h"
#include "design/theme.h"
#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"
#include "studio/studio.h"

namespace vantry {

namespace {

class AccessHelp final : public QDialog {
 public:
  explicit AccessHelp(QWidget* parent) : QDialog(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Theme::raised);
    colours.setColor(QPalette::WindowText, Theme::text);
    colours.setColor(QPalette::Button, Theme::raised);
    colours.setColor(QPalette::ButtonText, Theme::text);
    setPalette(colours);
    setAutoFillBackground(true);
    setMinimumWidth(460);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 22, 24, 20);
    column->setSpacing(12);
    title_ = new QLabel(this);
    title_->setFont(uiFont(16, QFont::DemiBold));
    column->addWidget(title_);
    for (QLabel*& label : paragraphs_) {
      label = new QLabel(this);
      label->setWordWrap(true);
      label->setFont(uiFont(12.5, QFont::Normal));
      label->setTextInteractionFlags(Qt::TextSelectableByMouse);
      column->addWidget(label);
    }
    // The command on a line of its own: wrapped with the sentence, it broke at its hyphen.
    auto* command = new QLabel(QStringLiteral("sudo usermod -aG video $USER"), this);
    command->setObjectName(QStringLiteral("videoGroupCommand"));
    command->setFont(Theme::mono(13, QFont::Medium));
    command->setTextInteractionFlags(Qt::TextSelectableByMouse);
    command->setContentsMargins(12, 0, 0, 0);
    column->insertWidget(column->indexOf(paragraphs_[2]) + 1, command);
    ok_ = new QPushButton(this);
    ok_->setDefault(true);
    column->addWidget(ok_, 0, Qt::AlignRight);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(&LanguageSettings::shared(), &LanguageSettings::changed, this, &AccessHelp::refresh);
    refresh();
  }

 private:
  void refresh() {
    setWindowTitle(QL("权限帮助"));
    title_->setText(QL("权限帮助"));
    paragraphs_[0]->setText(QL("Linux 没有录屏权限开关。录不到画面、摄像头或声音时，请依次检查："));
    paragraphs_[1]->setText(
        QL("屏幕：Vantry 只能在 X11 桌面会话中录屏，Wayland 会话无法录制，其中的 Xwayland "
           "也不行。请注销，再登录 X11 会话。DISPLAY 必须指向本用户可以访问的显示服务。"));
    paragraphs_[2]->setText(
        QL("摄像头：当前用户需要属于 video 组（用下面的命令加入，然后重新登录），"
           "并且摄像头不能被其他应用占用。"));
    paragraphs_[3]->setText(
        QL("麦克风：需要正在运行的声音服务（PulseAudio，或带 pipewire-pulse 的 PipeWire），"
           "并且在声音设置中选中了输入设备。"));
    ok_->setText(QL("知道了"));
  }

  QLabel* title_;
  QLabel* paragraphs_[4];
  QPushButton* ok_;
};

QPointer<AccessHelp>& openHelp() {
  static QPointer<AccessHelp> help;
  return help;
}

}  // namespace

void SettingsWindow::open(QWidget* over) {
  if (!view_) {
    if (!over) over = QApplication::activeWindow();
    if (over) over = over->window();
    // A window of its own that belongs to the one it was opened from.
    view_ = new LanguageSettingsView(over);
    view_->setWindowFlag(Qt::Window);
    view_->setAttribute(Qt::WA_DeleteOnClose);
    view_->setWindowTitle(QL("设置"));
    QObject::connect(&LanguageSettings::shared(), &LanguageSettings::changed, view_,
                     [view = view_.data()] { view->setWindowTitle(QL("设置")); });
    // Closed from the keyboard as a window of its own is; Return picks the language that
    // holds the focus.
    for (const QKeySequence& keys :
         {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::ControlModifier | Qt::Key_W)}) {
      QObject::connect(new QShortcut(keys, view_), &QShortcut::activated, view_, &QWidget::close);
    }
    new ReturnKey(view_);
    // Nothing holds the keyboard until Tab: Space on a lit language would switch to it.
    holdKeyboardFocus(view_);
    // Without a window manager nothing else would give the keyboard back to the window the
    // settings were opened from.
    QObject::connect(view_, &QObject::destroyed, [opener = QPointer<QWidget>(over)] {
      if (opener && opener->isVisible()) opener->activateWindow();
    });
    // Centred on that window, and kept on its screen.
    if (over) {
      view_->adjustSize();
      const QSize size = view_->frameGeometry().size();
      QPoint at = over->frameGeometry().center() - QPoint(size.width() / 2, size.height() / 2);
      if (const QScreen* screen = over->screen()) {
        const QRect room = screen->availableGeometry();
        at.setX(std::max(room.left(), std::min(at.x(), room.right() + 1 - size.width())));
        at.setY(std::max(room.top(), std::min(at.y(), room.bottom() + 1 - size.height())));
      }
      view_->move(at);
    }
  }
  view_->show();
  view_->raise();
  view_->activateWindow();
}

QWidget* SettingsWindow::window() const {
  return view_;
}

QWidget* showAccessHelp(QWidget* parent) {
  QPointer<AccessHelp>& help = openHelp();
  if (!help) {
    if (!parent) parent = QApplication::activeModalWidget();
    if (!parent) parent = QApplication::activeWindow();
    help = new AccessHelp(parent);
  }
  help->show();
  help->raise();
  help->activateWindow();
  return help;
}

void AppDesktop::openFolder(const std::string& path, DesktopDone done) {
  if (inner_) return inner_->openFolder(path, std::move(done));
  const bool opened = QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
  if (done) done(opened);
}

void AppDesktop::revealFile(const std::string& path, DesktopDone done) {
  if (inner_) return inner_->revealFile(path, std::move(done));
  openFolder(QFileInfo(QString::fromStdString(path)).absolutePath().toStdString(), std::move(done));
}

void AppDesktop::openFile(const std::string& path, DesktopDone done) {
  if (inner_) return inner_->openFile(path, std::move(done));
  const bool opened = QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
  if (done) done(opened);
}

void AppDesktop::openPermissionHelp() {
  showAccessHelp();
}

QString sharedFilePath(const QString& name, const QString& programFolder) {
  QStringList folders;
  const QString app =
      programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : programFolder;
  if (!app.isEmpty()) {
    folders << app + QStringLiteral("/../share/vantry") << app + QStringLiteral("/share/vantry");
  }
#ifdef VANTRY_BUILD_SHARE_DIR
  folders << QStringLiteral(VANTRY_BUILD_SHARE_DIR);
#endif
  for (const QString& data :
       QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
    folders << data + QStringLiteral("/vantry");
  }
  for (const QString& folder : folders) {
    const QFileInfo file(QDir(folder), name);
    if (file.isFile()) return QDir::cleanPath(file.absoluteFilePath());
  }
  return {};
}

QString privacyNotesPath(AppLanguage language, const QString& programFolder) {
  return sharedFilePath(language == AppLanguage::chinese ? QStringLiteral("Privacy.txt")
                                                         : QStringLiteral("Privacy-en.txt"),
                        programFolder);
}

void openPrivacyNotes(Studio& studio) {
  const QString path = privacyNotesPath(LanguageSettings::shared().selected());
  if (!path.isEmpty()) studio.openPrivacyNotes(path.toStdString());
}

}  // namespace vantry
