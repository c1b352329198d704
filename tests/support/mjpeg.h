// Makes a Motion JPEG picture as a webcam sends it, from BGRA pixels, for camera tests and
// the camera benchmark.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/ffmpeg/ff_util.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

namespace vantry::test {

// `bgra` holds width * height tightly packed pixels. A `qscale` above 0 fixes the quantiser
// (2 is near lossless); 0 leaves the encoder's default. Empty when encoding fails.
inline std::vector<uint8_t> encodeMotionJpeg(const std::vector<uint8_t>& bgra, int width,
                                             int height, int qscale = 0) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  if (!codec) return {};
  ff::CodecContextPtr ctx(avcodec_alloc_context3(codec));
  ctx->width = width;
  ctx->height = height;
  ctx->pix_fmt = AV_PIX_FMT_YUVJ422P;
  ctx->time_base = {1, 30};
  if (qscale > 0) {
    ctx->global_quality = FF_QP2LAMBDA * qscale;
    ctx->flags |= AV_CODEC_FLAG_QSCALE;
  }
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return {};
  auto frame = ff::makeFrame();
  frame->width = width;
  frame->height = height;
  frame->format = AV_PIX_FMT_YUVJ422P;
  if (av_frame_get_buffer(frame.get(), 0) < 0) return {};
  SwsContext* sws = sws_getContext(width, height, AV_PIX_FMT_BGRA, width, height,
                                   AV_PIX_FMT_YUVJ422P, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!sws) return {};
  const uint8_t* src[1] = {bgra.data()};
  const int srcStride[1] = {width * 4};
  sws_scale(sws, src, srcStride, 0, height, frame->data, frame->linesize);
  sws_freeContext(sws);
  frame->pts = 0;
  avcodec_send_frame(ctx.get(), frame.get());
  avcodec_send_frame(ctx.get(), nullptr);
  auto packet = ff::makePacket();
  if (avcodec_receive_packet(ctx.get(), packet.get()) < 0) return {};
  return std::vector<uint8_t>(packet->data, packet->data + packet->size);
}

}  // namespace vantry::test
