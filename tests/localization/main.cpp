// The localization tests need an application object (settings view, QSettings) and must
// never touch the user's own settings: XDG_CONFIG_HOME points into a private folder that
// vantry-tool, started by the tests, inherits too.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>

int main(int argc, char** argv) {
  QTemporaryDir config;
  if (!config.isValid()) return 1;
  setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
  QApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Vantry"));
  QCoreApplication::setApplicationName(QStringLiteral("Vantry"));
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
