#include "app/qt_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "localization/qt/qt_text.h"

namespace vantry {

bool installQtTranslation(AppLanguage language, QTranslator& translator) {
  QLocale::setDefault(qtLocale(language));
  if (language != AppLanguage::chinese) return false;
  if (!translator.load(QStringLiteral("qtbase_zh_CN"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    return false;
  return QCoreApplication::installTranslator(&translator);
}

}  // namespace vantry
