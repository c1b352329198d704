// The V4L2 camera's picture decoding and device discovery. Test machines have no camera:
// the device paths are exercised with folders that hold none, and the pictures with
// buffers made here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/screen_source.h"
#include "platform/synthetic/synthetic_camera.h"
#include "platform/v4l2/camera_decoder.h"
#include "platform/v4l2/v4l2_camera.h"
#include "support/mjpeg.h"
#include "support/temp_dir.h"

using namespace vantry;
using namespace vantry::platform;

namespace {

struct Bgra {
  int b, g, r;
};

Bgra pixel(const CameraPictureDecoder& d, int x, int y) {
  const uint8_t* p = d.bgra() + size_t(y) * d.stride() + size_t(x) * 4;
  return {p[0], p[1], p[2]};
}

void expectColour(Bgra got, Bgra want, int tolerance, const char* where) {
  EXPECT_NEAR(got.r, want.r, tolerance) << where;
  EXPECT_NEAR(got.g, want.g, tolerance) << where;
  EXPECT_NEAR(got.b, want.b, tolerance) << where;
}

// A 640 x 480 Motion JPEG picture: left half red, right half blue, as a webcam sends it.
std::vector<uint8_t> makeJpeg() {
  const int w = 640, h = 480;
  std::vector<uint8_t> rgb(size_t(w) * h * 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &rgb[(size_t(y) * w + x) * 4];
      const bool left = x < w / 2;
      p[0] = left ? 0 : 255;  // B
      p[1] = 0;
      p[2] = left ? 255 : 0;  // R
      p[3] = 255;
    }
  }
  return vantry::test::encodeMotionJpeg(rgb, w, h, 2);
}

struct TempDir : vantry::test::TempDir {
  TempDir() : vantry::test::TempDir("vantry-v4l2") {}
};

}  // namespace

TEST(CameraPictureDecoder, MotionJpegBecomesBgraAtTheOutputSize) {
  const auto jpeg = makeJpeg();
  ASSERT_FALSE(jpeg.empty());
  CameraPictureDecoder decoder(CameraPixelFormat::mjpeg, 640, 480, 1280, 720);
  ASSERT_TRUE(decoder.decode(jpeg.data(), jpeg.size())) << decoder.error();
  EXPECT_EQ(decoder.width(), 1280);
  EXPECT_EQ(decoder.height(), 720);
  expectColour(pixel(decoder, 100, 360), {0, 0, 255}, 12, "left half is red");
  expectColour(pixel(decoder, 1180, 360), {255, 0, 0}, 12, "right half is blue");
}

TEST(CameraPictureDecoder, DamagedPictureIsSkippedAndTheNextOneDecodes) {
  const auto jpeg = makeJpeg();
  ASSERT_FALSE(jpeg.empty());
  CameraPictureDecoder decoder(CameraPixelFormat::mjpeg, 640, 480, 1280, 720);
  std::vector<uint8_t> garbage(4096, 0x5a);
  EXPECT_FALSE(decoder.decode(garbage.data(), garbage.size()));
  EXPECT_FALSE(decoder.error().empty());
  EXPECT_FALSE(decoder.decode(jpeg.data(), 0));
  ASSERT_TRUE(decoder.decode(jpeg.data(), jpeg.size())) << decoder.error();
  expectColour(pixel(decoder, 100, 100), {0, 0, 255}, 12, "red after recovery");
}

TEST(CameraPictureDecoder, YuyvIsVideoRangeBt601) {
  // Four 2-pixel groups: white, black, red, green (BT.601, 16..235).
  const int w = 8, h = 2;
  const uint8_t groups[4][4] = {
      {235, 128, 235, 128},  // white: Y U Y V
      {16, 128, 16, 128},    // black
      {81, 90, 81, 240},     // red
      {145, 54, 145, 34},    // green
  };
  std::vector<uint8_t> buffer;
  for (int y = 0; y < h; ++y) {
    for (const auto& g : groups)
      buffer.insert(buffer.end(), g, g + 4);
  }
  CameraPictureDecoder decoder(CameraPixelFormat::yuyv, w, h, w, h);
  ASSERT_TRUE(decoder.decode(buffer.data(), buffer.size())) << decoder.error();
  expectColour(pixel(decoder, 0, 0), {255, 255, 255}, 4, "white");
  expectColour(pixel(decoder, 2, 0), {0, 0, 0}, 4, "black");
  expectColour(pixel(decoder, 4, 1), {0, 0, 255}, 6, "red");
  expectColour(pixel(decoder, 6, 1), {0, 255, 0}, 6, "green");
  EXPECT_FALSE(decoder.decode(buffer.data(), buffer.size() - 1)) << "a short buffer is refused";
}

TEST(CameraPictureDecoder, OtherShapesAreCutAroundTheCentreNotStretched) {
  // A 4:3 picture (16 x 12) into a 16:9 output (16 x 9): nine rows from row 1 are kept.
  const int w = 16, h = 12;
  std::vector<uint8_t> buffer;
  for (int y = 0; y < h; ++y) {
    const uint8_t luma = y == 0 ? 81 : (y >= 10 ? 16 : 235);  // red-ish top, black bottom
    const uint8_t v = y == 0 ? 240 : 128;
    const uint8_t u = y == 0 ? 90 : 128;
    for (int x = 0; x < w; x += 2) {
      const uint8_t group[4] = {luma, u, luma, v};
      buffer.insert(buffer.end(), group, group + 4);
    }
  }
  CameraPictureDecoder decoder(CameraPixelFormat::yuyv, w, h, 16, 9);
  ASSERT_TRUE(decoder.decode(buffer.data(), buffer.size())) << decoder.error();
  for (int y = 0; y < 9; ++y) {
    expectColour(pixel(decoder, 8, y), {255, 255, 255}, 4, "only the white middle is kept");
  }
}

TEST(V4l2Camera, DeviceNodesAreFoundInNumberOrder) {
  TempDir dir;
  for (const char* name : {"video10", "video2", "video0", "videoX", "video", "video1a", "vbi0"}) {
    std::ofstream(dir.path / name) << "";
  }
  const auto nodes = videoDeviceNodes(dir.path.string());
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_EQ(nodes[0], (dir.path / "video0").string());
  EXPECT_EQ(nodes[1], (dir.path / "video2").string());
  EXPECT_EQ(nodes[2], (dir.path / "video10").string());
}

TEST(V4l2Camera, NoCaptureDeviceIsReportedAsNoDevice) {
  TempDir empty;
  V4l2Camera none({}, empty.path.string());
  try {
    none.open();
    FAIL() << "opened a camera in an empty folder";
  } catch (const CameraError& e) {
    EXPECT_EQ(e.kind(), CameraFailure::NoDevice);
  }
  EXPECT_FALSE(none.isOpen());

  // Nodes that are not capture devices (here plain files) are passed over.
  TempDir fakes;
  std::ofstream(fakes.path / "video0") << "not a device";
  V4l2Camera notCameras({}, fakes.path.string());
  try {
    notCameras.open();
    FAIL() << "a plain file is no camera";
  } catch (const CameraError& e) {
    EXPECT_EQ(e.kind(), CameraFailure::NoDevice);
  }

  V4l2Camera missing("/nonexistent/video0");
  try {
    missing.open();
    FAIL();
  } catch (const CameraError& e) {
    EXPECT_EQ(e.kind(), CameraFailure::NoDevice);
  }
  // Closing or stopping a camera that never opened is harmless.
  missing.stop();
  missing.close();
}

TEST(CameraSourceChoice, EnvironmentSelectsTheSyntheticCamera) {
  setenv("VANTRY_SYNTHETIC_CAMERA", "1", 1);
  auto synthetic = makeCameraSource();
  EXPECT_NE(dynamic_cast<SyntheticCamera*>(synthetic.get()), nullptr);
  setenv("VANTRY_SYNTHETIC_CAMERA", "0", 1);
  auto real = makeCameraSource();
  EXPECT_NE(dynamic_cast<V4l2Camera*>(real.get()), nullptr);
  unsetenv("VANTRY_SYNTHETIC_CAMERA");
  EXPECT_NE(dynamic_cast<V4l2Camera*>(makeCameraSource().get()), nullptr);
}

TEST(SyntheticCamera, DeliversAMovingPatternAtThirtyFramesOnTheHostClock) {
  SyntheticCamera camera;
  camera.open();
  std::mutex m;
  std::vector<double> times;
  std::vector<uint8_t> firstRow, laterRow;
  const double began = hostTime();
  camera.start(
      [&](const CameraFrame& f) {
        std::lock_guard lock(m);
        times.push_back(f.time);
        std::vector<uint8_t> row(f.bgra + size_t(f.height / 2) * f.stride,
                                 f.bgra + size_t(f.height / 2 + 1) * f.stride);
        if (times.size() == 1) firstRow = row;
        if (times.size() == 15) laterRow = row;
      },
      {});
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  camera.stop();
  const double ran = hostTime() - began;  // the sleep may overrun on a busy machine
  std::lock_guard lock(m);
  EXPECT_LE(double(times.size()), ran * 30.0 + 2.0);  // never faster than 30 a second
  EXPECT_GE(times.size(), 15u);                       // and not far behind, even on a busy machine
  for (size_t i = 1; i < times.size(); ++i)
    EXPECT_GT(times[i], times[i - 1]);
  EXPECT_LE(times.back(), hostTime());
  EXPECT_NE(firstRow, laterRow) << "the pattern moves";
}
