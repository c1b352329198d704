// QString forms of L, LF and LM for the Qt layers, and QString as an argument of L.
#pragma once

#include <QLocale>
#include <QString>

#include "localization/localization.h"

namespace vantry {

template <>
struct TextArgument<QString> {
  static std::string text(const QString& value) { return value.toStdString(); }
};

template <typename... Args>
QString QL(std::string_view key, const Args&... args) {
  return QString::fromStdString(L(key, args...));
}

template <typename... Args>
QString QLF(std::string_view key, const Args&... args) {
  return QString::fromStdString(LF(key, args...));
}

inline QString QLM(const QString& message) {
  return QString::fromStdString(LM(message.toStdString()));
}

inline QString QLM(std::string_view message) {
  return QString::fromStdString(LM(message));
}

// The Qt locale of an interface language ("en" or simplified Chinese).
inline QLocale qtLocale(AppLanguage language) {
  return language == AppLanguage::chinese
             ? QLocale(QLocale::Chinese, QLocale::SimplifiedHanScript, QLocale::China)
             : QLocale(QLocale::English, QLocale::UnitedStates);
}

}  // namespace vantry
