// Test programs run offscreen; a case that needs the xcb platform runs in a child of the
// same program, pointed at a private X server, and the parent reads its verdict.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <string>

namespace vantry::test {

// Runs this program again on the xcb platform against `display` with `--gtest_filter=`
// `filter`, and fails the calling test unless every case it ran passed and none skipped.
inline void expectChildPasses(const std::string& display, const char* filter) {
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(display));
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::MergedChannels);
  child.start(QCoreApplication::applicationFilePath(),
              {QStringLiteral("--gtest_filter=") + QString::fromLatin1(filter)});
  ASSERT_TRUE(child.waitForFinished(240000));
  const QString output = QString::fromLocal8Bit(child.readAll());
  EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << output.toStdString();
  EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
  EXPECT_FALSE(output.contains(QStringLiteral("SKIPPED"))) << output.toStdString();
  EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ]"))) << output.toStdString();
}

}  // namespace vantry::test
