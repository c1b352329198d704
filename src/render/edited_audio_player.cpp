#include "render/edited_audio_player.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

#include "platform/audio_source.h"
#include "platform/ffmpeg/audio_source.h"
#include "platform/ffmpeg/tempo_filter.h"
#include "render/render_error.h"

namespace vantry {

namespace {

constexpr int64_t kChunk = 960;      // frames rendered at a time (20 ms)
constexpr double kTail = 0.05;       // silence written past the end, seconds
constexpr size_t kMaxSegments = 16;  // rate changes remembered for the clock
constexpr auto kPoll = std::chrono::milliseconds(10);

}  // namespace

std::unique_ptr<EditedAudioPlayer> EditedAudioPlayer::open(const Clip& clip, Setup setup,
                                                           std::string* error, bool* notAFile) {
  if (error) error->clear();
  if (notAFile) *notAFile = false;
  if (!clip.audioPath) return nullptr;
  std::unique_ptr<AudioSource> file = AudioSource::open(*clip.audioPath, kRate, error, notAFile);
  if (!file) return nullptr;
  if (!file->hasAudio()) return nullptr;
  std::unique_ptr<EditedAudioPlayer> player(
      new EditedAudioPlayer(std::move(file), std::move(setup)));
  player->path_ = *clip.audioPath;
  {
    std::lock_guard lock(player->mutex_);
    player->layOut(clip);
  }
  player->worker_ = std::jthread([p = player.get()](std::stop_token stop) { p->run(stop); });
  return player;
}

EditedAudioPlayer::EditedAudioPlayer(std::unique_ptr<AudioSource> file, Setup setup)
    : setup_(std::move(setup)), file_(std::move(file)) {}

EditedAudioPlayer::~EditedAudioPlayer() {
  if (worker_.joinable()) {
    nudged_ = true;  // leaves any filling at once
    worker_.request_stop();
    worker_.join();
  }
}

void EditedAudioPlayer::postDone(SeekDone done, bool finished) {
  if (done && setup_.post) setup_.post([done = std::move(done), finished] { done(finished); });
}

// With mutex_ held. The clip's edit replaces the pieces; the worker repositions itself.
void EditedAudioPlayer::layOut(const Clip& clip) {
  const double held = std::clamp(currentTimeLocked(), 0.0, clip.editedDuration());
  pieces_ = soundPieces(clip, file_->duration());
  duration_ = clip.editedDuration();
  ++layout_;
  postDone(std::exchange(inFlight_, {}), false);
  if (pending_) postDone(std::move(pending_->done), false);
  pending_ = SeekRequest{held, {}};
  seeking_ = true;
  heldTime_ = held;
  playing_ = false;
  nudge();
}

void EditedAudioPlayer::configureAudio(const Clip& clip) {
  std::lock_guard lock(mutex_);
  layOut(clip);
}

void EditedAudioPlayer::seek(double t, SeekDone done) {
  std::lock_guard lock(mutex_);
  if (std::isnan(t)) t = duration_;
  t = std::max(std::min(t, duration_), 0.0);
  // Older seeks complete first, and with false.
  postDone(std::exchange(inFlight_, {}), false);
  if (pending_) postDone(std::move(pending_->done), false);
  pending_ = SeekRequest{t, std::move(done)};
  seeking_ = true;
  heldTime_ = t;
  nudge();
}

// With mutex_ held: a request for the worker, which leaves its filling for it.
void EditedAudioPlayer::nudge() {
  nudged_ = true;
  wake_.notify_all();
}

void EditedAudioPlayer::setRate(double rate) {
  if (std::isnan(rate)) return;
  std::lock_guard lock(mutex_);
  rate_ = std::clamp(rate, kMinRate, kMaxRate);
  nudge();
}

void EditedAudioPlayer::play() {
  std::lock_guard lock(mutex_);
  playing_ = true;
  applyRunning();
  nudge();
}

void EditedAudioPlayer::pause() {
  std::lock_guard lock(mutex_);
  playing_ = false;
  applyRunning();
  nudge();
}

// With mutex_ held: starts or stops the stream at once, so that the clock starts and
// stops with the call; while a seek runs, the worker does it when the seek is done.
void EditedAudioPlayer::applyRunning() {
  if (output_ && !seeking_ && playing_ != running_) {
    output_->setRunning(playing_);
    running_ = playing_;
  }
}

double EditedAudioPlayer::currentTime() const {
  std::lock_guard lock(mutex_);
  return currentTimeLocked();
}

double EditedAudioPlayer::currentTimeLocked() const {
  if (seeking_ || !output_ || segments_.empty()) return heldTime_;
  const double played = output_->playedFrames();
  auto after = std::upper_bound(segments_.begin(), segments_.end(), played,
                                [](double p, const Segment& s) { return p < double(s.index); });
  const Segment& s = after == segments_.begin() ? segments_.front() : *std::prev(after);
  const double t = s.media + (played - double(s.index)) / kRate * s.speed;
  return std::max(std::min(t, duration_), 0.0);
}

bool EditedAudioPlayer::playing() const {
  std::lock_guard lock(mutex_);
  return playing_;
}

double EditedAudioPlayer::rate() const {
  std::lock_guard lock(mutex_);
  return rate_;
}

double EditedAudioPlayer::editedDuration() const {
  std::lock_guard lock(mutex_);
  return duration_;
}

std::string EditedAudioPlayer::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

bool EditedAudioPlayer::audible() const {
  std::lock_guard lock(mutex_);
  return output_ && output_->audible();
}

std::vector<SoundPiece> EditedAudioPlayer::pieces() const {
  std::lock_guard lock(mutex_);
  return pieces_;
}

std::unique_ptr<platform::SoundOutput> EditedAudioPlayer::makeOutput(bool fallback) const {
  const int channels = file_->channels();
  if (!fallback) {
    try {
      if (setup_.output) return setup_.output(kRate, channels);
      return platform::makeSoundOutput(kRate, channels);
    } catch (const platform::AudioError&) {
    }
  }
  return platform::makeNullSoundOutput(kRate, channels);
}

void EditedAudioPlayer::run(std::stop_token stop) {
  {
    std::unique_ptr<platform::SoundOutput> output = makeOutput(false);
    std::lock_guard lock(mutex_);
    output_ = std::move(output);
  }
  std::unique_lock lock(mutex_);
  while (!stop.stop_requested()) {
    nudged_ = false;
    if (layout_ != workLayout_) {
      workPieces_ = pieces_;
      workDuration_ = duration_;
      workLayout_ = layout_;
    }
    if (pending_) {
      SeekRequest request = std::move(*pending_);
      pending_.reset();
      inFlight_ = std::move(request.done);
      error_.clear();
      const double rate = rate_;
      running_ = false;
      lock.unlock();
      position(request.time, rate);
      lock.lock();
      if (!pending_) {
        seeking_ = false;
        applyRunning();
      }
      postDone(std::exchange(inFlight_, {}), !pending_);
      continue;
    }
    applyRunning();
    if (rate_ != workRate_) {
      const double rate = rate_;
      lock.unlock();
      changeRate(rate);
      lock.lock();
      continue;
    }
    lock.unlock();
    std::string failure;
    const bool ok = produce(&failure);
    lock.lock();
    if (!ok) {
      if (failure.empty()) {
        replaceOutput();
      } else {
        error_ = AudioSource::failure(path_, failure);
        playing_ = false;
      }
      continue;
    }
    wake_.wait_for(lock, stop, kPoll, [&] {
      return pending_ || layout_ != workLayout_ || playing_ != running_ || rate_ != workRate_;
    });
  }
  lock.unlock();
  output_->setRunning(false);
}

// With mutex_ held: the stream failed (the sound server went away); carry on where the
// clock stands, on the null sink.
void EditedAudioPlayer::replaceOutput() {
  const double t = currentTimeLocked();
  output_ = makeOutput(true);
  running_ = false;
  if (!pending_) {
    pending_ = SeekRequest{t, {}};
    seeking_ = true;
    heldTime_ = t;
  }
}

void EditedAudioPlayer::position(double t, double rate) {
  std::string failure;
  if (!output_->restart(&failure)) {
    std::lock_guard lock(mutex_);
    output_ = makeOutput(true);
    output_->restart(nullptr);
  }
  workRate_ = rate;
  tempo_.reset();
  if (rate != 1) tempo_ = TempoFilter::make(kRate, file_->channels(), rate, &failure);
  mediaNext_ = std::llround(t * kRate);
  written_ = 0;
  {
    std::lock_guard lock(mutex_);
    segments_.assign(1, Segment{0, t, tempo_ ? rate : 1.0});
  }
  if (!produce(&failure) && !failure.empty()) {
    std::lock_guard lock(mutex_);
    error_ = AudioSource::failure(path_, failure);
    playing_ = false;
  }
  output_->syncTiming();
}

void EditedAudioPlayer::changeRate(double rate) {
  std::string failure;
  if (tempo_) {
    stretched_.clear();
    if (tempo_->finish(stretched_, &failure)) writeOut(stretched_);
    tempo_.reset();
  }
  workRate_ = rate;
  if (rate != 1) tempo_ = TempoFilter::make(kRate, file_->channels(), rate, &failure);
  std::lock_guard lock(mutex_);
  segments_.push_back(Segment{written_, double(mediaNext_) / kRate, tempo_ ? rate : 1.0});
  if (segments_.size() > kMaxSegments) segments_.erase(segments_.begin());
}

bool EditedAudioPlayer::writeOut(const std::vector<float>& samples) {
  const size_t frames = samples.size() / size_t(file_->channels());
  if (frames == 0) return true;
  std::string ignored;  // the stream's failure is handled by moving to the null sink
  if (!output_->write(samples.data(), frames, &ignored)) return false;
  written_ += int64_t(frames);
  return true;
}

// Fills the stream while it has room. false with `failure` empty when the stream failed,
// with the reading error otherwise.
bool EditedAudioPlayer::produce(std::string* failure) {
  const int64_t end = std::llround((workDuration_ + kTail) * kRate);
  // A stream whose server went away takes no more data and its clock stands still.
  if (!output_->healthy()) {
    failure->clear();
    return false;
  }
  for (;;) {
    if (mediaNext_ >= end || nudged_) return true;
    const size_t room = output_->writable();
    const double speed = tempo_ ? tempo_->tempo() : 1.0;
    const int64_t frames =
        std::min<int64_t>({kChunk, int64_t(double(room) * speed), end - mediaNext_});
    if (frames < kChunk / 4 && frames < end - mediaNext_) return true;
    if (!renderMedia(mediaNext_, frames, media_, failure)) return false;
    mediaNext_ += frames;
    const std::vector<float>* out = &media_;
    if (tempo_) {
      stretched_.clear();
      if (!tempo_->push(media_.data(), int(frames), stretched_, failure)) return false;
      if (mediaNext_ >= end && !tempo_->finish(stretched_, failure)) return false;
      out = &stretched_;
    }
    if (!writeOut(*out)) {
      failure->clear();
      return false;
    }
  }
}

// The edited sound of output frames [start, start + frames): the pieces, silence around.
bool EditedAudioPlayer::renderMedia(int64_t start, int64_t frames, std::vector<float>& out,
                                    std::string* failure) {
  const int channels = file_->channels();
  out.assign(size_t(frames) * size_t(channels), 0.0f);
  for (const SoundPiece& p : workPieces_) {
    const int64_t at = std::llround(p.at * kRate);
    if (at >= start + frames) break;
    const int64_t from = std::max(start, at);
    const int64_t to = std::min<int64_t>(start + frames, at + std::llround(p.length * kRate));
    if (from >= to) continue;
    if (!file_->read(std::llround(p.read * kRate) + (from - at), to - from, scratch_, failure))
      return false;
    std::copy(scratch_.begin(), scratch_.end(), out.begin() + (from - start) * channels);
  }
  return true;
}

}  // namespace vantry
