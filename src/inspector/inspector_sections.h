#pragma once

// What every inspector tab is built from: a titled section on a dark card, a slider row
// with its value in a pill, and the texts and marks the tabs compute from the settings.

#include <QAbstractButton>
#include <QWidget>

#include <optional>

#include "design/theme.h"

class QLabel;
class QVBoxLayout;

namespace vantry {

class NeonSlider;

// "铺满" below half a thousandth, else the padding as a percentage with one decimal.
QString paddingText(double padding);
// A padding preset is marked within half a thousandth of its value.
bool paddingPresetMarked(double padding, double preset);
// The camera sync as the lead or lag of the picture in whole milliseconds.
QString cameraSyncText(std::optional<double> adjustment);

// A section: its coloured title above a dark rounded card holding the controls.
class InspectorSection : public QWidget {
  Q_OBJECT

 public:
  InspectorSection(const QString& icon, const QString& title, QColor tint,
                   QWidget* parent = nullptr);
  // The card's stack, spacing 14.
  QVBoxLayout* card() const { return card_; }

 private:
  QVBoxLayout* card_;
};

// A title, its value in a cyan pill, and a continuous slider under them.
class InspectorSliderRow : public QWidget {
  Q_OBJECT

 public:
  InspectorSliderRow(const QString& title, double lo, double hi, QWidget* parent = nullptr);
  NeonSlider* slider() const { return slider_; }
  // Follows the controller: the value and its text, without emitting.
  void follow(double value, const QString& display);
  QString display() const;

 private:
  QLabel* pill_;
  NeonSlider* slider_;
};

// A label in a tinted rounded pill, the way the inspector shows values.
QLabel* makeValuePill(QColor tint, double opacity, QWidget* parent);

// The card behind a section's controls.
class InspectorCard : public QWidget {
  Q_OBJECT

 public:
  explicit InspectorCard(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace vantry
