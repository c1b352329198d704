// The screen's colour conversion: BT.709 in limited range, as the file's tags promise.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "platform/ffmpeg/bgra_to_yuv.h"

namespace vantry {
namespace {

struct Yuv {
  int y, u, v;
};

Yuv convertSolid(uint8_t b, uint8_t g, uint8_t r) {
  std::vector<uint8_t> bgra(4 * 4 * 2);
  for (size_t i = 0; i < bgra.size(); i += 4) {
    bgra[i] = b;
    bgra[i + 1] = g;
    bgra[i + 2] = r;
    bgra[i + 3] = 255;
  }
  std::vector<uint8_t> y(8), u(2), v(2);
  ff::bgraToYuv420Bt709(bgra.data(), 16, 4, 2, y.data(), 4, u.data(), 2, v.data(), 2);
  return {y[3], u[1], v[1]};
}

// BT.709 from its definition: Kr 0.2126, Kb 0.0722, luma 16..235, chroma 16..240.
Yuv reference(double b, double g, double r) {
  const double yy = 0.2126 * r + 0.7152 * g + 0.0722 * b;
  return {int(std::lround(16 + 219 * yy / 255)),
          int(std::lround(128 + 224 * (b - yy) / 1.8556 / 255)),
          int(std::lround(128 + 224 * (r - yy) / 1.5748 / 255))};
}

TEST(FfmpegBgraToYuv, PrimariesGreysAndMixesFollowBt709LimitedRange) {
  const uint8_t colours[][3] = {{0, 0, 0},   {255, 255, 255}, {0, 0, 255},    {0, 255, 0},
                                {255, 0, 0}, {128, 128, 128}, {40, 180, 240}, {17, 99, 3}};
  for (const auto& c : colours) {
    const Yuv got = convertSolid(c[0], c[1], c[2]);
    const Yuv want = reference(c[0], c[1], c[2]);
    EXPECT_NEAR(got.y, want.y, 1) << int(c[0]) << "," << int(c[1]) << "," << int(c[2]);
    EXPECT_NEAR(got.u, want.u, 1) << int(c[0]) << "," << int(c[1]) << "," << int(c[2]);
    EXPECT_NEAR(got.v, want.v, 1) << int(c[0]) << "," << int(c[1]) << "," << int(c[2]);
  }
  // The extremes exactly.
  EXPECT_EQ(convertSolid(0, 0, 0).y, 16);
  EXPECT_EQ(convertSolid(255, 255, 255).y, 235);
  EXPECT_EQ(convertSolid(255, 255, 255).u, 128);
  EXPECT_EQ(convertSolid(0, 0, 255).v, 240);
}

TEST(FfmpegBgraToYuv, ChromaIsTheMeanOfEachTwoByTwoBlockAndStridesAreHonoured) {
  // A 4x2 picture in a wider buffer: left block black and white, right block all red.
  const int stride = 4 * 6;
  std::vector<uint8_t> bgra(stride * 2, 0xEE);
  auto put = [&](int x, int y, uint8_t b, uint8_t g, uint8_t r) {
    uint8_t* p = &bgra[y * stride + x * 4];
    p[0] = b, p[1] = g, p[2] = r, p[3] = 255;
  };
  put(0, 0, 0, 0, 0), put(1, 0, 255, 255, 255), put(0, 1, 255, 255, 255), put(1, 1, 0, 0, 0);
  for (int x = 2; x < 4; ++x)
    for (int y = 0; y < 2; ++y)
      put(x, y, 0, 0, 255);
  std::vector<uint8_t> y(2 * 8, 0), u(2 * 5, 0), v(2 * 5, 0);
  ff::bgraToYuv420Bt709(bgra.data(), stride, 4, 2, y.data(), 8, u.data(), 5, v.data(), 5);
  EXPECT_EQ(y[0], 16);
  EXPECT_EQ(y[1], 235);
  EXPECT_EQ(y[8], 235);
  EXPECT_EQ(y[9], 16);
  EXPECT_EQ(y[4], 0);  // beyond the width: untouched
  EXPECT_EQ(u[0], 128);
  EXPECT_EQ(v[0], 128);
  EXPECT_EQ(v[1], 240);
  EXPECT_EQ(u[2], 0);
}

TEST(FfmpegBgraToYuv, AgreesWithTheGeneralScalerOnAnImage) {
  const int w = 64, h = 32;
  std::vector<uint8_t> bgra(w * h * 4);
  for (size_t i = 0; i < bgra.size(); ++i)
    bgra[i] = uint8_t((i * 37) ^ (i >> 5));
  std::vector<uint8_t> y(w * h), u(w * h / 4), v(w * h / 4);
  ff::bgraToYuv420Bt709(bgra.data(), w * 4, w, h, y.data(), w, u.data(), w / 2, v.data(), w / 2);

  SwsContext* sws =
      sws_getContext(w, h, AV_PIX_FMT_BGRA, w, h, AV_PIX_FMT_YUV420P,
                     SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr, nullptr);
  const int* table = sws_getCoefficients(SWS_CS_ITU709);
  sws_setColorspaceDetails(sws, table, 1, table, 0, 0, 1 << 16, 1 << 16);
  std::vector<uint8_t> y2(w * h), u2(w * h / 4), v2(w * h / 4);
  const uint8_t* src[4] = {bgra.data()};
  const int srcStride[4] = {w * 4};
  uint8_t* dst[4] = {y2.data(), u2.data(), v2.data()};
  const int dstStride[4] = {w, w / 2, w / 2};
  sws_scale(sws, src, srcStride, 0, h, dst, dstStride);
  sws_freeContext(sws);
  for (int i = 0; i < w * h; ++i)
    ASSERT_NEAR(y[i], y2[i], 2) << "luma " << i;
}

}  // namespace
}  // namespace vantry
