#include "platform/ffmpeg/tempo_filter.h"

#include <cstdio>
#include <cstring>

#include "platform/ffmpeg/ff_util.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace vantry {

std::unique_ptr<TempoFilter> TempoFilter::make(int rate, int channels, double tempo,
                                               std::string* error) {
  std::unique_ptr<TempoFilter> f(new TempoFilter());
  f->rate_ = rate;
  f->channels_ = channels;
  f->tempo_ = tempo;
  auto failWith = [&](int rc) -> std::unique_ptr<TempoFilter> {
    if (error) *error = ff::errorText(rc);
    return nullptr;
  };
  f->graph_ = avfilter_graph_alloc();
  if (!f->graph_) return failWith(AVERROR(ENOMEM));
  char args[160];
  std::snprintf(args, sizeof args, "time_base=1/%d:sample_rate=%d:sample_fmt=flt:channel_layout=%s",
                rate, rate, channels == 1 ? "mono" : "stereo");
  int rc = avfilter_graph_create_filter(&f->source_, avfilter_get_by_name("abuffer"), "in", args,
                                        nullptr, f->graph_);
  if (rc < 0) return failWith(rc);
  AVFilterContext* atempo = nullptr;
  std::snprintf(args, sizeof args, "tempo=%.6f", tempo);
  rc = avfilter_graph_create_filter(&atempo, avfilter_get_by_name("atempo"), "tempo", args, nullptr,
                                    f->graph_);
  if (rc < 0) return failWith(rc);
  rc = avfilter_graph_create_filter(&f->sink_, avfilter_get_by_name("abuffersink"), "out", nullptr,
                                    nullptr, f->graph_);
  if (rc < 0) return failWith(rc);
  const AVSampleFormat formats[] = {AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_NONE};
  rc = av_opt_set_int_list(f->sink_, "sample_fmts", formats, AV_SAMPLE_FMT_NONE,
                           AV_OPT_SEARCH_CHILDREN);
  if (rc < 0) return failWith(rc);
  if ((rc = avfilter_link(f->source_, 0, atempo, 0)) < 0) return failWith(rc);
  if ((rc = avfilter_link(atempo, 0, f->sink_, 0)) < 0) return failWith(rc);
  if ((rc = avfilter_graph_config(f->graph_, nullptr)) < 0) return failWith(rc);
  return f;
}

TempoFilter::~TempoFilter() {
  avfilter_graph_free(&graph_);
}

bool TempoFilter::push(const float* samples, int frames, std::vector<float>& out,
                       std::string* error) {
  ff::FramePtr frame = ff::makeFrame();
  frame->format = AV_SAMPLE_FMT_FLT;
  frame->sample_rate = rate_;
  frame->nb_samples = frames;
  frame->pts = pts_;
  av_channel_layout_default(&frame->ch_layout, channels_);
  int rc = av_frame_get_buffer(frame.get(), 0);
  if (rc >= 0) {
    std::memcpy(frame->data[0], samples, sizeof(float) * size_t(frames) * size_t(channels_));
    pts_ += frames;
    rc = av_buffersrc_add_frame(source_, frame.get());
  }
  if (rc < 0) {
    if (error) *error = ff::errorText(rc);
    return false;
  }
  return drain(out, error);
}

bool TempoFilter::finish(std::vector<float>& out, std::string* error) {
  const int rc = av_buffersrc_add_frame(source_, nullptr);
  if (rc < 0 && rc != AVERROR_EOF) {
    if (error) *error = ff::errorText(rc);
    return false;
  }
  return drain(out, error);
}

bool TempoFilter::drain(std::vector<float>& out, std::string* error) {
  ff::FramePtr frame = ff::makeFrame();
  for (;;) {
    const int rc = av_buffersink_get_frame(sink_, frame.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) {
      if (error) *error = ff::errorText(rc);
      return false;
    }
    const auto* data = reinterpret_cast<const float*>(frame->data[0]);
    out.insert(out.end(), data, data + size_t(frame->nb_samples) * size_t(channels_));
    av_frame_unref(frame.get());
  }
}

}  // namespace vantry
