#include <gtest/gtest.h>

#include <QProcess>
#include <QSettings>

namespace {

struct ToolRun {
  int exitCode = -1;
  QString out;
  QString err;
};

ToolRun tool(const QStringList& args) {
  QProcess process;
  process.start(QStringLiteral(VANTRY_TOOL_PATH), args);
  ToolRun run;
  if (!process.waitForFinished(60000)) return run;
  run.exitCode = process.exitCode();
  run.out = QString::fromUtf8(process.readAllStandardOutput());
  run.err = QString::fromUtf8(process.readAllStandardError());
  return run;
}

void storeLanguage(const QString& value) {
  QSettings settings(QStringLiteral("Vantry"), QStringLiteral("Vantry"));
  settings.setValue(QStringLiteral("interfaceLanguage"), value);
  settings.sync();
}

TEST(Tool, TextFormatAndMessageInBothLanguages) {
  const QString english = QStringLiteral("--language"), chosen = QStringLiteral("english");
  ToolRun r = tool({QStringLiteral("text"), english, chosen, QStringLiteral("片段 {0}，{1} 秒"),
                    QStringLiteral("3")});
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, QStringLiteral("Clip 3, {1} seconds\n"));

  r = tool({QStringLiteral("text"), QStringLiteral("--language=chinese"),
            QStringLiteral("片段 {0}"), QStringLiteral("{0}")});
  EXPECT_EQ(r.out, QStringLiteral("片段 {0}\n"));

  r = tool({QStringLiteral("format"), english, QStringLiteral("chinese"),
            QStringLiteral("，%.2f 至 %.2f 秒"), QStringLiteral("1.5"), QStringLiteral("2")});
  EXPECT_EQ(r.out, QStringLiteral("，1.50 至 2.00 秒\n"));
  r = tool({QStringLiteral("format"), english, chosen, QStringLiteral("画面提前 %.0f ms"),
            QStringLiteral("-35.6")});
  EXPECT_EQ(r.out, QStringLiteral("Video leads by -36 ms\n"));

  r = tool({QStringLiteral("message"), english, QStringLiteral("chinese"),
            QStringLiteral("Could not open project: Only On")});
  EXPECT_EQ(r.out, QStringLiteral("项目无法打开：Only 已开启\n"));
}

TEST(Tool, WithoutAnOptionTheStoredLanguageDecides) {
  storeLanguage(QStringLiteral("chinese"));
  ToolRun r = tool({QStringLiteral("message"), QStringLiteral("Recording · ")});
  EXPECT_EQ(r.out, QStringLiteral("正在录制 · \n"));
  storeLanguage(QStringLiteral("klingon"));
  r = tool({QStringLiteral("text"), QStringLiteral("知道了")});
  EXPECT_EQ(r.out, QStringLiteral("OK\n"));
}

TEST(Tool, RefusesBadInput) {
  for (const QStringList& args :
       {QStringList{QStringLiteral("text")},
        QStringList{QStringLiteral("text"), QStringLiteral("--language"), QStringLiteral("french"),
                    QStringLiteral("设置")},
        QStringList{QStringLiteral("text"), QStringLiteral("--language")},
        QStringList{QStringLiteral("format"), QStringLiteral("%.1f 秒"), QStringLiteral("2,5")},
        QStringList{QStringLiteral("format"), QStringLiteral("%.1f 秒"), QStringLiteral("")},
        QStringList{QStringLiteral("message"), QStringLiteral("a"), QStringLiteral("b")}}) {
    const ToolRun r = tool(args);
    EXPECT_EQ(r.exitCode, 64) << args.join(u' ').toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_FALSE(r.err.isEmpty());
  }
}

}  // namespace
