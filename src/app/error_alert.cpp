#include "app/error_alert.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "app/alert_width.h"
#include "design/coalesced_refresh.h"
#include "localization/platform_texts.h"
#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"
#include "studio/studio.h"

namespace vantry {

ErrorAlert::ErrorAlert(Studio& studio, QWidget* window)
    : QObject(window), studio_(studio), window_(window) {
  refresh_ = new CoalescedRefresh(this, [this] { refresh(); });
  connect(&studio_, &Studio::changed, refresh_, &CoalescedRefresh::request);
  connect(&LanguageSettings::shared(), &LanguageSettings::changed, refresh_,
          &CoalescedRefresh::request);
}

void ErrorAlert::refreshNow() {
  refresh_->flush();
}

void ErrorAlert::refresh() {
  const auto& error = studio_.error();
  if (!error) {
    if (box_) {
      dismiss();
    }
    return;
  }
  const bool permission = studio_.screenPermissionNeeded();
  if (box_ && (help_ != nullptr) != permission) {
    // The buttons change with the kind of error: build it again.
    dismiss();
  }
  if (!box_) {
    // Over whatever modal window is on top, so that a sheet never hides it.
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent || parent == box_) parent = window_;
    box_ = new QMessageBox(parent);
    box_->setAttribute(Qt::WA_DeleteOnClose);
    box_->setIcon(QMessageBox::Warning);
    box_->setWindowModality(Qt::WindowModal);
    help_ = permission ? box_->addButton(QString(), QMessageBox::ActionRole) : nullptr;
    ok_ = box_->addButton(QString(), QMessageBox::RejectRole);
    ok_->setObjectName(QStringLiteral("alertOK"));
    box_->setDefaultButton(ok_);
    box_->setEscapeButton(ok_);
    connect(box_, &QMessageBox::finished, this, &ErrorAlert::finished);
  }
  const QString title = permission ? QL("需要屏幕录制权限") : QL("需要处理一下");
  box_->setWindowTitle(title);
  box_->setText(title);
  box_->setInformativeText(QString::fromStdString(shownMessage(*error)));
  // On Linux the button opens the in-app help, not a settings pane.
  if (help_) help_->setText(QL("打开权限帮助"));
  ok_->setText(QL("知道了"));
  fitAlertWidth(*box_);
  // Shown once it holds its texts, so that it opens at its full size.
  if (!box_->isVisible()) box_->open();
}

void ErrorAlert::dismiss() {
  closingForStudio_ = true;
  box_->close();
  closingForStudio_ = false;
  box_ = nullptr;
  help_ = nullptr;
  ok_ = nullptr;
}

void ErrorAlert::finished() {
  // Without a window manager nothing else would give the keyboard back to the window under
  // the alert, and its keys (Tab, Return, the shortcuts) would be dead.
  if (box_ && box_->parentWidget()) box_->parentWidget()->window()->activateWindow();
  if (closingForStudio_ || !box_) return;
  const bool help = help_ && box_->clickedButton() == help_;
  box_ = nullptr;
  help_ = nullptr;
  ok_ = nullptr;
  if (help) studio_.openScreenPermissionSettings();
  studio_.setError(std::nullopt);
}

}  // namespace vantry
