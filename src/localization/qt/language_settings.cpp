#include "localization/qt/language_settings.h"

#include <QCoreApplication>
#include <QSettings>
#include <QThread>

namespace vantry {

namespace {

QSettings applicationSettings() {
  // Named explicitly so that the same store is used whether or not an application object
  // has set its organisation and name yet.
  return QSettings(QStringLiteral("Vantry"), QStringLiteral("Vantry"));
}

}  // namespace

AppLanguage AppLanguage::load(const QSettings& settings) {
  const QVariant stored =
      settings.value(QString::fromUtf8(preferenceKey.data(), preferenceKey.size()));
  if (stored.typeId() != QMetaType::QString) return AppLanguage::fromStored(std::nullopt);
  const QByteArray text = stored.toString().toUtf8();
  return AppLanguage::fromStored(std::string_view(text.constData(), text.size()));
}

AppLanguage AppLanguage::load() {
  const QSettings settings = applicationSettings();
  return load(settings);
}

void AppLanguage::save(QSettings& settings) const {
  const std::string_view raw = rawValue();
  settings.setValue(QString::fromUtf8(preferenceKey.data(), preferenceKey.size()),
                    QString::fromUtf8(raw.data(), raw.size()));
}

LanguageSettings::LanguageSettings() : selected_(AppLanguage::load()) {
  setCurrentLanguage(selected_);
  // Observers live on the main thread even if a worker happens to ask first.
  if (QCoreApplication* app = QCoreApplication::instance(); app && thread() != app->thread()) {
    moveToThread(app->thread());
  }
}

LanguageSettings& LanguageSettings::shared() {
  static LanguageSettings* instance = new LanguageSettings();  // lives as long as the process
  return *instance;
}

void LanguageSettings::setSelected(AppLanguage language) {
  selected_ = language;
  setCurrentLanguage(language);
  QSettings settings = applicationSettings();
  language.save(settings);
  settings.sync();
  emit changed();
}

}  // namespace vantry
