// Edits of the open document with the whole-document undo history.
#include <algorithm>
#include <cmath>

#include "localization/localization.h"
#include "studio/studio.h"

namespace vantry {

namespace {

// An output time clamped into the edited timeline; not a number counts as the end.
double clampOutput(double t, double end) {
  if (std::isnan(t)) return end;
  return std::max(0.0, std::min(t, end));
}

}  // namespace

void Studio::checkpoint() {
  // Views reach the history only through the guarded gestures; a snapshot taken in live
  // preview would let undo bring back a document that is not open.
  if (editRefused()) return;
  undoStack_.push_back(clip_);
  if (undoStack_.size() > static_cast<std::size_t>(undoLimit)) undoStack_.erase(undoStack_.begin());
  redoStack_.clear();
}

void Studio::recordUndo() {
  if (gestureOpen_) {
    if (gestureCheckpointed_) return;
    gestureCheckpointed_ = true;
  }
  checkpoint();
}

void Studio::beginEditGesture() {
  if (editRefused()) return;
  gestureOpen_ = true;
  gestureCheckpointed_ = false;
}

void Studio::endEditGesture() {
  gestureOpen_ = false;
  gestureCheckpointed_ = false;
}

void Studio::setCameraSync(std::optional<double> seconds) {
  if (editRefused()) return;
  if (seconds && !std::isfinite(*seconds)) return;
  if (clip_.cameraSyncAdjustment == seconds) return;
  recordUndo();
  Clip next = clip_;
  next.cameraSyncAdjustment = seconds;
  setClip(std::move(next));
  requestFrames();
  scheduleSave();
}

void Studio::undoEdit() {
  if (editRefused() || undoStack_.empty()) return;
  Clip restored = std::move(undoStack_.back());
  undoStack_.pop_back();
  redoStack_.push_back(clip_);
  setClip(std::move(restored));
  rebuild();
  edited();
}

void Studio::redoEdit() {
  if (editRefused() || redoStack_.empty()) return;
  Clip restored = std::move(redoStack_.back());
  redoStack_.pop_back();
  undoStack_.push_back(clip_);
  setClip(std::move(restored));
  rebuild();
  edited();
}

void Studio::edited() {
  setPlaying(false);
  if (voice_) voice_->pause();
  setTime(std::min(time_, clip_.editedDuration()));
  setSelectedSegment(std::nullopt);
  setSelectedZoomID(std::nullopt);
  setSelectedPresenterID(std::nullopt);
  configureAudio();
  requestFrames();
  scheduleSave();
}

void Studio::split() {
  if (editRefused()) return;
  Clip next = clip_;
  std::optional<Uuid> cut = next.split(time_);
  if (!cut) {
    setNotice(L("请将播放头放在片段内部再分割。"));
    return;
  }
  recordUndo();
  setClip(std::move(next));
  edited();
  setSelectedSegment(*cut);
  setNotice(L("已分割 · 选中不需要的片段，点击删除"));
}

void Studio::deleteSelection() {
  if (editRefused() || !selectedSegment_) return;
  Uuid id = *selectedSegment_;
  Clip next = clip_;
  if (!next.deleteRange(id)) {
    setNotice(L("至少保留一个片段；先分割，再删除不需要的部分。"));
    return;
  }
  double place = time_;
  for (const PlacedRange& placed : clip_.placedRanges())
    if (placed.id() == id) {
      place = placed.start;
      break;
    }
  recordUndo();
  setClip(std::move(next));
  setSelectedSegment(std::nullopt);
  setTime(std::min(clip_.editedDuration(), place));
  edited();
  setNotice(L("已删除选中片段 · 原始素材保留，可撤销"));
}

void Studio::stopForSelection() {
  setPlaying(false);
  if (voice_) voice_->pause();
}

void Studio::selectZoom(const Uuid& id) {
  if (editRefused()) return;
  auto events = clip_.zoomEvents();
  if (std::none_of(events.begin(), events.end(), [&](const ZoomEvent& e) { return e.id == id; }))
    return;
  stopForSelection();
  setSelectedSegment(std::nullopt);
  setSelectedPresenterID(std::nullopt);
  setSelectedZoomID(id);
  setNotice(L("已选中缩放片段 · 可拖动位置、删除或调整时长"));
}

void Studio::addZoomAtPlayhead() {
  addZoom(time_);
}

void Studio::addZoom(double atOutput) {
  if (editRefused()) return;
  double s = clip_.sourceTime(clampOutput(atOutput, clip_.editedDuration()));
  if (auto existing = clip_.zoom(s)) {
    selectZoom(existing->id);
    return;
  }
  Clip next = clip_;
  std::optional<Uuid> id = next.addZoom(s, newZoomLength, motion_.state(s).pointer);
  if (!id) {
    setNotice(L("这里空间不足，无法添加缩放"));
    return;
  }
  recordUndo();
  setClip(std::move(next));
  rebuild();
  setSelectedZoomID(*id);
  setSelectedSegment(std::nullopt);
  setSelectedPresenterID(std::nullopt);
  scheduleSave();
  setNotice(L("已添加缩放片段 · 可拖动位置或删除"));
}

void Studio::setZoomAmount(const Uuid& id, std::optional<double> amount, bool recordUndoStep) {
  if (editRefused()) return;
  Clip next = clip_;
  if (!next.setZoomAmount(id, amount)) return;
  // Without its own step the caller owns the undo step; an open gesture takes it.
  if (recordUndoStep || gestureOpen_) recordUndo();
  setClip(std::move(next));
  rebuild();
  setSelectedZoomID(id);
  scheduleSave();
}

void Studio::removeSelectedZoom() {
  if (editRefused() || !selectedZoomID_) return;
  Clip next = clip_;
  next.removeZoom(*selectedZoomID_);
  recordUndo();
  setClip(std::move(next));
  rebuild();
  setSelectedZoomID(std::nullopt);
  scheduleSave();
  setNotice(L("已移除缩放片段 · 原始录屏不受影响，可撤销"));
}

void Studio::resizeZoom(const Uuid& id, bool leading, double to) {
  if (editRefused()) return;
  double s = clip_.sourceTime(clampOutput(to, clip_.editedDuration()));
  Clip next = clip_;
  bool accepted =
      leading ? next.resizeZoom(id, s, std::nullopt) : next.resizeZoom(id, std::nullopt, s);
  if (!accepted) return;
  recordUndo();
  setClip(std::move(next));
  rebuild();
  setSelectedZoomID(id);
  scheduleSave();
  setNotice(L("已调整缩放时长 · 可撤销"));
}

void Studio::moveZoom(const Uuid& id, double to) {
  if (editRefused()) return;
  double s = clip_.sourceTime(to);
  Clip next = clip_;
  if (!next.moveZoom(id, s)) {
    setNotice(L("没有足够的空位放置这个缩放"));
    return;
  }
  recordUndo();
  setClip(std::move(next));
  rebuild();
  setSelectedZoomID(id);
  scheduleSave();
  setNotice(L("已移动缩放片段 · 可撤销"));
}

void Studio::selectPresenterBlock(const PresenterBlock::ID& id) {
  if (editRefused()) return;
  auto blocks = clip_.presenterBlocks();
  auto block = std::find_if(blocks.begin(), blocks.end(),
                            [&](const PresenterBlock& b) { return b.id == id; });
  if (block == blocks.end()) return;
  stopForSelection();
  setSelectedSegment(std::nullopt);
  seek(block->outputStart + std::min(0.5 * block->duration(), 0.65));
  setSelectedPresenterID(id);
  setNotice(L("已选中人物布局区块 · 点击上方布局按钮修改整段，可撤销"));
}

void Studio::setPresenter(bool fullScreen) {
  if (!hasCamera() || busy_ || exporting_) return;
  EditSettings shown = settings_;
  shown.showCamera = true;
  setSettings(shown);
  if (live()) {
    setFullPresenter(fullScreen);
    if (recording_) {
      std::optional<double> started = recorder_ ? recorder_->startClock() : std::nullopt;
      double start = started ? *started : recordingStart_;
      recordingLayouts_.push_back(
          PresenterEvent{Uuid::random(), std::max(0.0, now() - start), fullScreen});
    }
    return;
  }
  Clip next = clip_;
  if (auto block = selectedPresenterBlock()) {
    if (block->fullScreen == fullScreen) return;
    next.setPresenter(fullScreen, *block);
    recordUndo();
    setClip(std::move(next));
    setNotice(fullScreen ? L("所选整段已改为人物全屏 · 可撤销")
                         : L("所选整段已恢复屏幕＋人物 · 可撤销"));
  } else {
    next.setPresenter(fullScreen, clip_.sourceTime(time_));
    recordUndo();
    setClip(std::move(next));
  }
  scheduleSave();
}

}  // namespace vantry
