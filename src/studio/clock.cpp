#include "localization/user_message.h"
#include "studio/studio.h"

namespace vantry {

std::string clock(double seconds) {
  return shownDuration(seconds);
}

}  // namespace vantry
