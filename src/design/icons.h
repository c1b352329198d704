#pragma once

// The interface's symbols, drawn in code. Names follow the symbol names the views use
// ("play.fill", "scissors", ...); an unknown name draws nothing.

#include <QColor>
#include <QRectF>
#include <QStringList>
#include <QStringView>

class QPainter;

namespace vantry {

// Draws the symbol centred in `box` (its larger side is the symbol's size), stroked with a
// line width that follows `weight` the way a font's weight thickens its strokes.
void paintSymbol(QPainter& painter, QStringView name, const QRectF& box, const QColor& color,
                 int weight = 500);

bool hasSymbol(QStringView name);
// Every symbol name, sorted.
QStringList symbolNames();

}  // namespace vantry
