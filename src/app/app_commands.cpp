#include "app/app_commands.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include <algorithm>

#include "design/coalesced_refresh.h"
#include "localization/qt/language_settings.h"
#include "localization/qt/qt_text.h"
#include "studio/studio.h"

namespace vantry {

namespace {

QList<QKeySequence> keys(std::initializer_list<QKeyCombination> combos) {
  QList<QKeySequence> list;
  for (QKeyCombination c : combos)
    list.append(QKeySequence(c));
  return list;
}

constexpr Qt::KeyboardModifiers kCtrl = Qt::ControlModifier;
constexpr Qt::KeyboardModifiers kCtrlShift = Qt::ControlModifier | Qt::ShiftModifier;

}  // namespace

double AppCommands::zoomedIn(double zoom) {
  return std::min(zoom * 1.5, 32.0);
}

double AppCommands::zoomedOut(double zoom) {
  return std::max(zoom / 1.5, 1.0);
}

AppCommands::AppCommands(QMainWindow* window, Studio& studio, Actions actions)
    : QObject(window), studio_(studio), callbacks_(std::move(actions)) {
  QMenuBar* bar = window->menuBar();
  file_ = bar->addMenu(QString());
  edit_ = bar->addMenu(QString());
  recording_ = bar->addMenu(QString());
  editing_ = bar->addMenu(QString());

  Studio& s = studio_;
  add(file_, settings, [this] {
    if (callbacks_.openSettings) callbacks_.openSettings();
  })->setShortcut(QKeySequence(kCtrl | Qt::Key_Comma));
  file_->addSeparator();
  add(file_, newRecording, [&s] { s.record(); })->setShortcut(QKeySequence(kCtrl | Qt::Key_N));
  add(file_, openProject, [&s] { s.openProject(); })->setShortcut(QKeySequence(kCtrl | Qt::Key_O));
  file_->addSeparator();
  auto quitNow = [this] {
    if (callbacks_.requestQuit) callbacks_.requestQuit();
  };
  add(file_, closeWindow, quitNow)->setShortcut(QKeySequence(kCtrl | Qt::Key_W));
  add(file_, quit, quitNow)->setShortcut(QKeySequence(kCtrl | Qt::Key_Q));

  add(edit_, undo, [&s] { s.undoEdit(); })->setShortcut(QKeySequence(kCtrl | Qt::Key_Z));
  add(edit_, redo, [&s] { s.redoEdit(); })->setShortcut(QKeySequence(kCtrlShift | Qt::Key_Z));

  // On a US layout Shift turns 2 into @ and 3 into #; both spellings reach the item.
  add(recording_, record, [&s] {
    s.record();
  })->setShortcuts(keys({kCtrlShift | Qt::Key_2, kCtrlShift | Qt::Key_At}));
  add(recording_, presenter, [&s] {
    s.setPresenter(!s.presenterFull());
  })->setShortcuts(keys({kCtrlShift | Qt::Key_3, kCtrlShift | Qt::Key_NumberSign}));
  QAction* playPauseAction = add(recording_, playPause, [&s] { s.togglePlayback(); });
  playPauseAction->setShortcut(QKeySequence(Qt::Key_Space));
  // A held space bar plays or pauses once.
  playPauseAction->setAutoRepeat(false);
  add(recording_, fullScreenPreview, [&s] {
    s.showFullscreenPreview();
  })->setShortcut(QKeySequence(kCtrlShift | Qt::Key_F));
  add(recording_, exportVideo, [&s] {
    s.exportMovie();
  })->setShortcut(QKeySequence(kCtrl | Qt::Key_E));

  add(editing_, split, [&s] { s.split(); })->setShortcut(QKeySequence(kCtrl | Qt::Key_B));
  add(editing_, deleteSelection, [&s] {
    s.deleteSelection();
  })->setShortcuts(keys({QKeyCombination(Qt::Key_Delete), QKeyCombination(Qt::Key_Backspace)}));
  editing_->addSeparator();
  add(editing_, zoomIn, [&s] { s.setTimelineZoom(zoomedIn(s.timelineZoom())); })
      ->setShortcuts(keys({kCtrl | Qt::Key_Equal, kCtrl | Qt::Key_Plus, kCtrlShift | Qt::Key_Plus,
                           kCtrlShift | Qt::Key_Equal}));
  add(editing_, zoomOut, [&s] {
    s.setTimelineZoom(zoomedOut(s.timelineZoom()));
  })->setShortcuts(keys({kCtrl | Qt::Key_Minus, kCtrlShift | Qt::Key_Underscore}));

  refresh_ = new CoalescedRefresh(this, [this] { refresh(); });
  connect(&studio_, &Studio::changed, refresh_, &CoalescedRefresh::request);
  // A new language re-titles the menus at once.
  connect(&LanguageSettings::shared(), &LanguageSettings::changed, this, &AppCommands::refresh);
  refresh();
}

QAction* AppCommands::add(QMenu* menu, Command command, std::function<void()> run) {
  auto* action = new QAction(menu);
  action->setShortcutContext(Qt::WindowShortcut);
  connect(action, &QAction::triggered, this, [run = std::move(run)] { run(); });
  menu->addAction(action);
  // Shortcuts live on the window so that they work while the menu bar is closed.
  menu->parentWidget()->window()->addAction(action);
  actions_[command] = action;
  return action;
}

void AppCommands::refreshNow() {
  refresh_->flush();
}

void AppCommands::refresh() {
  const Studio& s = studio_;
  const bool rec = s.recording(), busy = s.busy(), exp = s.exporting(), live = s.live();

  // "&" would mark a mnemonic ("Recording & Export").
  auto literal = [](QString text) { return text.replace(QLatin1Char('&'), QStringLiteral("&&")); };
  file_->setTitle(literal(QL("文件")));
  edit_->setTitle(literal(QL("编辑")));
  recording_->setTitle(literal(QL("录制与导出")));
  editing_->setTitle(literal(QL("剪辑")));

  struct Row {
    Command command;
    QString title;
    bool enabled;
  };
  // Every refused action is a disabled item: the controller's own guards, item by item.
  const Row rows[] = {
      {settings, QL("设置") + QStringLiteral("…"), true},
      {newRecording, QL("新建录屏"), !rec && !busy && !exp},
      {openProject, QL("打开项目…"), !rec && (!busy || s.opening()) && !exp},
      {closeWindow, QL("关闭窗口"), true},
      {quit, QL("退出"), true},
      {undo, QL("撤销剪辑"), s.canUndo() && s.canEdit()},
      {redo, QL("重做剪辑"), s.canRedo() && s.canEdit()},
      {record, rec ? QL("停止录制") : QL("开始录制"), !busy && !exp},
      {presenter, QL("人物全屏 / 画中画"), s.hasCamera() && !busy && !exp},
      {playPause, QL("播放 / 暂停"), !live && !exp},
      {fullScreenPreview, QL("全屏试看"), !live && !exp},
      {exportVideo, QL("导出视频…"), !live && !busy && !exp},
      {split, QL("分割片段"), s.canEdit()},
      {deleteSelection, QL("删除选中片段"), s.canEdit() && s.selectedSegment().has_value()},
      {zoomIn, QL("放大时间线"), true},
      {zoomOut, QL("缩小时间线"), true},
  };
  for (const Row& row : rows) {
    QAction* action = actions_[row.command];
    action->setText(literal(row.title));
    action->setEnabled(row.enabled);
  }
}

}  // namespace vantry
