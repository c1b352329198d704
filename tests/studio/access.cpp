#include <QTimer>

#include "fakes.h"
#include "studio/save_worker.h"

namespace vantry {

int StudioTestAccess::writes(Studio& s) {
  s.saver_->flush();
  return s.saver_->writes();
}

void StudioTestAccess::occupySaver(Studio& s, const std::string& path, std::function<void()> held) {
  s.saver_->submit(Clip{}, path, 0, [held = std::move(held)](const auto&) { held(); });
}

bool StudioTestAccess::savePending(const Studio& s) {
  return s.saveTimer_->isActive();
}

}  // namespace vantry
