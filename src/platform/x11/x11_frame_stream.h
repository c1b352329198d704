// A capture stream on X11: one grab thread with its own connection, grabbing at absolute
// deadlines. Displays are read from the root; the application's own windows are painted
// over from what lies beneath them (XComposite + XRender). Windows come from their
// XComposite pixmap, so covered parts still show.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrender.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "platform/screen_source.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_windows.h"

namespace vantry::platform::x11 {

std::optional<CursorImage> readCursorImage(Connection& c);

// Whether the server can compose a display without some windows (XComposite 0.2 with
// named pixmaps, XRender, XFixes regions).
bool canCompose(Connection& c);

class X11FrameStream : public FrameStream {
 public:
  X11FrameStream(ContentFilter filter, StreamConfiguration config, Callbacks callbacks);
  ~X11FrameStream() override;

  void start() override;
  void stop() override;

  // True when the application's own windows can be left out of a display capture.
  bool excludesOwnWindows() const { return composite_; }

 private:
  struct Source {
    Picture picture = None;
    Pixmap pixmap = None;  // named window pixmap to free after use
    int x = 0, y = 0;      // where the captured area starts in the picture
    int width = 0, height = 0;
    Rect rootRect;  // the captured area in root coordinates
    bool translucent = false;
  };

  void setUp();
  void tearDown();
  void run(std::stop_token token);
  // Grabs one frame into `out`; false when there is nothing to deliver this time.
  bool grab(FrameBuffer& out);
  bool displaySource(Source& src);
  bool windowSource(Source& src);
  std::vector<Window> stackedTopLevels();
  // What the application's own top-levels show on the display, back to front, relative to
  // its origin: their own windows, and other programs' windows inside them.
  std::vector<ShownPart> ownAreas(const std::vector<Window>& tops, const Rect& monitor);
  // Paints, where the own parts of `areas` show, what lies beneath those windows.
  void paintBeneath(const std::vector<Window>& tops, const std::vector<ShownPart>& areas,
                    const Rect& monitor, Picture dst);
  void drawCursor(FrameBuffer& out, const Rect& area, double scale, int offX, int offY);
  void checkStillThere(double now);
  std::shared_ptr<FrameBuffer> freeBuffer();
  void fail(const std::string& message);

  ContentFilter filter_;
  StreamConfiguration config_;
  Callbacks callbacks_;

  std::unique_ptr<Connection> c_;
  bool composite_ = false;
  bool render_ = false;
  bool shm_ = false;
  XShmSegmentInfo shmInfo_{};
  XImage* image_ = nullptr;
  XRenderPictFormat* argb_ = nullptr;
  Pixmap target_ = None;
  Picture targetPic_ = None;
  Pixmap native_ = None;
  Picture nativePic_ = None;
  int nativeW_ = 0, nativeH_ = 0;
  Picture rootPic_ = None;

  Rect monitor_;
  double lastCheck_ = 0;
  Window top_ = None;  // the captured window's frame (child of the root)
  double topCheckedAt_ = 0;
  XRenderPictFormat* topFormat_ = nullptr;
  int topOffsetX_ = 0, topOffsetY_ = 0;
  OwnTopLevels own_;
  std::set<Window> ownTops_;  // of the frame being grabbed
  std::vector<std::shared_ptr<FrameBuffer>> pool_;
  bool ended_ = false;

  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::jthread thread_;
};

}  // namespace vantry::platform::x11
