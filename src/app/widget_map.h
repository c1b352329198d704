#pragma once

// A test hook: when VANTRY_WIDGET_MAP names a file, the application keeps in it a JSON
// description of its visible windows and of their named widgets (class, global geometry,
// text, value), so that a driver outside the process can aim real input events at them.
// The file is replaced whole whenever the description changes.

class QObject;
class QString;

namespace vantry {

// Starts the map when the variable is set; does nothing otherwise.
void startWidgetMapFromEnvironment(QObject* parent);
// The description as it would be written now (compact JSON).
QString widgetMapJson();

}  // namespace vantry
