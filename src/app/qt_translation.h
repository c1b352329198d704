#pragma once

// Qt's own texts (file dialogs, standard buttons, context menus of text fields) in the
// interface language: its locale, and in Chinese Qt's own translation (Debian's package
// qt6-translations-l10n).

#include "localization/app_language.h"

class QTranslator;

namespace vantry {

// Sets the default locale and installs Qt's translation into `translator` when the language
// needs one. True when a translation was installed.
bool installQtTranslation(AppLanguage language, QTranslator& translator);

}  // namespace vantry
