#include "platform/v4l2/v4l2_camera.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/screen_source.h"

namespace vantry::platform {

namespace {

int xioctl(int fd, unsigned long request, void* arg) {
  int rc;
  do {
    rc = ioctl(fd, request, arg);
  } while (rc == -1 && errno == EINTR);
  return rc;
}

std::string describe(const std::string& what, int err) {
  return what + ": " + std::strerror(err);
}

CameraFailure failureFor(int err) {
  switch (err) {
    case EACCES:
    case EPERM:
      return CameraFailure::AccessDenied;
    case EBUSY:
      return CameraFailure::Busy;
    case ENODEV:
    case ENOENT:
    case ENXIO:
      return CameraFailure::NoDevice;
    default:
      return CameraFailure::CannotOpen;
  }
}

bool isCaptureDevice(int fd) {
  v4l2_capability cap{};
  if (xioctl(fd, VIDIOC_QUERYCAP, &cap) == -1) return false;
  const uint32_t caps =
      (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
  return (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
}

double bufferTime(const v4l2_buffer& buf) {
  if ((buf.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC &&
      (buf.timestamp.tv_sec != 0 || buf.timestamp.tv_usec != 0)) {
    return double(buf.timestamp.tv_sec) + double(buf.timestamp.tv_usec) * 1e-6;
  }
  return hostTime();  // a driver without monotonic stamps: the moment we got it
}

}  // namespace

std::vector<std::string> videoDeviceNodes(const std::string& dir) {
  std::vector<std::pair<long, std::string>> found;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const char* name = e->d_name;
      if (std::strncmp(name, "video", 5) != 0 || name[5] == '\0') continue;
      char* end = nullptr;
      const long n = std::strtol(name + 5, &end, 10);
      if (*end != '\0' || n < 0) continue;
      found.emplace_back(n, dir + "/" + name);
    }
    closedir(d);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> paths;
  for (auto& f : found)
    paths.push_back(std::move(f.second));
  return paths;
}

V4l2Camera::V4l2Camera(std::string devicePath, std::string deviceDir)
    : requestedPath_(std::move(devicePath)), deviceDir_(std::move(deviceDir)) {}

V4l2Camera::~V4l2Camera() {
  close();
}

bool V4l2Camera::isOpen() const {
  std::lock_guard lock(mutex_);
  return fd_ >= 0;
}

std::string V4l2Camera::devicePath() const {
  std::lock_guard lock(mutex_);
  return path_;
}

void V4l2Camera::open() {
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) return;

  std::vector<std::string> candidates =
      requestedPath_.empty() ? videoDeviceNodes(deviceDir_) : std::vector{requestedPath_};
  // The most telling reason wins when no node is usable: a refusal says more than a
  // missing device.
  CameraFailure worst = CameraFailure::NoDevice;
  std::string detail = "no video capture device in " + deviceDir_;
  auto rank = [](CameraFailure f) {
    switch (f) {
      case CameraFailure::AccessDenied:
        return 3;
      case CameraFailure::Busy:
        return 2;
      case CameraFailure::CannotOpen:
        return 1;
      default:
        return 0;
    }
  };
  for (const auto& path : candidates) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      const int err = errno;
      const CameraFailure f = failureFor(err);
      if (rank(f) > rank(worst) || (f == worst && worst == CameraFailure::NoDevice)) {
        worst = f;
        detail = describe(path, err);
      }
      continue;
    }
    if (!isCaptureDevice(fd)) {  // metadata nodes, output-only devices, plain files
      ::close(fd);
      continue;
    }
    fd_ = fd;
    path_ = path;
    break;
  }
  if (fd_ < 0) throw CameraError(worst, detail);

  try {
    configure();
  } catch (...) {
    releaseBuffers();
    ::close(fd_);
    fd_ = -1;
    throw;
  }
}

void V4l2Camera::configure() {
  // Motion JPEG keeps 720p at full frame rate on USB 2 cameras; raw YUYV is the fallback.
  bool mjpeg = false, jpeg = false, yuyv = false;
  for (uint32_t i = 0;; ++i) {
    v4l2_fmtdesc desc{};
    desc.index = i;
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(fd_, VIDIOC_ENUM_FMT, &desc) == -1) break;
    if (desc.pixelformat == V4L2_PIX_FMT_MJPEG) mjpeg = true;
    if (desc.pixelformat == V4L2_PIX_FMT_JPEG) jpeg = true;
    if (desc.pixelformat == V4L2_PIX_FMT_YUYV) yuyv = true;
  }
  if (!mjpeg && !jpeg && !yuyv) {
    throw CameraError(CameraFailure::Unsupported, path_ + ": neither Motion JPEG nor YUYV");
  }

  v4l2_format fmt{};
  fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  fmt.fmt.pix.width = kWidth;
  fmt.fmt.pix.height = kHeight;
  fmt.fmt.pix.pixelformat =
      mjpeg ? V4L2_PIX_FMT_MJPEG : (jpeg ? V4L2_PIX_FMT_JPEG : V4L2_PIX_FMT_YUYV);
  fmt.fmt.pix.field = V4L2_FIELD_ANY;
  if (xioctl(fd_, VIDIOC_S_FMT, &fmt) == -1) {
    const int err = errno;
    throw CameraError(failureFor(err), describe(path_ + " VIDIOC_S_FMT", err));
  }
  const uint32_t got = fmt.fmt.pix.pixelformat;
  CameraPixelFormat format;
  if (got == V4L2_PIX_FMT_MJPEG || got == V4L2_PIX_FMT_JPEG) {
    format = CameraPixelFormat::mjpeg;
  } else if (got == V4L2_PIX_FMT_YUYV) {
    format = CameraPixelFormat::yuyv;
  } else {
    throw CameraError(CameraFailure::Unsupported, path_ + ": the driver chose another format");
  }
  const int sourceWidth = int(fmt.fmt.pix.width);
  const int sourceHeight = int(fmt.fmt.pix.height);
  if (sourceWidth <= 0 || sourceHeight <= 0) {
    throw CameraError(CameraFailure::Unsupported, path_ + ": empty picture size");
  }

  v4l2_streamparm parm{};
  parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  parm.parm.capture.timeperframe.numerator = 1;
  parm.parm.capture.timeperframe.denominator = 30;
  xioctl(fd_, VIDIOC_S_PARM, &parm);  // a fixed-rate camera refuses; that is fine

  v4l2_requestbuffers req{};
  req.count = 4;
  req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  req.memory = V4L2_MEMORY_MMAP;
  if (xioctl(fd_, VIDIOC_REQBUFS, &req) == -1) {
    const int err = errno;
    throw CameraError(failureFor(err), describe(path_ + " VIDIOC_REQBUFS", err));
  }
  if (req.count < 2) throw CameraError(CameraFailure::CannotOpen, path_ + ": too few buffers");
  for (uint32_t i = 0; i < req.count; ++i) {
    v4l2_buffer buf{};
    buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buf.memory = V4L2_MEMORY_MMAP;
    buf.index = i;
    if (xioctl(fd_, VIDIOC_QUERYBUF, &buf) == -1) {
      const int err = errno;
      throw CameraError(failureFor(err), describe(path_ + " VIDIOC_QUERYBUF", err));
    }
    void* start = mmap(nullptr, buf.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, buf.m.offset);
    if (start == MAP_FAILED) {
      const int err = errno;
      throw CameraError(CameraFailure::CannotOpen, describe(path_ + " mmap", err));
    }
    buffers_.push_back({start, buf.length});
  }
  decoder_ =
      std::make_unique<CameraPictureDecoder>(format, sourceWidth, sourceHeight, kWidth, kHeight);
}

void V4l2Camera::releaseBuffers() {
  for (auto& b : buffers_)
    munmap(b.start, b.length);
  buffers_.clear();
  if (fd_ >= 0) {
    v4l2_requestbuffers req{};
    req.count = 0;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    xioctl(fd_, VIDIOC_REQBUFS, &req);
  }
  decoder_.reset();
}

void V4l2Camera::start(FrameHandler frames, ErrorHandler errors) {
  std::lock_guard lock(mutex_);
  frames_ = std::move(frames);
  errors_ = std::move(errors);
  if (running_) return;
  if (fd_ < 0) throw CameraError(CameraFailure::CannotOpen, "the camera is not open");
  if (thread_.joinable()) {
    // The last stream ended by itself; its thread has left the lock (running_ is false).
    thread_.join();
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    xioctl(fd_, VIDIOC_STREAMOFF, &type);
  }
  for (uint32_t i = 0; i < buffers_.size(); ++i) {
    v4l2_buffer buf{};
    buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buf.memory = V4L2_MEMORY_MMAP;
    buf.index = i;
    if (xioctl(fd_, VIDIOC_QBUF, &buf) == -1) {
      const int err = errno;
      v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      xioctl(fd_, VIDIOC_STREAMOFF, &type);  // takes back those already queued
      throw CameraError(failureFor(err), describe(path_ + " VIDIOC_QBUF", err));
    }
  }
  v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (xioctl(fd_, VIDIOC_STREAMON, &type) == -1) {
    const int err = errno;
    xioctl(fd_, VIDIOC_STREAMOFF, &type);  // takes the queued buffers back
    throw CameraError(failureFor(err), describe(path_ + " VIDIOC_STREAMON", err));
  }
  running_ = true;
  thread_ = std::jthread([this](std::stop_token st) { captureLoop(st); });
  pthread_setname_np(thread_.native_handle(), "studio.camera");
}

void V4l2Camera::stop() {
  if (thread_.joinable()) {
    thread_.request_stop();
    thread_.join();
  }
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) {
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    xioctl(fd_, VIDIOC_STREAMOFF, &type);
  }
  running_ = false;
}

void V4l2Camera::close() {
  stop();
  std::lock_guard lock(mutex_);
  releaseBuffers();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  frames_ = nullptr;
  errors_ = nullptr;
}

bool V4l2Camera::deliver(unsigned index, size_t bytes, double time) {
  FrameHandler handler;
  {
    std::lock_guard lock(mutex_);
    if (!decoder_ || index >= buffers_.size()) return false;
    bytes = std::min(bytes, buffers_[index].length);
    if (!decoder_->decode(static_cast<const uint8_t*>(buffers_[index].start), bytes)) return false;
    handler = frames_;
  }
  if (handler) {
    CameraFrame frame;
    frame.bgra = decoder_->bgra();
    frame.width = decoder_->width();
    frame.height = decoder_->height();
    frame.stride = decoder_->stride();
    frame.time = time;
    handler(frame);
  }
  return true;
}

void V4l2Camera::captureLoop(std::stop_token stop) {
  auto fail = [this](CameraError error) {
    ErrorHandler handler;
    {
      std::lock_guard lock(mutex_);
      handler = errors_;
    }
    running_ = false;  // a later start() may try again
    if (handler) handler(error);
  };
  auto requeue = [this](const v4l2_buffer& b) {
    v4l2_buffer q{};
    q.type = b.type;
    q.memory = b.memory;
    q.index = b.index;
    return xioctl(fd_, VIDIOC_QBUF, &q) == 0;
  };

  while (!stop.stop_requested()) {
    pollfd p{fd_, POLLIN, 0};
    const int rc = poll(&p, 1, 100);
    if (rc < 0) {
      if (errno == EINTR) continue;
      fail(CameraError(CameraFailure::Stopped, describe(path_ + " poll", errno)));
      return;
    }
    if (rc == 0) continue;
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
      fail(CameraError(CameraFailure::Stopped, path_ + ": the device stopped"));
      return;
    }

    // Drain everything that is ready and keep only the newest frame, so a slow consumer
    // never sees stale pictures.
    bool have = false;
    v4l2_buffer newest{};
    for (;;) {
      v4l2_buffer buf{};
      buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      buf.memory = V4L2_MEMORY_MMAP;
      if (xioctl(fd_, VIDIOC_DQBUF, &buf) == -1) {
        const int err = errno;
        if (err == EAGAIN) break;
        if (err == EIO) break;  // one damaged transfer; wait for the next one
        fail(CameraError(CameraFailure::Stopped, describe(path_ + " VIDIOC_DQBUF", err)));
        return;
      }
      if (buf.flags & V4L2_BUF_FLAG_ERROR) {
        requeue(buf);
        continue;
      }
      if (have) requeue(newest);
      newest = buf;
      have = true;
    }
    if (!have) continue;
    deliver(newest.index, newest.bytesused, bufferTime(newest));
    if (!requeue(newest)) {
      fail(CameraError(CameraFailure::Stopped, describe(path_ + " VIDIOC_QBUF", errno)));
      return;
    }
  }
}

}  // namespace vantry::platform
