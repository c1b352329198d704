// The menu bar: every item's enablement in each state (a refused action is a disabled
// item), record title, live re-titling, and the shortcuts as a person types them.
#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QWindow>

#include <map>

#include "app/app_commands.h"
#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"
#include "window_fixture.h"

namespace vantry {
namespace {

using testing::WindowFixture;
using C = AppCommands::Command;

std::map<C, bool> enablement(WindowFixture& f) {
  f.settle();
  std::map<C, bool> on;
  for (int c = 0; c < AppCommands::commandCount; ++c) {
    on[C(c)] = f.window->commands()->action(C(c))->isEnabled();
  }
  return on;
}

std::map<C, bool> all(bool value) {
  std::map<C, bool> on;
  for (int c = 0; c < AppCommands::commandCount; ++c)
    on[C(c)] = value;
  return on;
}

TEST(MenuCommands, EnablementFollowsWhatTheControllerWouldAccept) {
  LanguageSettings::shared().setSelected(AppLanguage::english);
  {
    WindowFixture f;  // standby: live preview, no project
    auto want = all(true);
    for (C c : {C::undo, C::redo, C::playPause, C::fullScreenPreview, C::exportVideo, C::split,
                C::deleteSelection})
      want[c] = false;
    // Live with the camera on, so the presenter layout may change.
    EXPECT_EQ(enablement(f), want);
    EXPECT_EQ(f.window->commands()->action(C::record)->text(), "Start Recording");
  }
  {
    WindowFixture f;
    f.recording();
    auto want = all(false);
    for (C c :
         {C::settings, C::closeWindow, C::quit, C::record, C::presenter, C::zoomIn, C::zoomOut})
      want[c] = true;
    EXPECT_EQ(enablement(f), want);
    EXPECT_EQ(f.window->commands()->action(C::record)->text(), "Stop Recording");
  }
  {
    WindowFixture f;
    f.recording(/*busy=*/true);
    auto want = all(false);
    for (C c : {C::settings, C::closeWindow, C::quit, C::zoomIn, C::zoomOut})
      want[c] = true;
    EXPECT_EQ(enablement(f), want);
  }
  {
    // Exporting: everything the controller refuses is off, "Open Project…" and the edits too.
    WindowFixture f;
    f.exporting();
    f.s().checkpoint();
    auto want = all(false);
    for (C c : {C::settings, C::closeWindow, C::quit, C::zoomIn, C::zoomOut})
      want[c] = true;
    EXPECT_EQ(enablement(f), want);
  }
  {
    // A project: no undo history yet, no selected segment, no camera in the demo? The
    // presenter item follows hasCamera.
    WindowFixture f;
    f.project();
    auto want = all(true);
    want[C::undo] = false;
    want[C::redo] = false;
    want[C::deleteSelection] = false;
    want[C::presenter] = f.s().hasCamera();
    EXPECT_EQ(enablement(f), want);
    f.s().checkpoint();
    f.s().setSelectedSegment(f.s().clip().ranges().front().id);
    f.settle();
    EXPECT_TRUE(f.window->commands()->action(C::undo)->isEnabled());
    EXPECT_TRUE(f.window->commands()->action(C::deleteSelection)->isEnabled());
    EXPECT_FALSE(f.window->commands()->action(C::redo)->isEnabled());
    // The project is being left (a recording starts, another project opens): no edits.
    f.s().setBusy(true);
    f.settle();
    for (C c : {C::undo, C::split, C::deleteSelection})
      EXPECT_FALSE(f.window->commands()->action(c)->isEnabled());
    EXPECT_TRUE(f.window->commands()->action(C::playPause)->isEnabled());
  }
}

TEST(MenuCommands, PresenterItemNeedsACamera) {
  WindowFixture f;
  f.project();
  Clip clip = f.s().clip();
  clip.cameraPath.reset();
  f.s().setClip(clip);
  f.settle();
  EXPECT_FALSE(f.s().hasCamera());
  EXPECT_FALSE(f.window->commands()->action(C::presenter)->isEnabled());
}

TEST(MenuCommands, TitlesFollowTheLanguageAtOnce) {
  LanguageSettings::shared().setSelected(AppLanguage::english);
  WindowFixture f;
  AppCommands* c = f.window->commands();
  EXPECT_EQ(c->fileMenu()->title(), "File");
  EXPECT_EQ(c->recordingMenu()->title(), "Recording && Export");  // "&" is not a mnemonic
  EXPECT_EQ(c->action(C::settings)->text(), QString("Settings…"));
  LanguageSettings::shared().setSelected(AppLanguage::chinese);
  // No turn of the event loop: the menus are re-titled by the change itself.
  EXPECT_EQ(c->fileMenu()->title(), QString("文件"));
  EXPECT_EQ(c->editMenu()->title(), QString("编辑"));
  EXPECT_EQ(c->editingMenu()->title(), QString("剪辑"));
  EXPECT_EQ(c->action(C::quit)->text(), QString("退出"));
  EXPECT_EQ(c->action(C::presenter)->text(), QString("人物全屏 / 画中画"));
  LanguageSettings::shared().setSelected(AppLanguage::english);
  EXPECT_EQ(c->action(C::undo)->text(), "Undo Edit");
}

TEST(MenuCommands, TimelineZoomStepsStayWithinOneToThirtyTwo) {
  EXPECT_DOUBLE_EQ(AppCommands::zoomedIn(30), 32);
  EXPECT_DOUBLE_EQ(AppCommands::zoomedIn(4), 6);
  EXPECT_DOUBLE_EQ(AppCommands::zoomedOut(1.2), 1);
  EXPECT_DOUBLE_EQ(AppCommands::zoomedOut(6), 4);
}

class Typed : public ::testing::Test {
 protected:
  void SetUp() override {
    f.project();
    QApplication::setActiveWindow(f.window.get());
    f.window->activateWindow();
    QApplication::processEvents();
  }
  void type(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(f.window.get(), Qt::Key(key), modifiers);
    f.settle();
  }
  WindowFixture f;
};

TEST_F(Typed, ZoomShortcutsIncludingShiftedSpellings) {
  const double start = f.s().timelineZoom();
  type(Qt::Key_Equal, Qt::ControlModifier);
  EXPECT_DOUBLE_EQ(f.s().timelineZoom(), std::min(start * 1.5, 32.0));
  // Ctrl++ on a US layout arrives as Shift with "+".
  type(Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_DOUBLE_EQ(f.s().timelineZoom(), std::min(start * 2.25, 32.0));
  type(Qt::Key_Minus, Qt::ControlModifier);
  type(Qt::Key_Minus, Qt::ControlModifier);
  EXPECT_NEAR(f.s().timelineZoom(), start, 1e-9);
}

TEST_F(Typed, ShiftedDigitShortcutsOnAUsLayout) {
  int records = 0;
  QObject::connect(f.window->commands()->action(C::record), &QAction::triggered,
                   [&records] { ++records; });
  int presenters = 0;
  QObject::connect(f.window->commands()->action(C::presenter), &QAction::triggered,
                   [&presenters] { ++presenters; });
  // Shift+2 is "@" and Shift+3 is "#" on a US keyboard.
  type(Qt::Key_At, Qt::ControlModifier | Qt::ShiftModifier);
  type(Qt::Key_2, Qt::ControlModifier | Qt::ShiftModifier);
  type(Qt::Key_NumberSign, Qt::ControlModifier | Qt::ShiftModifier);
  type(Qt::Key_3, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(records, 2);
  EXPECT_EQ(presenters, f.s().hasCamera() ? 2 : 0);
}

TEST_F(Typed, DeleteAndBackspaceBothDeleteTheSelectedClip) {
  f.s().seek(f.s().duration() / 3);
  f.s().split();
  f.s().seek(2 * f.s().duration() / 3);
  f.s().split();
  ASSERT_EQ(f.s().clip().ranges().size(), 3u);
  f.s().setSelectedSegment(f.s().clip().ranges()[1].id);
  f.settle();
  type(Qt::Key_Delete);
  EXPECT_EQ(f.s().clip().ranges().size(), 2u);
  f.s().setSelectedSegment(f.s().clip().ranges()[0].id);
  f.settle();
  type(Qt::Key_Backspace);
  EXPECT_EQ(f.s().clip().ranges().size(), 1u);
}

// Ctrl+, opens Settings over the window it was typed in (which keeps it above), and no
// language holds the keyboard before Tab: a Space switches nothing, and Tab lights the
// chosen language, where Space changes nothing either.
TEST_F(Typed, SettingsOpenOverTheWindowWithNoLanguageLit) {
  LanguageSettings::shared().setSelected(AppLanguage::chinese);
  type(Qt::Key_Comma, Qt::ControlModifier);
  QWidget* settings = f.window->settingsWindow().window();
  ASSERT_TRUE(settings && settings->isVisible() && settings->windowHandle());
  EXPECT_EQ(settings->windowHandle()->transientParent(), f.window->windowHandle());
  QApplication::setActiveWindow(settings);
  QApplication::processEvents();
  EXPECT_EQ(QApplication::focusWidget(), settings);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  EXPECT_EQ(LanguageSettings::shared().selected(), AppLanguage::chinese);
  EXPECT_EQ(testing::pressTab(), "chinese");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  EXPECT_EQ(LanguageSettings::shared().selected(), AppLanguage::chinese);
  // The arrows choose the other, as radio buttons do.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
  EXPECT_EQ(LanguageSettings::shared().selected(), AppLanguage::english);
  EXPECT_EQ(QApplication::focusWidget()->objectName(), "english");
  settings->close();
  LanguageSettings::shared().setSelected(AppLanguage::english);
}

TEST_F(Typed, SpaceNeverEatsATypedSpace) {
  type(Qt::Key_Space);
  EXPECT_TRUE(f.s().playing());
  type(Qt::Key_Space);
  EXPECT_FALSE(f.s().playing());

  auto* field = new QLineEdit(f.window->centralWidget());
  field->show();
  field->setFocus();
  QApplication::processEvents();
  QTest::keyClicks(field, "a b");
  f.settle();
  EXPECT_EQ(field->text(), "a b");
  EXPECT_FALSE(f.s().playing());
  // Backspace in the field edits the text, not the project.
  f.s().setSelectedSegment(f.s().clip().ranges()[0].id);
  QTest::keyClick(field, Qt::Key_Backspace);
  EXPECT_EQ(field->text(), "a ");
}

}  // namespace
}  // namespace vantry
