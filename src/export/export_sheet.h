#pragma once

// The export sheet: settings with a size estimate, progress with elapsed and remaining
// time, and the success or failure of the last export. It shows the controller's export
// fields and calls one controller operation per button.

#include <QDialog>

#include <optional>

namespace vantry {

class CoalescedRefresh;
class Studio;

// Whole seconds as "m:ss", or "h:mm:ss" from an hour; negative, huge or non-finite values
// are capped rather than overflowing.
QString exportTime(double seconds);
QString exportPhaseText(double progress, bool cancelling);
// The whole percentage, never 100 while the export runs.
int exportPercent(double progress);
QString exportRemainingText(double progress, double elapsed, bool cancelling);

class ExportSheet : public QDialog {
  Q_OBJECT

 public:
  enum class Content { settings, progress, success, failure };

  explicit ExportSheet(Studio& studio, QWidget* parent = nullptr);

  Content content() const;
  QString title() const;
  void refreshNow();
  template <typename T>
  T* control(const char* name) const {
    return findChild<T*>(QString::fromLatin1(name));
  }

 public slots:
  void reject() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void refresh();
  void tickTiming();

  Studio& studio_;
  CoalescedRefresh* refresh_;
  class QTimer* timer_;
  struct Parts;
  Parts* parts_;
};

}  // namespace vantry
