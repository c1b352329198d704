// `cmake --install` into a private prefix: the programs, the privacy notes, the desktop
// entry and the icon land where a desktop looks for them, and the application finds its
// notes from the installed program folder.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QStandardPaths>
#include <QSvgRenderer>

#include <fstream>
#include <map>
#include <string>

#include "app/desktop_help.h"
#include "support/shell.h"
#include "support/temp_dir.h"

namespace vantry {
namespace {

std::string quoted(const std::string& s) {
  return "'" + s + "'";
}

// The keys of the [Desktop Entry] group.
std::map<std::string, std::string> desktopEntry(const std::string& path) {
  std::map<std::string, std::string> keys;
  std::ifstream in(path);
  std::string line;
  bool inGroup = false;
  while (std::getline(in, line)) {
    if (line.starts_with('[')) {
      inGroup = line == "[Desktop Entry]";
    } else if (inGroup && line.find('=') != std::string::npos) {
      const auto at = line.find('=');
      keys[line.substr(0, at)] = line.substr(at + 1);
    }
  }
  return keys;
}

TEST(Install, PutsProgramsNotesEntryAndIconInPlace) {
  test::TempDir prefix("vantry-install");
  const std::string root = prefix.path.string();
  const auto install =
      test::runShell(quoted(VANTRY_CMAKE_COMMAND) + " --install " + quoted(VANTRY_BUILD_DIR) +
                     " --prefix " + quoted(root) + " 2>&1");
  ASSERT_EQ(install.status, 0) << install.out;

  for (const char* program : {"/bin/vantry", "/bin/vantry-tool"}) {
    const QFileInfo file(QString::fromStdString(root + program));
    EXPECT_TRUE(file.isFile() && file.isExecutable()) << program;
  }
  // The installed tool runs on its own (no path into the build tree needed) and lists its
  // commands.
  const auto usage = test::runShell(quoted(root + "/bin/vantry-tool") + " 2>&1");
  EXPECT_EQ(usage.status, 64);
  EXPECT_NE(usage.out.find("vantry-tool export"), std::string::npos) << usage.out;

  const QString bin = QString::fromStdString(root + "/bin");
  const QString notes = QString::fromStdString(root + "/share/vantry");
  EXPECT_EQ(privacyNotesPath(AppLanguage::chinese, bin), notes + "/Privacy.txt");
  EXPECT_EQ(privacyNotesPath(AppLanguage::english, bin), notes + "/Privacy-en.txt");
  EXPECT_GT(QFileInfo(notes + "/Privacy-en.txt").size(), 100);

  const std::string entry = root + "/share/applications/vantry.desktop";
  auto keys = desktopEntry(entry);
  EXPECT_EQ(keys["Type"], "Application");
  EXPECT_EQ(keys["Name"], "Vantry");
  EXPECT_EQ(keys["Exec"], "vantry");
  EXPECT_EQ(keys["Icon"], "vantry");
  EXPECT_EQ(keys["Categories"], "AudioVideo;Video;Recorder;");
  const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
  if (!validator.isEmpty()) {
    const auto valid = test::runShell(validator.toStdString() + " " + quoted(entry) + " 2>&1");
    EXPECT_EQ(valid.status, 0) << valid.out;
    EXPECT_EQ(valid.out, "");
  }

  // The icon the entry names, as the desktop's icon theme finds it.
  const QString icon =
      QString::fromStdString(root + "/share/icons/hicolor/scalable/apps/vantry.svg");
  QSvgRenderer svg(icon);
  EXPECT_TRUE(svg.isValid()) << icon.toStdString();
}

}  // namespace
}  // namespace vantry
