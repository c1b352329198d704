// BGRA (alpha ignored) to planar 4:2:0 YUV with the BT.709 matrix in limited range, in fixed
// point. A screen frame is converted sixty times a second; this is several times faster than
// the general scaler for the one case the recorder needs.
#pragma once

#include <cstdint>

namespace vantry::ff {

// `width` and `height` must be even. Each chroma sample is the mean of its 2x2 block.
void bgraToYuv420Bt709(const uint8_t* bgra, int bgraStride, int width, int height, uint8_t* y,
                       int yStride, uint8_t* u, int uStride, uint8_t* v, int vStride);

// The way back, for small areas of a picture that are painted in BGRA: opaque BGRA, each
// chroma sample spread over its 2x2 block. `width` and `height` must be even.
void yuv420ToBgraBt709(const uint8_t* y, int yStride, const uint8_t* u, int uStride,
                       const uint8_t* v, int vStride, int width, int height, uint8_t* bgra,
                       int bgraStride);

}  // namespace vantry::ff
