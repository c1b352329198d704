// The render tests draw text and paint images: they need a GUI application object.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QGuiApplication>

// libx265 keeps one allocation of its own for the life of the process; not ours to free.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libx265.so\n";
}

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QCoreApplication::setOrganizationName("Vantry");
  QCoreApplication::setApplicationName("VantryRenderTests");
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
