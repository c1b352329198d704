#pragma once

// The button family: glass (everyday), primary (the one call to action), record, and the
// icon-only glass button. All are painted in code and carry the pointing-hand cursor.

#include <QAbstractButton>
#include <QColor>
#include <QImage>

#include "design/shadow.h"
#include "design/theme.h"

namespace vantry {

class Animated;
class Repeating;
class ShadowCaster;

// The size of a symbol drawn beside text in `font`.
double symbolSizeFor(const QFont& font);

// Icon then title, six points apart, centred in `rect`.
QSizeF tightLabelSize(const QString& symbol, double symbolSize, const QString& title,
                      const QFont& font);
void paintTightLabel(QPainter& painter, const QRectF& rect, const QString& symbol,
                     double symbolSize, int symbolWeight, const QString& title, const QFont& font,
                     const QColor& color);

struct GlassButtonStyle {
  bool active = false;
  QColor tint = Theme::cyan;
  bool compact = false;
};

// The quiet rounded glass button: lights up on hover, tinted when active.
class GlassButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit GlassButton(const QString& title = {}, const QString& symbol = {},
                       GlassButtonStyle style = {}, QWidget* parent = nullptr);

  const GlassButtonStyle& buttonStyle() const { return style_; }
  void setButtonStyle(const GlassButtonStyle& style);
  void setActive(bool active);
  QString symbol() const { return symbol_; }
  void setSymbol(const QString& symbol);

  bool hovering() const { return hovering_; }
  // What is painted now, for tests: label colour, fill, border and scale.
  QColor labelColor() const;
  QColor fillColor() const;
  QColor borderColor() const;
  double scale() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  // The label's own frame; icon buttons fix it to a square.
  virtual QSizeF contentSize() const;
  virtual void paintContent(QPainter& painter, const QRectF& rect, const QColor& color);

  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

 private:
  void setHovering(bool hovering);
  void pressedChanged();

  GlassButtonStyle style_;
  QString symbol_;
  bool hovering_ = false;
  Animated* hover_;
  Animated* press_;
};

// An icon-only glass button (compact) with a tooltip; the symbol is framed at size - 8.
class IconButton : public GlassButton {
  Q_OBJECT

 public:
  IconButton(const QString& systemName, const QString& help, double size = 30,
             QWidget* parent = nullptr);

  double frameSide() const { return size_ - 8; }

 protected:
  // A button without text is named by its help: a new tooltip (another language, another
  // meaning) renames it for assistive technology too.
  bool event(QEvent* event) override;
  QSizeF contentSize() const override;
  void paintContent(QPainter& painter, const QRectF& rect, const QColor& color) override;

 private:
  double size_;
};

struct PrimaryButtonStyle {
  Gradient gradient = Theme::accent;
  QColor glow = Theme::cyan;
};

// The glowing gradient capsule of a panel's main action.
class PrimaryButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit PrimaryButton(const QString& title = {}, const QString& symbol = {},
                         PrimaryButtonStyle style = {}, QWidget* parent = nullptr);

  void setButtonStyle(const PrimaryButtonStyle& style);
  const PrimaryButtonStyle& buttonStyle() const { return style_; }
  bool hovering() const { return hovering_; }
  Shadow glowShadow() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool hitButton(const QPoint& pos) const override;

 private:
  void setHovering(bool hovering);
  void paintFace(QPainter& painter, const QRectF& rect) const;

  PrimaryButtonStyle style_;
  QString symbol_;
  bool hovering_ = false;
  Animated* hover_;
  ShadowCaster* shadow_;
  QImage face_;  // the enabled face at rest, for repaints
  QString faceKey_;
};

struct RecordButtonStyle {
  bool recording = false;
};

// The record and stop capsule: a pulsing red dot, a red square while recording.
class RecordButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit RecordButton(const QString& title = {}, RecordButtonStyle style = {},
                        QWidget* parent = nullptr);

  void setRecording(bool recording);
  bool recording() const { return style_.recording; }
  bool hovering() const { return hovering_; }
  bool pulsing() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool hitButton(const QPoint& pos) const override;

 private:
  RecordButtonStyle style_;
  bool hovering_ = false;
  Repeating* pulse_;
};

// A small platform-like switch (with an optional label before it) that shows the hand.
class HandSwitch : public QAbstractButton {
  Q_OBJECT

 public:
  explicit HandSwitch(const QString& title = {}, QWidget* parent = nullptr);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

 private:
  Animated* knob_;
};

}  // namespace vantry
