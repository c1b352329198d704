#include "platform/x11/x11_connection.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <poll.h>
#include <setjmp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "localization/localization.h"
#include "localization/user_message.h"

namespace vantry::platform::x11 {
namespace {

thread_local unsigned long tErrors = 0;

int countError(Display*, XErrorEvent*) {
  ++tErrors;
  return 0;
}

// Set while XOpenDisplay runs on this thread: a server lost then would meet the library's
// own exit handler, which ends the process (ours is set only once the display is returned).
thread_local sigjmp_buf* tOpening = nullptr;
thread_local Display* tLostWhileOpening = nullptr;

// Called before the per-connection exit handler; that handler keeps the process alive.
int quietIOError(Display* dpy) {
  if (tOpening) {
    tLostWhileOpening = dpy;
    siglongjmp(*tOpening, 1);
  }
  return 0;
}

// Xlib keeps a lost display locked, and closing one whose server is gone runs into the loss
// half-way: only the socket is released.
void giveUp(Display* dpy) {
  close(ConnectionNumber(dpy));
#if defined(__SANITIZE_ADDRESS__)
  // Its memory is given up on purpose with the server: the leak checker is told so, and
  // it still reports every other display and Xlib structure left behind.
  __lsan_ignore_object(dpy);
#endif
}

// XOpenDisplay; null with `lost` set when the server went away while answering it.
Display* openDisplay(bool& lost) {
  sigjmp_buf opening;
  if (sigsetjmp(opening, 0) != 0) {
    // Back from the handler, out of the library's frames: nothing of ours was left in them.
    tOpening = nullptr;
    lost = true;
    giveUp(tLostWhileOpening);
    return nullptr;
  }
  tOpening = &opening;
  Display* dpy = XOpenDisplay(nullptr);
  tOpening = nullptr;
  return dpy;
}

void installHandlers() {
  static std::once_flag once;
  std::call_once(once, [] { XInitThreads(); });
  // Set again on every connection: a toolkit started meanwhile may have put its own in
  // place (some end the process on a lost connection). Lost connections of others still
  // end in their own exit handler.
  XSetIOErrorHandler(quietIOError);
  XSetErrorHandler(countError);
}

// Property texts that claim to be Latin-1 are often UTF-8 already; keep valid UTF-8.
bool validUtf8(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = s[i];
    int n = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : -1;
    if (n < 0) return false;
    for (int k = 1; k <= n; ++k) {
      if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) >> 6) != 0x2) return false;
    }
    i += n + 1;
  }
  return true;
}

std::string latin1ToUtf8(const std::string& s) {
  if (validUtf8(s)) return s;
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x80) {
      out += char(c);
    } else {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

struct XFreeDeleter {
  void operator()(void* p) const {
    if (p) XFree(p);
  }
};

}  // namespace

std::string noDisplayMessage() {
  return L(
      "无法连接 X11 显示服务。Vantry 只能在 X11 桌面会话中录屏（纯 Wayland 会话无法录制），"
      "请登录 X11 会话后重试。");
}

std::string lostDisplayMessage() {
  return joinSentences(
      {L("与 X11 显示服务的连接已断开。"), L("请确认桌面会话仍在运行，然后重试。")});
}

Connection::Connection(bool reachedBefore) {
  installHandlers();
  bool lost = false;
  dpy_ = openDisplay(lost);
  if (!dpy_) throw PlatformError(lost || reachedBefore ? lostDisplayMessage() : noDisplayMessage());
  // Before our first request: the library's own handler would end the process.
  XSetIOErrorExitHandler(dpy_, &Connection::onLostConnection, this);
  // Xwayland answers, but shows neither the Wayland windows nor the pointer over them: it
  // would record black frames. VANTRY_ALLOW_XWAYLAND=1 records its X windows anyway.
  int opcode = 0, event = 0, error = 0;
  const bool xwayland = XQueryExtension(dpy_, "XWAYLAND", &opcode, &event, &error);
  // A lost server's answer is whatever lay in memory.
  if (dead_) {
    giveUp(dpy_);
    dpy_ = nullptr;
    throw PlatformError(lostDisplayMessage());
  }
  if (xwayland && !getenv("VANTRY_ALLOW_XWAYLAND")) {
    XCloseDisplay(dpy_);
    dpy_ = nullptr;
    throw PlatformError(noDisplayMessage());
  }
  root_ = DefaultRootWindow(dpy_);
}

bool Connection::peerGone() const {
  if (dead_) return true;
  pollfd p{ConnectionNumber(dpy_), POLLIN, 0};
  if (poll(&p, 1, 0) <= 0) return false;
  if (p.revents & (POLLHUP | POLLERR)) return true;
  char byte = 0;
  return (p.revents & POLLIN) && recv(p.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

Connection::~Connection() {
  if (!dpy_) return;
  if (peerGone()) {
    giveUp(dpy_);
  } else {
    XCloseDisplay(dpy_);
  }
}

void Connection::stillThere() const {
  if (dead_) throw PlatformError(lostDisplayMessage());
}

void Connection::onLostConnection(Display*, void* self) {
  static_cast<Connection*>(self)->dead_ = true;
}

unsigned long Connection::errorCount() {
  return tErrors;
}

Atom Connection::atom(const char* name) {
  return XInternAtom(dpy_, name, False);
}

namespace {

struct Property {
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  std::unique_ptr<unsigned char, XFreeDeleter> data;
};

Property readProperty(Connection& c, Window w, const char* name, long maxLength = 1 << 16) {
  Property p;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(c.display(), w, c.atom(name), 0, maxLength, False, AnyPropertyType,
                         &p.type, &p.format, &p.count, &after, &data) != Success) {
    return {};
  }
  p.data.reset(data);
  return p;
}

}  // namespace

std::string Connection::textProperty(Window w, const char* name) {
  Property p = readProperty(*this, w, name);
  if (!p.data || p.format != 8 || p.count == 0) return {};
  std::string raw(reinterpret_cast<const char*>(p.data.get()), p.count);
  if (p.type == atom("UTF8_STRING")) return raw;
  if (p.type == XA_STRING) return latin1ToUtf8(raw);
  // COMPOUND_TEXT and others: let Xlib convert.
  XTextProperty tp{p.data.get(), p.type, p.format, p.count};
  char** list = nullptr;
  int n = 0;
  std::string out;
  if (Xutf8TextPropertyToTextList(dpy_, &tp, &list, &n) >= Success && list) {
    if (n > 0 && list[0]) out = list[0];
    XFreeStringList(list);
  }
  return out;
}

std::optional<unsigned long> Connection::cardinalProperty(Window w, const char* name) {
  Property p = readProperty(*this, w, name, 1);
  if (!p.data || p.format != 32 || p.count < 1 || p.type != XA_CARDINAL) return std::nullopt;
  return reinterpret_cast<const unsigned long*>(p.data.get())[0];
}

std::vector<unsigned long> Connection::windowListProperty(Window w, const char* name) {
  Property p = readProperty(*this, w, name);
  if (!p.data || p.format != 32 || p.type != XA_WINDOW) return {};
  const auto* v = reinterpret_cast<const unsigned long*>(p.data.get());
  return {v, v + p.count};
}

std::vector<unsigned long> Connection::cardinalListProperty(Window w, const char* name,
                                                            long maxValues) {
  Property p = readProperty(*this, w, name, maxValues);
  if (!p.data || p.format != 32 || p.type != XA_CARDINAL) return {};
  const auto* v = reinterpret_cast<const unsigned long*>(p.data.get());
  return {v, v + p.count};
}

std::vector<Atom> Connection::atomListProperty(Window w, const char* name) {
  Property p = readProperty(*this, w, name);
  if (!p.data || p.format != 32 || p.type != XA_ATOM) return {};
  const auto* v = reinterpret_cast<const unsigned long*>(p.data.get());
  return {v, v + p.count};
}

std::pair<std::string, std::string> Connection::wmClass(Window w) {
  Property p = readProperty(*this, w, "WM_CLASS");
  if (!p.data || p.format != 8 || p.count == 0) return {};
  // Two NUL-terminated strings; the second may lack its terminator.
  const char* s = reinterpret_cast<const char*>(p.data.get());
  std::string instance(s, strnlen(s, p.count));
  std::string cls;
  if (instance.size() + 1 < p.count) {
    const char* t = s + instance.size() + 1;
    cls.assign(t, strnlen(t, p.count - instance.size() - 1));
  }
  return {latin1ToUtf8(instance), latin1ToUtf8(cls)};
}

Connection& threadConnection() {
  thread_local std::unique_ptr<Connection> connection;
  thread_local std::string openedFor;
  const char* env = getenv("DISPLAY");
  const std::string wanted = env ? env : "";
  if (!connection || connection->peerGone() || openedFor != wanted) {
    // A display that went away since is lost, not missing, when it cannot be reached again.
    const bool lost = connection && openedFor == wanted;
    connection.reset();
    connection = std::make_unique<Connection>(lost);
    openedFor = wanted;
  }
  return *connection;
}

}  // namespace vantry::platform::x11
