// vantry-tool check FILE: reads a project document strictly and prints it re-encoded.
#include <iostream>

#include "command.h"
#include "model/document_json.h"

namespace {

int run(const vantry::tool::Args& args) {
  if (args.size() != 1) {
    std::cerr << "usage: vantry-tool check FILE\n";
    return 64;
  }
  try {
    std::cout << vantry::encodeClip(vantry::decodeClipFile(args[0])) << "\n";
  } catch (const vantry::DocumentError& e) {
    std::cerr << e.what() << "\n";
    if (!e.where().empty()) std::cerr << "at " << e.where() << "\n";
    return 1;
  }
  return 0;
}

const vantry::tool::Command kCommand{"check", "check FILE", run};

}  // namespace
