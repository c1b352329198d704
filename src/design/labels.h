#pragma once

// Small pieces of the inspector and header: a section title with its icon badge, and a
// breathing status dot.

#include <QColor>
#include <QWidget>

#include "design/theme.h"

namespace vantry {

class Repeating;
class ShadowCaster;

// A label of a symbol and a title six points apart (the tight label style), for views that
// show an icon with text outside a button.
class TightLabel : public QWidget {
  Q_OBJECT

 public:
  TightLabel(const QString& symbol, const QString& title, QFont font, QColor color,
             QWidget* parent = nullptr);

  void setTitle(const QString& title);
  void setColor(const QColor& color);
  QString title() const { return title_; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString symbol_;
  QString title_;
  QColor color_;
};

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
