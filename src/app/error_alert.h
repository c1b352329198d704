#pragma once

// The main window's one alert: shows the controller's error while there is one, over the
// top-most modal window so that no sheet or overlay hides it. Closing it clears the error.

#include <QObject>
#include <QPointer>

#include <QMessageBox>
#include <QPushButton>

namespace vantry {

class CoalescedRefresh;
class Studio;

class ErrorAlert : public QObject {
  Q_OBJECT

 public:
  ErrorAlert(Studio& studio, QWidget* window);

  // The alert now shown, or null.
  QMessageBox* box() const { return box_; }
  // The button that opens the access help (null unless the error is about screen access).
  QPushButton* helpButton() const { return help_; }
  void refreshNow();

 private:
  void refresh();
  void finished();
  // Closes the alert without touching the error.
  void dismiss();

  Studio& studio_;
  QWidget* window_;
  QPointer<QMessageBox> box_;
  QPointer<QPushButton> help_;
  QPointer<QPushButton> ok_;
  bool closingForStudio_ = false;
  CoalescedRefresh* refresh_;
};

}  // namespace vantry
