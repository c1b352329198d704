// Recording tests on a synthetic screen with one 640 x 360 display (id 7), writing their
// recordings under a private folder.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "capture/display_recorder.h"
#include "platform/synthetic/synthetic_screen.h"
#include "recorder_support.h"

namespace vantry::test {

struct SyntheticDisplayRecording : ::testing::Test {
  RecorderTempDir dir;
  const std::filesystem::path root = dir.path;
  std::shared_ptr<platform::synthetic::SyntheticScreenCapture> screen =
      std::make_shared<platform::synthetic::SyntheticScreenCapture>();

  SyntheticDisplayRecording() {
    platform::DisplayInfo d;
    d.id = 7;
    d.frame = {0, 0, 640, 360};
    d.primary = true;
    screen->setDisplays({d});
  }

  RecorderEnvironment env() const {
    RecorderEnvironment e;
    e.screen = screen;
    e.recordingsFolder = (root / "Recordings").string();
    return e;
  }

  // The recording folders made under the test's root.
  std::vector<std::filesystem::path> folders() const {
    std::vector<std::filesystem::path> out;
    const std::filesystem::path recordings = root / "Recordings";
    if (!std::filesystem::exists(recordings)) return out;
    for (const auto& e : std::filesystem::directory_iterator(recordings))
      out.push_back(e.path());
    return out;
  }
};

// The JSON in `file`; discarded (is_discarded()) when it does not parse.
inline nlohmann::json readJson(const std::filesystem::path& file) {
  std::ifstream in(file);
  return nlohmann::json::parse(in, nullptr, false);
}

}  // namespace vantry::test
