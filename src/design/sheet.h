#pragma once

// A sheet over the main window that the controller shows and hides. Escape and the window's
// close ask the controller to dismiss it, which it refuses while it works; the window closing
// the sheet for the controller (property "closedForStudio") always closes it, even while the
// controller works. Enter and Escape are taken from the window and handed to the sheet;
// Enter on a button that holds the keyboard focus presses that button instead.

#include <QDialog>

namespace vantry {

class Sheet : public QDialog {
  Q_OBJECT

 public:
  using QDialog::QDialog;

  template <typename T>
  T* control(const char* name) const {
    return findChild<T*>(QString::fromLatin1(name));
  }

 public slots:
  void reject() override;

 protected:
  enum class Key { enter, escape };
  // Asks the controller to dismiss the sheet.
  virtual void askToDismiss() = 0;
  virtual void pressed(Key key) = 0;
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace vantry
