// The editing and export roads: a recording made by keyboard, edited with keys, the
// timeline and the inspector, reopened after quitting, then exported and an export
// cancelled half-way.

#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <algorithm>
#include <thread>

#include "e2e/app_driver.h"
#include "e2e/roads.h"

namespace vantry::e2e {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

json document(const fs::path& file) {
  return readJson(file).value_or(json::object());
}

// The kept segments of a saved document; 0 before the first edit is saved.
size_t keptRanges(const json& doc) {
  return doc.contains("keptRanges") ? doc["keptRanges"].size() : 0;
}

std::optional<size_t> zoomOverrides(const json& doc) {
  if (!doc.contains("zoomEventsOverride")) return std::nullopt;
  return doc["zoomEventsOverride"].size();
}

double setting(const json& doc, const char* key) {
  return doc.contains("savedSettings") ? doc["savedSettings"].value(key, -1.0) : -1.0;
}

// The timeline's lanes as the app describes them.
struct Lanes {
  int videoY = 0, zoomY = 0, left = 0, right = 0;
  std::vector<std::pair<int, int>> segments, zooms;
};

std::optional<Lanes> lanes(const AppDriver& app) {
  const auto w = app.widget("lanes");
  if (!w || !w->raw.contains("rows")) return std::nullopt;
  Lanes l;
  const json& rows = w->raw["rows"];
  l.videoY = rows.value("video", 0);
  l.zoomY = rows.value("zoom", 0);
  l.left = rows.value("left", 0);
  l.right = rows.value("right", 0);
  for (const auto& s : w->raw.value("segments", json::array()))
    l.segments.emplace_back(s[0].get<int>(), s[1].get<int>());
  for (const auto& z : w->raw.value("zooms", json::array()))
    l.zooms.emplace_back(z[0].get<int>(), z[1].get<int>());
  return l;
}

// The middle of the widest stretch of the zoom lane, within the video, that no zoom covers.
int freeZoomX(const Lanes& l) {
  const int end = l.segments.empty() ? l.right : l.segments.back().second;
  int best = l.left, widest = 0, from = l.left;
  auto zooms = l.zooms;
  std::sort(zooms.begin(), zooms.end());
  zooms.emplace_back(end, end);
  for (const auto& [a, b] : zooms) {
    if (a - from > widest) widest = a - from, best = from + (a - from) / 2;
    from = std::max(from, b);
  }
  return best;
}

// What ffprobe says of a movie: duration of the container and the stream types.
struct Probe {
  double duration = 0;
  bool video = false, audio = false;
  int height = 0;
  double frameRate = 0;
};

Probe probe(const fs::path& movie) {
  QProcess p;
  p.start(QStringLiteral("ffprobe"), {"-v", "error", "-print_format", "json", "-show_format",
                                      "-show_streams", QString::fromStdString(movie.string())});
  Probe r;
  if (!p.waitForFinished(30000) || p.exitCode() != 0) return r;
  const json info = json::parse(p.readAllStandardOutput().toStdString(), nullptr, false);
  if (info.is_discarded()) return r;
  r.duration = std::stod(info["format"].value("duration", "0"));
  for (const auto& s : info.value("streams", json::array())) {
    const std::string type = s.value("codec_type", "");
    if (type == "video") {
      r.video = true;
      r.height = s.value("height", 0);
      const std::string rate = s.value("avg_frame_rate", "0/1");
      const auto slash = rate.find('/');
      const double den = slash == std::string::npos ? 1 : std::stod(rate.substr(slash + 1));
      r.frameRate = den > 0 ? std::stod(rate.substr(0, slash)) / den : 0;
    }
    if (type == "audio") r.audio = true;
  }
  return r;
}

// Types a name into the open file dialog, which belongs to the window `owner`, and
// accepts it.
void answerFileDialog(AppDriver& app, const std::string& name, const std::string& owner) {
  ASSERT_TRUE(app.waitFor([&] { return app.map().value("modal", "") == "QFileDialog"; }, 10s))
      << "no file dialog";
  const auto dialog = app.window("QFileDialog");
  ASSERT_TRUE(dialog);
  EXPECT_EQ(dialog->raw.value("owner", ""), owner) << "the dialog may open behind";
  // The name field has the keyboard: replace what it holds.
  app.key("ctrl+a");
  app.type(name);
  app.shot("file-dialog");
  // While the name completer's popup is open, Return only takes the completion, as it
  // does for a person: press again until the dialog has gone.
  for (int press = 0; press < 3; ++press) {
    app.key("Return");
    const auto closed = [&] {
      const auto m = app.map();
      return m.contains("modal") && m["modal"] != "QFileDialog";
    };
    if (app.waitFor(closed, 3s)) return;
  }
  ADD_FAILURE() << "the file dialog stayed open";
}

double clockSeconds(const AppDriver& app) {
  const auto clock = app.widget("clock");
  if (!clock || clock->text.size() < 5) return -1;
  return std::stoi(clock->text.substr(0, 2)) * 60 + std::stoi(clock->text.substr(3, 2));
}

// Starts the app and records eight seconds with one click; the recording's folder.
fs::path launchAndRecord(AppDriver& app) {
  if (!app.launch()) {
    ADD_FAILURE() << "the app did not start: " << app.logText();
    return {};
  }
  const fs::path folder = recordByKeyboard(app, 8s, 1);
  EXPECT_FALSE(folder.empty()) << app.logText();
  EXPECT_TRUE(folder.empty() || app.waitForWidget("lanes"));
  return folder;
}

// Clicks the middle of a segment of the video lane (which selects it).
void clickSegment(AppDriver& app, size_t index) {
  const auto l = lanes(app);
  ASSERT_TRUE(l && l->segments.size() > index);
  app.clickAt((l->segments[index].first + l->segments[index].second) / 2, l->videoY);
  std::this_thread::sleep_for(200ms);
}

// Space plays until the clock reads `seconds`; space again pauses.
void playUntil(AppDriver& app, int seconds) {
  auto playButton = [&](const char* shows) {
    const auto play = app.widget("play");
    return play && play->raw.value("accessible", "") == shows;
  };
  app.key("space");
  EXPECT_TRUE(app.waitFor([&] { return playButton("Pause") && clockSeconds(app) >= seconds; }, 10s))
      << "space did not play";
  app.shot("playing");
  app.key("space");
  EXPECT_TRUE(app.waitFor([&] { return playButton("Play"); }, 5s)) << "space did not pause";
}

// Plays to `seconds`; Ctrl+B splits at the playhead, a click selects the second segment,
// Delete removes it. "edit.json" follows each edit within a second.
void cutAfter(AppDriver& app, const fs::path& edits, int seconds) {
  playUntil(app, seconds);
  app.key("ctrl+b");
  EXPECT_TRUE(app.waitFor([&] { return keptRanges(document(edits)) == 2; }, 1s))
      << "the split did not reach edit.json: " << document(edits).dump().substr(0, 300);
  EXPECT_TRUE(app.waitFor([&] { return lanes(app) && lanes(app)->segments.size() == 2; }, 5s));
  app.shot("split");
  clickSegment(app, 1);
  app.shot("segment-selected");
  app.key("Delete");
  EXPECT_TRUE(app.waitFor([&] { return keptRanges(document(edits)) == 1; }, 1s))
      << "Delete did not reach edit.json";
  app.shot("deleted");
}

TEST(Road, EditWithKeysTimelineAndInspectorThenReopen) {
  AppDriver app("edit", "english");
  const fs::path folder = launchAndRecord(app);
  ASSERT_FALSE(folder.empty());
  const fs::path edits = folder / "edit.json";

  // Space plays and pauses, Ctrl+B splits, a click selects the second segment and Delete
  // removes it.
  cutAfter(app, edits, 1);

  // Ctrl+Z brings it back.
  app.key("ctrl+z");
  EXPECT_TRUE(app.waitFor([&] { return keptRanges(document(edits)) == 2; }, 1s))
      << "Ctrl+Z did not reach edit.json";
  ASSERT_TRUE(app.waitFor([&] { return lanes(app) && lanes(app)->segments.size() == 2; }, 5s));
  app.shot("undone");

  // A click on a free stretch of the zoom lane adds a zoom.
  const Lanes l = *lanes(app);
  const size_t zoomsBefore = l.zooms.size();
  const int x = freeZoomX(l);
  app.moveTo(x - 4, l.zoomY);
  std::this_thread::sleep_for(100ms);
  app.moveTo(x, l.zoomY);
  std::this_thread::sleep_for(100ms);
  app.clickAt(x, l.zoomY);
  EXPECT_TRUE(app.waitFor(
      [&] { return zoomOverrides(document(edits)).value_or(0) == zoomsBefore + 1; }, 1s))
      << "the zoom lane click did not add a zoom: " << document(edits).dump().substr(0, 300);
  EXPECT_TRUE(app.waitFor([&] { return lanes(app)->zooms.size() == zoomsBefore + 1; }, 5s));
  app.shot("zoom-added");

  // Drag the smoothness slider of the inspector from its knob to its left end.
  ASSERT_TRUE(app.waitForWidget("smoothnessSlider"));
  const auto slider = *app.widget("smoothnessSlider");
  const double smoothBefore = slider.value.value_or(-1);
  const double fraction = std::clamp(smoothBefore, 0.0, 1.0);
  const int knobX = slider.rect.x + 8 + int(fraction * (slider.rect.width - 16));
  app.drag(knobX, slider.rect.centerY(), slider.rect.x + slider.rect.width / 5,
           slider.rect.centerY());
  double smoothAfter = -1;
  EXPECT_TRUE(app.waitFor(
      [&] {
        smoothAfter = setting(document(edits), "smoothness");
        return smoothAfter >= 0 && std::abs(smoothAfter - smoothBefore) > 0.1;
      },
      1500ms))
      << "the slider drag did not reach edit.json: " << smoothBefore << " -> " << smoothAfter;
  app.shot("slider-dragged");
  const json edited = document(edits);

  // Quit (keeping the recording), start again, Ctrl+O the project.
  app.key("ctrl+q");
  ASSERT_TRUE(app.waitForWidget("keepRecording", "QMessageBox")) << "Ctrl+Q asked nothing";
  ASSERT_TRUE(app.waitFor([&] { return app.activeWindow() == "QMessageBox"; }, 5s));
  app.shot("quit-question");
  app.key("Return");
  ASSERT_TRUE(app.waitForExit(15s)) << "the app did not quit";
  EXPECT_EQ(document(edits), edited) << "quitting changed edit.json";

  ASSERT_TRUE(app.launch()) << app.logText();
  // The dialog starts in the recordings folder: the recording's own folder is typed.
  app.key("ctrl+o");
  answerFileDialog(app, (folder.filename() / "project.json").string(), "StudioWindow");
  ASSERT_TRUE(app.waitFor([&] { return lanes(app) && lanes(app)->segments.size() == 2; }, 10s))
      << "the reopened project does not show the split";
  app.shot("reopened");
  EXPECT_EQ(lanes(app)->zooms.size(), zoomsBefore + 1);
  const auto reopened = app.widget("smoothnessSlider");
  ASSERT_TRUE(reopened);
  EXPECT_NEAR(reopened->value.value_or(-1), smoothAfter, 1e-6);
  EXPECT_EQ(document(edits), edited) << "reopening changed edit.json";
}

TEST(Road, ExportThenCancelASecondExportHalfWay) {
  AppDriver app("export", "english");
  const fs::path edits = launchAndRecord(app) / "edit.json";
  ASSERT_TRUE(fs::exists(edits));

  // Cut the rest away after three seconds so that the movie has the edited duration.
  cutAfter(app, edits, 3);
  ASSERT_EQ(keptRanges(document(edits)), 1u);
  const json kept = document(edits)["keptRanges"][0];
  const double edited = kept["end"].get<double>() - kept["start"].get<double>();

  // Ctrl+E, 720p and 30 fps, start, the file name in the save dialog.
  app.key("ctrl+e");
  ASSERT_TRUE(app.waitForWidget("resolution")) << "Ctrl+E did not open the export sheet";
  app.shot("export-sheet");
  auto pick = [&](const char* row, double share) {
    const auto w = app.widget(row);
    ASSERT_TRUE(w);
    app.clickAt(w->rect.x + int(w->rect.width * share), w->rect.centerY());
  };
  pick("resolution", 0.12);            // the first of four: 720p
  pick("frameRate", 0.25);             // the first of two: 30 fps
  std::this_thread::sleep_for(400ms);  // the selection chips slide into place
  app.shot("720p-30fps");
  ASSERT_TRUE(app.click("start", "ExportSheet"));
  // The name alone: the dialog starts at home and adds the extension.
  const fs::path movie = app.home() / "edited-road.mp4";
  answerFileDialog(app, "edited-road", "ExportSheet");
  ASSERT_TRUE(app.waitFor(
      [&] {
        const auto phase = app.widget("fileName");
        return phase && !phase->shown.empty();
      },
      120s))
      << "the export did not finish";
  const auto title = app.widget("title", "ExportSheet");
  ASSERT_TRUE(title);
  EXPECT_EQ(title->text, "Export Complete");
  app.shot("export-complete");
  const Probe first = probe(movie);
  EXPECT_TRUE(first.video);
  EXPECT_TRUE(first.audio) << "the movie has no sound";
  EXPECT_EQ(first.height, 720);
  EXPECT_NEAR(first.frameRate, 30, 0.5);
  EXPECT_NEAR(first.duration, edited, 0.15);

  // A second export over the same file, cancelled half-way, leaves it as it was.
  const auto bytes = fs::file_size(movie);
  const auto written = fs::last_write_time(movie);
  auto listing = [&] {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(movie.parent_path()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  };
  const auto before = listing();
  // "Export Again" goes back to the settings.
  ASSERT_TRUE(app.click("again", "ExportSheet"));
  ASSERT_TRUE(app.waitFor(
      [&] {
        const auto start = app.widget("start", "ExportSheet");
        return start && !start->shown.empty();
      },
      5s));
  // The heaviest settings (HEVC, 2160p, 60 fps), so that the export lasts long enough to be
  // caught half-way on a fast machine.
  pick("encoding", 0.75);
  pick("resolution", 0.88);
  pick("frameRate", 0.75);
  std::this_thread::sleep_for(400ms);
  app.shot("2160p-60fps-hevc");
  ASSERT_TRUE(app.click("start", "ExportSheet"));
  answerFileDialog(app, "edited-road", "ExportSheet");
  // Replacing the existing file is confirmed, unless the last Return given to the save
  // dialog already answered the question and the export runs.
  auto running = [&] {
    const auto percent = app.widget("percent");
    return percent && !percent->shown.empty();
  };
  auto asked = [&] { return app.map().value("modal", "") == "QMessageBox"; };
  if (app.waitFor([&] { return asked() || running(); }, 10s) && asked()) {
    app.shot("replace-question");
    app.key("y");
  }
  // Caught while it runs: at 40 %, or 1.5 s after its progress shows if that comes first,
  // so that a fast machine does not finish before the cancel.
  ASSERT_TRUE(app.waitFor(running, 60s))
      << "the second export never started: " << app.shot("not-started").string();
  // Quitting now, by Ctrl+Q or by the window manager's close button of the main window
  // under the sheet, says why the app stays.
  for (const bool byKey : {true, false}) {
    SCOPED_TRACE(byKey ? "Ctrl+Q" : "close button");
    if (byKey)
      app.key("ctrl+q");
    else
      ASSERT_TRUE(app.closeWindow("StudioWindow"));
    ASSERT_TRUE(app.waitFor(
        [&] {
          const auto text = app.widget("qt_msgbox_informativelabel", "QMessageBox");
          return text && text->text ==
                             "Video processing is in progress. Wait for it to finish "
                             "before quitting.";
        },
        5s))
        << "quitting during the export said nothing: " << app.shot("quit-silent").string();
    app.shot(byKey ? "quit-refused-key" : "quit-refused-close");
    ASSERT_TRUE(app.click("alertOK", "QMessageBox"));
    ASSERT_TRUE(app.waitFor([&] { return !app.window("QMessageBox"); }, 5s));
  }
  EXPECT_TRUE(app.running());
  app.waitFor(
      [&] {
        const auto percent = app.widget("percent");
        return !percent || percent->shown.empty() || std::atoi(percent->text.c_str()) >= 40;
      },
      1500ms);
  ASSERT_TRUE(running()) << "the second export ended before it could be cancelled: "
                         << app.shot("not-half-way").string();
  app.shot("half-way");
  ASSERT_TRUE(app.click("cancel"));
  ASSERT_TRUE(app.waitFor(
      [&] {
        const auto percent = app.widget("percent");
        return !percent || percent->shown.empty();
      },
      30s))
      << "the export did not stop";
  app.shot("cancelled");
  EXPECT_EQ(fs::file_size(movie), bytes);
  EXPECT_EQ(fs::last_write_time(movie), written);
  EXPECT_EQ(listing(), before) << "something was left beside the movie";
}

}  // namespace
}  // namespace vantry::e2e
