#include "render/yuv_convert.h"

#include <algorithm>
#include <cstdint>

namespace vantry {

namespace {

// BT.709 limited range, 16-bit fixed point.
constexpr int kYR = 11966, kYG = 40254, kYB = 4064;    // 0.182586 0.614231 0.062007
constexpr int kUR = -6596, kUG = -22189, kUB = 28784;  // -0.100644 -0.338572 0.439216
constexpr int kVR = 28784, kVG = -26145, kVB = -2639;  // 0.439216 -0.398942 -0.040274
constexpr int kRound = 1 << 15;

inline uint8_t luma(uint32_t p) {
  const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
  return static_cast<uint8_t>(((kYR * r + kYG * g + kYB * b + kRound) >> 16) + 16);
}

}  // namespace

void convertToYuv420(const QImage& image, AVFrame* frame) {
  const int w = std::min(image.width(), frame->width);
  const int h = std::min(image.height(), frame->height);
  for (int y = 0; y < h; y += 2) {
    const uint32_t* row0 = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
    const uint32_t* row1 =
        reinterpret_cast<const uint32_t*>(image.constScanLine(std::min(y + 1, h - 1)));
    uint8_t* y0 = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
    uint8_t* y1 = frame->data[0] +
                  static_cast<ptrdiff_t>(std::min(y + 1, frame->height - 1)) * frame->linesize[0];
    uint8_t* u = frame->data[1] + static_cast<ptrdiff_t>(y / 2) * frame->linesize[1];
    uint8_t* v = frame->data[2] + static_cast<ptrdiff_t>(y / 2) * frame->linesize[2];
    for (int x = 0; x < w; ++x) {
      y0[x] = luma(row0[x]);
      y1[x] = luma(row1[x]);
    }
    for (int x = 0; x < w; x += 2) {
      const int x1 = std::min(x + 1, w - 1);
      const uint32_t a = row0[x], b = row0[x1], c = row1[x], d = row1[x1];
      const int r =
          (((a >> 16) & 0xFF) + ((b >> 16) & 0xFF) + ((c >> 16) & 0xFF) + ((d >> 16) & 0xFF) + 2) >>
          2;
      const int g =
          (((a >> 8) & 0xFF) + ((b >> 8) & 0xFF) + ((c >> 8) & 0xFF) + ((d >> 8) & 0xFF) + 2) >> 2;
      const int bl = ((a & 0xFF) + (b & 0xFF) + (c & 0xFF) + (d & 0xFF) + 2) >> 2;
      u[x / 2] = static_cast<uint8_t>(((kUR * r + kUG * g + kUB * bl + kRound) >> 16) + 128);
      v[x / 2] = static_cast<uint8_t>(((kVR * r + kVG * g + kVB * bl + kRound) >> 16) + 128);
    }
  }
}

}  // namespace vantry
