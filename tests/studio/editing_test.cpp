#include <gtest/gtest.h>

#include "fakes.h"
#include "localization/localization.h"

namespace vantry {
namespace {

using namespace vantry::testing;

struct StudioEditing : ProjectFixture {
  std::vector<ZoomEvent> zooms() const { return studio->clip().zoomEvents(); }
};

TEST_F(StudioEditing, SplitAndDeleteWithTheirNotices) {
  studio->split();  // at 0: refused
  EXPECT_EQ(studio->notice(), L("请将播放头放在片段内部再分割。"));
  EXPECT_FALSE(studio->canUndo());

  studio->seek(12);
  studio->togglePlayback();
  studio->split();
  EXPECT_EQ(studio->notice(), L("已分割 · 选中不需要的片段，点击删除"));
  EXPECT_FALSE(studio->playing());
  EXPECT_EQ(studio->clip().ranges().size(), 2u);
  ASSERT_TRUE(studio->selectedSegment());
  EXPECT_EQ(*studio->selectedSegment(), studio->clip().ranges()[1].id);

  studio->split();  // on the boundary
  EXPECT_EQ(studio->notice(), L("请将播放头放在片段内部再分割。"));
  EXPECT_EQ(studio->undoStack().size(), 1u);

  // Deleting the last segment puts the playhead at the new end.
  studio->seek(15);
  studio->setSelectedSegment(studio->clip().ranges()[1].id);
  studio->deleteSelection();
  EXPECT_EQ(studio->notice(), L("已删除选中片段 · 原始素材保留，可撤销"));
  EXPECT_DOUBLE_EQ(studio->duration(), 12);
  EXPECT_DOUBLE_EQ(studio->time(), 12);
  EXPECT_FALSE(studio->selectedSegment());

  studio->setSelectedSegment(studio->clip().ranges()[0].id);
  studio->deleteSelection();
  EXPECT_EQ(studio->notice(), L("至少保留一个片段；先分割，再删除不需要的部分。"));
  EXPECT_EQ(studio->undoStack().size(), 2u);
}

TEST_F(StudioEditing, ZoomEditsWithTheirNoticesAndSelections) {
  const std::size_t automatic = zooms().size();
  ASSERT_GE(automatic, 1u);  // clicks at 2 s and 10 s
  studio->addZoom(2.5);      // inside the automatic zoom: selects it
  EXPECT_EQ(studio->selectedZoomID(), zooms().front().id);
  EXPECT_EQ(studio->notice(), L("已选中缩放片段 · 可拖动位置、删除或调整时长"));
  EXPECT_FALSE(studio->canUndo());

  studio->addZoom(16);
  ASSERT_EQ(zooms().size(), automatic + 1);
  ZoomEvent added = *studio->selectedZoom();
  EXPECT_DOUBLE_EQ(added.start, 16);
  EXPECT_DOUBLE_EQ(added.duration(), Studio::newZoomLength);
  // Centred where the baked pointer was then.
  EXPECT_NEAR(added.center.x, studio->motion().state(16).pointer.x, 1e-9);
  EXPECT_EQ(studio->notice(), L("已添加缩放片段 · 可拖动位置或删除"));

  // Too little room just before the second automatic zoom.
  ASSERT_GE(automatic, 2u);
  studio->addZoom(zooms()[1].start - 0.1);
  EXPECT_EQ(studio->notice(), L("这里空间不足，无法添加缩放"));
  EXPECT_EQ(zooms().size(), automatic + 1);
  studio->moveZoom(added.id, 15);
  EXPECT_EQ(studio->notice(), L("已移动缩放片段 · 可撤销"));
  EXPECT_DOUBLE_EQ(studio->selectedZoom()->start, 15);

  studio->resizeZoom(added.id, false, 19);
  EXPECT_EQ(studio->notice(), L("已调整缩放时长 · 可撤销"));
  EXPECT_DOUBLE_EQ(studio->selectedZoom()->end, 19);

  std::size_t steps = studio->undoStack().size();
  studio->setZoomAmount(added.id, std::nullopt);  // the amount it has: nothing
  EXPECT_EQ(studio->undoStack().size(), steps);
  studio->setZoomAmount(added.id, 3.0);
  EXPECT_EQ(studio->undoStack().size(), steps + 1);
  EXPECT_EQ(studio->selectedZoom()->amount, 3.0);

  studio->removeSelectedZoom();
  EXPECT_EQ(studio->notice(), L("已移除缩放片段 · 原始录屏不受影响，可撤销"));
  EXPECT_EQ(zooms().size(), automatic);
  EXPECT_FALSE(studio->selectedZoomID());
  studio->undoEdit();  // the preview's motion has the zoom back at once
  EXPECT_GT(studio->motion().state(17).zoom, 1.5);
}

TEST_F(StudioEditing, TheHistoryKeepsAHundredSnapshots) {
  Clip first;
  for (int i = 0; i < 101; ++i) {
    studio->setPresenter(i % 2 == 0);
    if (i == 0) first = studio->clip();
  }
  EXPECT_EQ(studio->undoStack().size(), 100u);
  for (int i = 0; i < 100; ++i)
    studio->undoEdit();
  EXPECT_EQ(studio->clip().presenterEvents, first.presenterEvents);
  studio->undoEdit();
  EXPECT_EQ(studio->clip().presenterEvents, first.presenterEvents);
  EXPECT_EQ(studio->redoStack().size(), 100u);

  // Undo then redo gives the same document; a new edit empties the redo stack.
  studio->redoEdit();
  auto after = studio->clip().presenterEvents;
  studio->undoEdit();
  studio->redoEdit();
  EXPECT_EQ(studio->clip().presenterEvents, after);
  EXPECT_EQ(studio->redoStack().size(), 99u);
  studio->seek(5);
  studio->split();
  EXPECT_TRUE(studio->redoStack().empty());
}

TEST_F(StudioEditing, NothingEditsInLivePreviewWhileRecordingOrExporting) {
  for (int mode = 0; mode < 3; ++mode) {
    if (mode == 0) studio->setStandby(true);
    if (mode == 1) studio->setRecording(true);
    if (mode == 2) studio->setExporting(true);
    studio->setTime(5);
    std::string notice = studio->notice();
    studio->split();
    studio->addZoom(15);
    studio->checkpoint();
    studio->beginEditGesture();
    studio->setCameraSync(0.3);
    EXPECT_EQ(studio->notice(), notice);
    EXPECT_FALSE(studio->canUndo()) << mode;
    EXPECT_EQ(studio->clip().ranges().size(), 1u);
    studio->setStandby(false);
    studio->setRecording(false);
    studio->setExporting(false);
  }
}

TEST_F(StudioEditing, AGestureIsOneUndoStepTakenAtItsFirstAcceptedChange) {
  studio->beginEditGesture();
  EXPECT_FALSE(studio->canUndo());  // nothing changed yet
  studio->setCameraSync(0.1);
  studio->setCameraSync(0.2);
  studio->setCameraSync(0.3);
  studio->endEditGesture();
  EXPECT_EQ(studio->undoStack().size(), 1u);
  EXPECT_EQ(studio->clip().cameraSyncAdjustment, 0.3);
  // Outside a gesture each change is its own step; an equal value is none.
  studio->setCameraSync(0.3);
  studio->setCameraSync(0.4);
  EXPECT_EQ(studio->undoStack().size(), 2u);
  studio->undoEdit();
  studio->undoEdit();
  EXPECT_FALSE(studio->clip().cameraSyncAdjustment);

  // A slider on a zoom's amount without steps of its own: the gesture owns the step.
  studio->addZoom(16);
  Uuid id = *studio->selectedZoomID();
  std::size_t steps = studio->undoStack().size();
  studio->beginEditGesture();
  for (double a : {2.2, 2.4, 2.6})
    studio->setZoomAmount(id, a, false);
  studio->endEditGesture();
  EXPECT_EQ(studio->undoStack().size(), steps + 1);
}

TEST_F(StudioEditing, PresenterLayoutLiveOrInTheDocument) {
  studio->setPresenter(true);
  EXPECT_EQ(studio->undoStack().size(), 1u);
  studio->setPresenter(true);  // the same layout at the playhead still takes a snapshot
  EXPECT_EQ(studio->undoStack().size(), 2u);
  auto block = studio->clip().presenterBlocks().front();
  studio->selectPresenterBlock(block.id);
  EXPECT_EQ(studio->notice(), L("已选中人物布局区块 · 点击上方布局按钮修改整段，可撤销"));
  EXPECT_DOUBLE_EQ(studio->time(), block.outputStart + 0.65);
  studio->setPresenter(true);  // the block already is full: nothing
  EXPECT_EQ(studio->undoStack().size(), 2u);
  studio->setPresenter(false);
  EXPECT_EQ(studio->notice(), L("所选整段已恢复屏幕＋人物 · 可撤销"));
  EXPECT_EQ(studio->undoStack().size(), 3u);

  // While recording a switch is logged with its time since the start, never negative.
  auto recorder = std::make_unique<TickRecording>();
  recorder->clockStart = h.clock.now + 2;
  StudioTestAccess::setRecorder(*studio, std::move(recorder));
  studio->setRecording(true);
  studio->setPresenter(true);
  ASSERT_EQ(StudioTestAccess::layouts(*studio).size(), 1u);
  EXPECT_EQ(StudioTestAccess::layouts(*studio)[0].time, 0);
  EXPECT_TRUE(studio->fullPresenter());
  EXPECT_EQ(studio->undoStack().size(), 3u);
}

}  // namespace
}  // namespace vantry
