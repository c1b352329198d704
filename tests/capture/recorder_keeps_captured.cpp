// What a recording keeps when something goes wrong: a pointer reader that cannot open, a
// task that throws, a document or diagnostic that cannot be written, a disk filled while
// the movies are completed, a recorder that dies before its stop (rebuilt from the movie
// and the pointer journal, which keeps up with the recording however few its ticks), and a
// torn journal.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>

#include "capture/pointer_journal.h"
#include "capture/recording_lock.h"
#include "capture/recording_recovery.h"
#include "localization/language_scope.h"
#include "localization/user_message.h"
#include "model/document_json.h"
#include "movie_boxes.h"
#include "platform/durable_file.h"
#include "platform/ffmpeg/movie_fragments.h"
#include "platform/screen_source.h"
#include "platform/studio_error.h"
#include "support/disk_filler.h"
#include "support/fragmented_movie.h"
#include "synthetic_display_fixture.h"

namespace vantry {
namespace {

namespace fs = std::filesystem;

void sleepFor(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

struct KeptRecording : test::SyntheticDisplayRecording {
  ~KeptRecording() override {
    platform::failWritesForTesting("", 0);
    RecordingLock::failLocksForTesting(0);
  }

  bool waitForClock(const DisplayRecorder& recorder) {
    for (int i = 0; i < 600 && !recorder.startClock(); ++i)
      sleepFor(0.005);
    return recorder.startClock().has_value();
  }
};

// Throws from every fifth tick.
struct ThrowingCompanion : RecordingCompanion {
  std::atomic<int> ticks{0};
  void prepare(const std::string&) override {}
  void abandon() override {}
  void tick(double, CaptureTimings&) override {
    if (++ticks % 5 == 0) throw std::runtime_error("tick trouble");
  }
  std::optional<std::string> stop(std::optional<double>) override { return std::nullopt; }
  void complete(Clip&, double, CaptureTimings&) override {}
};

TEST_F(KeptRecording, APointerReaderThatCannotOpenFailsTheStartNotTheProgram) {
  screen->setPointerOpenError("The X server refused another connection.");
  DisplayRecorder recorder(env());
  try {
    recorder.start(7, std::nullopt);
    FAIL() << "start() should fail";
  } catch (const platform::PlatformError& e) {
    EXPECT_STREQ(e.what(), "The X server refused another connection.");
  }
  EXPECT_EQ(screen->runningStreams(), 0);
  // Nothing was opened yet: no empty movie is left behind.
  EXPECT_FALSE(fs::exists(fs::path(recorder.folder()) / "screen.mp4"));
}

TEST_F(KeptRecording, ATaskThatThrowsIsReportedOnceAndTheRecordingGoesOn) {
  auto companion = std::make_shared<ThrowingCompanion>();
  DisplayRecorder recorder(env());
  std::mutex mutex;
  std::vector<std::string> reported;
  recorder.onFailure = [&](const std::string& m) {
    std::lock_guard lock(mutex);
    reported.push_back(m);
  };
  recorder.start(7, std::nullopt, {companion});
  ASSERT_TRUE(waitForClock(recorder));
  sleepFor(0.6);
  const Clip clip = recorder.stop();
  EXPECT_GT(companion->ticks.load(), 15);
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(reported, std::vector<std::string>{
                            "An unexpected error occurred while recording.\ntick trouble"});
  }
  // The ticks that did not throw were sampled; the document was written.
  EXPECT_GT(clip.samples.size(), 10u);
  EXPECT_TRUE(fs::exists(fs::path(recorder.folder()) / "project.json"));
}

TEST_F(KeptRecording, TheDocumentIsWrittenFirstAndTheDiagnosticOnlyWarns) {
  {
    // The diagnostic cannot be written: a warning that names it; the document is there.
    platform::failWritesForTesting("capture-timing.json", ENOSPC);
    DisplayRecorder recorder(env());
    recorder.start(7, std::nullopt);
    ASSERT_TRUE(waitForClock(recorder));
    sleepFor(0.4);
    const Clip clip = recorder.stop();
    const fs::path folder = recorder.folder();
    EXPECT_EQ(recorder.warning(), "Could not write the file " +
                                      (folder / "capture-timing.json").string() +
                                      ". The disk is full.");
    EXPECT_EQ(decodeClipFile((folder / "project.json").string()).id, clip.id);
    EXPECT_FALSE(fs::exists(folder / "capture-timing.json"));
    EXPECT_FALSE(fs::exists(folder / kPointerJournalName));
  }
  {
    // The document cannot be written: the error names it, and the journal stays so that the
    // recording can still be rebuilt once there is room.
    platform::failWritesForTesting("project.json", ENOSPC);
    DisplayRecorder recorder(env());
    recorder.start(7, std::nullopt);
    ASSERT_TRUE(waitForClock(recorder));
    sleepFor(0.8);
    try {
      recorder.stop();
      FAIL() << "stop() should fail";
    } catch (const StudioError& e) {
      const std::string folder = recorder.folder();
      EXPECT_EQ(e.what(), "Could not write the file " + folder +
                              "/project.json. The disk is full. The recording is kept in " +
                              folder + "; free some space and reopen Vantry to recover it.");
    }
    const fs::path folder = recorder.folder();
    EXPECT_FALSE(fs::exists(folder / "project.json"));
    EXPECT_FALSE(fs::exists(folder / kDocumentReserveName));
    ASSERT_TRUE(needsRecovery(folder.string()));

    platform::failWritesForTesting("", 0);
    const Clip clip = recoverRecording(folder.string()).value();
    EXPECT_FALSE(fs::exists(folder / kPointerJournalName));
    const Clip stored = decodeClipFile((folder / "project.json").string());
    EXPECT_EQ(stored.id, clip.id);
    // The movie was completed at the stop: the whole recording is there.
    EXPECT_NEAR(clip.duration, test::readMovie(folder / "screen.mp4").end, 1e-3);
    EXPECT_GT(clip.duration, 0.7);
    EXPECT_GT(clip.samples.size(), 20u);
  }
}

// The person deletes the recording's folder while it records: the stop says that it was
// removed and that nothing is kept, in either language; no space is to be freed and nothing
// is to be recovered.
TEST_F(KeptRecording, AFolderRemovedWhileRecordingIsSaidToBeGone) {
  for (const AppLanguage language : {AppLanguage::english, AppLanguage::chinese}) {
    LanguageScope scope(language);
    DisplayRecorder recorder(env());
    recorder.start(7, std::nullopt);
    ASSERT_TRUE(waitForClock(recorder));
    sleepFor(0.6);
    const fs::path folder = recorder.folder();
    fs::remove_all(folder);
    try {
      recorder.stop();
      FAIL() << "stop() should fail";
    } catch (const StudioError& e) {
      EXPECT_EQ(e.what(), language == AppLanguage::english
                              ? "The recording folder " + folder.string() +
                                    " was removed during the recording, so nothing of it was "
                                    "kept. Record again."
                              : "录制文件夹 " + folder.string() +
                                    " 在录制中被删除了，这段录制没有保留任何内容。请重新录制。");
    }
    EXPECT_FALSE(fs::exists(folder));
  }
}

// Takes what is left of the disk when it completes its file, as a camera movie's last
// fragment does on a nearly full one.
struct FillingCompanion : RecordingCompanion {
  fs::path folder;
  void prepare(const std::string& f) override { folder = f; }
  void abandon() override {}
  std::optional<std::string> stop(std::optional<double>) override { return std::nullopt; }
  std::optional<std::string> finish() override {
    test::fillDisk(folder / "camera.mov");
    return std::nullopt;
  }
  void complete(Clip&, double, CaptureTimings&) override {}
};

// The movies are completed on a disk they fill: the room kept for the documents is still
// there for "project.json" and, after it, for the first edit file.
TEST_F(KeptRecording, TheDocumentsKeepTheirRoomWhileTheMoviesAreCompleted) {
  test::SmallDisk disk(root / "small", 8 * 1024 * 1024);
  if (!disk.mounted()) GTEST_SKIP() << "needs a real file system to fill";
  RecorderEnvironment e = env();
  e.recordingsFolder = (root / "small" / "Recordings").string();
  DisplayRecorder recorder(e);
  recorder.start(7, std::nullopt, {std::make_shared<FillingCompanion>()});
  // A whole fragment of the movie is on disk (a fragment per 60 frames).
  for (int i = 0; i < 6000 && recorder.stats().framesWritten < 90; ++i)
    sleepFor(0.005);
  ASSERT_GE(recorder.stats().framesWritten, 90);
  Clip clip;
  ASSERT_NO_THROW(clip = recorder.stop());
  const fs::path folder = recorder.folder();
  EXPECT_EQ(decodeClipFile((folder / "project.json").string()).id, clip.id);
  // The fragment on disk before the fill is kept: its sixty frames' own time, which a loaded
  // machine can make a little short of a second; the document says what the movie states.
  EXPECT_NEAR(clip.duration, test::statedLength(folder / "screen.mp4"), 1e-3);
  EXPECT_GT(clip.duration, 0.9);
  EXPECT_FALSE(fs::exists(folder / kPointerJournalName));
  EXPECT_FALSE(fs::exists(folder / kDocumentReserveName));
  // The controller's first edit file, with the zoom events of the clicks, fits too.
  clip.zoomEventsOverride = clip.defaultZoomEvents();
  EXPECT_EQ(platform::writeFileAtomically(folder / "edit.json", encodeClip(clip)), "");
}

TEST_F(KeptRecording, ARecorderThatDiesBeforeItsStopIsRebuiltFromMovieAndJournal) {
  fs::path folder;
  double startClock = 0;
  {
    screen->setPointer({160, 90}, false);
    DisplayRecorder recorder(env());
    recorder.start(7, std::nullopt);
    ASSERT_TRUE(waitForClock(recorder));
    startClock = *recorder.startClock();
    sleepFor(0.5);
    screen->tap();
    sleepFor(1.9);
    folder = recorder.folder();
    // While it records, its folder looks just like an interrupted one: recovery (as at the
    // start of a second instance of the app) passes it over without a word and touches
    // nothing.
    ASSERT_TRUE(needsRecovery(folder.string()));
    const RecoveryReport live = recoverRecordings((root / "Recordings").string());
    EXPECT_TRUE(live.empty());
    EXPECT_EQ(recoveryNotice(live), "");
    EXPECT_FALSE(recoverRecording(folder.string()));
    EXPECT_FALSE(fs::exists(folder / "project.json"));
    EXPECT_TRUE(fs::exists(folder / kPointerJournalName));
    EXPECT_TRUE(fs::exists(folder / kDocumentReserveName));
  }  // dropped without stop(), as a killed process leaves it (minus the last fragment)
  ASSERT_TRUE(needsRecovery(folder.string()));
  // A finished recording and an empty folder beside it are left alone.
  fs::create_directories(root / "Recordings" / "empty");

  const RecoveryReport report = recoverRecordings((root / "Recordings").string());
  ASSERT_EQ(report.recovered.size(), 1u);
  EXPECT_TRUE(report.failed.empty());
  EXPECT_EQ(report.recovered[0].folder, folder.string());
  EXPECT_EQ(recoveryNotice(report), "Recovered interrupted recordings: 1.");
  const Clip& clip = report.recovered[0].clip;

  // The duration is the movie's real length; the track runs up to it, with its click.
  const auto movie = test::readMovie(folder / "screen.mp4");
  EXPECT_NEAR(clip.duration, movie.end, 1e-3);
  EXPECT_GE(clip.duration, 1.0);
  EXPECT_EQ(clip.width, 640);
  EXPECT_EQ(clip.height, 360);
  EXPECT_EQ(clip.screenPath, (folder / "screen.mp4").string());
  EXPECT_FALSE(clip.cameraPath || clip.audioPath);
  EXPECT_EQ(clip.title.rfind("Recording · ", 0), 0u);
  ASSERT_FALSE(clip.samples.empty());
  EXPECT_LE(clip.samples.get().back().time, clip.duration);
  EXPECT_GT(clip.samples.get().back().time, clip.duration - 0.6);
  int clicks = 0;
  for (const auto& s : clip.samples.get()) {
    if (!s.clicked) continue;
    ++clicks;
    EXPECT_NEAR(s.x, 0.25, 1e-6);
    EXPECT_NEAR(s.y, 0.25, 1e-6);
  }
  EXPECT_EQ(clicks, 1);
  const Clip stored = decodeClipFile((folder / "project.json").string());
  EXPECT_EQ(stored.id, clip.id);
  EXPECT_FALSE(fs::exists(folder / kPointerJournalName));
  (void)startClock;

  // Once rebuilt there is nothing left to do, and nothing to say.
  const RecoveryReport again = recoverRecordings((root / "Recordings").string());
  EXPECT_TRUE(again.empty());
  EXPECT_EQ(recoveryNotice(again), "");
  EXPECT_TRUE(recoverRecordings((root / "missing").string()).empty());
}

// A busy machine: every tick takes 40 ms, so that the queue skips those due meanwhile and
// thirty ticks span more than a second. At each tick it notes how far the journal on disk is
// behind the sample of the tick before, which was read after that tick began.
struct SlowCompanion : RecordingCompanion {
  std::string journal;
  double before = 0;  // host-clock start of the tick before
  double worstLag = 0;
  double lastChecked = 0;  // recording time of the last sample checked
  void prepare(const std::string& folder) override {
    journal = (fs::path(folder) / kPointerJournalName).string();
  }
  void abandon() override {}
  void tick(double now, CaptureTimings&) override {
    if (before > 0) {
      const auto kept = readPointerJournal(journal, nullptr);
      ASSERT_TRUE(kept);
      const double written = kept->samples.empty() ? 0 : kept->samples.back().time;
      lastChecked = before - kept->header.startClock;
      worstLag = std::max(worstLag, lastChecked - written);
    }
    before = now;
    sleepFor(0.04);
  }
  std::optional<std::string> stop(std::optional<double>) override { return std::nullopt; }
  void complete(Clip&, double, CaptureTimings&) override {}
};

TEST_F(KeptRecording, HoweverFewTheTicksAKilledRecordingLosesAtMostHalfASecondOfItsTrack) {
  auto slow = std::make_shared<SlowCompanion>();
  DisplayRecorder recorder(env());
  recorder.start(7, std::nullopt, {slow});
  ASSERT_TRUE(waitForClock(recorder));
  sleepFor(2.0);
  recorder.stop();
  EXPECT_GT(slow->lastChecked, 1.5);
  EXPECT_LT(slow->worstLag, 0.5);
}

// A process that died while the movie was written (or a full disk before this was mended)
// leaves it cut inside its last fragment's header: FFmpeg then refuses the whole file. The
// recovery cuts it back to the last complete fragment and keeps every frame before; but
// only a movie of the recording folder itself, never a file reached through a link or one
// with a second name elsewhere, and only a journal of its own. A folder that cannot be
// recovered keeps every file, its journal and the space held for its document among them,
// and the notice names it.
TEST_F(KeptRecording, AMovieCutInsideItsLastFragmentIsRecoveredToTheFragmentBefore) {
  // Where the fragments of the movie start.
  auto fragments = [](const fs::path& movie) {
    std::vector<uint64_t> found;
    std::ifstream in(movie, std::ios::binary);
    unsigned char h[8];
    for (uint64_t at = 0; in.seekg(std::streamoff(at)) && in.read(reinterpret_cast<char*>(h), 8);) {
      if (std::string(reinterpret_cast<char*>(h) + 4, 4) == "moof") found.push_back(at);
      const uint64_t size = uint64_t(h[0]) << 24 | h[1] << 16 | h[2] << 8 | h[3];
      if (size < 8) break;
      at += size;
    }
    return found;
  };
  fs::path folder;
  {
    DisplayRecorder recorder(env());
    recorder.start(7, std::nullopt);
    ASSERT_TRUE(waitForClock(recorder));
    folder = recorder.folder();
    // Two whole fragments written, however slowly the machine encodes.
    for (int i = 0; i < 6000 && fragments(folder / "screen.mp4").size() < 2; ++i)
      sleepFor(0.01);
  }  // dropped without stop(), as a killed process leaves it
  const fs::path movie = folder / "screen.mp4";
  const std::vector<uint64_t> written = fragments(movie);
  ASSERT_GE(written.size(), 2u);
  const uint64_t lastFragment = written.back();
  fs::resize_file(movie, lastFragment + 97);
  ASSERT_TRUE(fragmentLayout(movie.string()).cut());

  const fs::path recordings = root / "Recordings";
  const fs::path outside = root / "outside.mp4";
  const uint64_t cut = fs::file_size(movie);
  fs::rename(movie, outside);
  // As a killed process leaves it (a dropped recorder gives it back).
  std::ofstream(folder / kDocumentReserveName) << std::string(128 * 1024, '\0');
  fs::create_symlink(outside, movie);
  const RecoveryReport linked = recoverRecordings(recordings.string());
  ASSERT_EQ(linked.failed.size(), 1u);
  EXPECT_EQ(fs::file_size(outside), cut);
  EXPECT_EQ(recoveryNotice(linked),
            "Could not recover the interrupted recording in " + shownPath(folder.string()) +
                ". Its files are kept there: open the folder to keep what you need, or delete it.");
  EXPECT_TRUE(fs::exists(folder / kPointerJournalName));
  EXPECT_TRUE(fs::exists(folder / kDocumentReserveName));
  // Linked to a movie that holds no picture (cut before its first fragment): still not
  // measured through the link, and the journal stays.
  fs::remove(movie);
  const fs::path empty = root / "empty.mp4";
  std::string head = test::readText(outside);
  head.resize(written.front());
  std::ofstream(empty, std::ios::binary) << head;
  fs::create_symlink(empty, movie);
  EXPECT_THROW(recoverRecording(folder.string()), StudioError);
  EXPECT_TRUE(fs::exists(folder / kPointerJournalName));
  EXPECT_TRUE(fs::exists(folder / kDocumentReserveName));
  // A journal of the folder's own only: one linked from elsewhere is not read.
  fs::remove(movie);
  fs::rename(outside, movie);
  const fs::path journal = folder / kPointerJournalName;
  const fs::path journalAway = root / "journal-away";
  fs::rename(journal, journalAway);
  fs::create_symlink(journalAway, journal);
  try {
    recoverRecording(folder.string());
    ADD_FAILURE() << "a linked journal was read";
  } catch (const StudioError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Could not read the file " + journal.string() + ".", 0),
              0u)
        << e.what();
  }
  EXPECT_FALSE(fs::exists(folder / "project.json"));
  EXPECT_TRUE(fs::is_symlink(journal));
  fs::remove(journal);
  fs::rename(journalAway, journal);
  fs::rename(movie, outside);
  fs::create_hard_link(outside, movie);
  EXPECT_THROW(recoverRecording(folder.string()), StudioError);
  EXPECT_EQ(fs::file_size(outside), cut);
  fs::remove(movie);
  // The whole folder a link to one elsewhere: passed over, and refused when named.
  const fs::path away = root / "away";
  fs::rename(folder, away);
  fs::rename(outside, away / "screen.mp4");
  fs::create_directory_symlink(away, folder);
  EXPECT_TRUE(recoverRecordings(recordings.string()).empty());
  EXPECT_THROW(recoverRecording(folder.string()), StudioError);
  EXPECT_EQ(fs::file_size(away / "screen.mp4"), cut);
  EXPECT_FALSE(fs::exists(away / "project.json"));
  fs::remove(folder);
  fs::rename(away, folder);

  const Clip clip = recoverRecording(folder.string()).value();
  EXPECT_EQ(fs::file_size(movie), lastFragment);
  const auto facts = test::readMovie(movie);
  ASSERT_TRUE(facts.opened) << facts.error;
  EXPECT_NEAR(clip.duration, facts.end, 1e-3);
  EXPECT_GT(clip.duration, 0.9);  // at least the first second's fragment
  EXPECT_TRUE(fs::exists(folder / "project.json"));
}

// A killed recording recovered an hour later, its last whole fragment damaged to claim that
// it starts ten minutes late. The project is no longer than the folder says the recording
// can have lasted (its track, and its files' times since its start, with two seconds of
// slack), also when the repair of the torn tail writes the movie at recovery; and it opens.
TEST_F(KeptRecording, AFragmentClaimingMinutesMakesNoProjectLongerThanTheRecordingRan) {
  fs::path folder;
  double startClock = 0;
  auto moofs = [](const std::string& bytes) {
    std::vector<test::BoxAt> found;
    for (const auto& box : test::boxesIn(bytes, 0, bytes.size()))
      if (box.type == "moof") found.push_back(box);
    return found;
  };
  {
    DisplayRecorder recorder(env());
    recorder.start(7, std::nullopt);
    ASSERT_TRUE(waitForClock(recorder));
    startClock = *recorder.startClock();
    folder = recorder.folder();
    for (int i = 0; i < 6000 && moofs(test::readText(folder / "screen.mp4")).size() < 3; ++i)
      sleepFor(0.01);
  }  // dropped without stop(), as a killed process leaves it
  const double ran = platform::hostTime() - startClock;
  const fs::path movie = folder / "screen.mp4";
  std::string bytes = test::readText(movie);
  const auto moov = test::boxOf(test::boxesIn(bytes, 0, bytes.size()), "moov");
  ASSERT_TRUE(moov);
  const auto trak = test::boxOf(test::boxesIn(bytes, *moov), "trak");
  ASSERT_TRUE(trak);
  const auto mdia = test::boxOf(test::boxesIn(bytes, *trak), "mdia");
  ASSERT_TRUE(mdia);
  const auto mdhd = test::boxOf(test::boxesIn(bytes, *mdia), "mdhd");
  ASSERT_TRUE(mdhd);
  const uint64_t ticks = test::bigEndian(bytes, mdhd->at + (bytes[mdhd->at + 8] ? 28 : 20), 4);
  const std::vector<test::BoxAt> fragments = moofs(bytes);
  ASSERT_GE(fragments.size(), 3u);
  const auto traf = test::boxOf(test::boxesIn(bytes, fragments[fragments.size() - 2]), "traf");
  ASSERT_TRUE(traf);
  const auto tfdt = test::boxOf(test::boxesIn(bytes, *traf), "tfdt");
  ASSERT_TRUE(tfdt);
  ASSERT_EQ(bytes[tfdt->at + 8], 1) << "a 64-bit decode time";
  const uint64_t at = tfdt->at + 12;
  test::putBigEndian(bytes, at, 8, test::bigEndian(bytes, at, 8) + 600 * ticks);
  bytes.resize(fragments.back().at + 97);  // torn inside its last fragment
  test::damageInPlace(movie, bytes);
  ASSERT_GT(test::readMovie(movie).end, 600.0);
  // An hour ago: the journal's start and the files' times.
  const fs::path journal = folder / kPointerJournalName;
  std::string track = test::readText(journal);
  const size_t key = track.find("\"startTime\":");
  ASSERT_NE(key, std::string::npos);
  const size_t value = key + 12;
  const size_t after = track.find_first_of(",}", value);
  char earlier[64];
  std::snprintf(earlier, sizeof earlier, "%.17g", std::stod(track.substr(value)) - 3600);
  track.replace(value, after - value, earlier);
  test::damageInPlace(journal, track);
  for (const fs::path& file : {journal, movie}) {
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    times[1].tv_sec -= 3600;
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  }

  const Clip clip = recoverRecording(folder.string()).value();
  EXPECT_NO_THROW(decodeClipFile((folder / "project.json").string()));
  EXPECT_GT(clip.duration, 0.0);
  EXPECT_LE(clip.duration, ran + 2.0);
  EXPECT_FALSE(fs::exists(journal));
}

// Where the file system keeps no locks (flock fails with ENOLCK, as on an NFS home without a
// lock daemon) a recording still starts; a recovery leaves its folder alone while it was
// written within the last minute, as a live recording's is, and rebuilds it once quiet.
TEST_F(KeptRecording, WithoutLocksARecordingStartsAndRecoveryWaitsForItsFolderToFallQuiet) {
  RecordingLock::failLocksForTesting(ENOLCK);
  fs::path folder;
  {
    DisplayRecorder recorder(env());
    ASSERT_NO_THROW(recorder.start(7, std::nullopt));
    ASSERT_TRUE(waitForClock(recorder));
    folder = recorder.folder();
    for (int i = 0; i < 6000 && recorder.stats().framesWritten < 90; ++i)
      sleepFor(0.005);
    EXPECT_TRUE(recoverRecordings((root / "Recordings").string()).empty());
    EXPECT_FALSE(fs::exists(folder / "project.json"));
  }  // dropped without stop(), as a killed process leaves it
  // Its writer might still be alive.
  EXPECT_FALSE(recoverRecording(folder.string()));
  EXPECT_TRUE(fs::exists(folder / kPointerJournalName));

  // Two minutes later.
  const auto aged = [](const fs::path& p) {
    struct stat st {};
    ASSERT_EQ(::lstat(p.c_str(), &st), 0);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    times[1].tv_sec -= 120;
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
  };
  for (const auto& entry : fs::directory_iterator(folder))
    aged(entry.path());
  aged(folder);
  ASSERT_TRUE(recoverRecording(folder.string()));
  EXPECT_NO_THROW(decodeClipFile((folder / "project.json").string()));
  EXPECT_FALSE(fs::exists(folder / kPointerJournalName));
}

TEST(PointerJournal, ATornOrDamagedTailIsIgnoredAndATornHeaderIsRefused) {
  test::RecorderTempDir dir;
  const std::string path = (dir.path / kPointerJournalName).string();
  JournalHeader header;
  header.width = 1280;
  header.height = 720;
  header.startClock = 1234.5;
  header.audioFile = "voice.m4a";
  header.audioOffset = -0.25;
  {
    PointerJournalWriter journal;
    ASSERT_TRUE(journal.open(path, header)) << journal.error();
    for (int i = 0; i < 90; ++i)
      journal.add(PointerSample{i / 60.0, 0.5, i / 100.0, i == 42});
    ASSERT_TRUE(journal.write());
    EXPECT_TRUE(fs::exists(dir.path / kDocumentReserveName));
    // Room for the two documents of a long track: "project.json" and the first edit file.
    PointerJournalWriter longer;
    ASSERT_TRUE(longer.open((dir.path / "long.partial").string(), header));
    Clip clip;
    std::vector<PointerSample> samples;
    for (int i = 0; i < 36000; ++i) {
      samples.push_back(PointerSample{i / 60.0, (i % 997) / 997.0, (i % 641) / 641.0, i % 90 == 0});
      longer.add(samples.back());
      if (i % 30 == 29) ASSERT_TRUE(longer.write());
    }
    clip.samples = std::move(samples);
    EXPECT_GE(fs::file_size(dir.path / kDocumentReserveName), 2 * encodeClip(clip).size());
  }
  EXPECT_FALSE(fs::exists(dir.path / kDocumentReserveName));  // given back on closing
  const auto whole = readPointerJournal(path, nullptr);
  ASSERT_TRUE(whole);
  EXPECT_FALSE(whole->torn);
  EXPECT_EQ(whole->header.width, 1280);
  EXPECT_EQ(whole->header.startClock, 1234.5);
  EXPECT_EQ(whole->header.audioFile, "voice.m4a");
  EXPECT_EQ(whole->header.audioOffset, -0.25);
  EXPECT_FALSE(whole->header.cameraFile);
  ASSERT_EQ(whole->samples.size(), 90u);
  EXPECT_TRUE(whole->samples[42].clicked);
  EXPECT_FALSE(whole->samples[43].clicked);
  EXPECT_NEAR(whole->samples[89].y, 0.89, 1e-6);

  // Half a record at the end (a write cut short) is ignored.
  std::string bytes = test::readText(path);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes.substr(0, bytes.size() - 10);
  auto torn = readPointerJournal(path, nullptr);
  ASSERT_TRUE(torn);
  EXPECT_TRUE(torn->torn);
  EXPECT_EQ(torn->samples.size(), 89u);

  // A damaged record ends the track there: nothing after it is trusted.
  bytes[bytes.size() - 24 * 10 + 3] ^= 0x5a;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  auto damaged = readPointerJournal(path, nullptr);
  ASSERT_TRUE(damaged);
  EXPECT_EQ(damaged->samples.size(), 80u);

  // Without a whole header there is nothing to rebuild from.
  std::ofstream(path, std::ios::binary | std::ios::trunc) << "{\"format\":1,\"wid";
  std::string error;
  EXPECT_FALSE(readPointerJournal(path, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace vantry
