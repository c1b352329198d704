#pragma once

// The content of one display overlay: the dimmed screen, a card with the display's name,
// its pixel size and the start disc (a countdown or a connecting state while this display
// is being started), and on the controls screen a floating bar for cancelling, switching
// to window mode and choosing camera, presenter layout and microphone.

#include <QAbstractButton>
#include <QImage>
#include <QWidget>

#include "design/buttons.h"
#include "platform/screen_source.h"

class QGraphicsOpacityEffect;

namespace vantry {

class Animated;
class OverlayWindow;
class PillSegment;
class RecordingOverlayController;
class Repeating;
class Studio;

// The card's start button: a red disc in a glass ring with a slowly breathing halo.
class StartDisc : public QAbstractButton {
  Q_OBJECT

 public:
  explicit StartDisc(QWidget* parent = nullptr);
  bool hovering() const { return hovering_; }
  void setDim(double opacity);

  QSize sizeHint() const override { return QSize(150, 150); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool hitButton(const QPoint& pos) const override;

 private:
  bool hovering_ = false;
  double dim_ = 1.0;
  Animated* hover_;
  Repeating* breathe_;
};

// The camera toggle of the control bar with its round live thumbnail.
class CameraToggle : public GlassButton {
  Q_OBJECT

 public:
  CameraToggle(Studio& studio, QWidget* parent = nullptr);
  // The 30-point round thumbnail as painted now, at device scale 1.
  QImage thumbnail() const;

 protected:
  QSizeF contentSize() const override;
  void paintContent(QPainter& painter, const QRectF& rect, const QColor& color) override;

 private:
  void paintThumbnail(QPainter& painter, const QRectF& circle) const;
  Studio& studio_;
};

class MonitorOverlayView : public QWidget {
  Q_OBJECT

 public:
  MonitorOverlayView(Studio& studio, RecordingOverlayController& overlay, OverlayWindow* window,
                     QString name, QSize pixels, bool showsControls);

  platform::DisplayId displayId() const;
  bool showsControls() const { return controls_ != nullptr; }
  bool active() const;
  // The text of the card's pixel size, "3024 × 1964".
  QString pixelText() const;
  // What the card's main slot shows now.
  enum class Slot { disc, connecting, countdown };
  Slot slot() const;
  // The message shown under the main slot (empty: none).
  QString shownMessage() const;
  QRect cardRect() const;

  StartDisc* disc() const { return disc_; }
  QWidget* controlBar() const { return controls_; }
  QAbstractButton* cancelButton() const { return cancel_; }
  PillSegment* sourcePill() const { return source_; }
  CameraToggle* cameraButton() const { return camera_; }
  PillSegment* presenterPill() const { return presenter_; }
  GlassButton* microphoneButton() const { return microphone_; }

  // Paint opacity of the whole overlay (the fades).
  void fadeTo(double opacity, double seconds);
  double fade() const;
  // The overlay is closing: it stops following the studio, the controller and the
  // language, so that while it fades or waits for its deletion it never reaches a studio
  // that has gone.
  void release();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void refresh();
  void placeChildren();
  void buildControls();
  void paintCard(QPainter& painter);
  void paintFrost(QPainter& painter, const QRectF& card, double radius);

  Studio& studio_;
  RecordingOverlayController& overlay_;
  OverlayWindow* window_;
  QString name_;
  QSize pixels_;
  Animated* fade_;
  Animated* activeness_;
  StartDisc* disc_;
  Repeating* spin_;
  QImage frost_;  // the blurred backdrop under the card
  QRect frostArea_;
  qint64 frostKey_ = 0;
  QWidget* controls_ = nullptr;
  QAbstractButton* cancel_ = nullptr;
  PillSegment* source_ = nullptr;
  CameraToggle* camera_ = nullptr;
  PillSegment* presenter_ = nullptr;
  QGraphicsOpacityEffect* presenterFade_ = nullptr;
  GlassButton* microphone_ = nullptr;
};

}  // namespace vantry
