#pragma once

// Small pieces of the inspector and header: a section title with its icon badge, and a
// breathing status dot.

#include <QColor>
#include <QWidget>

#include "design/theme.h"

namespace vantry {

class Repeating;
class ShadowCaster;

class SectionTitle : public QWidget {
  Q_OBJECT

 public:
  SectionTitle(const QString& icon, const QString& title, QColor tint = Theme::cyan,
               QWidget* parent = nullptr);

  // The caption as shown: upper-cased (Chinese stays as it is).
  QString caption() const { return title_.toUpper(); }
  void setTitle(const QString& title);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return QSize(20, 20); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString icon_;
  QString title_;
  QColor tint_;
};

class StatusDot : public QWidget {
  Q_OBJECT

 public:
  explicit StatusDot(QColor color, QWidget* parent = nullptr);

  QColor color() const { return color_; }
  void setColor(const QColor& color);
  // 0 dim ... 1 bright (the breathing phase).
  double brightness() const;

  QSize sizeHint() const override { return QSize(7, 7); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QColor color_;
  Repeating* breath_;
  ShadowCaster* shadow_;
};

}  // namespace vantry
