// Hostile project files and damaged media, opened the way the app opens them: each is
// refused with a sentence in the interface language that names the file and says what is
// wrong, the open project stays as it was, and no file on disk changes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <utility>

#include "fakes.h"
#include "localization/language_scope.h"
#include "localization/localization.h"
#include "localization/user_message.h"
#include "model/document_json.h"
#include "render/movie_fixtures.h"
#include "support/file_bytes.h"
#include "support/fragmented_movie.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace vantry {
namespace {

using namespace vantry::testing;
namespace fs = std::filesystem;

using test::readFile;
using test::writeFile;

// Every entry in the folders: its kind, and what each regular file holds.
std::map<std::string, std::size_t> snapshot(const fs::path& a, const fs::path& b) {
  std::map<std::string, std::size_t> seen;
  for (const fs::path& root : {a, b}) {
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
      const fs::file_type type = e.symlink_status().type();
      std::size_t& entry = seen[e.path().string()];
      entry = static_cast<std::size_t>(type);
      if (type == fs::file_type::regular && e.file_size() < (std::uintmax_t{64} << 20))
        entry ^= std::hash<std::string>()(readFile(e.path()));
    }
  }
  return seen;
}

struct HostileInput : ::testing::Test {
  static void SetUpTestSuite() {
    media_ = new test::TempDir("vantry-media");
    makeIndexedMovie((media_->path / "movie.mp4").string(), 30, 30, 64, 36);
    makeToneSound((media_->path / "voice.m4a").string(), 1, {0.2});
  }
  static void TearDownTestSuite() { delete media_; }
  static std::string media(const char* name) { return readFile(media_->path / name); }

  test::TempDir home{"vantry-home"};
  test::ScopedEnv homeEnv{"HOME", home.path.c_str()};  // so that messages show "~"
  Harness h;

  std::unique_ptr<Studio> openStudio() {
    StudioServices services = h.services();
    // The app's own openers of movies and sound.
    StudioServices real = defaultStudioServices();
    services.openFrames = real.openFrames;
    services.makeAudio = real.makeAudio;
    return std::make_unique<Studio>(services);
  }
  fs::path folder(const std::string& name) {
    const fs::path f = home.path / name;
    fs::create_directories(f);
    return f;
  }
  // A recording folder with its movie and sound and a document naming them.
  Clip recording(const fs::path& at, const std::string& title) {
    writeFile(at / "screen.mp4", media("movie.mp4"));
    writeFile(at / "voice.m4a", media("voice.m4a"));
    Clip clip;
    clip.title = title;
    clip.duration = 1;
    clip.screenPath = (at / "screen.mp4").string();
    clip.audioPath = (at / "voice.m4a").string();
    return clip;
  }
  // The document as a hostile party writes it: our writer refuses what no recording can be,
  // so such values go into its JSON form by hand.
  fs::path writeProject(const fs::path& at, const Clip& clip) {
    Clip sane = clip;
    sane.duration = 1;
    sane.width = 1920;
    for (auto* path : {&sane.screenPath, &sane.cameraPath, &sane.audioPath})
      if (*path) *path = "/";
    nlohmann::json doc = nlohmann::json::parse(encodeClip(sane));
    doc["duration"] = clip.duration;
    doc["width"] = clip.width;
    for (const auto& [key, path] : {std::pair{"screenPath", clip.screenPath},
                                    {"cameraPath", clip.cameraPath},
                                    {"audioPath", clip.audioPath}})
      if (path) doc[key] = *path;
    writeFile(at / "project.json", doc.dump());
    return at / "project.json";
  }
  std::string makePipe(const fs::path& path) {
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
    return path.string();
  }
  static test::TempDir* media_;
};

test::TempDir* HostileInput::media_ = nullptr;

TEST_F(HostileInput, EachIsRefusedInWordsNamingItsFileAndNothingChanges) {
  using Text = std::function<std::string(const std::string& named)>;  // the file, as shown
  using Place = std::function<void(const fs::path&)>;
  auto said = [](const char* key) { return [key](const std::string&) { return L(key); }; };
  auto system = [](int errnum) {
    return [errnum](const std::string&) { return systemReason(errnum); };
  };
  auto range = [](const char* part) {
    return [part](const std::string&) { return L("{0}超出范围。", L(part)); };
  };
  auto notLocal = [](const char* part) {
    return [part](const std::string&) { return L("{0}不是本机上的文件。", L(part)); };
  };
  // A pipe or a device named by the project: the project is refused, saying which file.
  auto notAFile = [](const char* key) {
    return [key](const std::string& named) { return L(key, named); };
  };
  auto bytes = [](std::function<std::string(std::string)> change) {
    return [change](const fs::path& p) { writeFile(p, change(readFile(p))); };
  };
  auto cut = bytes([](std::string b) { return b.substr(0, b.size() / 2); });
  auto content = [bytes](std::string c) { return bytes([c](std::string) { return c; }); };
  Place pipe = [this](const fs::path& p) {
    fs::remove(p);
    makePipe(p);
  };
  const Text damaged = said("它已损坏或不完整。");
  const Text notRegular = said("它不是普通文件，而是管道或设备。");
  struct Row {
    const char* name;
    std::function<void(const fs::path& at, Clip&)> spoil;  // the document, before it is written
    const char* file;      // in the case's folder: what the message names (and opens, a ".json")
    Place place;           // what then stands at that file
    const char* sentence;  // the project's names the document opened
    Text reason;
    bool opens = false;  // a sound that cannot be read leaves the project silent, not closed
  };
  const char* project = "无法打开项目 {0}。";
  const char* movie = "无法读取视频 {0}。";
  const std::vector<Row> rows{
      {"truncated", {}, "project.json", cut, project, damaged},
      {"flipped bytes",
       {},
       "project.json",
       bytes([](std::string b) { return b.replace(b.size() / 2, 1, "\x80"); }),
       project,
       damaged},
      {"empty", {}, "project.json", content(""), project, damaged},
      {"not a project",
       {},
       "project.json",
       content("\x89PNG\r\n\x1a\n"),
       project,
       said("它不是 Vantry 项目。")},
      {"fifo", {}, "project.json", pipe, project, notRegular},
      {"device",
       {},
       "zero.json",
       [](const fs::path& p) { fs::create_symlink("/dev/zero", p); },
       project,
       notRegular},
      {"folder",
       {},
       "project.json",
       [](const fs::path& p) {
         fs::remove(p);
         fs::create_directory(p);
       },
       project,
       system(EISDIR)},
      {"symlink loop",
       {},
       "a.json",
       [](const fs::path& p) {
         fs::create_symlink(p.string() + ".2", p);
         fs::create_symlink(p, p.string() + ".2");
       },
       project,
       system(ELOOP)},
      {"beyond any document's size",
       {},
       "project.json",
       [](const fs::path& p) { fs::resize_file(p, std::uintmax_t{300} << 20); },
       project,
       said("它太大，不可能是 Vantry 项目。")},
      {"huge array",
       {},
       "project.json",
       bytes([](std::string b) {
         std::string events = R"("presenterEvents":[{})";
         for (int i = 0; i < 600'000; ++i)
           events += ",{}";
         return b.insert(1, events + "],");
       }),
       project,
       said("它太大，不可能是 Vantry 项目。")},
      {"duration 1e308",
       [](auto&, Clip& c) { c.duration = 1e308; },
       "project.json",
       {},
       project,
       range("其中的时长")},
      {"negative width",
       [](auto&, Clip& c) { c.width = -1920; },
       "project.json",
       {},
       project,
       range("其中的画面尺寸")},
      {"movie at an address",
       [](auto&, Clip& c) { c.screenPath = "http://127.0.0.1:9/screen.mp4?leak=opened"; },
       "project.json",
       {},
       project,
       notLocal("其中的录屏视频")},
      {"sound through file:",
       [this](const fs::path& at, Clip& c) { c.audioPath = "file:" + makePipe(at / "voice.fifo"); },
       "project.json",
       {},
       project,
       notLocal("其中的声音")},
      {"truncated movie", {}, "screen.mp4", cut, movie, damaged},
      {"empty movie", {}, "screen.mp4", content(""), movie, damaged},
      {"fifo movie",
       {},
       "screen.mp4",
       pipe,
       project,
       notAFile("屏幕录像 {0} 不是普通文件，而是管道或设备。")},
      {"device camera movie",
       [](const fs::path& at, Clip& c) { c.cameraPath = (at / "camera.mov").string(); },
       "camera.mov", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }, project,
       notAFile("摄像头录像 {0} 不是普通文件，而是管道或设备。")},
      {"fifo sound",
       {},
       "voice.m4a",
       pipe,
       project,
       notAFile("声音文件 {0} 不是普通文件，而是管道或设备。")},
      {"missing camera movie",
       [](const fs::path& at, Clip& c) { c.cameraPath = (at / "camera.mov").string(); },
       "camera.mov",
       {},
       movie,
       system(ENOENT)},
      {"sound that is no sound",
       {},
       "voice.m4a",
       content("RIFF and nothing else"),
       "无法读取音轨 {0}。",
       damaged,
       true},
  };

  const fs::path open = folder("open");
  writeProject(open, recording(open, "Open"));
  for (AppLanguage language : {AppLanguage::chinese, AppLanguage::english}) {
    LanguageScope scope(language);
    for (const Row& row : rows) {
      SCOPED_TRACE(row.name);
      auto studio = openStudio();
      ASSERT_TRUE(openAndWait(*studio, (open / "project.json").string()));
      ASSERT_TRUE(studio->saveNow());  // the project left is saved; its bytes stay the same
      const fs::path at = folder("case");
      Clip clip = recording(at, "Hostile");
      if (row.spoil) row.spoil(at, clip);
      writeProject(at, clip);
      const fs::path named = at / row.file;
      if (row.place) row.place(named);
      const auto before = snapshot(home.path / "open", at);

      const bool document = std::string_view(row.file).ends_with(".json");
      const fs::path opened = document ? named : at / "project.json";
      EXPECT_EQ(openAndWait(*studio, opened.string()), row.opens);
      const std::string error = studio->error().value_or("");
      const fs::path sentenceNames = row.sentence == project ? opened : named;
      EXPECT_EQ(error.substr(0, error.find('\n')),
                withReason(L(row.sentence, shownPath(sentenceNames.string())),
                           row.reason(shownPath(named.string()))));
      // The library's own text only on a second line, and never raw; nothing of the JSON
      // library's at all (it quoted the bytes around the fault: a path with the home folder
      // in full, cut inside a character, in English under a Chinese sentence).
      EXPECT_EQ(error.find("json.exception"), std::string::npos) << error;
      EXPECT_EQ(error.find(" @ 0x"), std::string::npos) << error;
      EXPECT_EQ(error.find(home.path.string()), std::string::npos) << error;
      if (document) {
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
      }
      EXPECT_EQ(studio->clip().title, row.opens ? "Hostile" : "Open");
      EXPECT_EQ(snapshot(home.path / "open", at), before);
      fs::remove_all(at);
    }
  }
}

// A recording cut short inside its last fragment, lying outside the recordings folder: a
// project naming it reads it up to its last complete fragment and never writes to it.
TEST_F(HostileInput, ACutMovieElsewhereReadsToItsLastCompleteFragmentAndIsNotWritten) {
  const fs::path at = folder("elsewhere");
  const fs::path movie = at / "screen.mp4";
  test::writeFragmentedMovie(movie);
  fs::resize_file(movie, test::lastBox(movie, "moof") + 40);
  Clip clip;
  clip.title = "Cut";
  clip.duration = 1;
  clip.screenPath = movie.string();
  const fs::path project = writeProject(folder("project"), clip);
  const test::Written before = test::written(movie);

  auto studio = openStudio();
  ASSERT_TRUE(openAndWait(*studio, project.string())) << studio->error().value_or("");
  EXPECT_FALSE(studio->error());
  // Frame 48 of the fifty whole ones.
  studio->seek(0.8);
  FrameSource* frames = studio->screenFrames();
  ASSERT_TRUE(frames);
  ASSERT_TRUE(runUntil([&] { return frames->latestTime() == 0.8; }));
  EXPECT_FALSE(frames->takeError());
  EXPECT_FALSE(frames->latest().isNull());
  studio.reset();
  EXPECT_TRUE(test::written(movie) == before);
}

TEST_F(HostileInput, AFolderWhoseNameHoldsAColonStillOpens) {
  auto studio = openStudio();
  const fs::path at = folder("http: take 2");
  Clip clip = recording(at, "Colon");
  fs::rename(at / "screen.mp4", at / "file:screen.mp4");
  clip.screenPath = (at / "file:screen.mp4").string();
  ASSERT_TRUE(openAndWait(*studio, writeProject(at, clip).string())) << *studio->error();
  EXPECT_FALSE(studio->error());
  ASSERT_TRUE(studio->screenFrames());
  EXPECT_TRUE(studio->hasVoice());
}

}  // namespace
}  // namespace vantry
