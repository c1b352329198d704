#include "e2e/app_driver.h"

#include <QImage>

#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vantry::e2e {

namespace fs = std::filesystem;

namespace {

fs::path outputBase() {
  if (const char* custom = std::getenv("VANTRY_E2E_OUTPUT"); custom && *custom) return custom;
  return VANTRY_E2E_OUTPUT;
}

// Starts a program with the given environment; its output goes to `log`.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const fs::path& log, int keepFd = -1) {
  std::vector<char*> args, envp;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& e : env)
    envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    const int in = open("/dev/null", O_RDONLY);
    if (in >= 0) dup2(in, 0);
    // The child gets its own process group, so that it is stopped as a whole.
    setpgid(0, 0);
    if (keepFd >= 0) fcntl(keepFd, F_SETFD, 0);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
  }
  return pid;
}

std::vector<std::string> currentEnvironment() {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    env.emplace_back(*e);
  return env;
}

void setVariable(std::vector<std::string>& env, const std::string& name, const std::string& value) {
  const std::string prefix = name + "=";
  std::erase_if(env, [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
  env.push_back(prefix + value);
}

Rect rectOf(const nlohmann::json& j) {
  if (!j.is_array() || j.size() != 4) return {};
  return {j[0].get<int>(), j[1].get<int>(), j[2].get<int>(), j[3].get<int>()};
}

Widget widgetOf(const nlohmann::json& j, const std::string& window) {
  Widget w;
  w.name = j.value("name", "");
  w.path = j.value("path", "");
  w.className = j.value("class", "");
  w.window = window;
  w.text = j.value("text", "");
  w.rect = rectOf(j.value("rect", nlohmann::json()));
  w.shown = rectOf(j.value("shown", nlohmann::json()));
  w.enabled = j.value("enabled", true);
  w.checked = j.value("checked", false);
  if (j.contains("value")) w.value = j["value"].get<double>();
  w.raw = j;
  return w;
}

bool windowMatches(const nlohmann::json& window, const std::string& filter) {
  return filter.empty() || window.value("class", "") == filter ||
         window.value("name", "") == filter;
}

}  // namespace

std::optional<nlohmann::json> readJson(const fs::path& file) {
  std::ifstream in(file);
  if (!in) return std::nullopt;
  std::stringstream text;
  text << in.rdbuf();
  try {
    return nlohmann::json::parse(text.str());
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::vector<fs::path> recordingFolders(const fs::path& recordings) {
  std::vector<fs::path> folders;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(recordings, ec))
    if (entry.is_directory()) folders.push_back(entry.path());
  std::sort(folders.begin(), folders.end(), [](const fs::path& a, const fs::path& b) {
    return fs::last_write_time(a) < fs::last_write_time(b);
  });
  return folders;
}

AppDriver::AppDriver(const std::string& road, const std::string& language) : road_(road) {
  std::string tmpl = (fs::temp_directory_path() / "vantry-e2e-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("no temporary folder");
  root_ = tmpl;
  home_ = root_ / "home";
  fs::create_directories(configHome());
  fs::create_directories(dataHome());
  fs::create_directories(home_ / ".cache");
  fs::create_directories(root_ / "runtime");
  fs::permissions(root_ / "runtime", fs::perms::owner_all);
  output_ = outputBase() / road_;
  fs::remove_all(output_);
  fs::create_directories(output_);
  mapFile_ = root_ / "widgets.json";
  log_ = output_ / "app.log";
  if (!language.empty()) storeLanguage(language);
  startServer();
}

AppDriver::~AppDriver() {
  kill();
  // A sanitizer report of the app fails the road that drove it there.
  const std::string log = logText();
  for (const char* mark : {"ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer"}) {
    const size_t at = log.find(mark);
    if (at != std::string::npos) ADD_FAILURE() << "the app reported:\n" << log.substr(at, 4000);
  }
  if (x_) XCloseDisplay(x_);
  if (xvfb_ > 0) {
    ::kill(xvfb_, SIGTERM);
    waitpid(xvfb_, nullptr, 0);
  }
  std::error_code ec;
  fs::remove_all(root_, ec);
}

void AppDriver::startServer() {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  // Xvfb picks a free display number and writes it to the pipe once it accepts clients.
  xvfb_ = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1440x900x24",
                 "+extension", "RANDR", "+extension", "Composite", "-nolisten", "tcp"},
                currentEnvironment(), output_ / "xvfb.log", fds[1]);
  close(fds[1]);
  std::string number;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n')
    number += c;
  close(fds[0]);
  if (number.empty()) throw std::runtime_error("Xvfb did not start");
  display_ = ":" + number;
  x_ = XOpenDisplay(display_.c_str());
  if (!x_) throw std::runtime_error("cannot open " + display_);
  int event, error, major, minor;
  if (!XTestQueryExtension(x_, &event, &error, &major, &minor))
    throw std::runtime_error("no XTEST on " + display_);
}

void AppDriver::storeLanguage(const std::string& language) {
  fs::create_directories(configHome() / "Vantry");
  std::ofstream(configHome() / "Vantry" / "Vantry.conf")
      << "[General]\ninterfaceLanguage=" << language << "\n";
}

void AppDriver::setEnvironment(const std::string& name, const std::string& value) {
  environment_[name] = value;
}

std::optional<std::string> AppDriver::storedLanguage() const {
  std::ifstream in(configHome() / "Vantry" / "Vantry.conf");
  std::string line;
  const std::string key = "interfaceLanguage=";
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return line.substr(key.size());
  return std::nullopt;
}

bool AppDriver::launch(Millis timeout) {
  kill();
  fs::remove(mapFile_);
  exitStatus_.reset();
  std::vector<std::string> env = currentEnvironment();
  // PulseAudio stays the test server even though the runtime folder becomes private.
  const char* pulse = std::getenv("PULSE_SERVER");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if ((!pulse || !*pulse) && runtime && *runtime)
    setVariable(env, "PULSE_SERVER", std::string("unix:") + runtime + "/pulse/native");
  setVariable(env, "DISPLAY", display_);
  setVariable(env, "QT_QPA_PLATFORM", "xcb");
  setVariable(env, "HOME", home_.string());
  setVariable(env, "XDG_CONFIG_HOME", configHome().string());
  setVariable(env, "XDG_DATA_HOME", dataHome().string());
  setVariable(env, "XDG_CACHE_HOME", (home_ / ".cache").string());
  setVariable(env, "XDG_RUNTIME_DIR", (root_ / "runtime").string());
  setVariable(env, "VANTRY_SYNTHETIC_CAMERA", "1");
  setVariable(env, "VANTRY_WIDGET_MAP", mapFile_.string());
  for (const auto& [name, value] : environment_)
    setVariable(env, name, value);
  std::ofstream(log_, std::ios::app) << "---- launch\n";
  app_ = spawn({VANTRY_APP_PATH}, env, log_);
  return waitFor(
      [this] {
        const auto w = window("StudioWindow");
        return w && w->raw.value("active", false);
      },
      timeout);
}

bool AppDriver::running() {
  if (app_ <= 0) return false;
  int status = 0;
  const pid_t r = waitpid(app_, &status, WNOHANG);
  if (r == 0) return true;
  if (r == app_) exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  app_ = -1;
  return false;
}

std::optional<int> AppDriver::waitForExit(Millis timeout) {
  if (!waitFor([this] { return !running(); }, timeout)) return std::nullopt;
  return exitStatus_;
}

void AppDriver::kill() {
  if (!running()) return;
  ::kill(app_, SIGTERM);
  if (!waitForExit(10s)) {
    ::kill(-app_, SIGKILL);
    ::kill(app_, SIGKILL);
    waitpid(app_, nullptr, 0);
    app_ = -1;
  }
}

bool AppDriver::waitFor(const std::function<bool()>& condition, Millis timeout, Millis poll) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (true) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(poll);
  }
}

nlohmann::json AppDriver::map() const {
  return readJson(mapFile_).value_or(nlohmann::json::object());
}

std::vector<Widget> AppDriver::windows() const {
  std::vector<Widget> result;
  const nlohmann::json m = map();
  for (const auto& w : m.value("windows", nlohmann::json::array()))
    result.push_back(widgetOf(w, w.value("class", "")));
  return result;
}

std::optional<Widget> AppDriver::window(const std::string& classOrName) const {
  for (const Widget& w : windows())
    if (w.className == classOrName || w.name == classOrName) return w;
  return std::nullopt;
}

std::string AppDriver::activeWindow() const {
  for (const Widget& w : windows())
    if (w.raw.value("active", false)) return w.className;
  return {};
}

std::optional<Widget> AppDriver::widget(const std::string& name, const std::string& window) const {
  std::optional<Widget> hidden;
  const nlohmann::json m = map();
  for (const auto& w : m.value("windows", nlohmann::json::array())) {
    if (!windowMatches(w, window)) continue;
    for (const auto& child : w.value("widgets", nlohmann::json::array())) {
      if (child.value("name", "") != name) continue;
      Widget found = widgetOf(child, w.value("class", ""));
      if (!found.shown.empty()) return found;
      if (!hidden) hidden = found;
    }
  }
  return hidden;
}

bool AppDriver::waitForWidget(const std::string& name, const std::string& window, Millis timeout) {
  return waitFor(
      [&] {
        const auto w = widget(name, window);
        return w && !w->shown.empty();
      },
      timeout);
}

void AppDriver::sync() const {
  XSync(x_, False);
  // Lets the app read the event before the next one arrives, as a hand would.
  std::this_thread::sleep_for(15ms);
}

void AppDriver::moveTo(int x, int y) {
  XTestFakeMotionEvent(x_, DefaultScreen(x_), x, y, CurrentTime);
  sync();
}

void AppDriver::press(int button) {
  XTestFakeButtonEvent(x_, unsigned(button), True, CurrentTime);
  sync();
}

void AppDriver::release(int button) {
  XTestFakeButtonEvent(x_, unsigned(button), False, CurrentTime);
  sync();
}

void AppDriver::clickAt(int x, int y, int button) {
  moveTo(x, y);
  press(button);
  release(button);
}

bool AppDriver::closeWindow(const std::string& classOrName) {
  const auto w = window(classOrName);
  if (!w || !w->raw.contains("xid")) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = static_cast<Window>(w->raw["xid"].get<int64_t>());
  event.xclient.message_type = XInternAtom(x_, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(x_, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(x_, event.xclient.window, False, NoEventMask, &event);
  sync();
  return true;
}

bool AppDriver::click(const std::string& name, const std::string& window) {
  const auto w = widget(name, window);
  if (!w || w->shown.empty()) return false;
  clickAt(w->shown.centerX(), w->shown.centerY());
  return true;
}

void AppDriver::drag(int fromX, int fromY, int toX, int toY, int steps) {
  moveTo(fromX, fromY);
  press();
  for (int i = 1; i <= steps; ++i)
    moveTo(fromX + (toX - fromX) * i / steps, fromY + (toY - fromY) * i / steps);
  release();
}

void AppDriver::key(const std::string& combination) {
  std::vector<KeyCode> codes;
  std::stringstream parts(combination);
  std::string part;
  while (std::getline(parts, part, '+')) {
    std::string name = part;
    if (name == "ctrl") name = "Control_L";
    if (name == "shift") name = "Shift_L";
    if (name == "alt") name = "Alt_L";
    KeySym sym = XStringToKeysym(name.c_str());
    if (sym == NoSymbol && name.size() == 1) sym = KeySym(static_cast<unsigned char>(name[0]));
    const KeyCode code = XKeysymToKeycode(x_, sym);
    if (code == 0) throw std::runtime_error("no key for " + part);
    codes.push_back(code);
  }
  for (KeyCode code : codes)
    XTestFakeKeyEvent(x_, code, True, CurrentTime);
  sync();
  for (auto it = codes.rbegin(); it != codes.rend(); ++it)
    XTestFakeKeyEvent(x_, *it, False, CurrentTime);
  sync();
}

void AppDriver::type(const std::string& text) {
  const KeyCode shift = XKeysymToKeycode(x_, XK_Shift_L);
  for (char ch : text) {
    const KeySym sym = ch == ' ' ? XK_space : ch == '\n' ? XK_Return : KeySym(ch);
    const KeyCode code = XKeysymToKeycode(x_, sym);
    if (code == 0) throw std::runtime_error(std::string("no key for ") + ch);
    const bool shifted = XkbKeycodeToKeysym(x_, code, 0, 0) != sym;
    if (shifted) XTestFakeKeyEvent(x_, shift, True, CurrentTime);
    XTestFakeKeyEvent(x_, code, True, CurrentTime);
    XTestFakeKeyEvent(x_, code, False, CurrentTime);
    if (shifted) XTestFakeKeyEvent(x_, shift, False, CurrentTime);
    sync();
  }
}

int AppDriver::screenWidth() const {
  return DisplayWidth(x_, DefaultScreen(x_));
}

int AppDriver::screenHeight() const {
  return DisplayHeight(x_, DefaultScreen(x_));
}

AppDriver::Image AppDriver::grab(const Rect& area) const {
  Image image;
  XImage* x = XGetImage(x_, DefaultRootWindow(x_), area.x, area.y, unsigned(area.width),
                        unsigned(area.height), AllPlanes, ZPixmap);
  if (!x) return image;
  image.width = area.width;
  image.height = area.height;
  image.pixels.resize(size_t(area.width) * area.height);
  for (int y = 0; y < area.height; ++y) {
    if (x->bits_per_pixel == 32) {
      std::memcpy(&image.pixels[size_t(y) * area.width], x->data + size_t(y) * x->bytes_per_line,
                  size_t(area.width) * 4);
      for (int i = 0; i < area.width; ++i)
        image.pixels[size_t(y) * area.width + i] |= 0xff000000u;
    } else {
      for (int i = 0; i < area.width; ++i)
        image.pixels[size_t(y) * area.width + i] = 0xff000000u | uint32_t(XGetPixel(x, i, y));
    }
  }
  XDestroyImage(x);
  return image;
}

fs::path AppDriver::shot(const std::string& label) {
  const Image image = grab({0, 0, screenWidth(), screenHeight()});
  char prefix[8];
  std::snprintf(prefix, sizeof prefix, "%02d-", ++shots_);
  const fs::path file = output_ / (prefix + label + ".png");
  QImage(reinterpret_cast<const uchar*>(image.pixels.data()), image.width, image.height,
         QImage::Format_RGB32)
      .save(QString::fromStdString(file.string()));
  return file;
}

void AppDriver::paintDesktop(uint32_t rgb) {
  XSetWindowBackground(x_, DefaultRootWindow(x_), rgb);
  XClearWindow(x_, DefaultRootWindow(x_));
  XSync(x_, False);
}

fs::path AppDriver::recordings() const {
  return dataHome() / "Pexilar" / "Recordings";
}

std::string AppDriver::logText() const {
  std::ifstream in(log_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace vantry::e2e
