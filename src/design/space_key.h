#pragma once

// The space bar of a window: it plays and pauses, and otherwise does nothing. Without this
// Space would press whichever button holds the keyboard focus (open a dialog, jump to the
// start). Text fields keep their spaces.
//
// Return instead presses the control that holds the keyboard focus, so that a control a
// person reached with Tab can be used from the keyboard.

#include <QObject>

#include <functional>

class QKeyEvent;
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

class ReturnKey : public QObject {
 public:
  // Return or the keypad's Enter pressed in `window` while one of its buttons holds the
  // keyboard focus clicks that button, once per press. Only what the focused control leaves
  // unused comes here: a text field keeps its Return. Windows that give Return a meaning of
  // their own (a sheet's default button, the overlay's start) do without this.
  explicit ReturnKey(QWidget* window);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* window_;
};

// What Return (or the keypad's Enter) without other modifiers does in `window` when one of
// its buttons holds the keyboard focus: clicks it, once per press (a held key repeats
// nothing). False, doing nothing, for any other key or focus.
bool pressFocusedButton(QWidget* window, const QKeyEvent& key);

// Makes `widget` hold the keyboard focus itself, so that no control of its window starts
// with the focus (and a focus ring) before the person presses Tab.
void holdKeyboardFocus(QWidget* widget);

}  // namespace vantry
