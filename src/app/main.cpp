#include <QApplication>
#include <QLabel>

#include "localization/qt/language_settings.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Vantry");
  QApplication::setApplicationName("Vantry");
  // Loads the stored language before any thread translates a text.
  vantry::LanguageSettings::shared();
  QLabel window("Vantry");
  window.setAlignment(Qt::AlignCenter);
  window.resize(960, 600);
  window.setWindowTitle("Vantry");
  window.show();
  return app.exec();
}
