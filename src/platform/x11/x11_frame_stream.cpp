#include "platform/x11/x11_frame_stream.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xfixes.h>
#include <pthread.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "localization/localization.h"
#include "platform/x11/x11_windows.h"

namespace vantry::platform::x11 {
namespace {

XTransform scaleTransform(double inverseScale, double ox, double oy) {
  XTransform t{};
  t.matrix[0][0] = XDoubleToFixed(inverseScale);
  t.matrix[0][2] = XDoubleToFixed(ox);
  t.matrix[1][1] = XDoubleToFixed(inverseScale);
  t.matrix[1][2] = XDoubleToFixed(oy);
  t.matrix[2][2] = XDoubleToFixed(1);
  return t;
}

struct Fit {
  double scale = 1;
  int x = 0, y = 0, width = 0, height = 0;  // placement inside the frame
};

// `w` x `h` scaled to fit inside the frame, proportions kept, centred.
Fit fitInside(double w, double h, int frameW, int frameH) {
  Fit f;
  if (!(w > 0) || !(h > 0)) return f;
  f.scale = std::min(frameW / w, frameH / h);
  f.width = std::clamp(int(std::lround(w * f.scale)), 1, frameW);
  f.height = std::clamp(int(std::lround(h * f.scale)), 1, frameH);
  f.x = (frameW - f.width) / 2;
  f.y = (frameH - f.height) / 2;
  return f;
}

}  // namespace

bool canCompose(Connection& c) {
  Display* dpy = c.display();
  int event = 0, error = 0, major = 0, minor = 2;
  if (getenv("VANTRY_X11_NO_COMPOSITE")) return false;  // exercises the fallback
  // The composed picture is read back through shared memory (a remote display has none).
  return XShmQueryExtension(dpy) && XRenderQueryExtension(dpy, &event, &error) &&
         XCompositeQueryExtension(dpy, &event, &error) &&
         XCompositeQueryVersion(dpy, &major, &minor) && (major > 0 || minor >= 2) &&
         XFixesQueryExtension(dpy, &event, &error);
}

X11FrameStream::X11FrameStream(ContentFilter filter, StreamConfiguration config,
                               Callbacks callbacks)
    : filter_(std::move(filter)), config_(config), callbacks_(std::move(callbacks)) {
  config_.width = std::max(config_.width, 2);
  config_.height = std::max(config_.height, 2);
  if (!(config_.minimumFrameInterval > 0)) config_.minimumFrameInterval = 1.0 / 60.0;
  config_.queueDepth = std::clamp(config_.queueDepth, 1, 16);
}

X11FrameStream::~X11FrameStream() {
  stop();
}

void X11FrameStream::start() {
  stop();
  c_ = std::make_unique<Connection>(true);  // made for a display or window listed just before
  setUp();
  ended_ = false;
  thread_ = std::jthread([this](std::stop_token token) { run(token); });
  pthread_setname_np(thread_.native_handle(), "studio.grab");
}

void X11FrameStream::stop() {
  if (thread_.joinable()) {
    thread_.request_stop();
    wake_.notify_all();
    thread_.join();
  }
  tearDown();
  c_.reset();
}

void X11FrameStream::setUp() {
  Display* dpy = c_->display();
  // A server that goes away part way (its compositing can die of a huge window) answers
  // nothing more: each step that asks it is checked before what it returned is used.
  int event = 0, error = 0, major = 0, minor = 0;
  Bool pixmaps = False;
  shm_ = XShmQueryExtension(dpy) && XShmQueryVersion(dpy, &major, &minor, &pixmaps);
  c_->stillThere();
  render_ = XRenderQueryExtension(dpy, &event, &error);
  c_->stillThere();
  composite_ = canCompose(*c_);

  if (filter_.kind == ContentFilter::Kind::display) {
    monitor_ = filter_.rect;
    for (const DisplayInfo& d : listDisplays(*c_)) {
      if (d.id == filter_.display) monitor_ = d.frame;
    }
  } else if (!windowFrame(*c_, Window(filter_.window))) {
    c_->stillThere();
    throw PlatformError(L("所选窗口已关闭，请重新选择。"));
  }
  c_->stillThere();
  if (composite_) {
    // Automatic redirection keeps the screen as it is and gives every window its own
    // pixmap; it ends with this connection.
    XCompositeRedirectSubwindows(dpy, c_->root(), CompositeRedirectAutomatic);
    XSync(dpy, False);
    c_->stillThere();
  }

  const int w = config_.width, h = config_.height;
  XRenderPictFormat* rootFormat = nullptr;
  if (render_) {
    argb_ = XRenderFindStandardFormat(dpy, PictStandardARGB32);
    XWindowAttributes ra{};
    if (XGetWindowAttributes(dpy, c_->root(), &ra))
      rootFormat = XRenderFindVisualFormat(dpy, ra.visual);
    c_->stillThere();
    // Without the formats nothing can be composed: the plain read below serves.
    if (!argb_ || !rootFormat) render_ = false;
  }
  if (render_) {
    target_ = XCreatePixmap(dpy, c_->root(), w, h, 32);
    targetPic_ = XRenderCreatePicture(dpy, target_, argb_, 0, nullptr);
    XRenderPictureAttributes pa{};
    pa.subwindow_mode = IncludeInferiors;
    rootPic_ = XRenderCreatePicture(dpy, c_->root(), rootFormat, CPSubwindowMode, &pa);
    XRenderColor black{0, 0, 0, 0xffff};
    XRenderFillRectangle(dpy, PictOpSrc, targetPic_, &black, 0, 0, w, h);
  }
  if (render_ && shm_) {
    image_ = XShmCreateImage(dpy, DefaultVisual(dpy, DefaultScreen(dpy)), 32, ZPixmap, nullptr,
                             &shmInfo_, w, h);
    if (image_) {
      shmInfo_.shmid =
          shmget(IPC_PRIVATE, std::size_t(image_->bytes_per_line) * h, IPC_CREAT | 0600);
      shmInfo_.shmaddr = image_->data = shmInfo_.shmid >= 0
                                            ? static_cast<char*>(shmat(shmInfo_.shmid, nullptr, 0))
                                            : reinterpret_cast<char*>(-1);
      shmInfo_.readOnly = False;
      const bool attached = shmInfo_.shmaddr != reinterpret_cast<char*>(-1) &&
                            c_->checked([&] { XShmAttach(dpy, &shmInfo_); });
      // Marked for removal now: it goes away with the last detach, even after a crash.
      if (shmInfo_.shmid >= 0) shmctl(shmInfo_.shmid, IPC_RMID, nullptr);
      if (!attached) {
        if (shmInfo_.shmaddr != reinterpret_cast<char*>(-1)) shmdt(shmInfo_.shmaddr);
        image_->data = nullptr;
        XDestroyImage(image_);
        image_ = nullptr;
        shmInfo_ = {};
        shm_ = false;
      }
    } else {
      shm_ = false;
    }
  }
  if (!render_ || !shm_) composite_ = false;  // the plain read cannot leave windows out
  XSync(dpy, False);
  c_->stillThere();
}

void X11FrameStream::tearDown() {
  if (!c_) return;
  Display* dpy = c_->display();
  if (!c_->dead()) {
    if (image_) XShmDetach(dpy, &shmInfo_);
    if (nativePic_) XRenderFreePicture(dpy, nativePic_);
    if (native_) XFreePixmap(dpy, native_);
    if (targetPic_) XRenderFreePicture(dpy, targetPic_);
    if (target_) XFreePixmap(dpy, target_);
    if (rootPic_) XRenderFreePicture(dpy, rootPic_);
    XSync(dpy, False);
  }
  if (image_) {
    shmdt(shmInfo_.shmaddr);
    image_->data = nullptr;
    XDestroyImage(image_);
  }
  image_ = nullptr;
  shmInfo_ = {};
  nativePic_ = native_ = targetPic_ = target_ = rootPic_ = None;
  nativeW_ = nativeH_ = 0;
  own_.clear();
  ownTops_.clear();
  top_ = None;
}

void X11FrameStream::fail(const std::string& message) {
  ended_ = true;
  if (callbacks_.onStopped) callbacks_.onStopped(std::make_exception_ptr(PlatformError(message)));
}

void X11FrameStream::run(std::stop_token token) {
  using clock = std::chrono::steady_clock;
  const auto interval = std::chrono::duration_cast<clock::duration>(
      std::chrono::duration<double>(config_.minimumFrameInterval));
  auto deadline = clock::now();
  while (!token.stop_requested() && !ended_) {
    {
      std::unique_lock lock(mutex_);
      wake_.wait_until(lock, token, deadline, [] { return false; });
    }
    if (token.stop_requested()) break;
    const double now = hostTime();
    if (c_->dead()) {
      fail(lostDisplayMessage());
      break;
    }
    checkStillThere(now);
    if (ended_) break;
    if (auto buffer = freeBuffer()) {
      Frame frame;
      frame.timestamp = now;
      if (grab(*buffer)) {
        frame.image = std::move(buffer);
        if (callbacks_.onFrame) callbacks_.onFrame(frame);
      }
    }
    // Absolute deadlines: a late grab shortens the next wait instead of shifting the grid.
    // A deadline missed by less than a period is grabbed at once; beyond that, the missed
    // ones are dropped and the latest of them is grabbed at once.
    deadline += interval;
    const auto after = clock::now();
    if (after - deadline >= interval) deadline += ((after - deadline) / interval) * interval;
  }
}

void X11FrameStream::checkStillThere(double now) {
  if (now - lastCheck_ < 1.0) return;
  lastCheck_ = now;
  if (filter_.kind == ContentFilter::Kind::display) {
    for (const DisplayInfo& d : listDisplays(*c_)) {
      if (d.id == filter_.display) {
        if (d.frame.width != monitor_.width || d.frame.height != monitor_.height) {
          if (nativePic_) XRenderFreePicture(c_->display(), nativePic_);
          if (native_) XFreePixmap(c_->display(), native_);
          nativePic_ = native_ = None;
          nativeW_ = nativeH_ = 0;
        }
        monitor_ = d.frame;
        return;
      }
    }
    if (c_->dead()) return;
    fail(L("所选屏幕已断开，请重新选择。"));
  } else if (!windowFrame(*c_, Window(filter_.window)) && !c_->dead()) {
    fail(L("所选窗口已关闭，请重新选择。"));
  }
}

std::shared_ptr<FrameBuffer> X11FrameStream::freeBuffer() {
  for (auto& b : pool_) {
    // Only this thread hands buffers out, so a count of one cannot rise behind our back.
    if (b.use_count() == 1) {
      std::atomic_thread_fence(std::memory_order_acquire);
      return b;
    }
  }
  if (int(pool_.size()) >= config_.queueDepth + 1) return nullptr;  // consumer is behind: drop
  auto b = std::make_shared<FrameBuffer>();
  b->width = config_.width;
  b->height = config_.height;
  b->stride = config_.width * 4;
  b->pixels.assign(std::size_t(b->stride) * b->height, 0);
  pool_.push_back(b);
  return b;
}

bool X11FrameStream::displaySource(Source& src) {
  src.rootRect = monitor_;
  src.picture = rootPic_;
  src.x = int(monitor_.x);
  src.y = int(monitor_.y);
  src.width = int(monitor_.width);
  src.height = int(monitor_.height);
  if (!composite_) return true;
  const std::vector<Window> tops = stackedTopLevels();
  const std::vector<ShownPart> own = ownAreas(tops, monitor_);
  if (own.empty()) return true;  // nothing of ours on this display: the screen as it is
  // Our windows are painted over from what lies beneath them, in a picture of our own.
  Display* dpy = c_->display();
  if (!native_ || nativeW_ != src.width || nativeH_ != src.height) {
    if (nativePic_) XRenderFreePicture(dpy, nativePic_);
    if (native_) XFreePixmap(dpy, native_);
    nativeW_ = src.width;
    nativeH_ = src.height;
    native_ = XCreatePixmap(dpy, c_->root(), nativeW_, nativeH_, 32);
    nativePic_ = XRenderCreatePicture(dpy, native_, argb_, 0, nullptr);
  }
  XRenderComposite(dpy, PictOpSrc, rootPic_, None, nativePic_, src.x, src.y, 0, 0, 0, 0, nativeW_,
                   nativeH_);
  paintBeneath(tops, own, monitor_, nativePic_);
  src.picture = nativePic_;
  src.x = src.y = 0;
  return true;
}

std::vector<Window> X11FrameStream::stackedTopLevels() {
  Window rootRet = 0, parent = 0;
  Window* kids = nullptr;
  unsigned int n = 0;
  std::vector<Window> tops;
  if (XQueryTree(c_->display(), c_->root(), &rootRet, &parent, &kids, &n)) {
    tops.assign(kids, kids + n);  // bottom to top
  }
  if (kids) XFree(kids);
  return tops;
}

std::vector<ShownPart> X11FrameStream::ownAreas(const std::vector<Window>& tops,
                                                const Rect& monitor) {
  const double now = hostTime();
  ownTops_.clear();
  if (std::any_of(filter_.excludedApplications.begin(), filter_.excludedApplications.end(),
                  [](const ApplicationInfo& app) { return app.thisApplication; })) {
    for (Window w : tops) {
      if (own_.isOwn(*c_, w, now)) ownTops_.insert(w);
    }
    own_.keepOnly(tops);
  }

  std::vector<ShownPart> areas;
  for (Window w : tops) {
    if (!ownTops_.contains(w)) continue;
    for (ShownPart& part : own_.parts(*c_, w, monitor)) {
      part.rect.x -= monitor.x;
      part.rect.y -= monitor.y;
      areas.push_back(part);
    }
  }
  return areas;
}

void X11FrameStream::paintBeneath(const std::vector<Window>& tops,
                                  const std::vector<ShownPart>& areas, const Rect& monitor,
                                  Picture dst) {
  Display* dpy = c_->display();
  // Laid in order: another program's window inside ours takes its place out again, and one
  // of ours over that puts it back.
  XserverRegion region = XFixesCreateRegion(dpy, nullptr, 0);
  for (const ShownPart& part : areas) {
    XRectangle r{short(part.rect.x), short(part.rect.y), (unsigned short)part.rect.width,
                 (unsigned short)part.rect.height};
    XserverRegion piece = XFixesCreateRegion(dpy, &r, 1);
    if (part.own) {
      XFixesUnionRegion(dpy, region, region, piece);
    } else {
      XFixesSubtractRegion(dpy, region, region, piece);
    }
    XFixesDestroyRegion(dpy, piece);
  }
  XFixesSetPictureClipRegion(dpy, dst, 0, 0, region);
  XRenderColor black{0, 0, 0, 0xffff};
  XRenderFillRectangle(dpy, PictOpSrc, dst, &black, 0, 0, int(monitor.width), int(monitor.height));
  // The desktop background, where a wallpaper setter published one.
  {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(dpy, c_->root(), c_->atom("_XROOTPMAP_ID"), 0, 1, False, XA_PIXMAP,
                           &type, &format, &count, &after, &data) == Success &&
        data && type == XA_PIXMAP && format == 32 && count == 1) {
      const Pixmap pm = *reinterpret_cast<Pixmap*>(data);
      XWindowAttributes ra{};
      XRenderPictFormat* format = XGetWindowAttributes(dpy, c_->root(), &ra)
                                      ? XRenderFindVisualFormat(dpy, ra.visual)
                                      : nullptr;
      if (format) {
        Picture bg = XRenderCreatePicture(dpy, pm, format, 0, nullptr);
        XRenderComposite(dpy, PictOpSrc, bg, None, dst, int(monitor.x), int(monitor.y), 0, 0, 0, 0,
                         int(monitor.width), int(monitor.height));
        XRenderFreePicture(dpy, bg);
      }
    }
    if (data) XFree(data);
  }
  for (Window w : tops) {
    if (ownTops_.contains(w)) continue;
    XWindowAttributes a{};
    if (!XGetWindowAttributes(dpy, w, &a) || a.map_state != IsViewable ||
        a.c_class != InputOutput) {
      continue;
    }
    const Rect r{double(a.x), double(a.y), double(a.width + 2 * a.border_width),
                 double(a.height + 2 * a.border_width)};
    if (r.intersected(monitor).empty()) continue;
    XRenderPictFormat* format = XRenderFindVisualFormat(dpy, a.visual);
    if (!format) continue;
    const Pixmap pm = XCompositeNameWindowPixmap(dpy, w);
    Picture pic = XRenderCreatePicture(dpy, pm, format, 0, nullptr);
    const int op = format->direct.alphaMask ? PictOpOver : PictOpSrc;
    XRenderComposite(dpy, op, pic, None, dst, 0, 0, 0, 0, int(r.x - monitor.x),
                     int(r.y - monitor.y), unsigned(r.width), unsigned(r.height));
    XRenderFreePicture(dpy, pic);
    XFreePixmap(dpy, pm);
  }
  XFixesSetPictureClipRegion(dpy, dst, 0, 0, None);
  XFixesDestroyRegion(dpy, region);
}

bool X11FrameStream::windowSource(Source& src) {
  Display* dpy = c_->display();
  const Window client = Window(filter_.window);
  const unsigned long errorsBefore = Connection::errorCount();
  XWindowAttributes ca{};
  if (!XGetWindowAttributes(dpy, client, &ca) || Connection::errorCount() != errorsBefore) {
    return false;
  }
  if (ca.map_state != IsViewable || ca.width <= 0 || ca.height <= 0) return false;
  src.width = ca.width;
  src.height = ca.height;
  const double now = hostTime();
  // Where the window sits rarely changes: the root position is read only when it is needed
  // (no compositing, or a pointer to draw), the place inside its frame a few times a second.
  if (!composite_ || config_.showsCursor || !(render_ && shm_)) {
    auto frame = windowFrame(*c_, client);
    if (!frame) return false;
    src.rootRect = *frame;
  }
  if (!composite_) {
    src.picture = rootPic_;
    src.x = int(src.rootRect.x);
    src.y = int(src.rootRect.y);
    return true;
  }
  if (!top_ || now - topCheckedAt_ > 0.25) {
    top_ = topLevelOf(*c_, client);
    if (!top_) return false;
    XWindowAttributes ta{};
    Window child = 0;
    int ox = 0, oy = 0;
    if (!c_->checked([&] {
          XGetWindowAttributes(dpy, top_, &ta);
          XTranslateCoordinates(dpy, client, top_, 0, 0, &ox, &oy, &child);
        })) {
      top_ = None;
      return false;
    }
    topFormat_ = XRenderFindVisualFormat(dpy, ta.visual);
    // The pixmap holds the top-level window with its border; the client sits inside.
    topOffsetX_ = ox + ta.border_width;
    topOffsetY_ = oy + ta.border_width;
    topCheckedAt_ = now;
  }
  if (!topFormat_) return false;
  src.pixmap = XCompositeNameWindowPixmap(dpy, top_);
  src.picture = XRenderCreatePicture(dpy, src.pixmap, topFormat_, 0, nullptr);
  src.translucent = topFormat_->direct.alphaMask != 0;
  src.x = topOffsetX_;
  src.y = topOffsetY_;
  return true;
}

bool X11FrameStream::grab(FrameBuffer& out) {
  Display* dpy = c_->display();
  const int W = config_.width, H = config_.height;
  const unsigned long errorsAtStart = Connection::errorCount();
  Source src;
  const bool ok =
      filter_.kind == ContentFilter::Kind::display ? displaySource(src) : windowSource(src);
  if (!ok) return false;
  const Fit fit = fitInside(src.width, src.height, W, H);
  bool grabbed = false;

  if (render_ && shm_) {
    XRenderColor black{0, 0, 0, 0xffff};
    // A translucent window is laid over black, so that every delivered pixel is opaque.
    const int op = src.translucent ? PictOpOver : PictOpSrc;
    if (fit.x > 0 || fit.y > 0 || src.translucent) {
      XRenderFillRectangle(dpy, PictOpSrc, targetPic_, &black, 0, 0, W, H);
    }
    if (fit.scale == 1.0) {
      XRenderComposite(dpy, op, src.picture, None, targetPic_, src.x, src.y, 0, 0, fit.x, fit.y,
                       fit.width, fit.height);
    } else {
      XTransform t = scaleTransform(1.0 / fit.scale, src.x, src.y);
      XRenderSetPictureTransform(dpy, src.picture, &t);
      XRenderSetPictureFilter(dpy, src.picture, FilterBilinear, nullptr, 0);
      // Edge samples reach just past the source; padding keeps the renderer on its fast path.
      XRenderPictureAttributes pad{};
      pad.repeat = RepeatPad;
      XRenderChangePicture(dpy, src.picture, CPRepeat, &pad);
      XRenderComposite(dpy, op, src.picture, None, targetPic_, 0, 0, 0, 0, fit.x, fit.y, fit.width,
                       fit.height);
      XTransform identity = scaleTransform(1.0, 0, 0);
      XRenderSetPictureTransform(dpy, src.picture, &identity);
      XRenderSetPictureFilter(dpy, src.picture, FilterNearest, nullptr, 0);
      pad.repeat = RepeatNone;
      XRenderChangePicture(dpy, src.picture, CPRepeat, &pad);
    }
    grabbed = XShmGetImage(dpy, target_, image_, 0, 0, AllPlanes) && !c_->dead();
    if (grabbed) {
      for (int y = 0; y < H; ++y) {
        std::memcpy(out.row(y), image_->data + std::size_t(y) * image_->bytes_per_line,
                    std::size_t(W) * 4);
      }
    }
  } else {
    // Without shared memory or XRender: a plain read of the area, scaled here.
    XImage* img = nullptr;
    const unsigned long before = Connection::errorCount();
    img = XGetImage(dpy, c_->root(), int(src.rootRect.x), int(src.rootRect.y), unsigned(src.width),
                    unsigned(src.height), AllPlanes, ZPixmap);
    if (img && Connection::errorCount() == before && img->bits_per_pixel == 32) {
      std::fill(out.pixels.begin(), out.pixels.end(), 0);
      for (int y = 0; y < fit.height; ++y) {
        const int sy = std::min(src.height - 1, int((y + 0.5) / fit.scale));
        auto* row = reinterpret_cast<std::uint32_t*>(out.row(y + fit.y)) + fit.x;
        const auto* in = reinterpret_cast<const std::uint32_t*>(
            img->data + std::size_t(sy) * img->bytes_per_line);
        for (int x = 0; x < fit.width; ++x) {
          const int sx = std::min(src.width - 1, int((x + 0.5) / fit.scale));
          row[x] = in[sx] | 0xff000000u;
        }
      }
      for (int y = 0; y < H; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(out.row(y));
        for (int x = 0; x < W; ++x)
          row[x] |= 0xff000000u;
      }
      grabbed = true;
    }
    if (img) XDestroyImage(img);
  }
  if (src.pixmap) {
    XRenderFreePicture(dpy, src.picture);
    XFreePixmap(dpy, src.pixmap);
    // The frame window went away or was unmapped meanwhile: look it up afresh next time.
    if (Connection::errorCount() != errorsAtStart) {
      top_ = None;
      grabbed = false;
    }
  }
  if (grabbed && config_.showsCursor) drawCursor(out, src.rootRect, fit.scale, fit.x, fit.y);
  return grabbed;
}

void X11FrameStream::drawCursor(FrameBuffer& out, const Rect& area, double scale, int offX,
                                int offY) {
  auto cursor = readCursorImage(*c_);
  if (!cursor || cursor->width <= 0 || cursor->height <= 0 || !(scale > 0)) return;
  Window r = 0, child = 0;
  int px = 0, py = 0, wx = 0, wy = 0;
  unsigned int mask = 0;
  if (!XQueryPointer(c_->display(), c_->root(), &r, &child, &px, &py, &wx, &wy, &mask)) return;
  const double left = (px - cursor->xhot - area.x) * scale + offX;
  const double top = (py - cursor->yhot - area.y) * scale + offY;
  const int cw = std::max(1, int(std::lround(cursor->width * scale)));
  const int ch = std::max(1, int(std::lround(cursor->height * scale)));
  for (int y = 0; y < ch; ++y) {
    const int fy = int(std::floor(top)) + y;
    if (fy < 0 || fy >= out.height) continue;
    const int sy = std::min(cursor->height - 1, int((y + 0.5) / scale));
    auto* row = reinterpret_cast<std::uint32_t*>(out.row(fy));
    for (int x = 0; x < cw; ++x) {
      const int fx = int(std::floor(left)) + x;
      if (fx < 0 || fx >= out.width) continue;
      const int sx = std::min(cursor->width - 1, int((x + 0.5) / scale));
      const std::uint32_t s = cursor->argb[std::size_t(sy) * cursor->width + sx];
      const std::uint32_t a = s >> 24;
      if (a == 0) continue;
      const std::uint32_t d = row[fx];
      std::uint32_t result = 0xff000000u;
      for (int shift = 0; shift < 24; shift += 8) {
        const std::uint32_t sc = (s >> shift) & 0xff;  // premultiplied
        const std::uint32_t dc = (d >> shift) & 0xff;
        result |= std::min<std::uint32_t>(255, sc + dc * (255 - a) / 255) << shift;
      }
      row[fx] = result;
    }
  }
}

}  // namespace vantry::platform::x11
