// Test helpers: what a recorded movie or sound file holds, read back with libavformat.
#pragma once

#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

#include "platform/ffmpeg/ff_util.h"

namespace vantry::test {

struct StreamFacts {
  bool present = false;
  std::string codec;
  int width = 0;
  int height = 0;
  int sampleRate = 0;
  int channels = 0;
  double start = 0;     // seconds
  double duration = 0;  // seconds, from the packets
  int packets = 0;
};

struct MediaFacts {
  bool opened = false;
  std::string container;
  StreamFacts video;
  StreamFacts audio;
};

inline MediaFacts probeMedia(const std::string& path) {
  MediaFacts facts;
  auto input = ff::openInput(path);
  if (!input) return facts;
  facts.opened = true;
  facts.container = input->iformat->name;
  std::vector<int64_t> first(input->nb_streams, AV_NOPTS_VALUE), end(input->nb_streams, 0);
  std::vector<int> count(input->nb_streams, 0);
  auto packet = ff::makePacket();
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    const int i = packet->stream_index;
    if (packet->pts != AV_NOPTS_VALUE) {
      if (first[i] == AV_NOPTS_VALUE || packet->pts < first[i]) first[i] = packet->pts;
      end[i] = std::max(end[i], packet->pts + packet->duration);
    }
    ++count[i];
    av_packet_unref(packet.get());
  }
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    AVStream* s = input->streams[i];
    StreamFacts* f = nullptr;
    if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !facts.video.present) f = &facts.video;
    if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && !facts.audio.present) f = &facts.audio;
    if (!f) continue;
    f->present = true;
    f->codec = avcodec_get_name(s->codecpar->codec_id);
    f->width = s->codecpar->width;
    f->height = s->codecpar->height;
    f->sampleRate = s->codecpar->sample_rate;
    f->channels = s->codecpar->ch_layout.nb_channels;
    f->packets = count[i];
    if (first[i] != AV_NOPTS_VALUE) {
      f->start = ff::toSeconds(first[i], s->time_base);
      f->duration = ff::toSeconds(end[i] - first[i], s->time_base);
    }
  }
  return facts;
}

// The first audio track decoded to mono float, and the presentation time of its first
// sample in seconds (the track may start later than the file's time 0).
struct DecodedSound {
  std::vector<float> samples;
  int sampleRate = 0;
  double start = 0;
};

inline DecodedSound decodeSound(const std::string& path) {
  DecodedSound out;
  auto input = ff::openInput(path);
  if (!input) return out;
  const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (index < 0) return out;
  AVStream* stream = input->streams[index];
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  ff::CodecContextPtr ctx(avcodec_alloc_context3(codec));
  avcodec_parameters_to_context(ctx.get(), stream->codecpar);
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return out;
  out.sampleRate = ctx->sample_rate;
  bool first = true;
  auto packet = ff::makePacket();
  auto frame = ff::makeFrame();
  auto take = [&]() {
    while (avcodec_receive_frame(ctx.get(), frame.get()) >= 0) {
      if (first && frame->pts != AV_NOPTS_VALUE) {
        out.start = ff::toSeconds(frame->pts, stream->time_base);
        first = false;
      }
      // AAC decodes to planar float; the first channel is enough for a mono file.
      const float* plane = reinterpret_cast<const float*>(frame->extended_data[0]);
      if (frame->format == AV_SAMPLE_FMT_FLTP || frame->format == AV_SAMPLE_FMT_FLT) {
        out.samples.insert(out.samples.end(), plane, plane + frame->nb_samples);
      }
      av_frame_unref(frame.get());
    }
  };
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    if (packet->stream_index == index && avcodec_send_packet(ctx.get(), packet.get()) >= 0) take();
    av_packet_unref(packet.get());
  }
  avcodec_send_packet(ctx.get(), nullptr);
  take();
  return out;
}

}  // namespace vantry::test
