#pragma once

// The main window's top strip: product mark, the title of what the window holds with the
// REC timer or the live badge, the status pill with the controller's notice, and the
// window's main actions (open, settings, record, export).

#include <QWidget>

#include <functional>

class QAbstractButton;

namespace vantry {

class CapsuleBox;
class CoalescedRefresh;
class ElidedText;
class GlassButton;
class IconButton;
class PrimaryButton;
class RecordButton;
class StatusDot;
class Studio;
class TitleAndPill;

// The title shown in the header for the controller's state.
QString headerTitle(const Studio& studio);
// The status dot's colour: recording, exporting, live, otherwise.
QColor statusDotColor(const Studio& studio);

class HeaderBar : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kHeight = 56;
  static constexpr int kPillMaxWidth = 420;
  // Linux windows keep their frame: no space is kept for window buttons.
  static constexpr int kLeadingPadding = 16;

  HeaderBar(Studio& studio, std::function<void()> openSettings, QWidget* parent = nullptr);

  void refreshNow();

  // For tests and the shots.
  QString title() const;
  ElidedText* titleView() const { return title_; }
  CapsuleBox* recordingChip() const { return recChip_; }
  ElidedText* recordingChipText() const { return recText_; }
  CapsuleBox* liveBadge() const { return liveBadge_; }
  StatusDot* statusDot() const { return dot_; }
  ElidedText* noticeView() const { return notice_; }
  CapsuleBox* statusPill() const { return pill_; }
  IconButton* openButton() const { return open_; }
  GlassButton* settingsButton() const { return settings_; }
  RecordButton* recordButton() const { return record_; }
  PrimaryButton* exportButton() const { return export_; }

 private:
  void refresh();
  void refreshTime();

  Studio& studio_;
  TitleAndPill* titleAndPill_;
  ElidedText* title_;
  CapsuleBox* recChip_;
  ElidedText* recText_;
  CapsuleBox* liveBadge_;
  ElidedText* liveText_;
  CapsuleBox* pill_;
  StatusDot* dot_;
  ElidedText* notice_;
  IconButton* open_;
  GlassButton* settings_;
  RecordButton* record_;
  PrimaryButton* export_;
  CoalescedRefresh* refresh_;
};

}  // namespace vantry
