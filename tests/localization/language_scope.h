#pragma once

#include "localization/app_language.h"

namespace vantry {

// Sets the current language for one test and restores the previous one afterwards.
class LanguageScope {
 public:
  explicit LanguageScope(AppLanguage language) : saved_(currentLanguage()) {
    setCurrentLanguage(language);
  }
  ~LanguageScope() { setCurrentLanguage(saved_); }
  LanguageScope(const LanguageScope&) = delete;
  LanguageScope& operator=(const LanguageScope&) = delete;

 private:
  AppLanguage saved_;
};

}  // namespace vantry
