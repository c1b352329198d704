// vantry-tool edit FILE OP ARGS...: applies one editing operation to a document and
// prints the result, or "refused" (exit 2) when the operation refuses.
#include <iostream>
#include <optional>

#include "args.h"
#include "command.h"
#include "model/clip.h"
#include "model/document_json.h"

namespace {

using vantry::Clip;
using vantry::Uuid;

constexpr const char* kUsage =
    "edit FILE OP ARGS...\n"
    "      split OUTPUT_TIME | delete RANGE_ID\n"
    "      addZoom TIME LENGTH X Y | moveZoom ID START | resizeZoom ID START|- END|-\n"
    "      setZoomAmount ID AMOUNT|- | removeZoom ID\n"
    "      setPresenter full|bubble TIME | setPresenter full|bubble block RANGE_ID START END";

struct BadArgument {
  std::string text;
};

double number(const std::string& text) {
  const auto v = vantry::tool::parseNumber(text, false);  // the document refuses nan and inf
  if (!v) throw BadArgument{text};
  return *v;
}

std::optional<double> optionalNumber(const std::string& text) {
  if (text == "-") return std::nullopt;
  return number(text);
}

Uuid uuid(const std::string& text) {
  const auto id = Uuid::parse(text);
  if (!id) throw BadArgument{text};
  return *id;
}

bool layout(const std::string& text) {
  if (text == "full") return true;
  if (text == "bubble") return false;
  throw BadArgument{text};
}

// Applies the operation; false when it refused. nullopt for a malformed command.
std::optional<bool> apply(Clip& clip, const std::string& op, const vantry::tool::Args& a) {
  const std::size_t n = a.size();
  if (op == "split" && n == 1) return clip.split(number(a[0])).has_value();
  if (op == "delete" && n == 1) return clip.deleteRange(uuid(a[0]));
  if (op == "addZoom" && n == 4) {
    return clip.addZoom(number(a[0]), number(a[1]), {number(a[2]), number(a[3])}).has_value();
  }
  if (op == "moveZoom" && n == 2) return clip.moveZoom(uuid(a[0]), number(a[1]));
  if (op == "resizeZoom" && n == 3) {
    return clip.resizeZoom(uuid(a[0]), optionalNumber(a[1]), optionalNumber(a[2]));
  }
  if (op == "setZoomAmount" && n == 2) return clip.setZoomAmount(uuid(a[0]), optionalNumber(a[1]));
  if (op == "removeZoom" && n == 1) {
    clip.removeZoom(uuid(a[0]));
    return true;
  }
  if (op == "setPresenter" && n == 2) {
    clip.setPresenter(layout(a[0]), number(a[1]));
    return true;
  }
  if (op == "setPresenter" && n == 5 && a[1] == "block") {
    const vantry::PresenterBlock block{{uuid(a[2]), number(a[3])}, number(a[4]), 0, false};
    const auto before = clip.presenterEvents;
    clip.setPresenter(layout(a[0]), block);
    return clip.presenterEvents != before;  // an unknown block changes nothing
  }
  return std::nullopt;
}

int run(const vantry::tool::Args& args) {
  if (args.size() < 2) {
    return vantry::tool::usageError(kUsage);
  }
  try {
    Clip clip = vantry::decodeClipFile(args[0]);
    const vantry::tool::Args opArgs(args.begin() + 2, args.end());
    const std::optional<bool> changed = apply(clip, args[1], opArgs);
    if (!changed) return vantry::tool::usageError(kUsage);
    if (!*changed) {
      std::cout << "refused\n";
      return 2;
    }
    std::cout << vantry::encodeClip(clip) << "\n";
  } catch (const vantry::DocumentError& e) {
    std::cerr << e.what() << "\n";
    return 1;
  } catch (const BadArgument& bad) {
    std::cerr << "vantry-tool edit: bad argument \"" << bad.text << "\"\n";
    return 64;
  }
  return 0;
}

const vantry::tool::Command kCommand{"edit", kUsage, run};

}  // namespace
