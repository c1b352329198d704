#include "platform/ffmpeg/remux_sound.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace vantry {

namespace {

struct Piece {
  int64_t read, length, at;  // sample frames
};

}  // namespace

RemuxResult remuxWithSound(const std::string& videoPath, const std::string& outputPath,
                           const std::string& container, AudioSource& sound,
                           const std::vector<PlacedSound>& placed,
                           const std::function<bool()>& cancelled, std::string* error) {
  auto failed = [&](int rc) {
    if (error) *error = ff::errorText(rc);
    return RemuxResult::failed;
  };
  auto failedText = [&](const std::string& text) {
    if (error) *error = text;
    return RemuxResult::failed;
  };
  ff::InputFormatPtr in = ff::openInput(videoPath, error);
  if (!in) return RemuxResult::failed;
  const int vin = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (vin < 0) return RemuxResult::noVideo;
  AVStream* inStream = in->streams[vin];

  AVFormatContext* raw = nullptr;
  int rc = avformat_alloc_output_context2(&raw, nullptr, container.c_str(), outputPath.c_str());
  if (rc < 0 || !raw) return failed(rc);
  ff::OutputFormatPtr out(raw);
  AVStream* vout = avformat_new_stream(out.get(), nullptr);
  if (!vout) return RemuxResult::noVideo;
  rc = avcodec_parameters_copy(vout->codecpar, inStream->codecpar);
  if (rc < 0) return failed(rc);
  vout->time_base = inStream->time_base;
  vout->avg_frame_rate = inStream->avg_frame_rate;

  const int rate = sound.sampleRate();
  std::vector<Piece> pieces;
  int64_t soundEnd = 0;
  for (const PlacedSound& p : placed) {
    Piece q{std::llround(p.read * rate), std::llround(p.length * rate), std::llround(p.at * rate)};
    if (q.length <= 0) continue;
    pieces.push_back(q);
    soundEnd = std::max(soundEnd, q.at + q.length);
  }
  const double videoLength = inStream->duration > 0
                                 ? ff::toSeconds(inStream->duration, inStream->time_base)
                                 : (in->duration > 0 ? in->duration / double(AV_TIME_BASE) : 0);
  if (videoLength > 0) soundEnd = std::min<int64_t>(soundEnd, std::llround(videoLength * rate));

  ff::CodecContextPtr aac;
  AVStream* aout = nullptr;
  if (sound.hasAudio() && soundEnd > 0) {
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (!codec) return failedText("aac encoder not found");
    aac.reset(avcodec_alloc_context3(codec));
    aac->sample_fmt = AV_SAMPLE_FMT_FLTP;
    aac->sample_rate = rate;
    av_channel_layout_default(&aac->ch_layout, sound.channels());
    aac->bit_rate = sound.channels() > 1 ? 192'000 : 128'000;
    aac->time_base = AVRational{1, rate};
    if (out->oformat->flags & AVFMT_GLOBALHEADER) aac->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    rc = avcodec_open2(aac.get(), codec, nullptr);
    if (rc < 0) return failed(rc);
    aout = avformat_new_stream(out.get(), nullptr);
    if (!aout) return failedText("could not add an audio stream");
    aout->time_base = aac->time_base;
    rc = avcodec_parameters_from_context(aout->codecpar, aac.get());
    if (rc < 0) return failed(rc);
  }

  rc = ff::openOutput(out.get(), outputPath);
  if (rc < 0) return failed(rc);
  AVDictionary* opts = nullptr;
  av_dict_set(&opts, "movflags", "+write_colr", 0);
  rc = avformat_write_header(out.get(), &opts);
  av_dict_free(&opts);
  if (rc < 0) return failed(rc);

  // Sound: encoded in encoder-sized chunks up to a moving horizon.
  int64_t position = 0;
  const int frameSize = aac && aac->frame_size > 0 ? aac->frame_size : 1024;
  std::vector<float> chunk, piece;
  ff::FramePtr frame = ff::makeFrame();
  ff::PacketPtr pkt = ff::makePacket();
  ff::PacketPtr apkt = ff::makePacket();  // the sound's own: video packets are held meanwhile
  std::string soundError;
  auto drainAudio = [&]() -> int {
    for (;;) {
      int r = avcodec_receive_packet(aac.get(), apkt.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 0;
      if (r < 0) return r;
      av_packet_rescale_ts(apkt.get(), aac->time_base, aout->time_base);
      apkt->stream_index = aout->index;
      r = av_interleaved_write_frame(out.get(), apkt.get());
      if (r < 0) return r;
    }
  };
  auto encodeUntil = [&](int64_t horizon) -> int {
    if (!aac) return 0;
    horizon = std::min(horizon, soundEnd);
    while (position < horizon) {
      const int n = static_cast<int>(std::min<int64_t>(frameSize, soundEnd - position));
      const int ch = sound.channels();
      chunk.assign(static_cast<size_t>(n) * ch, 0.0f);
      for (const Piece& p : pieces) {
        const int64_t a = std::max(position, p.at), b = std::min(position + n, p.at + p.length);
        if (b <= a) continue;
        if (!sound.read(p.read + (a - p.at), b - a, piece, &soundError)) return AVERROR(EIO);
        std::copy(piece.begin(), piece.end(), chunk.begin() + (a - position) * ch);
      }
      av_frame_unref(frame.get());
      frame->nb_samples = n;
      frame->format = AV_SAMPLE_FMT_FLTP;
      frame->sample_rate = rate;
      av_channel_layout_copy(&frame->ch_layout, &aac->ch_layout);
      int r = av_frame_get_buffer(frame.get(), 0);
      if (r < 0) return r;
      for (int c = 0; c < ch; ++c) {
        float* plane = reinterpret_cast<float*>(frame->extended_data[c]);
        for (int i = 0; i < n; ++i)
          plane[i] = chunk[static_cast<size_t>(i) * ch + c];
      }
      frame->pts = position;
      position += n;
      r = avcodec_send_frame(aac.get(), frame.get());
      if (r < 0) return r;
      r = drainAudio();
      if (r < 0) return r;
    }
    return 0;
  };
  auto failure = [&](int r) {
    if (soundError.empty()) return failed(r);
    if (error) *error = soundError;
    return RemuxResult::soundFailed;
  };

  // The demuxer may hand back packets without durations; the muxer would then invent the
  // last frame's length and the movie would outlast its edit. Each packet is held until the
  // next one tells its length; the last one lasts to the end of the stream.
  ff::PacketPtr held = ff::makePacket();
  bool holding = false;
  auto writeHeld = [&](int64_t nextTs) -> int {
    if (!holding) return 0;
    holding = false;
    const int64_t ts = held->dts != AV_NOPTS_VALUE ? held->dts : held->pts;
    if (held->duration <= 0 && nextTs != AV_NOPTS_VALUE && ts != AV_NOPTS_VALUE && nextTs > ts)
      held->duration = nextTs - ts;
    const double seconds = ts != AV_NOPTS_VALUE ? ff::toSeconds(ts, inStream->time_base) : 0;
    av_packet_rescale_ts(held.get(), inStream->time_base, vout->time_base);
    held->stream_index = vout->index;
    held->pos = -1;
    int r = av_interleaved_write_frame(out.get(), held.get());
    if (r < 0) return r;
    r = encodeUntil(std::llround((seconds + 0.5) * rate));
    return r < 0 ? r : 0;
  };
  const int64_t origin = inStream->start_time != AV_NOPTS_VALUE ? inStream->start_time : 0;
  const int64_t streamEnd = inStream->duration > 0 ? origin + inStream->duration : AV_NOPTS_VALUE;
  for (;;) {
    if (cancelled && cancelled()) return RemuxResult::cancelled;
    rc = av_read_frame(in.get(), pkt.get());
    if (rc == AVERROR_EOF) break;
    if (rc < 0) return failed(rc);
    if (pkt->stream_index != vin) {
      av_packet_unref(pkt.get());
      continue;
    }
    rc = writeHeld(pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts);
    if (rc < 0) return failure(rc);
    av_packet_move_ref(held.get(), pkt.get());
    holding = true;
  }
  if (holding && held->duration <= 0 && streamEnd != AV_NOPTS_VALUE &&
      held->pts != AV_NOPTS_VALUE && streamEnd > held->pts) {
    held->duration = streamEnd - held->pts;
  }
  rc = writeHeld(AV_NOPTS_VALUE);
  if (rc < 0) return failure(rc);
  rc = encodeUntil(soundEnd);
  if (rc < 0) return failure(rc);
  if (aac) {
    rc = avcodec_send_frame(aac.get(), nullptr);
    if (rc >= 0) rc = drainAudio();
    if (rc < 0) return failed(rc);
  }
  rc = av_write_trailer(out.get());
  if (rc >= 0 && out->pb->error < 0) rc = out->pb->error;
  if (rc < 0) return failed(rc);
  ff::closeOutput(out.get());
  return RemuxResult::ok;
}

}  // namespace vantry
