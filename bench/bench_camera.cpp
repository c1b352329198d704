// Camera capture costs, run by hand in a Release build:
//  1. decoding a 1280 x 720 Motion JPEG picture (as a webcam sends it) to BGRA;
//  2. converting a 1280 x 720 YUYV picture to BGRA;
//  3. recording the synthetic camera to "camera.mov" for 10 s: CPU per second of
//     recording and the frames that reached the file.
// Each figure is also given against the camera's own budget of 1/30 s per frame.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "../tests/support/mjpeg.h"
#include "capture/camera_recorder.h"
#include "cpu_time.h"
#include "platform/ffmpeg/ff_util.h"
#include "platform/synthetic/synthetic_camera.h"
#include "platform/v4l2/camera_decoder.h"

using namespace vantry;
using namespace vantry::platform;
using Clock = std::chrono::steady_clock;
using bench::cpuSeconds;

namespace {

std::vector<uint8_t> patternBgra(int w, int h) {
  std::vector<uint8_t> p(size_t(w) * h * 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* q = &p[(size_t(y) * w + x) * 4];
      q[0] = uint8_t(x);
      q[1] = uint8_t(y);
      q[2] = uint8_t((x ^ y) & 0xff);
      q[3] = 255;
    }
  }
  return p;
}

std::vector<uint8_t> encodeJpeg(int w, int h) {
  return test::encodeMotionJpeg(patternBgra(w, h), w, h);
}

template <typename F>
double perCall(int n, F f) {
  const auto t0 = Clock::now();
  for (int i = 0; i < n; ++i)
    f();
  return std::chrono::duration<double>(Clock::now() - t0).count() / n;
}

}  // namespace

int main() {
  constexpr double budget = 1.0 / 30;
  const auto jpeg = encodeJpeg(1280, 720);
  CameraPictureDecoder mjpeg(CameraPixelFormat::mjpeg, 1280, 720, 1280, 720);
  const double mjpegTime = perCall(200, [&] { mjpeg.decode(jpeg.data(), jpeg.size()); });
  std::printf("mjpeg 1280x720 -> bgra: %.2f ms/frame (%.1fx faster than 30 fps)\n", mjpegTime * 1e3,
              budget / mjpegTime);

  std::vector<uint8_t> yuyv(size_t(1280) * 720 * 2, 128);
  CameraPictureDecoder raw(CameraPixelFormat::yuyv, 1280, 720, 1280, 720);
  const double yuyvTime = perCall(200, [&] { raw.decode(yuyv.data(), yuyv.size()); });
  std::printf("yuyv 1280x720 -> bgra: %.2f ms/frame (%.1fx faster than 30 fps)\n", yuyvTime * 1e3,
              budget / yuyvTime);

  // The synthetic camera's own painting is part of the measured CPU; measure it alone first.
  {
    SyntheticCamera camera;
    camera.open();
    const double c0 = cpuSeconds();
    camera.start([](const CameraFrame&) {}, {});
    std::this_thread::sleep_for(std::chrono::seconds(3));
    camera.stop();
    std::printf("synthetic camera alone: %.3f CPU s per second\n", (cpuSeconds() - c0) / 3);
  }

  char pattern[] = "/tmp/vantry-bench-camera-XXXXXX";
  const std::filesystem::path dir = mkdtemp(pattern);
  const std::string path = (dir / "camera.mov").string();
  {
    CameraRecorder recorder([] { return std::make_unique<SyntheticCamera>(); });
    recorder.preparePreview();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const double c0 = cpuSeconds();
    const auto t0 = Clock::now();
    recorder.start(path, false);
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const auto s0 = Clock::now();
    recorder.endRecording();
    const auto s1 = Clock::now();
    recorder.finishRecording();
    const auto s2 = Clock::now();
    const double wall = std::chrono::duration<double>(s2 - t0).count();
    std::printf("camera.mov 1280x720 for %.1f s: %.3f CPU s per second\n", wall,
                (cpuSeconds() - c0) / wall);
    std::printf("ending the recording: %.1f ms; completing the file: %.1f ms\n",
                std::chrono::duration<double, std::milli>(s1 - s0).count(),
                std::chrono::duration<double, std::milli>(s2 - s1).count());
  }
  auto input = ff::openInput(path);
  int packets = 0;
  if (input) {
    auto packet = ff::makePacket();
    while (av_read_frame(input.get(), packet.get()) >= 0) {
      ++packets;
      av_packet_unref(packet.get());
    }
  }
  std::printf("frames in camera.mov: %d of about 300 (%.1f%%)\n", packets, packets / 3.0);
  std::filesystem::remove_all(dir);
  return 0;
}
