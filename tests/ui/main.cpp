// Timeline tests need a QApplication (offscreen platform) and frozen animations, so that every
// state is painted and hit-tested at its end value.
#include <QApplication>

#include <gtest/gtest.h>

#include "design/motion.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  vantry::setAnimationsFrozen(true);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
