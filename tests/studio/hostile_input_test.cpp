// Hostile project files and damaged media, opened the way the app opens them: each is
// refused with a sentence in the interface language that names the file and says what is
// wrong, the open project stays as it was, and no file on disk changes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "fakes.h"
#include "localization/language_scope.h"
#include "localization/localization.h"
#include "localization/user_message.h"
#include "model/document_json.h"
#include "render/movie_fixtures.h"
#include "support/file_bytes.h"
#include "support/local_listener.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace vantry {
namespace {

using namespace vantry::testing;
namespace fs = std::filesystem;

using test::readFile;
using test::writeFile;

// Every entry below a folder: its kind, and what each regular file holds.
std::map<std::string, std::size_t> snapshot(const fs::path& root) {
  std::map<std::string, std::size_t> seen;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const fs::file_status st = it->symlink_status();
    std::size_t& entry = seen[it->path().string()];
    entry = static_cast<std::size_t>(st.type());
    if (st.type() == fs::file_type::regular && it->file_size() < (std::uintmax_t{64} << 20))
      entry ^= std::hash<std::string>()(readFile(it->path()));
  }
  return seen;
}

// Releases any reader left waiting on one of the pipes, so that a regression fails on
// its message instead of hanging the test.
class PipeRescue {
 public:
  void add(const fs::path& pipe) {
    std::lock_guard lock(mutex_);
    pipes_.push_back(pipe);
  }

 private:
  std::mutex mutex_;
  std::vector<fs::path> pipes_;
  std::jthread thread_{[this](std::stop_token stop) {
    while (!stop.stop_requested()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      std::lock_guard lock(mutex_);
      for (const fs::path& p : pipes_) {
        const int fd = ::open(p.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;  // nobody is reading
        (void)!::write(fd, "x", 1);
        ::close(fd);
      }
    }
  }};
};

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
  test::LocalListener server;
  PipeRescue rescue;
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
  fs::path document(const fs::path& at, const Clip& clip) {
    writeFile(at / "project.json", encodeClip(clip));
    return at / "project.json";
  }
  fs::path pipe(const fs::path& path) {
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
    rescue.add(path);
    return path;
  }
  static test::TempDir* media_;
};

test::TempDir* HostileInput::media_ = nullptr;

std::string project(const fs::path& p) {
  return L("无法打开项目 {0}。", shownPath(p.string()));
}
std::string movie(const fs::path& p) {
  return L("无法读取视频 {0}。", shownPath(p.string()));
}
std::string sound(const fs::path& p) {
  return L("无法读取音轨 {0}。", shownPath(p.string()));
}
std::string damaged() {
  return L("它已损坏或不完整。");
}
std::string notRegular() {
  return L("它不是普通文件，而是管道或设备。");
}

std::string cut(std::string bytes) {
  bytes.resize(bytes.size() / 2);
  return bytes;
}

std::string flipped(std::string bytes, std::size_t from, std::size_t count) {
  for (std::size_t i = from; i < from + count && i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(bytes[i] ^ 0x80);
  return bytes;
}

TEST_F(HostileInput, EachIsRefusedInWordsNamingItsFileAndNothingChanges) {
  struct Row {
    const char* name;
    // Makes the case in its own folder; gives the file to open and the message expected
    // (its first line), made in the language in force.
    std::function<std::pair<fs::path, std::function<std::string()>>(const fs::path&)> make;
    bool opens = false;  // a sound that cannot be read leaves the project silent, not closed
  };
  auto withDocument = [this](std::function<void(const fs::path&, Clip&)> spoil) {
    return [this, spoil](const fs::path& at) {
      Clip clip = recording(at, "Hostile");
      spoil(at, clip);
      return document(at, clip);
    };
  };
  using Made = std::pair<fs::path, std::function<std::string()>>;
  auto documentBytes = [this](std::function<std::string(std::string)> spoil,
                              std::function<std::string()> reason) {
    return [this, spoil, reason](const fs::path& at) -> Made {
      const fs::path p = document(at, recording(at, "Hostile"));
      writeFile(p, spoil(readFile(p)));
      return {p, [p, reason] { return withReason(project(p), reason()); }};
    };
  };
  auto documentValue = [withDocument](std::function<void(const fs::path&, Clip&)> spoil,
                                      std::function<std::string()> reason) {
    return [withDocument, spoil, reason](const fs::path& at) -> Made {
      const fs::path p = withDocument(spoil)(at);
      return {p, [p, reason] { return withReason(project(p), reason()); }};
    };
  };
  auto field = [](const char* f) { return [f] { return L("其中 {0} 的值超出范围。", f); }; };
  auto remote = [](const char* f) { return [f] { return L("其中 {0} 不是本机文件的路径。", f); }; };
  auto projectFile = [this](std::function<fs::path(const fs::path&)> place,
                            std::function<std::string()> reason) {
    return [place, reason](const fs::path& at) -> Made {
      const fs::path p = place(at);
      return {p, [p, reason] { return withReason(project(p), reason()); }};
    };
  };
  // A document whose screen movie (or camera movie, or sound) is `bytes`, or what `place`
  // puts there.
  auto mediaFile = [this](const char* name, std::function<void(const fs::path&)> place,
                          std::function<std::string(const fs::path&)> sentence,
                          std::function<std::string()> reason) {
    return [this, name, place, sentence, reason](const fs::path& at) -> Made {
      Clip clip = recording(at, "Hostile");
      const fs::path m = at / (std::string("bad-") + name);
      place(m);
      if (std::string(name).ends_with(".m4a")) {
        clip.audioPath = m.string();
      } else if (std::string(name).starts_with("camera")) {
        clip.cameraPath = m.string();
      } else {
        clip.screenPath = m.string();
      }
      return {document(at, clip),
              [m, sentence, reason] { return withReason(sentence(m), reason()); }};
    };
  };
  auto bytes = [](std::string content) {
    return [content](const fs::path& p) { writeFile(p, content); };
  };
  const std::string good = media("movie.mp4");

  const std::vector<Row> rows{
      {"truncated", documentBytes(cut, damaged)},
      {"flipped bytes",
       documentBytes([](std::string b) { return flipped(b, b.size() / 2, 3); }, damaged)},
      {"empty", documentBytes([](std::string) { return std::string(); }, damaged)},
      {"not a project",
       documentBytes([](std::string) { return std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16); },
                     [] { return L("它不是 Vantry 项目。"); })},
      {"fifo",
       projectFile([this](const fs::path& at) { return pipe(at / "project.json"); }, notRegular)},
      {"device", projectFile(
                     [](const fs::path& at) {
                       fs::create_symlink("/dev/zero", at / "zero.json");
                       return at / "zero.json";
                     },
                     notRegular)},
      {"folder", projectFile(
                     [](const fs::path& at) {
                       fs::create_directory(at / "project.json");
                       return at / "project.json";
                     },
                     [] { return systemReason(EISDIR); })},
      {"symlink loop", projectFile(
                           [](const fs::path& at) {
                             fs::create_symlink(at / "b.json", at / "a.json");
                             fs::create_symlink(at / "a.json", at / "b.json");
                             return at / "a.json";
                           },
                           [] { return systemReason(ELOOP); })},
      {"missing", projectFile([](const fs::path& at) { return at / "project.json"; },
                              [] { return systemReason(ENOENT); })},
      {"beyond any document's size", projectFile(
                                         [](const fs::path& at) {
                                           const fs::path p = at / "huge.json";
                                           writeFile(p, "{");
                                           fs::resize_file(p, std::uintmax_t{300} << 20);
                                           return p;
                                         },
                                         [] { return L("它太大，不可能是 Vantry 项目。"); })},
      {"huge array", documentBytes(
                         [](std::string b) {
                           std::string many = R"("presenterEvents":[{})";
                           for (int i = 0; i < 600'000; ++i)
                             many += ",{}";
                           return b.insert(1, many + "],");
                         },
                         [] { return L("它太大，不可能是 Vantry 项目。"); })},
      {"duration 1e308",
       documentValue([](auto&, Clip& c) { c.duration = 1e308; }, field("duration"))},
      {"negative duration",
       documentValue([](auto&, Clip& c) { c.duration = -5; }, field("duration"))},
      {"negative width", documentValue([](auto&, Clip& c) { c.width = -1920; }, field("width"))},
      {"extreme offset",
       documentValue([](auto&, Clip& c) { c.audioOffset = 1e300; }, field("audioOffset"))},
      {"movie at an address",
       documentValue([this](auto&, Clip& c) { c.screenPath = server.url("screen.mp4"); },
                     remote("screenPath"))},
      {"camera from a pipe number",
       documentValue([](auto&, Clip& c) { c.cameraPath = "pipe:3"; }, remote("cameraPath"))},
      {"sound through file:",
       documentValue([this](const fs::path& at,
                            Clip& c) { c.audioPath = "file:" + pipe(at / "voice.fifo").string(); },
                     remote("audioPath"))},
      {"relative movie",
       documentValue([](auto&, Clip& c) { c.screenPath = "screen.mp4"; }, remote("screenPath"))},
      {"truncated movie", mediaFile("screen.mp4", bytes(cut(good)), movie, damaged)},
      {"flipped movie", mediaFile("screen.mp4", bytes(flipped(good, 0, 4096)), movie, damaged)},
      {"empty movie", mediaFile("screen.mp4", bytes(""), movie, damaged)},
      {"fifo movie", mediaFile(
                         "screen.mp4", [this](const fs::path& p) { pipe(p); }, movie, notRegular)},
      {"folder movie", mediaFile(
                           "camera.mov", [](const fs::path& p) { fs::create_directory(p); }, movie,
                           [] { return systemReason(EISDIR); })},
      {"movie in a link loop", mediaFile(
                                   "screen.mp4",
                                   [](const fs::path& p) {
                                     fs::create_symlink(p.string() + ".2", p);
                                     fs::create_symlink(p, p.string() + ".2");
                                   },
                                   movie, [] { return systemReason(ELOOP); })},
      {"missing camera movie",
       mediaFile(
           "camera.mov", [](const fs::path&) {}, movie, [] { return systemReason(ENOENT); })},
      {"sound that is no sound",
       mediaFile("voice.m4a", bytes("RIFF and nothing else"), sound, damaged), true},
  };

  for (AppLanguage language : {AppLanguage::chinese, AppLanguage::english}) {
    LanguageScope scope(language);
    int n = 0;
    for (const Row& row : rows) {
      SCOPED_TRACE(row.name);
      const fs::path at = folder("case-" + std::to_string(n++));
      auto studio = openStudio();
      const fs::path open = folder("open");
      if (!fs::exists(open / "project.json")) document(open, recording(open, "Open"));
      ASSERT_TRUE(studio->openProjectFile((open / "project.json").string()));
      ASSERT_TRUE(studio->saveNow());  // the project left is saved; its bytes stay the same
      const auto [file, expected] = row.make(at);
      const auto before = snapshot(home.path);

      EXPECT_EQ(studio->openProjectFile(file.string()), row.opens);
      const std::string error = studio->error().value_or("");
      EXPECT_EQ(error.substr(0, error.find('\n')), expected());
      // The library's own text only on a second line, and never raw.
      EXPECT_EQ(error.find("json.exception"), std::string::npos) << error;
      EXPECT_EQ(error.find(" @ 0x"), std::string::npos) << error;
      EXPECT_EQ(studio->clip().title, row.opens ? "Hostile" : "Open");
      EXPECT_EQ(snapshot(home.path), before);
      fs::remove_all(at);
    }
  }
  EXPECT_FALSE(server.contacted());
}

TEST_F(HostileInput, AFolderWhoseNameHoldsAColonStillOpens) {
  auto studio = openStudio();
  const fs::path at = folder("http: take 2");
  Clip clip = recording(at, "Colon");
  fs::rename(at / "screen.mp4", at / "file:screen.mp4");
  clip.screenPath = (at / "file:screen.mp4").string();
  ASSERT_TRUE(studio->openProjectFile(document(at, clip).string())) << *studio->error();
  EXPECT_FALSE(studio->error());
  ASSERT_TRUE(studio->screenFrames());
  EXPECT_TRUE(studio->hasVoice());
}

}  // namespace
}  // namespace vantry
