#include "platform/ffmpeg/movie_writer.h"

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/durable_file.h"
#include "platform/ffmpeg/bgra_to_yuv.h"
#include "platform/ffmpeg/ff_util.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/hwcontext.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace vantry {

struct MovieWriter::Item {
  bool audio = false;
  VideoFrameView frame;
  double time = 0;
  std::optional<double> duration;
  std::vector<float> samples;  // interleaved
  int sampleFrames = 0;
};

struct MovieWriter::Encoder {
  ff::OutputFormatPtr fmt;
  bool headerWritten = false;

  ff::CodecContextPtr video;
  AVStream* videoStream = nullptr;
  SwsContext* sws = nullptr;  // from sws_getCachedContext
  ff::FramePtr picture;
  int64_t lastPts = -1;
  int64_t nominalTicks = 1;
  std::map<int64_t, int64_t> durations;  // pts -> ticks, filled as frames arrive
  std::deque<ff::PacketPtr> pending;     // encoded, waiting for their duration
  ff::PacketPtr packet = ff::makePacket();

  ff::CodecContextPtr audio;
  AVStream* audioStream = nullptr;
  AVAudioFifo* fifo = nullptr;
  bool audioStarted = false;
  int64_t audioNextPts = 0;
  std::vector<std::vector<float>> planes;

  // End of the last complete fragment in the file, bytes (while fragmented).
  int64_t completeBytes = 0;
  // Pictures go out in fragments closed at key frames.
  bool fragmented = false;

  // Length of the last packet written per stream, in seconds: fragmented files do not give
  // it back when read, and the rewrite needs it for the file to keep its length.
  std::map<int, double> lastDuration;

  // Hardware (VAAPI) encoders take pictures uploaded into their own frames.
  AVBufferRef* hwFrames = nullptr;
  SwsContext* upload = nullptr;
  ff::FramePtr nv12;

  ~Encoder() {
    if (upload) sws_freeContext(upload);
    if (hwFrames) av_buffer_unref(&hwFrames);
    if (sws) sws_freeContext(sws);
    if (fifo) av_audio_fifo_free(fifo);
  }
};

namespace {

// Frames on the default VAAPI device for an encoder of that size; null without one.
AVBufferRef* makeVaapiFrames(int width, int height) {
  AVBufferRef* device = nullptr;
  if (av_hwdevice_ctx_create(&device, AV_HWDEVICE_TYPE_VAAPI, nullptr, nullptr, 0) < 0)
    return nullptr;
  AVBufferRef* frames = av_hwframe_ctx_alloc(device);
  av_buffer_unref(&device);
  if (!frames) return nullptr;
  auto* fc = reinterpret_cast<AVHWFramesContext*>(frames->data);
  fc->format = AV_PIX_FMT_VAAPI;
  fc->sw_format = AV_PIX_FMT_NV12;
  fc->width = width;
  fc->height = height;
  fc->initial_pool_size = 32;
  if (av_hwframe_ctx_init(frames) < 0) av_buffer_unref(&frames);
  return frames;
}

// The errno value behind an FFmpeg result, when it is one.
int systemErrorNumber(int code) {
  return code < 0 && code > -4096 ? -code : 0;
}

bool isMovFamily(const AVOutputFormat* f) {
  const std::string n = f ? f->name : "";
  return n.find("mp4") != std::string::npos || n.find("mov") != std::string::npos ||
         n.find("ipod") != std::string::npos;
}

}  // namespace

MovieWriter::MovieWriter(MovieWriterSettings settings)
    : settings_(std::move(settings)), enc_(std::make_unique<Encoder>()) {
  // The libraries' chatter (encoder statistics) has no reader; errors still show.
  static std::once_flag quiet;
  std::call_once(quiet, [] {
    if (av_log_get_level() == AV_LOG_INFO) av_log_set_level(AV_LOG_ERROR);
  });
  if (settings_.queueFrames == 0) settings_.queueFrames = 1;
}

MovieWriter::~MovieWriter() {
  cancel();
}

bool MovieWriter::start() {
  {
    std::lock_guard lock(mutex_);
    if (state_ != State::idle) return false;
  }
  auto failStart = [this](const std::string& message, int code = 0) {
    std::lock_guard lock(mutex_);
    state_ = State::failed;
    error_ = message;
    errorNumber_ = systemErrorNumber(code);
    return false;
  };
  if (!settings_.video && !settings_.audio) return failStart("no track to write");

  AVFormatContext* raw = nullptr;
  int rc = avformat_alloc_output_context2(
      &raw, nullptr, settings_.container.empty() ? nullptr : settings_.container.c_str(),
      settings_.path.c_str());
  if (rc < 0 || !raw) return failStart(ff::errorText(rc));
  enc_->fmt.reset(raw);
  AVFormatContext* fmt = raw;
  const bool globalHeader = fmt->oformat->flags & AVFMT_GLOBALHEADER;

  if (settings_.video) {
    const VideoTrackSettings& v = *settings_.video;
    std::string lastError = "no video encoder";
    for (const std::string& name : v.encoders) {
      const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
      if (!codec) {
        lastError = "encoder " + name + " not found";
        continue;
      }
      ff::CodecContextPtr ctx(avcodec_alloc_context3(codec));
      ctx->width = v.width;
      ctx->height = v.height;
      ctx->time_base = v.timeBase;
      ctx->framerate = AVRational{v.frameRate, 1};
      ctx->pix_fmt = v.encoderFormat;
      ctx->bit_rate = v.averageBitRate;
      ctx->gop_size = v.keyFrameInterval;
      ctx->max_b_frames = v.maxBFrames;
      ctx->color_primaries = v.primaries;
      ctx->color_trc = v.transfer;
      ctx->colorspace = v.matrix;
      ctx->color_range = AVCOL_RANGE_MPEG;
      ctx->sample_aspect_ratio = AVRational{1, 1};
      if (globalHeader) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
      AVBufferRef* hwFrames = nullptr;
      if (name.ends_with("_vaapi")) {
        hwFrames = makeVaapiFrames(v.width, v.height);
        if (!hwFrames) {
          lastError = name + ": no VAAPI device";
          continue;
        }
        ctx->pix_fmt = AV_PIX_FMT_VAAPI;
        ctx->hw_frames_ctx = av_buffer_ref(hwFrames);
      }
      AVDictionary* opts = nullptr;
      for (const auto& [k, val] : v.encoderOptions)
        av_dict_set(&opts, k.c_str(), val.c_str(), 0);
      rc = avcodec_open2(ctx.get(), codec, &opts);
      av_dict_free(&opts);
      if (rc < 0) {
        if (hwFrames) av_buffer_unref(&hwFrames);
        lastError = name + ": " + ff::errorText(rc);
        continue;
      }
      enc_->hwFrames = hwFrames;
      enc_->video = std::move(ctx);
      break;
    }
    if (!enc_->video) return failStart(lastError);
    enc_->videoStream = avformat_new_stream(fmt, nullptr);
    if (!enc_->videoStream) return failStart("could not add a video stream");
    enc_->videoStream->time_base = v.timeBase;
    enc_->videoStream->avg_frame_rate = AVRational{v.frameRate, 1};
    rc = avcodec_parameters_from_context(enc_->videoStream->codecpar, enc_->video.get());
    if (rc < 0) return failStart(ff::errorText(rc));
    if (v.codecTag.size() == 4)
      enc_->videoStream->codecpar->codec_tag =
          MKTAG(v.codecTag[0], v.codecTag[1], v.codecTag[2], v.codecTag[3]);
    enc_->picture = ff::makeFrame();
    enc_->picture->format = v.encoderFormat;
    enc_->picture->width = v.width;
    enc_->picture->height = v.height;
    enc_->picture->color_primaries = v.primaries;
    enc_->picture->color_trc = v.transfer;
    enc_->picture->colorspace = v.matrix;
    enc_->picture->color_range = AVCOL_RANGE_MPEG;
    rc = av_frame_get_buffer(enc_->picture.get(), 0);
    if (rc < 0) return failStart(ff::errorText(rc));
    enc_->nominalTicks =
        std::max<int64_t>(1, av_rescale_q(1, AVRational{1, std::max(v.frameRate, 1)}, v.timeBase));
  }

  if (settings_.audio) {
    const AudioTrackSettings& a = *settings_.audio;
    const AVCodec* codec = avcodec_find_encoder_by_name(a.encoder.c_str());
    if (!codec) return failStart("encoder " + a.encoder + " not found");
    ff::CodecContextPtr ctx(avcodec_alloc_context3(codec));
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx->sample_rate = a.sampleRate;
    av_channel_layout_default(&ctx->ch_layout, a.channels);
    ctx->bit_rate = a.bitRate;
    ctx->time_base = AVRational{1, a.sampleRate};
    if (globalHeader) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    rc = avcodec_open2(ctx.get(), codec, nullptr);
    if (rc < 0) return failStart(a.encoder + ": " + ff::errorText(rc));
    enc_->audio = std::move(ctx);
    enc_->audioStream = avformat_new_stream(fmt, nullptr);
    if (!enc_->audioStream) return failStart("could not add an audio stream");
    enc_->audioStream->time_base = enc_->audio->time_base;
    rc = avcodec_parameters_from_context(enc_->audioStream->codecpar, enc_->audio.get());
    if (rc < 0) return failStart(ff::errorText(rc));
    enc_->fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, a.channels, 4096);
    if (!enc_->fifo) return failStart("out of memory");
    enc_->planes.resize(a.channels);
  }

  if (!(fmt->oformat->flags & AVFMT_NOFILE)) {
    // Recordings and working files are their owner's alone; FFmpeg would make it rw-r--r--.
    // Written through one descriptor, which also cuts the file back after a failure.
    rc = ff::openOutput(fmt, settings_.path);
    if (rc < 0) return failStart(ff::errorText(rc), rc);
  }
  AVDictionary* opts = nullptr;
  if (isMovFamily(fmt->oformat)) {
    std::string flags = "+write_colr";
    if (settings_.crashSafe) {
      flags += "+empty_moov+default_base_moof";
      // Video fragments start at key frames; sound alone is cut once a second.
      if (settings_.video)
        flags += "+frag_keyframe";
      else
        av_dict_set(&opts, "frag_duration", "1000000", 0);
    }
    av_dict_set(&opts, "movflags", flags.c_str(), 0);
  }
  rc = avformat_write_header(fmt, &opts);
  av_dict_free(&opts);
  if (rc >= 0 && fmt->pb) {
    avio_flush(fmt->pb);
    if (fmt->pb->error < 0) rc = fmt->pb->error;
  }
  if (rc < 0) return failStart(ff::errorText(rc), rc);
  enc_->headerWritten = true;
  if (fmt->pb) enc_->completeBytes = avio_tell(fmt->pb);
  enc_->fragmented = settings_.crashSafe && isMovFamily(fmt->oformat) && settings_.video;

  std::lock_guard lock(mutex_);
  state_ = State::writing;
  thread_ = std::thread([this] { run(); });
  pthread_setname_np(thread_.native_handle(), "studio.encode");
  return true;
}

bool MovieWriter::appendVideo(VideoFrameView frame, double time, std::optional<double> duration,
                              bool waitForRoom) {
  if (!settings_.video || (!frame.data && !frame.picture) || frame.width <= 0 || frame.height <= 0)
    return false;
  std::unique_lock lock(mutex_);
  if (state_ != State::writing || stopRequested_) return false;
  if (queuedVideo_ >= settings_.queueFrames) {
    if (!waitForRoom) {
      ++stats_.framesRefused;
      return false;
    }
    room_.wait(lock, [&] {
      return queuedVideo_ < settings_.queueFrames || state_ != State::writing || stopRequested_;
    });
    if (state_ != State::writing || stopRequested_) return false;
  }
  Item item;
  item.frame = std::move(frame);
  item.time = time;
  item.duration = duration;
  items_.push_back(std::move(item));
  ++queuedVideo_;
  ++stats_.framesQueued;
  wake_.notify_one();
  return true;
}

bool MovieWriter::readyForVideo() const {
  std::lock_guard lock(mutex_);
  return state_ == State::writing && !stopRequested_ && queuedVideo_ < settings_.queueFrames;
}

bool MovieWriter::appendAudio(const float* samples, int frames, double time) {
  if (!settings_.audio || !samples || frames <= 0) return false;
  Item item;
  item.audio = true;
  item.time = time;
  item.sampleFrames = frames;
  item.samples.assign(samples, samples + static_cast<size_t>(frames) * settings_.audio->channels);
  std::lock_guard lock(mutex_);
  if (state_ != State::writing || stopRequested_) return false;
  items_.push_back(std::move(item));
  wake_.notify_one();
  return true;
}

std::string MovieWriter::videoEncoderName() const {
  return enc_->video && enc_->video->codec ? enc_->video->codec->name : "";
}

MovieWriter::State MovieWriter::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

std::string MovieWriter::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

int MovieWriter::errorNumber() const {
  std::lock_guard lock(mutex_);
  return errorNumber_;
}

double MovieWriter::writtenDuration() const {
  std::lock_guard lock(mutex_);
  // After a failure the fragment that was still open never reached the file.
  const bool fragmented = settings_.crashSafe && enc_->fmt && isMovFamily(enc_->fmt->oformat);
  return state_ == State::failed && fragmented ? durableDuration_ : writtenDuration_;
}

MovieWriter::Stats MovieWriter::stats() const {
  std::lock_guard lock(mutex_);
  return stats_;
}

void MovieWriter::fail(const std::string& message, int code) {
  std::function<void(const std::string&)> callback;
  {
    std::lock_guard lock(mutex_);
    if (state_ == State::writing) state_ = State::failed;
    if (error_.empty()) {
      error_ = message;
      errorNumber_ = systemErrorNumber(code);
    }
    if (!failureReported_) {
      failureReported_ = true;
      callback = settings_.onFailure;
    }
    room_.notify_all();
  }
  if (callback) callback(message);
}

namespace {

// Writes one packet; returns the FFmpeg result. On success `complete` becomes the file's
// length: the muxer hands over whole fragments only, so that is where the last one ends.
int writePacket(AVFormatContext* fmt, AVPacket* pkt, AVRational from, AVStream* st,
                int64_t& complete) {
  av_packet_rescale_ts(pkt, from, st->time_base);
  pkt->stream_index = st->index;
  int rc = av_interleaved_write_frame(fmt, pkt);
  // Keeps the file on disk current, so a killed process leaves every finished fragment.
  if (rc >= 0 && fmt->pb) avio_flush(fmt->pb);
  if (rc >= 0 && fmt->pb && fmt->pb->error < 0) rc = fmt->pb->error;
  if (rc >= 0 && fmt->pb) complete = avio_tell(fmt->pb);
  return rc;
}

}  // namespace

void MovieWriter::run() {
  Item item;
  while (nextItem(item)) {
    if (item.audio)
      encodeAudio(item);
    else
      encodeVideo(item);
  }
  closeFile();
}

// Waits for the next picture or sound to encode; false once the writer stops. What is still
// queued after a failure is dropped.
bool MovieWriter::nextItem(Item& item) {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return !items_.empty() || stopRequested_; });
    if (items_.empty() || (stopRequested_ && !drainOnStop_)) return false;
    item = std::move(items_.front());
    items_.pop_front();
    if (!item.audio) --queuedVideo_;
    room_.notify_all();
    if (state_ == State::writing) return true;
  }
}

bool MovieWriter::encodeVideo(Item& item) {
  Encoder& e = *enc_;
  const VideoTrackSettings& v = *settings_.video;
  int64_t pts = ff::toTicks(item.time, v.timeBase);
  if (pts <= e.lastPts) pts = e.lastPts + 1;
  if (e.lastPts >= 0 && !e.durations.count(e.lastPts)) e.durations[e.lastPts] = pts - e.lastPts;
  e.lastPts = pts;
  if (item.duration)
    e.durations[pts] = std::max<int64_t>(1, ff::toTicks(*item.duration, v.timeBase));

  if (item.frame.picture) {
    ff::FramePtr ref = ff::makeFrame();
    int rc = av_frame_ref(ref.get(), item.frame.picture);
    if (rc < 0) {
      fail(ff::errorText(rc), rc);
      return false;
    }
    item.frame.owner.reset();
    ref->pts = pts;
    return submitVideo(ref.get());
  }
  int rc = av_frame_make_writable(e.picture.get());
  if (rc < 0) {
    fail(ff::errorText(rc), rc);
    return false;
  }
  const bool direct = item.frame.format == AV_PIX_FMT_BGRA &&
                      v.encoderFormat == AV_PIX_FMT_YUV420P && item.frame.width == v.width &&
                      item.frame.height == v.height && v.width % 2 == 0 && v.height % 2 == 0 &&
                      v.matrix == AVCOL_SPC_BT709;
  if (direct) {
    AVFrame* p = e.picture.get();
    ff::bgraToYuv420Bt709(item.frame.data, item.frame.stride, v.width, v.height, p->data[0],
                          p->linesize[0], p->data[1], p->linesize[1], p->data[2], p->linesize[2]);
  } else {
    SwsContext* sws =
        sws_getCachedContext(e.sws, item.frame.width, item.frame.height, item.frame.format, v.width,
                             v.height, v.encoderFormat, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws) {
      fail("unsupported picture format");
      return false;
    }
    if (sws != e.sws) {
      e.sws = sws;
      // The matrix the stream is tagged with (the values agree with the scaler's tables).
      const int* table = sws_getCoefficients(v.matrix);
      sws_setColorspaceDetails(sws, table, 1, table, 0, 0, 1 << 16, 1 << 16);
    }
    const uint8_t* src[4] = {item.frame.data, nullptr, nullptr, nullptr};
    const int srcStride[4] = {item.frame.stride, 0, 0, 0};
    sws_scale(sws, src, srcStride, 0, item.frame.height, e.picture->data, e.picture->linesize);
  }
  item.frame.owner.reset();  // the pixels are no longer needed
  e.picture->pts = pts;
  return submitVideo(e.picture.get());
}

// Encodes a picture that is ready, counts it and writes what the encoder gives back.
bool MovieWriter::submitVideo(AVFrame* picture) {
  const int rc = sendVideo(picture);
  if (rc < 0) {
    fail(ff::errorText(rc), rc);
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    ++stats_.framesEncoded;
  }
  return receiveVideo() && writePending(false);
}

// Sends a software picture, uploading it first for a hardware encoder.
int MovieWriter::sendVideo(AVFrame* picture) {
  Encoder& e = *enc_;
  if (!e.hwFrames) return avcodec_send_frame(e.video.get(), picture);
  e.upload = sws_getCachedContext(
      e.upload, picture->width, picture->height, static_cast<AVPixelFormat>(picture->format),
      picture->width, picture->height, AV_PIX_FMT_NV12, SWS_POINT, nullptr, nullptr, nullptr);
  if (!e.upload) return AVERROR(EINVAL);
  if (!e.nv12) {
    e.nv12 = ff::makeFrame();
    e.nv12->format = AV_PIX_FMT_NV12;
    e.nv12->width = picture->width;
    e.nv12->height = picture->height;
    int rc = av_frame_get_buffer(e.nv12.get(), 0);
    if (rc < 0) return rc;
  }
  int rc = av_frame_make_writable(e.nv12.get());
  if (rc < 0) return rc;
  sws_scale(e.upload, picture->data, picture->linesize, 0, picture->height, e.nv12->data,
            e.nv12->linesize);
  ff::FramePtr hw = ff::makeFrame();
  rc = av_hwframe_get_buffer(e.hwFrames, hw.get(), 0);
  if (rc >= 0) rc = av_hwframe_transfer_data(hw.get(), e.nv12.get(), 0);
  if (rc < 0) return rc;
  av_frame_copy_props(hw.get(), picture);
  return avcodec_send_frame(e.video.get(), hw.get());
}

// Takes the encoded pictures; they wait in `pending` until their length is known.
bool MovieWriter::receiveVideo() {
  Encoder& e = *enc_;
  for (;;) {
    ff::PacketPtr pkt = ff::makePacket();
    int rc = avcodec_receive_packet(e.video.get(), pkt.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) {
      fail(ff::errorText(rc), rc);
      return false;
    }
    e.pending.push_back(std::move(pkt));
  }
}

// Writes the encoded pictures whose length is known (all of them when `flush`).
bool MovieWriter::writePending(bool flush) {
  Encoder& e = *enc_;
  while (!e.pending.empty()) {
    AVPacket* pkt = e.pending.front().get();
    auto it = e.durations.find(pkt->pts);
    if (it == e.durations.end() && !flush) break;
    pkt->duration = it != e.durations.end() ? it->second : e.nominalTicks;
    if (it != e.durations.end()) e.durations.erase(it);
    const AVRational tb = e.video->time_base;
    const int64_t duration = pkt->duration;
    const double end = ff::toSeconds(pkt->pts + duration, tb);
    const bool key = pkt->flags & AV_PKT_FLAG_KEY;
    int rc = writePacket(e.fmt.get(), pkt, tb, e.videoStream, e.completeBytes);
    e.pending.pop_front();
    if (rc < 0) {
      fail(ff::errorText(rc), rc);
      return false;
    }
    // While fragmented, a picture is on disk only once the next key frame has closed its
    // fragment: the muxer keeps the open fragment in memory.
    if (e.fragmented && key) {
      std::lock_guard lock(mutex_);
      durableDuration_ = writtenDuration_;
    }
    noteWritten(end);
    e.lastDuration[e.videoStream->index] = ff::toSeconds(duration, tb);
    std::lock_guard lock(mutex_);
    ++stats_.packetsWritten;
  }
  return true;
}

bool MovieWriter::encodeAudio(Item& item) {
  Encoder& e = *enc_;
  const int channels = settings_.audio->channels;
  if (!e.audioStarted) {
    e.audioStarted = true;
    e.audioNextPts = std::max<int64_t>(0, std::llround(item.time * e.audio->sample_rate));
  }
  for (int c = 0; c < channels; ++c) {
    e.planes[c].resize(item.sampleFrames);
    for (int i = 0; i < item.sampleFrames; ++i)
      e.planes[c][i] = item.samples[static_cast<size_t>(i) * channels + c];
  }
  std::vector<void*> data(channels);
  for (int c = 0; c < channels; ++c)
    data[c] = e.planes[c].data();
  if (av_audio_fifo_write(e.fifo, data.data(), item.sampleFrames) < item.sampleFrames) {
    fail("out of memory");
    return false;
  }
  return sendAudioFrames(false);
}

// Encodes the sound waiting in whole encoder frames (and the rest too when `all`).
bool MovieWriter::sendAudioFrames(bool all) {
  Encoder& e = *enc_;
  const int frameSize = e.audio->frame_size > 0 ? e.audio->frame_size : 1024;
  while (av_audio_fifo_size(e.fifo) >= frameSize || (all && av_audio_fifo_size(e.fifo) > 0)) {
    const int n = std::min(frameSize, av_audio_fifo_size(e.fifo));
    ff::FramePtr frame = ff::makeFrame();
    frame->nb_samples = n;
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->sample_rate = e.audio->sample_rate;
    av_channel_layout_copy(&frame->ch_layout, &e.audio->ch_layout);
    int rc = av_frame_get_buffer(frame.get(), 0);
    if (rc >= 0) rc = av_audio_fifo_read(e.fifo, reinterpret_cast<void**>(frame->data), n);
    if (rc < 0) {
      fail(ff::errorText(rc), rc);
      return false;
    }
    frame->pts = e.audioNextPts;
    e.audioNextPts += n;
    rc = avcodec_send_frame(e.audio.get(), frame.get());
    if (rc < 0) {
      fail(ff::errorText(rc), rc);
      return false;
    }
    if (!receiveAudio()) return false;
  }
  return true;
}

// Writes the encoded sound as it comes.
bool MovieWriter::receiveAudio() {
  Encoder& e = *enc_;
  for (;;) {
    int rc = avcodec_receive_packet(e.audio.get(), e.packet.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) {
      fail(ff::errorText(rc), rc);
      return false;
    }
    const AVRational tb = e.audio->time_base;
    const double end = ff::toSeconds(e.packet->pts + e.packet->duration, tb);
    e.lastDuration[e.audioStream->index] = ff::toSeconds(e.packet->duration, tb);
    const int64_t before = e.completeBytes;
    rc = writePacket(e.fmt.get(), e.packet.get(), tb, e.audioStream, e.completeBytes);
    av_packet_unref(e.packet.get());
    if (rc < 0) {
      fail(ff::errorText(rc), rc);
      return false;
    }
    if (!settings_.video) {
      // Sound alone: the file grows when a fragment closes, which holds what came before.
      if (e.completeBytes > before) {
        std::lock_guard lock(mutex_);
        durableDuration_ = writtenDuration_;
      }
      noteWritten(end);
    }
  }
}

void MovieWriter::noteWritten(double end) {
  std::lock_guard lock(mutex_);
  writtenDuration_ = std::max(writtenDuration_, end);
}

// Whatever happened, puts everything already encoded into the file and closes it properly.
void MovieWriter::closeFile() {
  Encoder& e = *enc_;
  AVFormatContext* fmt = e.fmt.get();
  {
    std::lock_guard lock(mutex_);
    items_.clear();
    queuedVideo_ = 0;
  }
  bool ok = state() == State::writing;
  if (ok && e.video) {
    int rc = avcodec_send_frame(e.video.get(), nullptr);
    ok = rc >= 0 && receiveVideo();
  }
  if (e.video && state() == State::writing) writePending(true);
  if (ok && e.audio && e.audioStarted) {
    ok = sendAudioFrames(true) && avcodec_send_frame(e.audio.get(), nullptr) >= 0 && receiveAudio();
  }
  if (e.headerWritten) {
    int rc = av_write_trailer(fmt);
    if (rc >= 0 && fmt->pb) avio_flush(fmt->pb);
    if (rc >= 0 && fmt->pb && fmt->pb->error < 0) rc = fmt->pb->error;
    if (rc < 0) {
      fail(ff::errorText(rc), rc);
    } else if (fmt->pb) {
      // The last fragment reached the file after all (the failure was not the file's).
      e.completeBytes = avio_tell(fmt->pb);
      std::lock_guard lock(mutex_);
      durableDuration_ = writtenDuration_;
    }
    e.headerWritten = false;
  }
  if (state() == State::failed) cutBackToCompleteFragments();
  ff::closeOutput(fmt);
}

// A write that failed part way (a full disk takes the last partial page) leaves the file
// ending inside a fragment, and such a file does not open at all. Cut back to where the last
// complete one ends, everything before it plays. On the file's own descriptor, before it
// closes: the name may lead somewhere else by now.
void MovieWriter::cutBackToCompleteFragments() {
  if (!settings_.crashSafe || !enc_->fmt || !isMovFamily(enc_->fmt->oformat)) return;
  if (enc_->completeBytes <= 0) return;
  const int fd = ff::outputDescriptor(enc_->fmt.get());
  if (fd >= 0) avio_flush(enc_->fmt->pb);  // nothing buffered may land after the cut
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
  if (st.st_size <= enc_->completeBytes) return;
  // Truncating only frees space, so it works on a full disk too.
  [[maybe_unused]] const int rc = ::ftruncate(fd, off_t(enc_->completeBytes));
}

bool MovieWriter::finish() {
  {
    std::lock_guard lock(mutex_);
    if (joined_ || !thread_.joinable()) return state_ == State::finished;
    stopRequested_ = true;
    drainOnStop_ = true;
    wake_.notify_all();
    room_.notify_all();
  }
  thread_.join();
  bool ok;
  {
    std::lock_guard lock(mutex_);
    joined_ = true;
    ok = state_ == State::writing;
  }
  if (!ok) return false;
  if (settings_.crashSafe && isMovFamily(enc_->fmt->oformat)) rewriteSeekable();
  std::lock_guard lock(mutex_);
  state_ = State::finished;
  return true;
}

void MovieWriter::cancel() {
  {
    std::lock_guard lock(mutex_);
    if (joined_ || !thread_.joinable()) return;
    stopRequested_ = true;
    drainOnStop_ = false;
    wake_.notify_all();
    room_.notify_all();
  }
  thread_.join();
  std::lock_guard lock(mutex_);
  joined_ = true;
  if (state_ == State::writing) state_ = State::cancelled;
}

// Copies the fragmented file into an ordinary one beside it and swaps them. The fragmented
// file stays as it is when anything fails.
bool MovieWriter::rewriteSeekable() {
  namespace fs = std::filesystem;
  const fs::path target(settings_.path);
  const fs::path tmpPath = platform::makeFileBeside(target);
  if (tmpPath.empty()) return false;
  const std::string tmp = tmpPath.string();

  bool ok = [&] {
    ff::InputFormatPtr in = ff::openInput(settings_.path);
    if (!in) return false;
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, enc_->fmt->oformat, nullptr, tmp.c_str()) < 0)
      return false;
    ff::OutputFormatPtr out(raw);
    for (unsigned i = 0; i < in->nb_streams; ++i) {
      AVStream* s = avformat_new_stream(out.get(), nullptr);
      if (!s || avcodec_parameters_copy(s->codecpar, in->streams[i]->codecpar) < 0) return false;
      s->time_base = in->streams[i]->time_base;
      s->avg_frame_rate = in->streams[i]->avg_frame_rate;
    }
    if (ff::openOutput(out.get(), tmp) < 0) return false;
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "movflags", "+write_colr", 0);
    int rc = avformat_write_header(out.get(), &opts);
    av_dict_free(&opts);
    if (rc < 0) return false;
    // Each packet waits for the next one of its stream, which gives its length.
    std::vector<ff::PacketPtr> held(in->nb_streams);
    // A fragmented file cannot say that the sound encoder's first samples are start-up
    // samples (AAC's 1024); moved before time 0 here, they become the ordinary file's edit
    // and the sound plays on time instead of that much late.
    int primedStream = -1;
    int64_t priming = 0;
    if (enc_->audio && enc_->audioStream && enc_->audio->initial_padding > 0) {
      primedStream = enc_->audioStream->index;
      if (primedStream < int(in->nb_streams)) {
        priming =
            av_rescale_q(enc_->audio->initial_padding, AVRational{1, enc_->audio->sample_rate},
                         in->streams[primedStream]->time_base);
      }
    }
    auto put = [&](ff::PacketPtr& pkt) {
      const unsigned si = pkt->stream_index;
      if (int(si) == primedStream && priming > 0) {
        if (pkt->pts != AV_NOPTS_VALUE) pkt->pts -= priming;
        if (pkt->dts != AV_NOPTS_VALUE) pkt->dts -= priming;
      }
      av_packet_rescale_ts(pkt.get(), in->streams[si]->time_base, out->streams[si]->time_base);
      const int r = av_interleaved_write_frame(out.get(), pkt.get());
      pkt.reset();
      return r >= 0;
    };
    for (;;) {
      ff::PacketPtr pkt = ff::makePacket();
      rc = av_read_frame(in.get(), pkt.get());
      if (rc == AVERROR_EOF) break;
      if (rc < 0) return false;
      const unsigned si = pkt->stream_index;
      if (si >= held.size()) continue;
      if (held[si]) {
        if (held[si]->duration <= 0) held[si]->duration = pkt->dts - held[si]->dts;
        if (!put(held[si])) return false;
      }
      held[si] = std::move(pkt);
    }
    for (unsigned si = 0; si < held.size(); ++si) {
      if (!held[si]) continue;
      if (held[si]->duration <= 0) {
        auto it = enc_->lastDuration.find(int(si));
        const double seconds = it != enc_->lastDuration.end() ? it->second : 0;
        held[si]->duration = ff::toTicks(seconds, in->streams[si]->time_base);
      }
      if (!put(held[si])) return false;
    }
    if (av_write_trailer(out.get()) < 0) return false;
    if (out->pb->error < 0) return false;
    ff::closeOutput(out.get());
    return true;
  }();

  if (!ok) {
    std::remove(tmp.c_str());
    return false;
  }
  return platform::replaceDurably(tmpPath, target).empty();
}

}  // namespace vantry
