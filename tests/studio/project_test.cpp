#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "fakes.h"
#include "localization/language_scope.h"
#include "localization/localization.h"
#include "localization/user_message.h"
#include "model/document_json.h"
#include "support/file_bytes.h"
#include "support/scoped_env.h"
#include "support/small_disk.h"
#include "support/temp_dir.h"

namespace vantry {
namespace {

using namespace vantry::testing;
namespace fs = std::filesystem;

using test::readFile;
using test::writeFile;

struct StudioProjects : ::testing::Test {
  Harness h;
  test::TempDir dir{"vantry-studio"};
  std::unique_ptr<Studio> studio;

  void SetUp() override { studio = make(); }
  std::unique_ptr<Studio> make(int delay = 0) {
    StudioServices services = h.services();
    services.autosaveDelayMs = delay;  // fires at the next turn of the event loop
    return std::make_unique<Studio>(services);
  }
  // A recording folder with its "project.json".
  fs::path recording(const std::string& name, const std::string& title = "Recorded") {
    fs::path folder = dir.path / name;
    fs::create_directories(folder);
    Clip clip = recordedClip();
    clip.title = title;
    writeFile(folder / "project.json", encodeClip(clip));
    return folder;
  }
};

TEST_F(StudioProjects, ProjectJsonOpensItsEditsAndNeverRewritesItself) {
  fs::path folder = recording("a");
  const std::string recorded = readFile(folder / "project.json");
  ASSERT_TRUE(openAndWait(*studio, (folder / "project.json").string()));
  EXPECT_EQ(studio->projectURL(), (folder / "edit.json").string());
  EXPECT_EQ(studio->notice(), L("编辑自动保存 · 原始素材保留"));
  EXPECT_EQ(studio->timelineZoom(), TimelineScale::defaultZoom);
  EXPECT_FALSE(studio->canUndo());

  // The first autosave creates "edit.json" with the settings in force.
  studio->seek(5);
  studio->split();
  EditSettings look = studio->settings();
  look.padding = 0.04;
  studio->setSettings(look);
  drainEvents();
  EXPECT_EQ(StudioTestAccess::writes(*studio), 1);
  Clip saved = decodeClipFile((folder / "edit.json").string());
  EXPECT_EQ(saved.ranges().size(), 2u);
  EXPECT_EQ(saved.savedSettings, look);
  EXPECT_EQ(readFile(folder / "project.json"), recorded);

  // Opened again, "project.json" shows the edited project.
  auto again = make();
  ASSERT_TRUE(openAndWait(*again, (folder / "project.json").string()));
  EXPECT_EQ(again->clip().ranges().size(), 2u);
  EXPECT_EQ(again->settings(), look);
}

TEST_F(StudioProjects, AnyOtherFileSavesBackIntoItself) {
  fs::path other = dir.path / "mine.json";
  writeFile(other, encodeClip(recordedClip()));
  ASSERT_TRUE(openAndWait(*studio, other.string()));
  EXPECT_EQ(studio->projectURL(), other.string());
  studio->seek(5);
  studio->split();
  ASSERT_TRUE(studio->saveNow());
  EXPECT_EQ(decodeClipFile(other.string()).ranges().size(), 2u);
  EXPECT_FALSE(fs::exists(dir.path / "edit.json"));
}

TEST_F(StudioProjects, TenQuickEditsWriteOnce) {
  fs::path folder = recording("b");
  ASSERT_TRUE(openAndWait(*studio, (folder / "project.json").string()));
  for (int i = 0; i < 10; ++i)
    studio->setPresenter(i % 2 == 0);
  EXPECT_EQ(StudioTestAccess::writes(*studio), 0);
  drainEvents();
  EXPECT_EQ(StudioTestAccess::writes(*studio), 1);
}

TEST_F(StudioProjects, NothingIsWrittenLiveOrForTheDemonstration) {
  studio->demo();
  EXPECT_TRUE(studio->playing());
  EXPECT_FALSE(studio->projectURL());
  EXPECT_EQ(studio->notice(), L("演示项目 · 自动缩放 / 指针跟随 / 人物画中画"));
  studio->seek(3);
  studio->split();
  drainEvents();
  EXPECT_TRUE(studio->saveNow());

  // Live preview with a project address (as while a recording stops) writes nothing.
  studio->setProjectURL((dir.path / "edit.json").string());
  studio->setStandby(true);
  studio->scheduleSave();
  drainEvents();
  EXPECT_TRUE(studio->saveNow());
  studio->setStandby(false);
  studio->setRecording(true);
  EXPECT_TRUE(studio->saveNow());
  EXPECT_EQ(StudioTestAccess::writes(*studio), 0);
  EXPECT_FALSE(fs::exists(dir.path / "edit.json"));
  studio->setRecording(false);
  studio->setProjectURL(std::nullopt);
}

TEST_F(StudioProjects, AnUnreadableDocumentChangesNothing) {
  fs::path folder = recording("c", "First");
  ASSERT_TRUE(openAndWait(*studio, (folder / "project.json").string()));
  studio->setPresenter(true);
  fs::path broken = dir.path / "broken.json";
  writeFile(broken, "{ not json");
  EXPECT_FALSE(openAndWait(*studio, broken.string()));
  ASSERT_TRUE(studio->error());
  EXPECT_EQ(studio->error()->rfind(L("无法打开项目 {0}。", shownPath(broken.string())), 0), 0u);
  EXPECT_EQ(studio->clip().title, "First");
  EXPECT_TRUE(studio->canUndo());
  EXPECT_EQ(studio->projectURL(), (folder / "edit.json").string());
}

// A failed load used to leave the old document open with the autosave pointed at the new
// file, which the next save then overwrote.
TEST_F(StudioProjects, ALoadThatCannotOpenAMovieLeavesTheOpenProjectAsItWas) {
  fs::path first = recording("d", "First");
  fs::path second = recording("e", "Second");
  ASSERT_TRUE(openAndWait(*studio, (first / "project.json").string()));
  studio->setPresenter(true);
  FakeFrames* screen = h.frames["/rec/screen.mov"];
  const std::string secondBytes = readFile(second / "project.json");

  h.unreadable.insert("/rec/camera.mov");  // the second project's camera movie
  EXPECT_FALSE(openAndWait(*studio, (second / "project.json").string()));
  EXPECT_EQ(studio->error(), "无法读取 /rec/camera.mov");
  EXPECT_EQ(studio->clip().title, "First");
  EXPECT_EQ(studio->projectURL(), (first / "edit.json").string());
  EXPECT_EQ(studio->screenFrames(), screen);  // the open project keeps its readers
  EXPECT_TRUE(studio->canUndo());

  ASSERT_TRUE(studio->saveNow());
  EXPECT_EQ(decodeClipFile((first / "edit.json").string()).title, "First");
  EXPECT_EQ(readFile(second / "project.json"), secondBytes);
  EXPECT_FALSE(fs::exists(second / "edit.json"));
}

// Leaving a project whose edits could not be written would lose them: stay instead.
TEST_F(StudioProjects, AFailedSaveKeepsTheProjectOpen) {
  fs::path folder = recording("f", "Kept");
  ASSERT_TRUE(openAndWait(*studio, (folder / "project.json").string()));
  studio->setPresenter(true);
  // The folder becomes a place no file can be written to.
  studio->setProjectURL((dir.path / "missing" / "edit.json").string());

  EXPECT_FALSE(studio->saveNow());
  ASSERT_TRUE(studio->error());
  EXPECT_EQ(studio->error()->rfind(L("编辑未能保存："), 0), 0u);

  studio->enterStandby();
  EXPECT_FALSE(studio->standby());
  studio->demo();
  EXPECT_FALSE(studio->clip().isDemo);
  fs::path other = recording("g", "Other");
  EXPECT_FALSE(openAndWait(*studio, (other / "project.json").string()));
  EXPECT_EQ(studio->clip().title, "Kept");
  EXPECT_TRUE(studio->canUndo());
  // An open that fails as well used to hide the failed save: both are said, the save first.
  const fs::path broken = dir.path / "broken.json";
  writeFile(broken, "{ not json");
  EXPECT_FALSE(openAndWait(*studio, broken.string()));
  const std::string both = studio->error().value_or("");
  EXPECT_EQ(both.rfind(L("编辑未能保存："), 0), 0u) << both;
  EXPECT_NE(both.find("\n" + L("无法打开项目 {0}。", shownPath(broken.string()))),
            std::string::npos)
      << both;
  EXPECT_EQ(studio->clip().title, "Kept");

  // Once the save can succeed, leaving works.
  studio->setProjectURL((folder / "edit.json").string());
  studio->enterStandby();
  EXPECT_TRUE(studio->standby());
  EXPECT_FALSE(studio->projectURL());
  EXPECT_EQ(decodeClipFile((folder / "edit.json").string()).title, "Kept");
}

// A save on a full disk used to say only "Could not save edits: No space left on device".
TEST_F(StudioProjects, ASaveOnAFullDiskNamesTheFileWhyAndWhatToDo) {
  test::ScopedEnv homeEnv("HOME", dir.path.c_str());
  fs::path folder = recording("k");
  ASSERT_TRUE(openAndWait(*studio, (folder / "project.json").string()));
  studio->setPresenter(true);
  const fs::path full = dir.path / "full";
  test::SmallDisk disk(full, 64 * 1024);
  disk.fill();
  disk.limitHere();
  studio->setProjectURL((full / "edit.json").string());
  {
    LanguageScope english(AppLanguage::english);
    EXPECT_FALSE(studio->saveNow());
    EXPECT_EQ(studio->error(),
              "Could not save edits: The project file ~/full/edit.json cannot be "
              "written. " +
                  disk.reason() +
                  " Free some disk space. Your edits stay in this window until "
                  "they are saved.");
  }
  {
    LanguageScope chinese(AppLanguage::chinese);
    EXPECT_FALSE(studio->saveNow());
    EXPECT_EQ(studio->error(), std::string("编辑未能保存：项目文件 ~/full/edit.json 无法写入。") +
                                   (disk.mounted() ? "磁盘已满。" : "文件太大。") +
                                   "请释放一些磁盘空间。在保存成功之前，修改会保留在窗口中。");
  }
  EXPECT_TRUE(studio->canUndo());  // the edit is still there
  studio->setProjectURL(std::nullopt);
}

TEST_F(StudioProjects, AFailedAutosaveShowsItsError) {
  fs::path folder = recording("h");
  ASSERT_TRUE(openAndWait(*studio, (folder / "project.json").string()));
  studio->setProjectURL((dir.path / "missing" / "edit.json").string());
  studio->setPresenter(true);
  drainEvents();
  StudioTestAccess::writes(*studio);
  drainEvents();
  ASSERT_TRUE(studio->error());
  EXPECT_EQ(studio->error()->rfind(L("编辑未能保存："), 0), 0u);
  studio->setProjectURL(std::nullopt);
}

TEST_F(StudioProjects, OpeningIsRefusedWhileRecordingBusyOrExportingAlsoAfterTheDialog) {
  fs::path folder = recording("i");
  h.dialogs->project = (folder / "project.json").string();
  studio->setRecording(true);
  studio->openProject();
  studio->setRecording(false);
  studio->setBusy(true);
  studio->openProject();
  studio->setBusy(false);
  EXPECT_EQ(h.dialogs->asked, 0);

  // An export that starts while the dialog is up.
  h.dialogs->whileOpen = [&] { studio->setExporting(true); };
  studio->openProject();
  EXPECT_EQ(h.dialogs->asked, 1);
  EXPECT_TRUE(studio->standby());
  EXPECT_TRUE(studio->clip().isDemo);

  studio->setExporting(false);
  h.dialogs->whileOpen = nullptr;
  studio->openProject();
  EXPECT_TRUE(runUntil([&] { return !studio->busy(); }));
  EXPECT_FALSE(studio->standby());
  EXPECT_EQ(studio->projectURL(), (folder / "edit.json").string());
}

TEST_F(StudioProjects, ALoadResetsTheProjectState) {
  ASSERT_TRUE(studio->load(recordedClip()));
  studio->seek(8);
  studio->setPresenter(true);
  studio->setTimelineZoom(20);
  studio->setPlaybackRate(2);
  studio->togglePlayback();
  ASSERT_TRUE(studio->load(recordedClip()));
  EXPECT_EQ(studio->time(), 0);
  EXPECT_FALSE(studio->playing());
  EXPECT_FALSE(studio->canUndo());
  EXPECT_FALSE(studio->canRedo());
  EXPECT_EQ(studio->timelineZoom(), 7);
  EXPECT_FALSE(studio->seeking());
}

// Destroying the controller used to leave its clock and pending work running.
TEST_F(StudioProjects, DestroyingTheControllerWritesThePendingSave) {
  fs::path folder = recording("j");
  auto owned = make(60000);
  ASSERT_TRUE(openAndWait(*owned, (folder / "project.json").string()));
  owned->seek(5);
  owned->split();
  ASSERT_TRUE(StudioTestAccess::savePending(*owned));
  owned.reset();
  EXPECT_EQ(decodeClipFile((folder / "edit.json").string()).ranges().size(), 2u);
}

TEST_F(StudioProjects, ANewEditFileIsTheOwnersAloneAndAReplacedOneKeepsItsMode) {
  auto modeOf = [](const fs::path& path) {
    return fs::status(path).permissions() & fs::perms::all;
  };
  using P = fs::perms;
  for (const mode_t mask : {mode_t(022), mode_t(002), mode_t(077)}) {
    SCOPED_TRACE("umask " + std::to_string(mask));
    const mode_t old = ::umask(mask);
    const fs::path folder = recording("private-" + std::to_string(mask));
    auto s = make();
    ASSERT_TRUE(openAndWait(*s, (folder / "project.json").string()));
    s->seek(5);
    s->split();
    ASSERT_TRUE(s->saveNow());
    EXPECT_EQ(modeOf(folder / "edit.json"), P::owner_read | P::owner_write);
    // The person opened it up to the group: later saves leave that as it is, as far as the
    // umask allows.
    fs::permissions(folder / "edit.json", P::owner_read | P::owner_write | P::group_read);
    s->seek(7);
    s->split();
    ASSERT_TRUE(s->saveNow());
    EXPECT_EQ(modeOf(folder / "edit.json"),
              P::owner_read | P::owner_write | (mask & S_IRGRP ? P::none : P::group_read));
    // A link in its place is replaced by a file of the owner's; what it led to keeps its
    // mode and bytes, and lends the new file none of its bits.
    const fs::path victim = dir.path / ("victim-" + std::to_string(mask));
    test::writeFile(victim, "precious");
    ::chmod(victim.c_str(), 06777);
    fs::remove(folder / "edit.json");
    fs::create_symlink(victim, folder / "edit.json");
    s->seek(9);
    s->split();
    ASSERT_TRUE(s->saveNow());
    EXPECT_FALSE(fs::is_symlink(folder / "edit.json"));
    EXPECT_EQ(fs::status(folder / "edit.json").permissions(), P::owner_read | P::owner_write);
    EXPECT_EQ(fs::status(victim).permissions(), P::all | P::set_uid | P::set_gid);
    EXPECT_EQ(test::readFile(victim), "precious");
    ::umask(old);
  }
}

TEST_F(StudioProjects, RevealMakesTheRecordingsFolder) {
  StudioServices services = h.services();
  services.recordingsFolder = (dir.path / "Vantry" / "Recordings").string();
  Studio s(services);
  s.revealRecordings();
  EXPECT_TRUE(fs::is_directory(services.recordingsFolder));
  EXPECT_EQ(fs::status(services.recordingsFolder).permissions() & fs::perms::all,
            fs::perms::owner_all);
  ASSERT_EQ(h.desktop->opened.size(), 1u);
  EXPECT_EQ(h.desktop->opened[0], services.recordingsFolder);
  EXPECT_FALSE(s.error());
}

// Without a file manager or default application nothing would open and nobody would know:
// the alert says so, naming the place, so that the person can open it themselves.
TEST_F(StudioProjects, WhatTheDesktopCannotOpenIsToldWithItsPath) {
  test::ScopedEnv homeEnv{"HOME", dir.path.c_str()};
  LanguageScope english(AppLanguage::english);
  StudioServices services = h.services();
  services.recordingsFolder = (dir.path / "Vantry" / "Recordings").string();
  h.desktop->opens = false;
  Studio s(services);
  s.revealRecordings();
  ASSERT_TRUE(s.error());
  EXPECT_EQ(*s.error(),
            "Could not open the recordings folder ~/Vantry/Recordings. This desktop has no "
            "program set up to open it. Please open the folder yourself in a file manager.");
  s.setError(std::nullopt);
  LanguageScope chinese(AppLanguage::chinese);
  s.openPrivacyNotes((dir.path / "share" / "Privacy.txt").string());
  ASSERT_TRUE(s.error());
  EXPECT_EQ(*s.error(),
            "无法打开隐私说明 ~/share/Privacy.txt。这个桌面没有设置可以打开它的程序。"
            "请用文本编辑器自行打开这个文件。");
}

}  // namespace
}  // namespace vantry
