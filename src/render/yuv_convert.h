// BGRA (opaque, premultiplied) to 8-bit 4:2:0 YUV with the BT.709 matrix, limited range:
// the format the encoders take. Run on the compose workers so the encoder thread only
// encodes.
#pragma once

#include <QImage>

extern "C" {
#include <libavutil/frame.h>
}

namespace vantry {

// `frame` must be YUV420P with the image's even-rounded size.
void convertToYuv420(const QImage& image, AVFrame* frame);

}  // namespace vantry
