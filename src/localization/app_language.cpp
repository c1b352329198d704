#include "localization/app_language.h"

#include <atomic>

namespace vantry {

namespace {
// Lookups on capture and export threads read this while the main thread may change it.
std::atomic<AppLanguage::Value> gCurrentLanguage{AppLanguage::english};
}  // namespace

AppLanguage currentLanguage() noexcept {
  return gCurrentLanguage.load(std::memory_order_relaxed);
}

void setCurrentLanguage(AppLanguage language) noexcept {
  gCurrentLanguage.store(language, std::memory_order_relaxed);
}

}  // namespace vantry
