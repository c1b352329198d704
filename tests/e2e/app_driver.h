#pragma once

// Drives the built `vantry` binary as a person would, for the end-to-end roads.
//
//   AppDriver app("RoadName", "english"); // private Xvfb, HOME and XDG folders; the stored
//                                         // language (optional; storeLanguage() likewise)
//   app.launch();                     // starts vantry, waits for the main window
//   app.key("ctrl+shift+2");          // real key events (XTest); names as XStringToKeysym
//   app.type("movie");                // types text
//   app.click("start");               // clicks the centre of the widget named "start"
//   app.closeWindow("StudioWindow");  // the window manager's close button
//   app.clickAt(x, y); app.drag(from, to);
//   app.waitFor([&] { ... }, 5s);     // polls a condition; false on timeout
//   app.widget("start", "ExportSheet") // geometry, text, value from the app's widget map
//   app.shot("after-split");          // screenshot PNG under outputFolder()
//   app.recordings(); app.dataHome(); // the folders the app writes into
//   app.waitForExit(10s);
//
// A sanitizer report in the app's log fails the test when the driver goes.
// Widgets are found through the app's widget map (VANTRY_WIDGET_MAP): every visible
// widget with an objectName, keyed by that name, optionally restricted to the top-level
// window whose class (or objectName) is given. Inputs are only ever X events.
// Each driver owns its Xvfb, so roads run in parallel with each other and with the tests
// that use the shared test display; PulseAudio is the shared test server.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

struct _XDisplay;

namespace vantry::e2e {

using namespace std::chrono_literals;
using Millis = std::chrono::milliseconds;

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  int centerX() const { return x + width / 2; }
  int centerY() const { return y + height / 2; }
  bool empty() const { return width <= 0 || height <= 0; }
};

struct Widget {
  std::string name, path, className, window, text;
  Rect rect;   // whole widget, global
  Rect shown;  // the part not clipped by ancestors, global
  bool enabled = true, checked = false;
  std::optional<double> value;
  nlohmann::json raw;
};

class AppDriver {
 public:
  explicit AppDriver(const std::string& road, const std::string& language = {});
  ~AppDriver();
  AppDriver(const AppDriver&) = delete;
  AppDriver& operator=(const AppDriver&) = delete;

  // "english" or "chinese", written where the app keeps its settings.
  void storeLanguage(const std::string& language);
  // A variable of the app's environment from the next launch on.
  void setEnvironment(const std::string& name, const std::string& value);
  std::optional<std::string> storedLanguage() const;
  // Starts the app; true once its main window is visible and active (within `timeout`).
  bool launch(Millis timeout = 20s);
  bool running();
  // Waits for the app to end by itself; its exit status, or nullopt on timeout.
  std::optional<int> waitForExit(Millis timeout);
  void kill();

  static bool waitFor(const std::function<bool()>& condition, Millis timeout, Millis poll = 25ms);

  // The latest widget map (empty object before the app wrote one).
  nlohmann::json map() const;
  std::optional<Widget> widget(const std::string& name, const std::string& window = {}) const;
  bool waitForWidget(const std::string& name, const std::string& window = {}, Millis timeout = 10s);
  // The visible top-level windows: class name (or objectName when set) to its description.
  std::vector<Widget> windows() const;
  std::optional<Widget> window(const std::string& classOrName) const;
  std::string activeWindow() const;  // class of the active top-level, or ""

  // Input.
  void moveTo(int x, int y);
  void clickAt(int x, int y, int button = 1);
  bool click(const std::string& name, const std::string& window = {});
  // What a window manager sends when the window's close button is pressed.
  bool closeWindow(const std::string& classOrName);
  void press(int button = 1);
  void release(int button = 1);
  void drag(int fromX, int fromY, int toX, int toY, int steps = 12);
  // "Return", "space", "ctrl+b", "ctrl+shift+2", "Delete": '+'-joined keysym names;
  // ctrl, shift, alt name the left modifier keys.
  void key(const std::string& combination);
  void type(const std::string& text);

  // Screenshot of the whole screen as <output>/<NN>-<label>.png; returns the path.
  std::filesystem::path shot(const std::string& label);
  // The screen's pixels right now (0xAARRGGBB rows).
  struct Image {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[size_t(y) * width + x]; }
  };
  Image grab(const Rect& area) const;
  // Fills the desktop background (the root window) with one colour, so that the live
  // preview has something to show that the test controls.
  void paintDesktop(uint32_t rgb);

  const std::filesystem::path& home() const { return home_; }
  // The app's process (0 before launch) and the private X display (":N") it runs on.
  pid_t pid() const { return app_ > 0 ? app_ : 0; }
  const std::string& displayName() const { return display_; }
  std::filesystem::path configHome() const { return home_ / ".config"; }
  std::filesystem::path dataHome() const { return home_ / ".local/share"; }
  std::filesystem::path recordings() const;
  std::filesystem::path trash() const { return dataHome() / "Trash"; }
  const std::filesystem::path& outputFolder() const { return output_; }
  std::string logText() const;
  int screenWidth() const;
  int screenHeight() const;

 private:
  void startServer();
  void sync() const;

  std::string road_;
  std::filesystem::path root_, home_, output_, mapFile_, log_;
  pid_t xvfb_ = -1, app_ = -1;
  std::optional<int> exitStatus_;
  std::string display_;
  std::map<std::string, std::string> environment_;
  _XDisplay* x_ = nullptr;
  int shots_ = 0;
};

// Reads a JSON file; nullopt when it is missing or not (yet) valid.
std::optional<nlohmann::json> readJson(const std::filesystem::path& file);
// The recording folders under the recordings folder, oldest first.
std::vector<std::filesystem::path> recordingFolders(const std::filesystem::path& recordings);

}  // namespace vantry::e2e
