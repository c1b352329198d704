#include "design/number_text.h"

namespace vantry {

QString magnificationText(double value) {
  QString text = QString::number(value, 'f', 2);
  if (text.contains(QLatin1Char('.'))) {
    while (text.endsWith(QLatin1Char('0')))
      text.chop(1);
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
  }
  return text + QChar(0x00D7);
}

}  // namespace vantry
