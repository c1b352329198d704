#pragma once

// The space bar of a window: it plays and pauses, and otherwise does nothing. Without this
// Space would press whichever button holds the keyboard focus (open a dialog, jump to the
// start). Text fields keep their spaces.

#include <QObject>

#include <functional>

class QWidget;

namespace vantry {

class SpaceKey : public QObject {
 public:
  // Space pressed anywhere in `window` (not in a text field) calls `onSpace` once per press;
  // its press and release reach no control.
  SpaceKey(QWidget* window, std::function<void()> onSpace);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* window_;
  std::function<void()> onSpace_;
};

// Makes `widget` hold the keyboard focus itself, so that no control of its window starts
// with the focus (and a focus ring) before the person presses Tab.
void holdKeyboardFocus(QWidget* widget);

}  // namespace vantry
