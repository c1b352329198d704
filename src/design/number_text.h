#pragma once

// Number texts that no locale touches, shared by every view that shows the same value.

#include <QString>

namespace vantry {

// A zoom's magnification as every view shows it: at most two decimals, without trailing
// zeros ("1.25×", "1.5×", "2×"), so a block, its menu and the inspector read alike.
QString magnificationText(double value);

}  // namespace vantry
