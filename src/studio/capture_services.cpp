#include "studio/capture_services.h"

#include <cstring>

#include "capture/camera_companion.h"
#include "capture/camera_recorder.h"
#include "capture/display_preview.h"
#include "capture/display_recorder.h"

namespace vantry {

namespace {

class SystemPreview : public LivePreview {
 public:
  explicit SystemPreview(std::shared_ptr<platform::ScreenCapture> screen)
      : preview_(std::move(screen)) {}

  void start(platform::DisplayId display, std::optional<platform::WindowId> window) override {
    preview_.onFrame = onFrame;
    preview_.onError = onError;
    preview_.start(display, window);
  }
  void stop() override { preview_.stop(); }

 private:
  DisplayPreview preview_;
};

class SystemCamera : public LiveCamera {
 public:
  void setOnFrame(std::function<void(const QImage&)> handler) override {
    camera_->setOnFrame(std::move(handler));
  }
  void preparePreview() override { camera_->preparePreview(); }
  void stopPreview() override { camera_->stopPreview(); }
  const std::shared_ptr<CameraRecorder>& recorder() const { return camera_; }

 private:
  std::shared_ptr<CameraRecorder> camera_ = std::make_shared<CameraRecorder>();
};

class SystemRecording : public Recording {
 public:
  SystemRecording(std::shared_ptr<platform::ScreenCapture> screen, std::string folder)
      : recorder_(RecorderEnvironment{std::move(screen), {}, std::move(folder)}) {}

  void start(platform::DisplayId display, std::optional<platform::WindowId> window, bool camera,
             bool microphone, std::shared_ptr<LiveCamera> preparedCamera) override {
    recorder_.onFrame = onFrame;
    recorder_.onFailure = onFailure;
    recorder_.onEnded = onEnded;
    std::shared_ptr<CameraRecorder> prepared;
    if (auto* system = dynamic_cast<SystemCamera*>(preparedCamera.get()))
      prepared = system->recorder();
    recorder_.start(display, window, makeRecordingCompanions(camera, microphone, prepared));
  }
  Clip stop() override { return recorder_.stop(); }
  std::string warning() const override { return recorder_.warning(); }
  std::optional<double> startClock() const override { return recorder_.startClock(); }
  platform::Rect screenRect() const override { return recorder_.screenRect(); }
  platform::Size captureSize() const override {
    const auto size = recorder_.captureSize();
    return {double(size.width), double(size.height)};
  }

 private:
  DisplayRecorder recorder_;
};

class SystemCapture : public StudioCapture {
 public:
  SystemCapture(std::shared_ptr<platform::ScreenCapture> screen, std::string folder)
      : screen_(std::move(screen)), folder_(std::move(folder)) {}

  platform::ShareableContent shareableContent() override { return screen_->shareableContent(); }
  platform::ApplicationInfo ownApplication() override { return screen_->ownApplication(); }
  std::unique_ptr<LivePreview> makePreview() override {
    return std::make_unique<SystemPreview>(screen_);
  }
  std::shared_ptr<LiveCamera> makeCamera() override { return std::make_shared<SystemCamera>(); }
  std::unique_ptr<Recording> makeRecording() override {
    return std::make_unique<SystemRecording>(screen_, folder_);
  }
  std::unique_ptr<platform::PointerSource> makePointer() override {
    return screen_->createPointerSource();
  }
  QImage windowIcon(platform::WindowId id, int size) override {
    const auto icon = screen_->windowIcon(id, size);
    if (!icon) return {};
    const QImage image = windowIconImage(*icon);
    if (image.isNull() || (icon->width == size && icon->height == size)) return image;
    return image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }

 private:
  std::shared_ptr<platform::ScreenCapture> screen_;
  std::string folder_;
};

}  // namespace

QImage windowIconImage(const platform::WindowIcon& icon) {
  if (icon.width <= 0 || icon.height <= 0 ||
      icon.argb.size() != std::size_t(icon.width) * std::size_t(icon.height))
    return {};
  QImage image(icon.width, icon.height, QImage::Format_ARGB32);
  for (int y = 0; y < icon.height; ++y)
    std::memcpy(image.scanLine(y), icon.argb.data() + std::size_t(y) * icon.width,
                std::size_t(icon.width) * 4);
  return image;
}

std::shared_ptr<StudioCapture> defaultStudioCapture(std::shared_ptr<platform::ScreenCapture> screen,
                                                    std::string recordingsFolder) {
  if (!screen) screen = platform::defaultScreenCapture();
  return std::make_shared<SystemCapture>(std::move(screen), std::move(recordingsFolder));
}

std::shared_ptr<StudioCapture> defaultStudioCapture() {
  return defaultStudioCapture(nullptr, {});
}

}  // namespace vantry
