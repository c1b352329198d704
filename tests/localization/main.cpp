// The localization tests need an application object (settings view, QSettings) and must
// never touch the user's own settings: XDG_CONFIG_HOME points into a private folder that
// vantry-tool, started by the tests, inherits too.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>

#include "support/environment_kept.h"

int main(int argc, char** argv) {
  QTemporaryDir config;
  if (!config.isValid()) return 1;
  setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
  QApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Vantry"));
  QCoreApplication::setApplicationName(QStringLiteral("Vantry"));
  testing::InitGoogleTest(&argc, argv);
  vantry::test::EnvironmentKept::install();
  return RUN_ALL_TESTS();
}
