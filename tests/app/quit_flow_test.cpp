// The quit flow with scripted answers and a fake Trash: what is saved, asked, trashed or
// refused in each state, and the mended faults (failed save, failed Trash, stale error,
// repeated requests, Cancel as the delete default).
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <deque>
#include <iostream>
#include <sstream>

#include "app/quit_flow.h"
#include "app/shot_states.h"
#include "app/signal_watcher.h"
#include "app/trash.h"
#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"
#include "model/demo_project.h"
#include "model/document_json.h"
#include "studio/studio.h"
#include "support/scoped_env.h"
#include "support/small_disk.h"

namespace vantry {
namespace {

struct ScriptedPrompts : QuitPrompts {
  std::deque<Keep> keeps;
  bool deleteAnswer = false;
  bool quitAnywayAnswer = false;
  int asked = 0, deleteAsked = 0, quitAnywayAsked = 0;
  QString folder;
  bool deletable = false;
  QString failure;
  std::function<void()> whileAsking;

  Keep askKeep(const QString& f, bool d) override {
    ++asked;
    folder = f;
    deletable = d;
    if (whileAsking) whileAsking();
    if (keeps.empty()) return Keep::cancel;
    Keep k = keeps.front();
    keeps.pop_front();
    return k;
  }
  bool confirmDelete() override {
    ++deleteAsked;
    return deleteAnswer;
  }
  bool quitAnyway(const QString& message) override {
    ++quitAnywayAsked;
    failure = message;
    return quitAnywayAnswer;
  }
};

class Quitting : public ::testing::Test {
 protected:
  void SetUp() override {
    LanguageSettings::shared().setSelected(AppLanguage::english);
    ASSERT_TRUE(root.isValid());
    recordings = root.filePath("Recordings");
    QDir().mkpath(recordings);
    studio = std::make_unique<Studio>(offscreenStudioServices());
    QuitServices services;
    services.prompts = prompts;
    services.recordingsRoot = recordings;
    services.trash = [this](const QString& folder) -> std::optional<std::string> {
      trashed.push_back(folder);
      if (realTrash) return moveFolderToTrash(folder);
      if (trashFails) return std::string("Permission denied");
      QDir(folder).removeRecursively();
      return std::nullopt;
    };
    services.quit = [this] { ++quits; };
    services.pollMilliseconds = 1;
    flow = std::make_unique<QuitFlow>(studio.get(), std::move(services));
  }

  // A recorded project whose edit.json lies in `folder`.
  QString openRecording(const QString& folder) {
    QDir().mkpath(folder);
    studio->demo();
    studio->setPlaying(false);
    Clip clip = studio->clip();
    clip.isDemo = false;
    studio->setClip(clip);
    const QString file = QDir(folder).filePath("edit.json");
    studio->setProjectURL(file.toStdString());
    return file;
  }

  // Sends the termination and returns what the flow wrote to standard error until it quit.
  std::string terminateAndListen() {
    std::ostringstream said;
    std::streambuf* before = std::cerr.rdbuf(said.rdbuf());
    flow->terminate();
    EXPECT_TRUE(QTest::qWaitFor([this] { return quits > 0; }, 20000)) << "the flow never quit";
    std::cerr.rdbuf(before);
    return said.str();
  }

  void waitUntilSettled() {
    for (int i = 0; i < 200 && flow->pending(); ++i) {
      QTest::qWait(2);
    }
  }

  QTemporaryDir root;
  QString recordings;
  std::shared_ptr<ScriptedPrompts> prompts = std::make_shared<ScriptedPrompts>();
  std::unique_ptr<Studio> studio;
  std::unique_ptr<QuitFlow> flow;
  std::vector<QString> trashed;
  bool trashFails = false;
  bool realTrash = false;
  int quits = 0;
};

TEST_F(Quitting, DemoQuitsAtOnceWithoutAsking) {
  studio->demo();
  flow->request();
  EXPECT_EQ(quits, 1);
  EXPECT_EQ(prompts->asked, 0);
}

TEST_F(Quitting, RefusedWhileExportingOrBusy) {
  studio->demo();
  studio->setExporting(true);
  flow->request();
  EXPECT_EQ(quits, 0);
  ASSERT_TRUE(studio->error().has_value());
  EXPECT_EQ(QLM(*studio->error()),
            "Video processing is in progress. Wait for it to finish before quitting.");
  EXPECT_FALSE(flow->pending());
  studio->setExporting(false);
  studio->setError(std::nullopt);
  studio->setBusy(true);
  flow->request();
  EXPECT_EQ(quits, 0);
  EXPECT_TRUE(studio->error().has_value());
}

// Quitting used to be refused while a chosen project was still opening.
TEST_F(Quitting, AProjectStillOpeningIsDroppedNotWaitedFor) {
  const QString file = openRecording(recordings + "/r0");
  Clip other = makeDemoClip();
  other.isDemo = false;
  const QString document = root.filePath("other.json");
  {
    QFile out(document);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(QByteArray::fromStdString(encodeClip(other)));
  }
  ASSERT_TRUE(studio->openProjectFile(document.toStdString()));
  ASSERT_TRUE(studio->busy());
  prompts->keeps = {QuitPrompts::Keep::save};
  flow->request();
  EXPECT_EQ(quits, 1);
  EXPECT_FALSE(studio->error());
  EXPECT_TRUE(prompts->folder.endsWith("/r0")) << prompts->folder.toStdString();
  EXPECT_TRUE(QFile::exists(file));
  QTest::qWait(300);  // the dropped open never lands
  EXPECT_EQ(studio->projectURL(), file.toStdString());
}

TEST_F(Quitting, RecordingInTheRecordingsFolderIsKeptOrTrashed) {
  const QString file = openRecording(recordings + "/2026-12-08 at 10.00.00");
  prompts->keeps = {QuitPrompts::Keep::save};
  flow->request();
  EXPECT_EQ(quits, 1);
  EXPECT_TRUE(prompts->deletable);
  EXPECT_TRUE(QFile::exists(file));  // saved before quitting

  quits = 0;
  prompts->keeps = {QuitPrompts::Keep::remove};
  prompts->deleteAnswer = true;
  flow->request();
  EXPECT_EQ(quits, 1);
  ASSERT_EQ(trashed.size(), 1u);
  EXPECT_EQ(trashed[0], QDir::cleanPath(recordings + "/2026-12-08 at 10.00.00"));
  EXPECT_FALSE(studio->projectURL().has_value());  // nothing writes into the trashed folder
}

TEST_F(Quitting, ProjectOutsideTheRecordingsFolderCanOnlyBeKept) {
  openRecording(root.filePath("Elsewhere/Lesson"));
  prompts->keeps = {QuitPrompts::Keep::remove};  // not offered: treated as nothing chosen
  prompts->deleteAnswer = true;
  flow->request();
  EXPECT_FALSE(prompts->deletable);
  EXPECT_TRUE(trashed.empty());
  EXPECT_EQ(quits, 0);
  // Nor one nested deeper inside the recordings folder.
  EXPECT_FALSE(QuitFlow::deletableFolder(recordings + "/a/b/edit.json", recordings));
  EXPECT_TRUE(QuitFlow::deletableFolder(recordings + "/a/../b/edit.json", recordings + "/"));
  EXPECT_FALSE(QuitFlow::deletableFolder(recordings + "/edit.json", recordings));
}

TEST_F(Quitting, CancelInEitherQuestionStays) {
  openRecording(recordings + "/r1");
  prompts->keeps = {QuitPrompts::Keep::cancel};
  flow->request();
  EXPECT_EQ(quits, 0);
  prompts->keeps = {QuitPrompts::Keep::remove};
  prompts->deleteAnswer = false;
  flow->request();
  EXPECT_EQ(quits, 0);
  EXPECT_TRUE(trashed.empty());
  EXPECT_TRUE(studio->projectURL().has_value());
  EXPECT_FALSE(flow->pending());
}

TEST_F(Quitting, FailedTrashRestoresTheProjectAndSaysWhy) {
  const QString file = openRecording(recordings + "/r2");
  trashFails = true;
  prompts->keeps = {QuitPrompts::Keep::remove};
  prompts->deleteAnswer = true;
  flow->request();
  EXPECT_EQ(quits, 0);
  ASSERT_TRUE(studio->projectURL().has_value());
  EXPECT_EQ(QString::fromStdString(*studio->projectURL()), file);  // autosave still attached
  ASSERT_TRUE(studio->error().has_value());
  EXPECT_EQ(QLM(*studio->error()), "Couldn't delete the recording: Permission denied");
}

TEST_F(Quitting, AnUnusableTrashKeepsTheRecordingInPlaceAndLaterSavesWork) {
  // A file where the home Trash should be (the data home is private to these tests).
  const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  ASSERT_TRUE(QDir().mkpath(data));
  QFile blocker(data + "/Trash");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  struct Unblock {
    QString path;
    ~Unblock() { QFile::remove(path); }
  } unblock{data + "/Trash"};
  const QString folder = recordings + "/r4";
  const QString file = openRecording(folder);
  ASSERT_TRUE(studio->saveNow());
  realTrash = true;
  prompts->keeps = {QuitPrompts::Keep::remove};
  prompts->deleteAnswer = true;
  flow->request();
  EXPECT_EQ(quits, 0);
  ASSERT_TRUE(studio->error().has_value());
  EXPECT_EQ(QLM(*studio->error()).left(31), "Couldn't delete the recording: ");
  EXPECT_TRUE(QFileInfo(file).isFile()) << "the recording left its folder";
  ASSERT_EQ(studio->projectURL(), std::optional(file.toStdString()));
  studio->setError(std::nullopt);
  Clip clip = studio->clip();
  clip.cameraSyncAdjustment = 0.25;
  studio->setClip(clip);
  EXPECT_TRUE(studio->saveNow()) << studio->error().value_or("");
}

TEST_F(Quitting, FailedSaveOffersQuitAnyway) {
  openRecording(recordings + "/r3");
  // A project file inside a folder that cannot exist: the save fails.
  QFile blocker(root.filePath("blocker"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  studio->setProjectURL(root.filePath("blocker/edit.json").toStdString());
  prompts->quitAnywayAnswer = false;
  flow->request();
  EXPECT_EQ(prompts->quitAnywayAsked, 1);
  EXPECT_TRUE(prompts->failure.startsWith("Could not save edits: "))
      << prompts->failure.toStdString();
  EXPECT_EQ(prompts->asked, 0);
  EXPECT_EQ(quits, 0);
  EXPECT_FALSE(flow->pending());
  prompts->quitAnywayAnswer = true;
  flow->request();
  EXPECT_EQ(quits, 1);
}

TEST_F(Quitting, RecordingIsStoppedAndWaitedFor) {
  // The controller's stop is played by hand: busy while it finishes, then the new project.
  openRecording(recordings + "/fresh");
  studio->setRecording(true);
  studio->setError(std::string("an old message the user has not closed"));
  flow->request();
  ASSERT_TRUE(flow->pending());
  studio->setBusy(true);
  QTest::qWait(10);
  EXPECT_TRUE(flow->pending());
  flow->request();  // a second request while one is pending is ignored
  EXPECT_EQ(prompts->asked, 0);
  studio->setRecording(false);
  prompts->keeps = {QuitPrompts::Keep::save};
  studio->setBusy(false);
  waitUntilSettled();
  // The stale error did not block the quit; the fresh recording is offered for deletion.
  EXPECT_EQ(prompts->asked, 1);
  EXPECT_TRUE(prompts->deletable);
  EXPECT_EQ(quits, 1);
}

TEST_F(Quitting, AFailedStopKeepsTheApplicationRunning) {
  studio->setStandby(false);
  studio->setRecording(true);
  flow->request();
  studio->setBusy(true);
  QTest::qWait(5);
  studio->setError(std::string("录屏文件无法写入。"));
  studio->setBusy(false);
  waitUntilSettled();
  EXPECT_EQ(quits, 0);
  EXPECT_EQ(prompts->asked, 0);
  EXPECT_TRUE(studio->error().has_value());
}

TEST_F(Quitting, TerminationSavesWithoutAnyQuestion) {
  const QString file = openRecording(recordings + "/r4");
  flow->terminate();
  QTest::qWait(20);
  EXPECT_EQ(quits, 1);
  EXPECT_EQ(prompts->asked, 0);
  EXPECT_TRUE(QFile::exists(file));
}

// A termination signal with the disk full and an edit not yet saved: no one is there to ask,
// so standard error says which project could not be saved and that its edits are lost.
TEST_F(Quitting, TerminationOnAFullDiskSaysWhatIsLost) {
  const QString folder = root.filePath("full");
  test::SmallDisk disk(folder.toStdString(), 64 * 1024);
  const QString file = openRecording(folder);
  disk.fill();
  disk.limitHere();
  const std::string said = terminateAndListen();
  EXPECT_EQ(quits, 1);
  EXPECT_EQ(prompts->asked + prompts->quitAnywayAsked, 0);
  EXPECT_FALSE(QFile::exists(file));
  EXPECT_EQ(said, "Could not save the project " + file.toStdString() +
                      " on quitting; its latest edits are lost. " + disk.reason() + "\n");
}

// The same signal when the file already holds every edit: it used to be written again, fail,
// and say that edits were lost.
TEST_F(Quitting, TerminationOnAFullDiskLosesNothingWhenEverythingIsSaved) {
  const QString folder = root.filePath("saved");
  test::SmallDisk disk(folder.toStdString(), 512 * 1024);
  const QString file = openRecording(folder);
  ASSERT_TRUE(studio->saveNow());
  QFile saved(file);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const QByteArray before = saved.readAll();
  saved.close();
  disk.fill();
  disk.limitHere();
  EXPECT_EQ(terminateAndListen(), "");
  EXPECT_EQ(quits, 1);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  EXPECT_EQ(saved.readAll(), before);
}

TEST(QuitPaths, HomeShowsAsTilde) {
  const QString home = QDir::cleanPath(QDir::homePath());
  EXPECT_EQ(QuitFlow::abbreviatedPath(home + "/Videos/a"), "~/Videos/a");
  EXPECT_EQ(QuitFlow::abbreviatedPath(home), "~");
  EXPECT_EQ(QuitFlow::abbreviatedPath(home + "ish/a"), home + "ish/a");
  EXPECT_EQ(QuitFlow::abbreviatedPath("/opt/x"), "/opt/x");
}

TEST(QuitDialogs, DeleteConfirmationDefaultsToCancel) {
  LanguageSettings::shared().setSelected(AppLanguage::english);
  auto prompts = messageBoxPrompts({});
  QString shownText;
  QTimer::singleShot(0, [&shownText] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    shownText = box->text();
    EXPECT_EQ(box->defaultButton()->text(), "Cancel");
    QTest::keyClick(box, Qt::Key_Return);
  });
  EXPECT_FALSE(prompts->confirmDelete());
  EXPECT_EQ(shownText, "Delete this recording?");

  QTimer::singleShot(0, [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->buttons().size(), 2);  // no delete button outside the recordings folder
    QTest::keyClick(box, Qt::Key_Escape);
  });
  EXPECT_EQ(prompts->askKeep("~/Lesson", false), QuitPrompts::Keep::cancel);
}

TEST(Trash, MovesAFolderIntoTheTrashFilesFolder) {
  // A data home of its own: the Trash made there must not be found by later tests.
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  const test::ScopedEnv dataHome("XDG_DATA_HOME", home.path().toLocal8Bit().constData());
  QTemporaryDir place;
  const QString folder = place.filePath("take one");
  ASSERT_TRUE(QDir().mkpath(folder));
  QFile f(folder + "/edit.json");
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  const auto failure = moveFolderToTrash(folder);
  if (failure) GTEST_SKIP() << "no Trash on this file system: " << *failure;
  EXPECT_FALSE(QFileInfo::exists(folder));
  const QString trash = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                        "/Trash/files/take one";
  EXPECT_TRUE(QFileInfo(trash).isDir());
  EXPECT_TRUE(moveFolderToTrash(place.filePath("missing")).has_value());
}

TEST(Signals, TerminationArrivesOnTheMainThread) {
  SignalWatcher watcher;
  int asked = 0;
  QObject::connect(&watcher, &SignalWatcher::terminateRequested, [&asked] { ++asked; });
  ::raise(SIGTERM);
  ::raise(SIGINT);
  for (int i = 0; i < 50 && asked == 0; ++i)
    QTest::qWait(2);
  EXPECT_GE(asked, 1);
}

}  // namespace
}  // namespace vantry
