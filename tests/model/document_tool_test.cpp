// vantry-tool's document commands, run as a user would run them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "model/clip.h"
#include "model/document_json.h"
#include "support/shell.h"

namespace vantry {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using ::testing::HasSubstr;

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

class DocumentTool : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vantry-doc-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string write(const std::string& name, const std::string& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  ToolRun run(const std::string& args) {
    const fs::path err = dir_ / "stderr";
    const std::string command =
        std::string("'") + VANTRY_TOOL_PATH + "' " + args + " 2>'" + err.string() + "'";
    const test::CommandRun ran = test::runShell(command);
    ToolRun result{ran.status, ran.out, {}};
    std::ifstream in(err);
    result.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return result;
  }

  static Clip sampleClip() {
    Clip clip;
    clip.id = *Uuid::parse("0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9");
    clip.title = "Tool";
    clip.duration = 20;
    clip.samples = std::vector<PointerSample>{{1, 0.2, 0.3, true}, {8, 0.6, 0.3, true}};
    clip.presenterEvents = std::vector<PresenterEvent>{{Uuid::random(), 3, true}};
    return clip;
  }

  fs::path dir_;
};

TEST_F(DocumentTool, CheckPrintsTheCanonicalDocumentOrTheError) {
  const std::string canonical = encodeClip(sampleClip());
  json spaced = json::parse(canonical);
  spaced["id"] = "0a1b2c3d-4e5f-4061-8273-94a5b6c7d8e9";
  spaced["unknown"] = {1, 2};
  const ToolRun ok = run("check '" + write("ok.json", spaced.dump(2)) + "'");
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(ok.out, canonical + "\n");

  spaced["samples"][0]["clicked"] = 1;
  const ToolRun bad = run("check '" + write("bad.json", spaced.dump()) + "'");
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, "");
  EXPECT_THAT(bad.err, HasSubstr("at samples[0].clicked\n"));

  const ToolRun missing = run("check '" + (dir_ / "absent.json").string() + "'");
  EXPECT_EQ(missing.status, 1);
  EXPECT_FALSE(missing.err.empty());
}

TEST_F(DocumentTool, DeriveReportsTheLanesInTheDocumentsVocabulary) {
  Clip clip = sampleClip();
  ASSERT_TRUE(clip.split(5));
  const ToolRun r = run("derive '" + write("d.json", encodeClip(clip)) + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  const json out = json::parse(r.out);
  EXPECT_EQ(out["editedDuration"], 20.0);
  ASSERT_EQ(out["ranges"].size(), 2u);
  EXPECT_EQ(out["ranges"][0]["id"], "0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9");
  EXPECT_EQ(out["placedRanges"][1]["start"], 5.0);
  EXPECT_EQ(out["placedRanges"][1]["range"]["start"], 5.0);
  ASSERT_EQ(out["zoomEvents"].size(), 2u);
  EXPECT_EQ(out["zoomEvents"][0]["id"], derivedZoomID(clip.id, 1).toString());
  EXPECT_EQ(out["zoomEvents"][0]["center"], json::parse("[0.2,0.3]"));
  EXPECT_FALSE(out["zoomEvents"][0].contains("amount"));
  ASSERT_EQ(out["zoomBlocks"].size(), 2u);
  EXPECT_EQ(out["zoomBlocks"][1]["id"]["sourceStart"], 8.0);
  EXPECT_EQ(out["zoomBlocks"][1]["id"]["rangeID"], out["ranges"][1]["id"]);
  ASSERT_EQ(out["presenterBlocks"].size(), 3u);
  EXPECT_EQ(out["presenterBlocks"][1]["id"]["sourceStart"], 3.0);
  EXPECT_EQ(out["presenterBlocks"][1]["fullScreen"], true);
  EXPECT_EQ(out["presenterBlocks"][2]["outputStart"], 5.0);
}

TEST_F(DocumentTool, EditAppliesOneOperationOrSaysRefused) {
  const std::string file = write("e.json", encodeClip(sampleClip()));
  const ToolRun split = run("edit '" + file + "' split 5.004");
  ASSERT_EQ(split.status, 0) << split.err;
  const Clip edited = decodeClip(split.out);
  ASSERT_TRUE(edited.keptRanges);
  EXPECT_EQ((*edited.keptRanges)[0].end, 5.0);

  const std::string autoID = derivedZoomID(sampleClip().id, 1).toString();
  const ToolRun amount = run("edit '" + file + "' setZoomAmount " + autoID + " 9");
  ASSERT_EQ(amount.status, 0) << amount.err;
  EXPECT_EQ((*decodeClip(amount.out).zoomEventsOverride)[0].amount, 4.0);

  const ToolRun resize = run("edit '" + file + "' resizeZoom " + autoID + " - 1.1");
  ASSERT_EQ(resize.status, 0) << resize.err;
  EXPECT_EQ((*decodeClip(resize.out).zoomEventsOverride)[0].end, 1.2);

  const std::vector<std::string> refusals{
      std::string("split 0.005"),        "delete " + autoID,
      "addZoom nan 3 0.5 0.5",           "addZoom 2 inf 0.5 0.5",
      "moveZoom " + autoID + " nan",     "setZoomAmount " + autoID + " inf",
      "resizeZoom " + autoID + " nan -", "setPresenter full block " + autoID + " 0 3"};
  for (const std::string& refused : refusals) {
    const ToolRun r = run("edit '" + file + "' " + refused);
    EXPECT_EQ(r.status, 2) << refused;
    EXPECT_EQ(r.out, "refused\n") << refused;
  }
  const ToolRun usage = run("edit '" + file + "' twist 3");
  EXPECT_EQ(usage.status, 64);
  const ToolRun badNumber = run("edit '" + file + "' split five");
  EXPECT_EQ(badNumber.status, 64);
}

TEST_F(DocumentTool, PresenterEditsThroughTheTool) {
  const std::string file = write("p.json", encodeClip(sampleClip()));
  const ToolRun at = run("edit '" + file + "' setPresenter bubble 3.004");
  ASSERT_EQ(at.status, 0) << at.err;
  const Clip clip = decodeClip(at.out);
  ASSERT_EQ(clip.presenterEvents->size(), 1u);  // the switch at 3 was replaced
  EXPECT_FALSE((*clip.presenterEvents)[0].fullScreen);

  const ToolRun block =
      run("edit '" + file + "' setPresenter bubble block " + sampleClip().id.toString() + " 3 20");
  ASSERT_EQ(block.status, 0) << block.err;
  EXPECT_FALSE(decodeClip(block.out).presenterIsFull(10));
}

}  // namespace
}  // namespace vantry
