// BGRA (alpha ignored) to planar 4:2:0 YUV with the BT.709 matrix in limited range, in fixed
// point. A screen frame is converted sixty times a second; this is several times faster than
// the general scaler for the one case the recorder needs.
#pragma once

#include <cstdint>

namespace vantry::ff {

// The matrix: Kr 0.2126, Kb 0.0722; luma scaled to 16..235, chroma to 16..240; weights in
// 1/32768 of a level per 8-bit R'G'B' step.
namespace bt709 {
constexpr int kYR = 5983, kYG = 20127, kYB = 2032;
constexpr int kUR = -3298, kUG = -11094, kUB = 14392;
constexpr int kVR = 14392, kVG = -13073, kVB = -1319;
}  // namespace bt709

// `width` and `height` must be even. Each chroma sample is the mean of its 2x2 block.
void bgraToYuv420Bt709(const uint8_t* bgra, int bgraStride, int width, int height, uint8_t* y,
                       int yStride, uint8_t* u, int uStride, uint8_t* v, int vStride);

// The way back, for small areas of a picture that are painted in BGRA: opaque BGRA, each
// chroma sample spread over its 2x2 block. `width` and `height` must be even.
void yuv420ToBgraBt709(const uint8_t* y, int yStride, const uint8_t* u, int uStride,
                       const uint8_t* v, int vStride, int width, int height, uint8_t* bgra,
                       int bgraStride);

}  // namespace vantry::ff
