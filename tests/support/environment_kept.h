// Fails a test that leaves the process's environment changed: the tests after it in the
// same process, and the programs they start, would inherit what it set.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

extern char** environ;

namespace vantry::test {

class EnvironmentKept final : public ::testing::EmptyTestEventListener {
 public:
  // Watches every test of this program.
  static void install() {
    ::testing::UnitTest::GetInstance()->listeners().Append(new EnvironmentKept);
  }

 private:
  static std::map<std::string, std::string> now() {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; entry && *entry; ++entry) {
      const std::string text = *entry;
      const auto equals = text.find('=');
      variables[text.substr(0, equals)] =
          equals == std::string::npos ? "" : text.substr(equals + 1);
    }
    return variables;
  }

  void OnTestStart(const ::testing::TestInfo&) override { before_ = now(); }

  void OnTestEnd(const ::testing::TestInfo&) override {
    const auto after = now();
    for (const auto& [name, value] : after) {
      const auto was = before_.find(name);
      if (was == before_.end())
        ADD_FAILURE() << "the test left " << name << " set to \"" << value << "\"";
      else if (was->second != value)
        ADD_FAILURE() << "the test left " << name << " changed to \"" << value << "\" from \""
                      << was->second << "\"";
    }
    for (const auto& [name, value] : before_)
      if (!after.count(name)) ADD_FAILURE() << "the test left " << name << " unset";
  }

  std::map<std::string, std::string> before_;
};

}  // namespace vantry::test
