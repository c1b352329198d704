// The content of the Settings window: a title, the language choice and a caption. It
// follows LanguageSettings::shared(), so its own texts switch the moment the language does.
#pragma once

#include <QWidget>

class QButtonGroup;
class QLabel;
class QRadioButton;

namespace vantry {

class LanguageSettingsView : public QWidget {
  Q_OBJECT

 public:
  explicit LanguageSettingsView(QWidget* parent = nullptr);

 private:
  void refresh();

  QLabel* title_ = nullptr;
  QLabel* heading_ = nullptr;
  QLabel* caption_ = nullptr;
  QButtonGroup* choices_ = nullptr;
};

}  // namespace vantry
