// Shared by the export and frame commands: the "(FILE | --demo) OUT" arguments, the GUI
// application they draw with (offscreen unless a platform is chosen), and the project.
#pragma once

#include <QCoreApplication>
#include <QGuiApplication>
#include <memory>
#include <string>

#include "model/demo_project.h"
#include "model/document_json.h"

namespace vantry::tool {

struct ProjectInput {
  bool demo = false;
  std::string input;   // project file, unless demo
  std::string output;  // result file

  // Takes "--demo" or the next positional argument; false when it fits nowhere.
  bool take(const std::string& argument) {
    if (argument == "--demo") return demo = true;
    if (!argument.empty() && argument[0] == '-') return false;
    if (!demo && input.empty()) {
      input = argument;
    } else if (output.empty()) {
      output = argument;
    } else {
      return false;
    }
    return true;
  }
  bool complete() const { return !output.empty() && (demo || !input.empty()); }

  Clip load() const { return demo ? makeDemoClip() : decodeClipFile(input); }
};

inline std::unique_ptr<QGuiApplication> makeGuiApplication() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "vantry-tool";
  static char* argv[] = {name, nullptr};
  QCoreApplication::setOrganizationName("Vantry");
  QCoreApplication::setApplicationName("Vantry");
  return std::make_unique<QGuiApplication>(argc, argv);
}

}  // namespace vantry::tool
