#include "platform/ffmpeg/bgra_to_yuv.h"

#include "platform/cpu_dispatch.h"

namespace vantry::ff {

namespace {

using namespace bt709;

// Simple loops over one row each, written so that the compiler vectorises them.
[[gnu::always_inline]] inline void lumaRow(const uint8_t* __restrict s, uint8_t* __restrict y,
                                           int width) {
  for (int x = 0; x < width; ++x) {
    const int b = s[4 * x], g = s[4 * x + 1], r = s[4 * x + 2];
    y[x] = uint8_t((kYR * r + kYG * g + kYB * b + (16 << 15) + (1 << 14)) >> 15);
  }
}

[[gnu::always_inline]] inline void chromaRow(const uint8_t* __restrict s0,
                                             const uint8_t* __restrict s1, uint8_t* __restrict u,
                                             uint8_t* __restrict v, int half) {
  for (int x = 0; x < half; ++x) {
    const int b = s0[8 * x] + s0[8 * x + 4] + s1[8 * x] + s1[8 * x + 4];
    const int g = s0[8 * x + 1] + s0[8 * x + 5] + s1[8 * x + 1] + s1[8 * x + 5];
    const int r = s0[8 * x + 2] + s0[8 * x + 6] + s1[8 * x + 2] + s1[8 * x + 6];
    u[x] = uint8_t((kUR * r + kUG * g + kUB * b + (128 << 17) + (1 << 16)) >> 17);
    v[x] = uint8_t((kVR * r + kVG * g + kVB * b + (128 << 17) + (1 << 16)) >> 17);
  }
}

}  // namespace

// One build for AVX2 machines and one for the rest; the loader picks at start.
VANTRY_TARGET_CLONES void bgraToYuv420Bt709(const uint8_t* bgra, int bgraStride, int width,
                                            int height, uint8_t* y, int yStride, uint8_t* u,
                                            int uStride, uint8_t* v, int vStride) {
  for (int row = 0; row + 1 < height; row += 2) {
    const uint8_t* s0 = bgra + static_cast<long>(row) * bgraStride;
    const uint8_t* s1 = s0 + bgraStride;
    lumaRow(s0, y + static_cast<long>(row) * yStride, width);
    lumaRow(s1, y + static_cast<long>(row + 1) * yStride, width);
    chromaRow(s0, s1, u + static_cast<long>(row / 2) * uStride,
              v + static_cast<long>(row / 2) * vStride, width / 2);
  }
}

namespace {

// 255/219 for luma, 255/224 times the matrix for chroma; weights in 1/8192.
constexpr int kY = 9539, kRV = 14686, kGU = -1747, kGV = -4365, kBU = 17305;

inline uint8_t clampByte(int v) {
  return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Two pixels per chroma sample, so that the loop has no halved index and vectorises.
[[gnu::always_inline]] inline void bgraRow(const uint8_t* __restrict y, const uint8_t* __restrict u,
                                           const uint8_t* __restrict v, uint8_t* __restrict out,
                                           int width) {
  for (int k = 0; k < width / 2; ++k) {
    const int cu = u[k] - 128, cv = v[k] - 128;
    const int b = kBU * cu, g = kGU * cu + kGV * cv, r = kRV * cv;
    const int l0 = (y[2 * k] - 16) * kY + (1 << 12), l1 = (y[2 * k + 1] - 16) * kY + (1 << 12);
    out[8 * k] = clampByte((l0 + b) >> 13);
    out[8 * k + 1] = clampByte((l0 + g) >> 13);
    out[8 * k + 2] = clampByte((l0 + r) >> 13);
    out[8 * k + 3] = 255;
    out[8 * k + 4] = clampByte((l1 + b) >> 13);
    out[8 * k + 5] = clampByte((l1 + g) >> 13);
    out[8 * k + 6] = clampByte((l1 + r) >> 13);
    out[8 * k + 7] = 255;
  }
}

}  // namespace

VANTRY_TARGET_CLONES void yuv420ToBgraBt709(const uint8_t* y, int yStride, const uint8_t* u,
                                            int uStride, const uint8_t* v, int vStride, int width,
                                            int height, uint8_t* bgra, int bgraStride) {
  for (int row = 0; row < height; ++row)
    bgraRow(y + static_cast<long>(row) * yStride, u + static_cast<long>(row / 2) * uStride,
            v + static_cast<long>(row / 2) * vStride, bgra + static_cast<long>(row) * bgraStride,
            width);
}

}  // namespace vantry::ff
