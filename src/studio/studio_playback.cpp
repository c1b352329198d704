// Playback: the playhead, the frame sources and the edited sound kept in step.
#include <QMetaObject>
#include <QPointer>
#include <algorithm>
#include <cmath>

#include "localization/localization.h"
#include "studio/project_opener.h"
#include "studio/queued_task.h"
#include "studio/studio.h"

namespace vantry {

void Studio::seek(double outputTime) {
  if (standby_ || recording_) return;
  setSelectedPresenterID(std::nullopt);
  double end = clip_.editedDuration();
  setTime(std::isnan(outputTime) ? end : std::max(0.0, std::min(outputTime, end)));
  synchronizePlayback();
}

void Studio::togglePlayback() {
  if (standby_ || recording_ || exporting_) return;
  if (!(clip_.editedDuration() > time_)) setTime(0);
  setSelectedPresenterID(std::nullopt);
  setPlaying(!playing_);
  if (playing_) synchronizePlayback();
}

void Studio::setStageWidth(const void* stage, int pixels) {
  if (pixels > 0)
    stageWidths_[stage] = pixels;
  else
    stageWidths_.erase(stage);
}

int Studio::screenWidthShown(double source) const {
  if (!playing_) return 0;
  int widest = 0;
  for (const auto& [stage, pixels] : stageWidths_)
    widest = std::max(widest, pixels);
  if (widest == 0) return 0;
  // The zoom a quarter second ahead too: a zoom that starts finds its pictures whole.
  const double zoom =
      std::max({1.0, motion_.state(source).zoom, motion_.state(source + 0.25).zoom});
  return static_cast<int>(std::ceil(widest * zoom));
}

void Studio::requestFrames() {
  if (!source_ && !face_) return;
  double s = clip_.sourceTime(time_);
  if (source_) source_->request(s, screenWidthShown(s));
  if (face_) face_->request(clip_.cameraTime(s));
}

void Studio::framesArrived() {
  std::optional<std::string> failure;
  for (FrameSource* frames : {source_.get(), face_.get()})
    if (frames)
      if (auto e = frames->takeError(); e && !failure) failure = e;
  if (failure) {
    setSeeking(false);
    if (playing_) setPlaying(false);
    setError(*failure);
  }
  emit frameTick();
}

void Studio::synchronizePlayback() {
  playbackAnchorTime_ = time_;
  playbackAnchorHost_ = now();
  std::int64_t generation = ++seekGeneration_;
  // The readers move first; their pictures (or a reading failure) arrive on their own.
  requestFrames();
  if (!voice_) {
    setSeeking(false);
    return;
  }
  setSeeking(true);
  voice_->pause();
  QPointer<Studio> self(this);
  PlaybackAudio* player = voice_.get();
  voice_->seek(time_, [self, player, generation](bool finished) {
    postTask(self.data(), [self, player, generation, finished] {
      if (!self || self->seekGeneration_ != generation || self->voice_.get() != player) return;
      self->setSeeking(false);
      if (!finished) {
        self->setPlaying(false);
      } else if (self->playing_) {
        self->playbackAnchorTime_ = self->time_;
        self->playbackAnchorHost_ = self->now();
        player->play(static_cast<float>(self->playbackRate_));
      }
    });
  });
}

std::unique_ptr<PlaybackAudio> Studio::openAudio(const Clip& clip,
                                                 std::optional<std::string>* error) const {
  return opener_->shared->openAudio(clip, error);
}

void Studio::configureAudio() {
  ++seekGeneration_;
  setSeeking(false);
  if (voice_) voice_->pause();
  if (voice_ && clip_.audioPath && voice_->configure(clip_)) return;
  voice_.reset();
  std::optional<std::string> failure;
  voice_ = openAudio(clip_, &failure);
  if (failure) setError(failure);
}

void Studio::showFullscreenPreview() {
  if (standby_ || recording_ || exporting_) return;
  if (fullscreenController_) {
    fullscreenController_->raise();
    return;
  }
  if (!services_.makeFullscreen) return;
  FullscreenPreviewController* controller = services_.makeFullscreen(*this);
  if (!controller) return;
  fullscreenController_ = controller;
  setFullscreenPreview(true);
  controller->present();
}

void Studio::fullscreenClosed() {
  setFullscreenPreview(false);
  // The window calls this from its own close handling: release it once that returned.
  if (fullscreenController_) fullscreenController_->deleteLater();
  fullscreenController_ = nullptr;
}

}  // namespace vantry
