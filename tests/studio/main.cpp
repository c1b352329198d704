// The controller's tests need a GUI application object (the demonstration pictures draw
// text) and its event loop for posted completions.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QGuiApplication>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QCoreApplication::setOrganizationName("Vantry");
  QCoreApplication::setApplicationName("VantryStudioTests");
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
