#include <QTimer>

#include "fakes.h"
#include "studio/save_worker.h"

namespace vantry {

int StudioTestAccess::writes(Studio& s) {
  s.saver_->flush();
  return s.saver_->writes();
}

bool StudioTestAccess::savePending(const Studio& s) {
  return s.saveTimer_->isActive();
}

}  // namespace vantry
