// vantry-tool session records, opens and exports headless: the test X server's display and
// the synthetic camera stand in for a desktop.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/shell.h"
#include "support/temp_dir.h"

namespace vantry {
namespace {

namespace fs = std::filesystem;

TEST(SessionCapture, RecordsOpensTheRecordingAndExportsItOrCancels) {
  test::TempDir dir{"vantry-session-capture"};
  const fs::path script = dir.path / "script.txt";
  const fs::path out = dir.path / "out.mp4";
  const fs::path cancelled = dir.path / "cancelled.mp4";
  std::ofstream(script) << "prepare --camera\nrecord 1\nexport " << out.string()
                        << " --resolution 720 --fps 30\ncancelExport 0\nexport "
                        << cancelled.string() << "\nprepare --display 99999\n";
  const auto run = test::runShell("VANTRY_SYNTHETIC_CAMERA=1 XDG_DATA_HOME='" +
                                  (dir.path / "data").string() + "' " + VANTRY_TOOL_PATH +
                                  " session --demo '" + script.string() + "' 2>/dev/null");
  ASSERT_EQ(run.status, 0);
  std::vector<nlohmann::json> lines;
  std::istringstream in(run.out);
  for (std::string line; std::getline(in, line);)
    lines.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(lines.size(), 6u);

  EXPECT_EQ(lines[0]["setupError"], "");
  EXPECT_FALSE(lines[0]["preparing"]);

  // The recording is the open project, saved as "edit.json" beside its movie.
  const fs::path project = lines[1]["project"].get<std::string>();
  EXPECT_EQ(project.filename(), "edit.json");
  EXPECT_TRUE(fs::exists(project));
  EXPECT_TRUE(fs::exists(project.parent_path() / "screen.mp4"));
  EXPECT_TRUE(fs::exists(project.parent_path() / "camera.mov"));
  EXPECT_FALSE(lines[1]["recording"]);
  EXPECT_EQ(lines[1]["error"], "");
  EXPECT_GT(lines[1]["duration"].get<double>(), 0.5);

  EXPECT_EQ(lines[2]["exportResult"], out.string());
  EXPECT_EQ(lines[2]["exportProgress"], 1.0);
  EXPECT_GT(fs::file_size(out), 1000u);

  EXPECT_TRUE(lines[4]["exportCancelled"]);
  EXPECT_EQ(lines[4]["exportFailure"], "");
  EXPECT_FALSE(fs::exists(cancelled));

  // A display that is not there: the setup says why instead of waiting.
  EXPECT_NE(lines[5]["setupError"], "");
}

}  // namespace
}  // namespace vantry
