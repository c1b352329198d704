// Lookup costs, run by hand in a Release build. Views translate every text on every
// repaint and the export thread formats its progress, so each call must stay cheap.
//  1. L of a placeholder key, against copying the same English text out of a hash map;
//  2. LF of "%.1f 秒", against snprintf with the English format;
//  3. LM of a composed error message, against a plain scan that tries every fragment at
//     every byte (no first-byte index, no character boundaries).
#include <chrono>
#include <cstdio>
#include <string>
#include <unordered_map>

#include "localization/localization.h"

using namespace vantry;
using Clock = std::chrono::steady_clock;

namespace {

template <typename F>
double nanosPerCall(int calls, F&& body) {
  std::size_t sink = 0;
  const auto start = Clock::now();
  for (int i = 0; i < calls; ++i)
    sink += body(i);
  const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
  if (sink == 42) std::puts("");  // keeps the work alive
  return ns / calls;
}

std::string naiveMessage(std::string_view message, AppLanguage language) {
  std::string out;
  std::size_t at = 0;
  while (at < message.size()) {
    const Localizer::MessageVariant* matched = nullptr;
    for (const auto& variant : Localizer::messageVariants()) {
      if (message.substr(at).starts_with(variant.fragment)) {
        matched = &variant;
        break;
      }
    }
    if (matched) {
      out += Localizer::text(matched->key, {}, language);
      at += matched->fragment.size();
    } else {
      out += message[at++];
    }
  }
  return out;
}

void report(const char* what, double ours, double baseline) {
  std::printf("%-44s %9.1f ns   baseline %9.1f ns   ratio %.2f\n", what, ours, baseline,
              ours / baseline);
}

}  // namespace

int main() {
  setCurrentLanguage(AppLanguage::english);
  constexpr int kCalls = 200000;

  std::unordered_map<std::string, std::string> plain;
  for (const auto& row : Localizer::rows())
    plain.emplace(row.chinese, row.english);
  const std::string key = "片段 {0}，{1} 秒";
  const double lBase = nanosPerCall(kCalls, [&](int) { return plain.find(key)->second.size(); });
  const double l = nanosPerCall(kCalls, [&](int i) { return L(key, i, "2.5").size(); });
  report("L(\"片段 {0}，{1} 秒\", i, \"2.5\")", l, lBase);

  const double lfBase = nanosPerCall(kCalls, [&](int i) {
    char buffer[64];
    return static_cast<std::size_t>(std::snprintf(buffer, sizeof buffer, "%.1f s", i * 0.1));
  });
  const double lf = nanosPerCall(kCalls, [&](int i) { return LF("%.1f 秒", i * 0.1).size(); });
  report("LF(\"%.1f 秒\", x)", lf, lfBase);

  const std::string message =
      "编辑未能保存：The file “edit.json” couldn’t be saved because the volume is full. "
      "Recording · Display 2 · Only On";
  (void)LM(message);  // builds the fragment list once
  const int messageCalls = 2000;
  const double lmBase = nanosPerCall(
      messageCalls, [&](int) { return naiveMessage(message, AppLanguage::chinese).size(); });
  const double lm = nanosPerCall(messageCalls * 10, [&](int) {
    return Localizer::message(message, AppLanguage::chinese).size();
  });
  report("LM(composed error, 110 characters)", lm, lmBase);

  std::printf("fragments tried by LM: %zu\n", Localizer::messageVariants().size());
  return 0;
}
