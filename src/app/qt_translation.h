#pragma once

// Qt's own texts (file dialogs, standard buttons, context menus of text fields) in the
// interface language: its locale, and in Chinese Qt's own translation (Debian's package
// qt6-translations-l10n). They follow every change of the language, as the app's own texts
// do.

#include <QObject>
#include <QTranslator>

#include "localization/app_language.h"

namespace vantry {

// Sets the default locale and installs Qt's translation into `translator` when the language
// needs one, after taking out what `translator` held before. True when a translation was
// installed.
bool installQtTranslation(AppLanguage language, QTranslator& translator);

// Qt's translation of the shared language setting, installed at once and again on every
// change of the setting. Create it before any window that should follow.
class QtTranslation final : public QObject {
 public:
  QtTranslation();

 private:
  QTranslator translator_;
};

}  // namespace vantry
