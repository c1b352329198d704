// Main-window tests: an offscreen application with frozen animations. The user's settings
// and data are never touched: XDG_CONFIG_HOME and XDG_DATA_HOME point into private folders.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>

#include "design/motion.h"
#include "design/painting.h"
#include "support/environment_kept.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir config;
  QTemporaryDir data;
  if (!config.isValid() || !data.isValid()) return 1;
  setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
  setenv("XDG_DATA_HOME", data.path().toLocal8Bit().constData(), 1);
  QApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Vantry"));
  QCoreApplication::setApplicationName(QStringLiteral("Vantry"));
  vantry::installInterfaceFont();
  vantry::installDarkLook();
  vantry::setAnimationsFrozen(true);
  testing::InitGoogleTest(&argc, argv);
  vantry::test::EnvironmentKept::install();
  return RUN_ALL_TESTS();
}
