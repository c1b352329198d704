#include "platform/ffmpeg/audio_source.h"

#include <algorithm>
#include <cmath>

#include "localization/localization.h"
#include "localization/user_message.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace vantry {

std::string AudioSource::failure(const std::string& path, const std::string& reason) {
  return withReason(L("无法读取音轨 {0}。", shownPath(path)), reason);
}

std::unique_ptr<AudioSource> AudioSource::open(const std::string& path, int sampleRate,
                                               std::string* error, bool* notAFile) {
  std::unique_ptr<AudioSource> s(new AudioSource());
  s->rate_ = sampleRate;
  std::string reason;
  s->fmt_ = ff::openInput(path, &reason, notAFile);
  if (!s->fmt_) {
    if (error) *error = failure(path, reason);
    return nullptr;
  }
  const AVCodec* decoder = nullptr;
  const int index = av_find_best_stream(s->fmt_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
  auto failWith = [&](int rc) -> std::unique_ptr<AudioSource> {
    if (error) *error = failure(path, ff::failureReason(rc));
    return nullptr;
  };
  if (index == AVERROR_STREAM_NOT_FOUND) {
    // A movie without sound is simply silent; a file with neither sound nor picture is a
    // damaged sound file whose track could not be found.
    for (unsigned i = 0; i < s->fmt_->nb_streams; ++i)
      if (s->fmt_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) return s;
    return failWith(AVERROR_INVALIDDATA);
  }
  if (index < 0 || !decoder) return failWith(index < 0 ? index : AVERROR_DECODER_NOT_FOUND);
  AVStream* st = s->fmt_->streams[index];
  s->codec_.reset(avcodec_alloc_context3(decoder));
  int rc = avcodec_parameters_to_context(s->codec_.get(), st->codecpar);
  if (rc < 0) return failWith(rc);
  s->codec_->pkt_timebase = st->time_base;
  rc = avcodec_open2(s->codec_.get(), decoder, nullptr);
  if (rc < 0) return failWith(rc);
  for (unsigned i = 0; i < s->fmt_->nb_streams; ++i)
    if (static_cast<int>(i) != index) s->fmt_->streams[i]->discard = AVDISCARD_ALL;

  AVChannelLayout in{};
  if (s->codec_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ||
      s->codec_->ch_layout.nb_channels == 0)
    av_channel_layout_default(&in, std::max(1, s->codec_->ch_layout.nb_channels));
  else
    av_channel_layout_copy(&in, &s->codec_->ch_layout);
  s->channels_ = std::clamp(in.nb_channels, 1, 2);
  AVChannelLayout out{};
  av_channel_layout_default(&out, s->channels_);
  rc = swr_alloc_set_opts2(&s->swr_, &out, AV_SAMPLE_FMT_FLT, sampleRate, &in,
                           s->codec_->sample_fmt, s->codec_->sample_rate, 0, nullptr);
  av_channel_layout_uninit(&in);
  av_channel_layout_uninit(&out);
  if (rc < 0) return failWith(rc);
  rc = swr_init(s->swr_);
  if (rc < 0) return failWith(rc);
  s->stream_ = index;
  s->duration_ = ff::streamDuration(s->fmt_.get(), s->stream_);
  return s;
}

AudioSource::~AudioSource() {
  if (swr_) swr_free(&swr_);
}

bool AudioSource::seek(int64_t position, std::string* error) {
  const AVRational tb = fmt_->streams[stream_]->time_base;
  int rc = ff::seekFromStart(
      fmt_.get(), stream_, av_rescale_q(std::max<int64_t>(position, 0), AVRational{1, rate_}, tb));
  if (rc < 0) {
    if (error) *error = ff::failureReason(rc);
    return false;
  }
  avcodec_flush_buffers(codec_.get());
  if (!restartResampler(error)) return false;
  buffer_.clear();
  held_.clear();
  positioned_ = false;
  ended_ = false;
  pump_.restart();
  return true;
}

bool AudioSource::restartResampler(std::string* error) {
  swr_close(swr_);
  const int rc = swr_init(swr_);
  if (rc < 0 && error) *error = ff::failureReason(rc);
  return rc >= 0;
}

void AudioSource::placeHeld() {
  const int64_t end = bufferStart_ + static_cast<int64_t>(buffer_.size()) / channels_;
  if (end <= wantedStart_) {
    // Nothing buffered is wanted any more: the buffer starts again where the sound goes on,
    // and read() gives the silence before it without seeking.
    buffer_.clear();
    coveredFrom_ = std::min(wantedStart_, heldStart_);
    bufferStart_ = heldStart_;
  } else {
    // Only the silence this read needs; the held sound waits for a later read.
    const int64_t upTo = std::max(end, std::min(heldStart_, std::max(wantedEnd_, end)));
    buffer_.insert(buffer_.end(), static_cast<size_t>(upTo - end) * channels_, 0.0f);
    if (upTo < heldStart_) return;
  }
  buffer_.insert(buffer_.end(), held_.begin(), held_.end());
  held_.clear();
}

bool AudioSource::decodeMore(std::string* error) {
  auto convert = [&](const uint8_t** data, int count, auto& into) -> bool {
    const int capacity = swr_get_out_samples(swr_, count);
    if (capacity <= 0) return true;
    scratch_.resize(static_cast<size_t>(capacity) * channels_);
    uint8_t* outPtr = reinterpret_cast<uint8_t*>(scratch_.data());
    const int got = swr_convert(swr_, &outPtr, capacity, data, count);
    if (got < 0) {
      if (error) *error = ff::failureReason(got);
      return false;
    }
    into.insert(into.end(), scratch_.begin(),
                scratch_.begin() + static_cast<size_t>(got) * channels_);
    return true;
  };
  if (!held_.empty()) {
    placeHeld();
    return true;
  }
  if (ended_) return false;
  switch (pump_.next(fmt_.get(), codec_.get(), stream_, frame_.get(), true, error)) {
    case PacketPump::Result::failed:
      return false;
    case PacketPump::Result::end:
      convert(nullptr, 0, buffer_);
      ended_ = true;
      return false;
    case PacketPump::Result::frame:
      break;
  }
  AVStream* st = fmt_->streams[stream_];
  int64_t pts = frame_->best_effort_timestamp;
  if (pts == AV_NOPTS_VALUE) pts = frame_->pts;
  const int64_t origin = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
  if (pts != AV_NOPTS_VALUE) {
    // A damaged file may carry any timestamp: positions are kept within a range where sums
    // of them cannot overflow (av_rescale_q gives AV_NOPTS_VALUE when out of range).
    int64_t relative = 0, at = AV_NOPTS_VALUE;
    if (!__builtin_sub_overflow(pts, origin, &relative))
      at = av_rescale_q(relative, st->time_base, AVRational{1, rate_});
    if (at == AV_NOPTS_VALUE) at = pts > origin ? kFarthest : -kFarthest;
    pts = std::clamp(at, -kFarthest, kFarthest);
  }
  const uint8_t** data = const_cast<const uint8_t**>(frame_->extended_data);
  bool ok = true;
  if (!positioned_) {
    bufferStart_ = pts == AV_NOPTS_VALUE ? 0 : pts;
    coveredFrom_ = bufferStart_;
    positioned_ = true;
  } else if (pts != AV_NOPTS_VALUE) {
    // A damaged packet was skipped: silence in its place keeps what follows in time.
    const int64_t expected = bufferStart_ + static_cast<int64_t>(buffer_.size()) / channels_ +
                             swr_get_delay(swr_, rate_);
    const int64_t gap = pts - expected;
    if (gap > rate_) {
      // Too long to fill at once (a hostile file may jump hours): the sound before the gap
      // is completed, and the frame is held at its place until reads get there.
      ok = convert(nullptr, 0, buffer_) && restartResampler(error) &&
           convert(data, frame_->nb_samples, held_);
      av_frame_unref(frame_.get());
      heldStart_ = pts;
      if (ok) placeHeld();
      return ok;
    }
    if (gap > rate_ / 200)
      buffer_.insert(buffer_.end(), static_cast<size_t>(gap) * channels_, 0.0f);
  }
  ok = convert(data, frame_->nb_samples, buffer_);
  av_frame_unref(frame_.get());
  return ok;
}

bool AudioSource::read(int64_t start, int64_t frames, std::vector<float>& out, std::string* error) {
  if (error) error->clear();
  out.assign(static_cast<size_t>(std::max<int64_t>(frames, 0)) * channels_, 0.0f);
  if (!hasAudio() || frames <= 0) return true;
  const int64_t bufferEnd = bufferStart_ + static_cast<int64_t>(buffer_.size()) / channels_;
  if (!positioned_ || start < coveredFrom_ || start > bufferEnd + 2 * int64_t{rate_}) {
    if (!seek(start, error)) return false;
  }
  wantedStart_ = start;
  wantedEnd_ = start + frames;
  while (!ended_ &&
         (!positioned_ ||
          bufferStart_ + static_cast<int64_t>(buffer_.size()) / channels_ < start + frames)) {
    if (!decodeMore(error) && error && !error->empty()) return false;
  }
  // Drop what lies before the wanted stretch.
  if (start > bufferStart_) {
    const size_t drop =
        std::min(buffer_.size(), static_cast<size_t>(start - bufferStart_) * channels_);
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(drop));
    bufferStart_ += static_cast<int64_t>(drop) / channels_;
  }
  coveredFrom_ = std::max(coveredFrom_, std::min(start, bufferStart_));
  // Silence before the sound.
  const int64_t lead = std::clamp<int64_t>(bufferStart_ - start, 0, frames);
  const int64_t available = static_cast<int64_t>(buffer_.size()) / channels_;
  const int64_t count = std::clamp<int64_t>(frames - lead, 0, available);
  std::copy(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(count * channels_),
            out.begin() + static_cast<std::ptrdiff_t>(lead * channels_));
  return true;
}

}  // namespace vantry
