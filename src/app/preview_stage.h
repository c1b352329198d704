#pragma once

// The preview stage: the composed picture at 16:9, as large as the space allows, with its
// rounded border and glow, black while the full-screen player is open, and the panel that
// reports a failed live preview in standby.

#include <QRectF>
#include <QWidget>

#include <functional>

class QLabel;

namespace vantry {

class CoalescedRefresh;
class GlassButton;
class Studio;

// The stage inside a reader of `size`: 16:9, as wide as fits, centred.
QRectF stageRect(QSizeF size);

class PreviewStage : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kMinimumHeight = 260;

  // `picture` becomes a child of the stage (null: the controller's preview surface).
  PreviewStage(Studio& studio, QWidget* picture, QWidget* parent = nullptr);

  QRectF stage() const { return stageRect(size()); }
  QWidget* picture() const { return picture_; }
  QWidget* frame() const { return frame_; }
  // The setup-error panel (hidden unless shown).
  QWidget* errorPanel() const { return panel_; }
  QLabel* errorMessage() const { return message_; }
  GlassButton* retryButton() const { return retry_; }
  GlassButton* permissionsButton() const { return permissions_; }
  bool showsBlack() const;

  void refreshNow();
  QSize sizeHint() const override { return QSize(640, 400); }
  QSize minimumSizeHint() const override { return QSize(100, kMinimumHeight); }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void refresh();
  void place();

  Studio& studio_;
  QWidget* picture_;
  QWidget* frame_;
  QWidget* panel_;
  QLabel* message_;
  GlassButton* retry_;
  GlassButton* permissions_;
  CoalescedRefresh* refresh_;
};

}  // namespace vantry
