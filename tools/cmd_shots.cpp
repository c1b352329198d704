// vantry-tool shots OUT_DIR [--language english|chinese] [--state NAME]...: renders the main
// window offscreen, 1250 x 880, in each registered state (standby, demo, recording, ...), or
// what the state renders instead (the display overlay), one PNG per state in
// OUT_DIR/<language>/. Animations are frozen and capture is faked; without --language both
// languages are rendered, without --state every state.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryFile>

#include <algorithm>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/qt_translation.h"
#include "app/shot_states.h"
#include "command.h"
#include "design/motion.h"
#include "design/painting.h"
#include "localization/qt/language_option.h"
#include "localization/qt/language_settings.h"

namespace {

using namespace vantry;

constexpr const char* kUsage =
    "usage: vantry-tool shots OUT_DIR [--language english|chinese] [--state NAME]...";

int run(const tool::Args& given) {
  std::vector<std::string> args = given;
  std::vector<std::string> option;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i].rfind("--language", 0) == 0) {
      const bool joined = args[i].find('=') != std::string::npos;
      const std::size_t count = joined ? 1 : 2;
      option.assign(args.begin() + i, args.begin() + std::min(args.size(), i + count));
      args.erase(args.begin() + i, args.begin() + std::min(args.size(), i + count));
      break;
    }
  }
  std::vector<AppLanguage> languages(AppLanguage::allCases.begin(), AppLanguage::allCases.end());
  if (!option.empty()) {
    std::string error;
    const auto language = takeLanguageOption(option, error);
    if (!language) {
      std::cerr << (error.empty() ? kUsage : error) << "\n";
      return 64;
    }
    languages = {*language};
  }
  std::set<std::string> wanted;
  for (std::size_t i = 0; i < args.size();) {
    if (args[i] != "--state") {
      ++i;
      continue;
    }
    if (i + 1 == args.size()) {
      std::cerr << kUsage << "\n";
      return 64;
    }
    wanted.insert(args[i + 1]);
    args.erase(args.begin() + std::ptrdiff_t(i), args.begin() + std::ptrdiff_t(i) + 2);
  }
  if (args.size() != 1 || args[0].rfind("--", 0) == 0) {  // an option, not a folder
    std::cerr << kUsage << "\n";
    return 64;
  }
  for (const std::string& name : wanted) {
    const auto& states = shotStates();
    if (std::none_of(states.begin(), states.end(),
                     [&name](const ShotState& state) { return state.name == name; })) {
      std::cerr << "no shot state \"" << name << "\"\n";
      return 64;
    }
  }
  // Always offscreen, on one 1920 x 1080 screen named as the faked capture's monitor, which
  // the display overlays cover: the plain offscreen platform's one screen is 800 x 800 and has
  // no name. An offscreen screen layout of the caller's own is kept.
  QTemporaryFile screens;
  if (!qgetenv("QT_QPA_PLATFORM").startsWith("offscreen:")) {
    QByteArray platform = "offscreen";
    if (screens.open()) {
      screens.write(R"({"screens": [{"name": "DP-1", "x": 0, "y": 0, "width": 1920,
        "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
      screens.flush();
      platform += ":configfile=" + QFile::encodeName(screens.fileName());
    }
    qputenv("QT_QPA_PLATFORM", platform);
  }
  int argc = 1;
  char name[] = "vantry-tool";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  installInterfaceFont();
  installDarkLook();
  setAnimationsFrozen(true);
  // The shared setting loads the stored language when first used; load it now so that it
  // cannot override the language of the shots once the first window asks for it.
  LanguageSettings::shared();

  const AppLanguage previous = currentLanguage();
  int failures = 0;
  // Qt's own dialogs in the language of each round, as in the application.
  QTranslator qtTexts;
  for (AppLanguage language : languages) {
    setCurrentLanguage(language);
    installQtTranslation(language, qtTexts);
    const QString folder = QDir(QString::fromStdString(args[0]))
                               .filePath(QString::fromUtf8(language.rawValue().data(),
                                                           qsizetype(language.rawValue().size())));
    if (!QDir().mkpath(folder)) {
      std::cerr << "cannot create " << folder.toStdString() << "\n";
      setCurrentLanguage(previous);
      return 1;
    }
    for (const ShotState& state : shotStates()) {
      if (!wanted.empty() && !wanted.contains(state.name)) continue;
      const QString path = QDir(folder).filePath(QString::fromStdString(state.name) + ".png");
      const QImage shot = renderShot(state).picture;
      if (!shot.save(path)) {
        std::cerr << "cannot write " << path.toStdString() << "\n";
        ++failures;
        continue;
      }
      std::cout << path.toStdString() << "\n";
    }
  }
  setCurrentLanguage(previous);
  return failures == 0 ? 0 : 1;
}

const tool::Command kCommand{"shots",
                             "shots OUT_DIR [--language english|chinese] [--state NAME]...", run};

}  // namespace
