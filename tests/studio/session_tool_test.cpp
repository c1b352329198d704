#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "fakes.h"
#include "model/document_json.h"
#include "support/shell.h"
#include "support/temp_dir.h"

namespace vantry {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<nlohmann::json> lines(const std::string& out) {
  std::vector<nlohmann::json> result;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    result.push_back(nlohmann::json::parse(line));
  return result;
}

test::CommandRun session(const fs::path& project, const fs::path& script) {
  return test::runShell(std::string(VANTRY_TOOL_PATH) + " session '" + project.string() + "' '" +
                        script.string() + "' 2>/dev/null");
}

struct SessionTool : ::testing::Test {
  test::TempDir dir{"vantry-session"};
  fs::path project = dir.path / "project.json";
  fs::path script = dir.path / "script.txt";
  void SetUp() override {
    Clip clip = testing::recordedClip(false, false);
    clip.screenPath.reset();  // no movie needed to edit
    std::ofstream(project) << encodeClip(clip);
  }
  void write(const std::string& text) { std::ofstream(script) << text; }
};

TEST_F(SessionTool, EditsAProjectAndAutosavesBesideIt) {
  const std::string recorded = readFile(project);
  write("seek 5\nsplit\nselectSegment 0\ndelete\nundo\naddZoom 16\nwait 0.6\n");
  test::CommandRun run = session(project, script);
  ASSERT_EQ(run.status, 0);
  auto out = lines(run.out);
  ASSERT_EQ(out.size(), 7u);
  EXPECT_EQ(out[1]["notice"], "Clip split · Select an unwanted clip and delete it");
  EXPECT_EQ(out[1]["segments"], 2);
  EXPECT_EQ(out[1]["selectedSegment"], 1);
  EXPECT_EQ(out[3]["duration"], 15.0);
  EXPECT_EQ(out[3]["time"], 0.0);
  EXPECT_EQ(out[4]["canRedo"], true);
  EXPECT_EQ(out[5]["selectedZoom"], 2);
  EXPECT_EQ(out[6]["error"], "");

  EXPECT_EQ(readFile(project), recorded);
  Clip saved = decodeClipFile((dir.path / "edit.json").string());
  EXPECT_EQ(saved.ranges().size(), 2u);
  EXPECT_EQ(saved.zoomEvents().size(), 3u);

  // Opened again through "project.json", the edits are there.
  write("redo\n");
  auto again = lines(session(project, script).out);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0]["segments"], 2);
  EXPECT_EQ(again[0]["canRedo"], false);  // a loaded project has no history
}

TEST_F(SessionTool, AProjectThatCannotBeOpenedWritesNothing) {
  Clip clip = testing::recordedClip(false, false);
  clip.screenPath = (dir.path / "gone.mov").string();
  std::ofstream(project) << encodeClip(clip);
  write("split\n");
  test::CommandRun run = session(project, script);
  EXPECT_NE(run.status, 0);
  EXPECT_TRUE(run.out.empty());
  EXPECT_FALSE(fs::exists(dir.path / "edit.json"));

  write("teleport 3\n");
  clip.screenPath.reset();
  std::ofstream(project) << encodeClip(clip);
  EXPECT_EQ(session(project, script).status, 64);
}

}  // namespace
}  // namespace vantry
