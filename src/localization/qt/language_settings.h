// localization/qt/: the language for the Qt layers: the observable setting kept in
// QSettings, QString forms of L, LF and LM, and the tools' --language option.
//
// The application's one observable holder of the interface language. Every assignment
// stores the value in QSettings and in the process-wide current language that L, LF and
// LM read, then tells observers.
#pragma once

#include <QObject>

#include "localization/app_language.h"

namespace vantry {

class LanguageSettings final : public QObject {
  Q_OBJECT

 public:
  // Created on first use with the stored language, which also becomes the current one.
  // The application asks for it at start, before any thread translates a text.
  static LanguageSettings& shared();

  AppLanguage selected() const { return selected_; }
  // Also an assignment of the value it already has writes the setting and signals.
  void setSelected(AppLanguage language);

 signals:
  // Emitted after the new value is in place, so that observers which translate their
  // texts at once already get the new language.
  void changed();

 private:
  LanguageSettings();

  AppLanguage selected_;
};

}  // namespace vantry
