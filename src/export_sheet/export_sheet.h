#pragma once

// export_sheet/: the sheet over the main window that sets an export up, follows it and shows
// how it ended.
//
// The export sheet: settings with a size estimate, progress with elapsed and remaining
// time, and the success or failure of the last export. It shows the controller's export
// fields and calls one controller operation per button.

#include <QImage>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "design/sheet.h"

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
// A byte count in the interface language, in SI units as file sizes are shown.
QString exportSizeText(std::int64_t bytes);
// A path with the home folder written "~".
QString homeAbbreviated(const QString& path);

class ExportSheet : public Sheet {
  Q_OBJECT

 public:
  enum class Content { settings, progress, success, failure };

  explicit ExportSheet(Studio& studio, QWidget* parent = nullptr);
  ~ExportSheet() override;

  Content content() const;
  QString title() const;
  void refreshNow();
  // The still of the exported movie (null until one was read) and whether the elapsed-time
  // clock runs.
  QImage thumbnail() const { return thumbnail_; }
  bool timingRuns() const;

 protected:
  void askToDismiss() override;
  void pressed(Key key) override;
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void refresh();
  void tickTiming();
  // Reads the still of the movie shown as the result on a worker; an answer arriving after
  // the result changed or the success content left is dropped.
  void followThumbnail(const std::optional<std::string>& url);
  void sampleBehind();

  Studio& studio_;
  CoalescedRefresh* refresh_;
  class QTimer* timer_;
  class QTimer* sample_;
  QImage behind_;  // the window behind the sheet, blurred
  struct Parts;
  std::unique_ptr<Parts> parts_;
  std::optional<std::string> thumbnailFor_;
  quint64 thumbnailRequest_ = 0;
  QImage thumbnail_;
};

}  // namespace vantry
