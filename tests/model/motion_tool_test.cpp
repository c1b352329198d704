// vantry-tool demo and motion, run as a user would.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "model/demo_project.h"
#include "model/document_json.h"
#include "model/motion_timeline.h"
#include "support/shell.h"

namespace vantry {
namespace {

using ToolRun = test::CommandRun;

ToolRun tool(const std::string& args) {
  return test::runShell(std::string(VANTRY_TOOL_PATH) + " " + args + " 2>/dev/null");
}

std::vector<nlohmann::json> lines(const std::string& text) {
  std::vector<nlohmann::json> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    result.push_back(nlohmann::json::parse(line));
  return result;
}

void expectState(const nlohmann::json& j, const FrameState& s) {
  ASSERT_EQ(j.size(), 5u) << j.dump();
  EXPECT_EQ(j.at("zoom").get<double>(), s.zoom);
  EXPECT_EQ(j.at("center").at(0).get<double>(), s.center.x);
  EXPECT_EQ(j.at("center").at(1).get<double>(), s.center.y);
  EXPECT_EQ(j.at("pointer").at(0).get<double>(), s.pointer.x);
  EXPECT_EQ(j.at("pointer").at(1).get<double>(), s.pointer.y);
  EXPECT_EQ(j.at("pulse").get<double>(), s.pulse);
  EXPECT_EQ(j.at("presenterMix").get<double>(), s.presenterMix);
}

class MotionTool : public ::testing::Test {
 protected:
  void TearDown() override {
    if (!path_.empty()) std::remove(path_.c_str());
  }
  std::string write(const Clip& clip) {
    char name[] = "/tmp/vantry-motion-tool-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    path_ = name;
    std::ofstream(path_) << encodeClip(clip);
    return path_;
  }
  std::string path_;
};

TEST_F(MotionTool, DemoPrintsTheDemonstrationDocument) {
  const ToolRun run = tool("demo --language english");
  ASSERT_EQ(run.status, 0);
  const Clip clip = decodeClip(run.out);
  EXPECT_EQ(clip.title, "Let the camera guide your focus");
  EXPECT_TRUE(clip.isDemo);
  EXPECT_EQ(clip.samples.size(), 961u);
  const ToolRun chinese = tool("demo --language chinese");
  ASSERT_EQ(chinese.status, 0);
  EXPECT_EQ(decodeClip(chinese.out).title, "把注意力，交给镜头");
  EXPECT_EQ(tool("demo --language klingon").status, 64);
}

TEST_F(MotionTool, MotionPrintsFramesAndTimesOfTheBake) {
  const MotionTimeline expected(makeDemoClip(), {});
  const ToolRun run = tool("motion --demo --frames 71:73 --at 1.2 -1 99");
  ASSERT_EQ(run.status, 0);
  const auto out = lines(run.out);
  ASSERT_EQ(out.size(), 6u);
  for (int i = 0; i < 3; ++i)
    expectState(out[i], expected.frames[71 + i]);
  expectState(out[3], expected.state(1.2));
  expectState(out[4], expected.frames.front());
  expectState(out[5], expected.frames.back());

  // Past the end the range stops at the last frame; no option prints every frame.
  EXPECT_EQ(lines(tool("motion --demo --frames 959:5000").out).size(), 2u);
  EXPECT_EQ(lines(tool("motion --demo").out).size(), 961u);
}

TEST_F(MotionTool, MotionUsesTheSavedSettings) {
  Clip clip = makeDemoClip();
  EditSettings settings;
  settings.zoomEnabled = false;
  clip.savedSettings = settings;
  const ToolRun run = tool("motion " + write(clip) + " --frames 100:400");
  ASSERT_EQ(run.status, 0);
  const auto out = lines(run.out);
  ASSERT_EQ(out.size(), 301u);
  for (const auto& j : out)
    ASSERT_EQ(j.at("zoom").get<double>(), 1);
  EXPECT_GE(out[0].at("pulse").get<double>(), 0);  // the pulses still follow the events
}

TEST_F(MotionTool, MotionRefusesBadInput) {
  std::ofstream(write(makeDemoClip())) << "{\"id\": 1}";
  EXPECT_EQ(tool("motion " + path_).status, 1);
  EXPECT_EQ(tool("motion /nonexistent/edit.json").status, 1);
  EXPECT_EQ(tool("motion").status, 64);
  EXPECT_EQ(tool("motion --demo " + path_).status, 64);
  EXPECT_EQ(tool("motion --demo --frames 5:2").status, 64);
  EXPECT_EQ(tool("motion --demo --frames 961:970").status, 64);
  EXPECT_EQ(tool("motion --demo --frames x").status, 64);
  EXPECT_EQ(tool("motion --demo --at").status, 64);
  EXPECT_EQ(tool("motion --demo --at nan").status, 64);
}

}  // namespace
}  // namespace vantry
