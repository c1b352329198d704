#include "app/qt_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"

namespace vantry {

bool installQtTranslation(AppLanguage language, QTranslator& translator) {
  // Removing and installing each tell every widget that the language changed, so that an
  // open dialog retranslates its standard buttons too.
  QCoreApplication::removeTranslator(&translator);
  QLocale::setDefault(qtLocale(language));
  if (language != AppLanguage::chinese) return false;
  if (!translator.load(QStringLiteral("qtbase_zh_CN"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    return false;
  return QCoreApplication::installTranslator(&translator);
}

QtTranslation::QtTranslation() {
  LanguageSettings& settings = LanguageSettings::shared();
  installQtTranslation(settings.selected(), translator_);
  connect(&settings, &LanguageSettings::changed, this,
          [this] { installQtTranslation(LanguageSettings::shared().selected(), translator_); });
}

}  // namespace vantry
