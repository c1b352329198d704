#include "model/document_json.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "localization/localization.h"
#include "localization/user_message.h"

namespace vantry {

namespace {

using nlohmann::json;

// ---------------------------------------------------------------- limits

// What no recording can be, held by the reader and the writer alike: a document the reader
// would refuse is never written. The limits are far beyond any real recording, so that they
// refuse only a damaged or hostile document.
constexpr double kLongestRecording = 100.0 * 3600;  // seconds, about four days
constexpr std::int64_t kLargestFrameSide = 32768;   // X11 addresses no larger screen
// A one-hour recording's document is about 19 MB.
constexpr std::uintmax_t kLargestDocument = std::uintmax_t{256} << 20;
// Values kept in the tree besides the pointer track (ranges, events, settings): enough for
// hundreds of thousands of edits, and few enough that a hostile array cannot exhaust memory.
constexpr std::size_t kMostTreeValues = 500'000;

// A length of the recording in seconds.
bool isRecordingLength(double v) {
  return v >= 0 && v <= kLongestRecording;
}

// An offset between the recording's files in seconds: either sign, but no larger than any
// recording is long. Times within the recording are not limited: the editing operations
// clamp them to its length.
bool isOffset(double v) {
  return std::abs(v) <= kLongestRecording;
}

// A side of the captured frame in pixels.
bool isFrameSide(std::int64_t v) {
  return v >= 1 && v <= kLargestFrameSide;
}

// A movie or sound of the recording: an absolute local path, never anything the media
// library would take for an address (a URL, "pipe:", "file:") or a path relative to
// wherever the app was started.
bool isLocalMediaPath(std::string_view text) {
  return text.starts_with('/') && text.find('\0') == std::string_view::npos;
}

enum class Fault { notAProject, damaged, tooLarge, missing, wrongKind, outOfRange, notALocalPath };

// What is wrong, in the interface language. `field` is where the value stands
// ("samples[3].x"); the message names the part of the project it belongs to in words. The
// JSON library's own text is left out: it quotes the bytes around the fault, cut anywhere
// (inside a character, or in a path with the home folder in full), in English under either
// language.
struct ReadFault {
  Fault fault = Fault::damaged;
  std::string field;

  std::string describe() const {
    const std::size_t end = field.find_first_of(".[");
    const std::string part = documentPartInWords(field.substr(0, end));
    const bool inside = end != std::string::npos;
    switch (fault) {
      case Fault::notAProject:
        return L("它不是 Vantry 项目。");
      case Fault::damaged:
        return L("它已损坏或不完整。");
      case Fault::tooLarge:
        return L("它太大，不可能是 Vantry 项目。");
      case Fault::missing:
        return inside ? L("{0}不完整。", part) : L("{0}缺失。", part);
      case Fault::wrongKind:
        return L("{0}格式不对。", part);
      case Fault::outOfRange:
        return L("{0}超出范围。", part);
      case Fault::notALocalPath:
        return L("{0}不是本机上的文件。", part);
    }
    return L("它已损坏或不完整。");
  }
};

// ---------------------------------------------------------------- writing

[[noreturn]] void refuse(Fault fault, const std::string& field) {
  throw DocumentError(ReadFault{fault, field}.describe(), field);
}

// As the reader refuses a number that is not finite.
[[noreturn]] void refuseNumber(const std::string& where) {
  refuse(Fault::outOfRange, where);
}

void checkFinite(double v, const std::string& where) {
  if (!std::isfinite(v)) refuseNumber(where);
}

void checkFinite(const std::optional<double>& v, const std::string& where) {
  if (v) checkFinite(*v, where);
}

void checkFinite(const std::optional<Point>& p, const std::string& where) {
  if (p) {
    checkFinite(p->x, where);
    checkFinite(p->y, where);
  }
}

// Every number is checked before a single byte is produced.
void checkWritable(const Clip& clip) {
  checkFinite(clip.duration, "duration");
  checkFinite(clip.cameraOffset, "cameraOffset");
  checkFinite(clip.audioOffset, "audioOffset");
  checkFinite(clip.cameraSyncAdjustment, "cameraSyncAdjustment");
  const std::vector<PointerSample>& samples = clip.samples;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const PointerSample& s = samples[i];
    if (!std::isfinite(s.time) || !std::isfinite(s.x) || !std::isfinite(s.y)) {
      refuseNumber("samples[" + std::to_string(i) + "]");
    }
  }
  if (clip.keptRanges) {
    for (std::size_t i = 0; i < clip.keptRanges->size(); ++i) {
      const SourceRange& r = (*clip.keptRanges)[i];
      if (!std::isfinite(r.start) || !std::isfinite(r.end)) {
        refuseNumber("keptRanges[" + std::to_string(i) + "]");
      }
    }
  }
  if (clip.presenterEvents) {
    for (std::size_t i = 0; i < clip.presenterEvents->size(); ++i) {
      checkFinite((*clip.presenterEvents)[i].time, "presenterEvents[" + std::to_string(i) + "]");
    }
  }
  if (clip.zoomEventsOverride) {
    for (std::size_t i = 0; i < clip.zoomEventsOverride->size(); ++i) {
      const ZoomEvent& z = (*clip.zoomEventsOverride)[i];
      const std::string where = "zoomEventsOverride[" + std::to_string(i) + "]";
      checkFinite(z.start, where);
      checkFinite(z.end, where);
      checkFinite(z.center.x, where);
      checkFinite(z.center.y, where);
      checkFinite(z.amount, where);
    }
  }
  if (clip.savedSettings) {
    const EditSettings& s = *clip.savedSettings;
    checkFinite(s.zoomAmount, "savedSettings.zoomAmount");
    checkFinite(s.smoothness, "savedSettings.smoothness");
    checkFinite(s.hold, "savedSettings.hold");
    checkFinite(s.cameraSize, "savedSettings.cameraSize");
    checkFinite(s.cameraPosition, "savedSettings.cameraPosition");
    checkFinite(s.padding, "savedSettings.padding");
  }
}

void checkLocalPath(const std::optional<std::string>& path, const char* field) {
  if (path && !isLocalMediaPath(*path)) refuse(Fault::notALocalPath, field);
}

void checkOffset(const std::optional<double>& v, const char* field) {
  if (v && !isOffset(*v)) refuse(Fault::outOfRange, field);
}

// What the reader would refuse in a document that is otherwise writable.
void checkWithinLimits(const Clip& clip) {
  if (!isRecordingLength(clip.duration)) refuse(Fault::outOfRange, "duration");
  checkLocalPath(clip.screenPath, "screenPath");
  checkLocalPath(clip.cameraPath, "cameraPath");
  checkLocalPath(clip.audioPath, "audioPath");
  checkOffset(clip.cameraOffset, "cameraOffset");
  checkOffset(clip.audioOffset, "audioOffset");
  checkOffset(clip.cameraSyncAdjustment, "cameraSyncAdjustment");
  if (!isFrameSide(clip.width)) refuse(Fault::outOfRange, "width");
  if (!isFrameSide(clip.height)) refuse(Fault::outOfRange, "height");
}

// Compact JSON straight into one string: the pointer track of a long recording is
// hundreds of thousands of objects, too many for a tree of json values.
class Writer {
 public:
  std::string take() { return std::move(out_); }
  void reserve(std::size_t n) { out_.reserve(n); }

  void raw(std::string_view text) { out_ += text; }

  void key(std::string_view name) {
    separate();
    out_ += '"';
    out_ += name;  // our own keys: plain ASCII, nothing to escape
    out_ += "\":";
    pendingValue_ = true;
  }

  void open(char bracket) {
    value();
    out_ += bracket;
    first_ = true;
  }

  void close(char bracket) {
    out_ += bracket;
    first_ = false;
  }

  void number(double v) {
    value();
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
    out_ += text;
    // Keep doubles recognisable as such (and -0.0 as itself) when read back.
    if (text.find_first_of(".e") == std::string_view::npos) out_ += ".0";
  }

  void integer(std::int64_t v) {
    value();
    char buffer[24];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    out_.append(buffer, end);
  }

  void boolean(bool v) {
    value();
    out_ += v ? "true" : "false";
  }

  void string(const std::string& text, std::string_view where) {
    value();
    try {
      out_ += json(text).dump(-1, ' ', false, json::error_handler_t::strict);
    } catch (const json::exception& e) {
      throw DocumentError("cannot write the document: " + std::string(where) + ": " + e.what());
    }
  }

  // Text known to be plain ASCII without quotes or backslashes.
  void plain(std::string_view text) {
    value();
    out_ += '"';
    out_ += text;
    out_ += '"';
  }

  void uuid(const Uuid& id) {
    value();
    out_ += '"';
    out_ += id.toString();
    out_ += '"';
  }

  void point(const Point& p) {
    open('[');
    number(p.x);
    number(p.y);
    close(']');
  }

  // The values written so far outside the pointer track, which the reader keeps in its
  // tree and counts against its limit.
  std::size_t treeValues() const { return values_; }
  void countValues(bool on) { counting_ = on; }

 private:
  void value() {
    separate();
    if (counting_) ++values_;
  }

  // Places the comma between members; a value right after its key needs none.
  void separate() {
    if (pendingValue_) {
      pendingValue_ = false;
      first_ = false;
      return;
    }
    if (!first_) out_ += ',';
    first_ = false;
  }

  std::string out_;
  bool first_ = true;
  bool pendingValue_ = false;
  std::size_t values_ = 0;
  bool counting_ = true;
};

void writeSettings(Writer& w, const EditSettings& s) {
  w.open('{');
  w.key("zoomEnabled");
  w.boolean(s.zoomEnabled);
  w.key("zoomAmount");
  w.number(s.zoomAmount);
  w.key("follow");
  w.boolean(s.follow);
  w.key("smoothness");
  w.number(s.smoothness);
  w.key("hold");
  w.number(s.hold);
  w.key("showCamera");
  w.boolean(s.showCamera);
  w.key("cameraSize");
  w.number(s.cameraSize);
  w.key("corner");
  w.plain(rawValue(s.corner));
  if (s.cameraPosition) {
    w.key("cameraPosition");
    w.point(*s.cameraPosition);
  }
  w.key("showCursor");
  w.boolean(s.showCursor);
  w.key("showClicks");
  w.boolean(s.showClicks);
  w.key("padding");
  w.number(s.padding);
  if (s.mirrorCamera) {
    w.key("mirrorCamera");
    w.boolean(*s.mirrorCamera);
  }
  w.key("background");
  w.integer(s.background);
  w.close('}');
}

template <typename T, typename F>
void writeList(Writer& w, const std::vector<T>& list, F&& writeOne) {
  w.open('[');
  for (const T& item : list)
    writeOne(item);
  w.close(']');
}

void writeOptional(Writer& w, const char* key, const std::optional<double>& v) {
  if (!v) return;
  w.key(key);
  w.number(*v);
}

void writeOptional(Writer& w, const char* key, const std::optional<std::string>& v) {
  if (!v) return;
  w.key(key);
  w.string(*v, key);
}

// ---------------------------------------------------------------- reading

// Where in the document a value stands, for the error description; built only when
// a read fails.
struct Path {
  const Path* parent = nullptr;
  const char* key = nullptr;
  std::size_t index = 0;

  std::string text() const {
    if (!parent) return std::string();  // the document itself
    std::string prefix = parent->text();
    if (key) return prefix.empty() ? std::string(key) : prefix + "." + key;
    return prefix + "[" + std::to_string(index) + "]";
  }
  Path operator/(const char* name) const { return Path{this, name, 0}; }
  Path operator[](std::size_t i) const { return Path{this, nullptr, i}; }
};

class ReadError : public std::exception {
 public:
  explicit ReadError(ReadFault fault) : fault_(std::move(fault)) {}
  const ReadFault& fault() const { return fault_; }
  const char* what() const noexcept override { return "document read error"; }

 private:
  ReadFault fault_;
};

[[noreturn]] void fail(Fault fault, const Path& path) {
  throw ReadError(ReadFault{fault, path.text()});
}

const json& object(const json& value, const Path& path) {
  if (!value.is_object()) fail(Fault::wrongKind, path);
  return value;
}

const json& array(const json& value, const Path& path) {
  if (!value.is_array()) fail(Fault::wrongKind, path);
  return value;
}

// A required member: missing or null fails.
const json& required(const json& obj, const char* key, const Path& path) {
  const auto it = obj.find(key);
  if (it == obj.end() || it->is_null()) fail(Fault::missing, path / key);
  return *it;
}

// An optional member: missing or null reads as absent.
const json* optional(const json& obj, const char* key) {
  const auto it = obj.find(key);
  if (it == obj.end() || it->is_null()) return nullptr;
  return &*it;
}

double number(const json& value, const Path& path) {
  double v = 0;
  if (value.is_number_float()) {
    v = value.get<double>();
  } else if (value.is_number_unsigned()) {
    v = static_cast<double>(value.get<std::uint64_t>());
  } else if (value.is_number_integer()) {
    v = static_cast<double>(value.get<std::int64_t>());
  } else {
    fail(Fault::wrongKind, path);
  }
  if (!std::isfinite(v)) fail(Fault::outOfRange, path);
  return v;
}

double offset(const json& value, const Path& path) {
  const double v = number(value, path);
  if (!isOffset(v)) fail(Fault::outOfRange, path);
  return v;
}

std::int64_t integer(const json& value, const Path& path) {
  if (value.is_number_unsigned()) {
    const std::uint64_t v = value.get<std::uint64_t>();
    if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      fail(Fault::outOfRange, path);
    }
    return static_cast<std::int64_t>(v);
  }
  if (value.is_number_integer()) return value.get<std::int64_t>();
  if (value.is_number_float()) {
    // A whole number written with a fraction or exponent (1920.0, 1e3) is still whole.
    const double v = value.get<double>();
    if (!std::isfinite(v)) fail(Fault::outOfRange, path);
    if (std::trunc(v) != v) fail(Fault::wrongKind, path);
    // Strict at both ends: a text just below the smallest integer rounds to it.
    if (!(v > -9223372036854775808.0 && v < 9223372036854775808.0)) fail(Fault::outOfRange, path);
    return static_cast<std::int64_t>(v);
  }
  fail(Fault::wrongKind, path);
}

std::int64_t frameSide(const json& value, const Path& path) {
  const std::int64_t v = integer(value, path);
  if (!isFrameSide(v)) fail(Fault::outOfRange, path);
  return v;
}

bool boolean(const json& value, const Path& path) {
  if (!value.is_boolean()) fail(Fault::wrongKind, path);
  return value.get<bool>();
}

std::string string(const json& value, const Path& path) {
  if (!value.is_string()) fail(Fault::wrongKind, path);
  return value.get<std::string>();
}

Uuid uuid(const json& value, const Path& path) {
  if (!value.is_string()) fail(Fault::wrongKind, path);
  const auto id = Uuid::parse(value.get_ref<const std::string&>());
  if (!id) fail(Fault::wrongKind, path);
  return *id;
}

Point point(const json& value, const Path& path) {
  if (!value.is_array() || value.size() < 2) fail(Fault::wrongKind, path);
  return Point{number(value[0], path[0]), number(value[1], path[1])};
}

template <typename T, typename F>
std::vector<T> list(const json& value, const Path& path, F&& readOne) {
  array(value, path);
  std::vector<T> result;
  result.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i)
    result.push_back(readOne(value[i], path[i]));
  return result;
}

PointerSample readSample(const json& value, const Path& path) {
  object(value, path);
  return PointerSample{number(required(value, "time", path), path / "time"),
                       number(required(value, "x", path), path / "x"),
                       number(required(value, "y", path), path / "y"),
                       boolean(required(value, "clicked", path), path / "clicked")};
}

SourceRange readRange(const json& value, const Path& path) {
  object(value, path);
  return SourceRange{uuid(required(value, "id", path), path / "id"),
                     number(required(value, "start", path), path / "start"),
                     number(required(value, "end", path), path / "end")};
}

PresenterEvent readPresenterEvent(const json& value, const Path& path) {
  object(value, path);
  return PresenterEvent{uuid(required(value, "id", path), path / "id"),
                        number(required(value, "time", path), path / "time"),
                        boolean(required(value, "fullScreen", path), path / "fullScreen")};
}

ZoomEvent readZoomEvent(const json& value, const Path& path) {
  object(value, path);
  ZoomEvent event{uuid(required(value, "id", path), path / "id"),
                  number(required(value, "start", path), path / "start"),
                  number(required(value, "end", path), path / "end"),
                  point(required(value, "center", path), path / "center"),
                  {}};
  if (const json* amount = optional(value, "amount"))
    event.amount = number(*amount, path / "amount");
  return event;
}

EditSettings readSettings(const json& value, const Path& path) {
  object(value, path);
  EditSettings s;
  s.zoomEnabled = boolean(required(value, "zoomEnabled", path), path / "zoomEnabled");
  s.zoomAmount = number(required(value, "zoomAmount", path), path / "zoomAmount");
  s.follow = boolean(required(value, "follow", path), path / "follow");
  s.smoothness = number(required(value, "smoothness", path), path / "smoothness");
  s.hold = number(required(value, "hold", path), path / "hold");
  s.showCamera = boolean(required(value, "showCamera", path), path / "showCamera");
  s.cameraSize = number(required(value, "cameraSize", path), path / "cameraSize");
  const auto parsed = cameraCornerFromRaw(string(required(value, "corner", path), path / "corner"));
  if (!parsed) fail(Fault::outOfRange, path / "corner");
  s.corner = *parsed;
  if (const json* p = optional(value, "cameraPosition")) {
    s.cameraPosition = point(*p, path / "cameraPosition");
  }
  s.showCursor = boolean(required(value, "showCursor", path), path / "showCursor");
  s.showClicks = boolean(required(value, "showClicks", path), path / "showClicks");
  s.padding = number(required(value, "padding", path), path / "padding");
  if (const json* m = optional(value, "mirrorCamera")) {
    s.mirrorCamera = boolean(*m, path / "mirrorCamera");
  }
  s.background = integer(required(value, "background", path), path / "background");
  return s;
}

std::optional<double> optionalOffset(const json& obj, const char* key, const Path& path) {
  if (const json* v = optional(obj, key)) return offset(*v, path / key);
  return std::nullopt;
}

std::optional<std::string> optionalMediaPath(const json& obj, const char* key, const Path& path) {
  const json* v = optional(obj, key);
  if (!v) return std::nullopt;
  std::string text = string(*v, path / key);
  if (!isLocalMediaPath(text)) fail(Fault::notALocalPath, path / key);
  return text;
}

// The keys of the document itself; any other is skipped unread.
bool isDocumentKey(std::string_view name) {
  static constexpr std::string_view kKeys[] = {"id",
                                               "title",
                                               "duration",
                                               "screenPath",
                                               "cameraPath",
                                               "audioPath",
                                               "cameraOffset",
                                               "audioOffset",
                                               "cameraSyncAdjustment",
                                               "samples",
                                               "isDemo",
                                               "width",
                                               "height",
                                               "keptRanges",
                                               "presenterEvents",
                                               "zoomEventsOverride",
                                               "savedSettings"};
  return std::find(std::begin(kKeys), std::end(kKeys), name) != std::end(kKeys);
}

// Builds the JSON tree of the document, except for the pointer track: its samples
// (216,000 in an hour) go straight into PointerSample values, strictly checked on the
// way, instead of one small tree object each. Keys the format does not list are skipped
// at the top level, and the tree is capped, so that no document exhausts memory.
class DocumentBuilder {
 public:
  json root;
  std::vector<PointerSample> samples;
  bool samplesRead = false;  // the track came through the fast path
  std::optional<ReadFault> failure;

  bool null() { return scalar(json(nullptr)); }
  bool boolean(bool v) { return scalar(json(v)); }
  bool number_integer(std::int64_t v) { return scalar(json(v)); }
  bool number_unsigned(std::uint64_t v) { return scalar(json(v)); }
  bool number_float(double v, const std::string&) { return scalar(json(v)); }
  bool string(std::string& v) { return scalar(json(std::move(v))); }
  bool binary(json::binary_t&) { return fail(Fault::damaged, ""); }

  bool start_object(std::size_t) {
    if (skipping_) return skipOpen();
    if (inTrack_) return trackOpen(true);
    return open(json::object());
  }
  bool start_array(std::size_t) {
    if (skipping_) return skipOpen();
    if (inTrack_) return trackOpen(false);
    if (atRootKey("samples")) {
      root.erase("samples");
      samples.clear();
      samplesRead = true;
      inTrack_ = true;
      level_ = 0;
      return true;
    }
    return open(json::array());
  }
  bool end_object() {
    if (skipping_) return skipClose();
    if (inTrack_) return trackClose();
    stack_.pop_back();
    return true;
  }
  bool end_array() {
    if (skipping_) return skipClose();
    if (inTrack_) return trackClose();
    stack_.pop_back();
    return true;
  }
  bool key(std::string& name) {
    if (skipping_) return true;
    if (inTrack_) {
      if (level_ == 1) field_ = fieldOf(name);
      return true;
    }
    if (atRoot() && !isDocumentKey(name)) {
      skipping_ = true;
      skipLevel_ = 0;
      return true;
    }
    key_ = std::move(name);
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const json::exception&) {
    return fail(Fault::damaged, "");
  }

 private:
  enum Field { kTime, kX, kY, kClicked, kOther };

  static Field fieldOf(const std::string& name) {
    if (name == "time") return kTime;
    if (name == "x") return kX;
    if (name == "y") return kY;
    if (name == "clicked") return kClicked;
    return kOther;
  }
  static const char* nameOf(Field f) {
    static constexpr const char* kNames[] = {"time", "x", "y", "clicked", ""};
    return kNames[f];
  }

  bool fail(Fault fault, std::string field) {
    failure = ReadFault{fault, std::move(field)};
    return false;
  }
  bool failSample(const char* key, Fault fault) {
    std::string where = "samples[" + std::to_string(samples.size()) + "]";
    if (*key) where += std::string(".") + key;
    return fail(fault, std::move(where));
  }

  bool atRoot() const { return stack_.size() == 1 && stack_.back() == &root && root.is_object(); }
  bool atRootKey(const char* name) const { return atRoot() && key_ == name; }

  // The value of a key the format does not list, passed over whole.
  bool skipOpen() {
    ++skipLevel_;
    return true;
  }
  bool skipClose() {
    if (--skipLevel_ == 0) skipping_ = false;
    return true;
  }

  json* insert(json&& value) {
    if (++values_ > kMostTreeValues) {
      fail(Fault::tooLarge, "");
      return nullptr;
    }
    if (stack_.empty()) {
      root = std::move(value);
      return &root;
    }
    json& parent = *stack_.back();
    if (parent.is_array()) {
      // The document's lists hold objects only: anything else fails at once, before a
      // long list of it is built.
      if (stack_.size() == 2 && !value.is_object()) {
        fail(Fault::wrongKind, rootList_ + "[" + std::to_string(parent.size()) + "]");
        return nullptr;
      }
      parent.push_back(std::move(value));
      return &parent.back();
    }
    if (stack_.size() == 1) rootList_ = key_;
    // A later "samples" that is not an array replaces a track read earlier.
    if (atRootKey("samples")) samplesRead = false;
    json& slot = parent[key_];
    slot = std::move(value);
    return &slot;
  }
  bool open(json&& container) {
    json* placed = insert(std::move(container));
    if (!placed) return false;
    stack_.push_back(placed);
    return true;
  }
  bool scalar(json&& value) {
    if (skipping_) {
      if (skipLevel_ == 0) skipping_ = false;
      return true;
    }
    if (inTrack_) return trackScalar(value);
    return insert(std::move(value)) != nullptr;
  }

  bool trackOpen(bool object) {
    if (level_ == 0) {
      if (!object) return failSample("", Fault::wrongKind);
      sample_ = PointerSample{};
      seen_ = 0;
      level_ = 1;
      return true;
    }
    if (level_ == 1 && field_ != kOther) return failSample(nameOf(field_), Fault::wrongKind);
    ++level_;  // skipping the value of a key the format does not list
    return true;
  }

  bool trackClose() {
    if (level_ == 0) {
      inTrack_ = false;
      return true;
    }
    if (level_ == 1) {
      for (Field f : {kTime, kX, kY, kClicked}) {
        if (!(seen_ & (1u << f))) return failSample(nameOf(f), Fault::missing);
      }
      samples.push_back(sample_);
      level_ = 0;
      return true;
    }
    --level_;
    return true;
  }

  bool trackScalar(const json& value) {
    if (level_ == 0) return failSample("", Fault::wrongKind);
    if (level_ > 1 || field_ == kOther) return true;
    const unsigned bit = 1u << field_;
    if (value.is_null()) {  // null reads as missing
      seen_ &= ~bit;
      return true;
    }
    if (field_ == kClicked) {
      if (!value.is_boolean()) return failSample("clicked", Fault::wrongKind);
      sample_.clicked = value.get<bool>();
    } else {
      if (!value.is_number()) return failSample(nameOf(field_), Fault::wrongKind);
      const double v = value.get<double>();
      if (!std::isfinite(v)) return failSample(nameOf(field_), Fault::outOfRange);
      (field_ == kTime ? sample_.time : field_ == kX ? sample_.x : sample_.y) = v;
    }
    seen_ |= bit;
    return true;
  }

  std::vector<json*> stack_;
  std::string key_;
  std::string rootList_;  // the key of the list being read at the top level
  std::size_t values_ = 0;
  bool skipping_ = false;
  int skipLevel_ = 0;
  bool inTrack_ = false;
  int level_ = 0;
  Field field_ = kOther;
  unsigned seen_ = 0;
  PointerSample sample_;
};

Clip readClip(std::string_view bytes) {
  // Anything but a JSON object is some other kind of file; nothing at all is a cut one.
  const auto first = bytes.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) throw ReadError(ReadFault{Fault::damaged, {}});
  if (bytes[first] != '{') throw ReadError(ReadFault{Fault::notAProject, {}});
  DocumentBuilder builder;
  bool parsed = false;
  try {
    parsed = json::sax_parse(bytes.begin(), bytes.end(), &builder);
  } catch (const json::exception&) {
    throw ReadError(ReadFault{Fault::damaged, {}});
  }
  if (!parsed) throw ReadError(builder.failure.value_or(ReadFault{}));
  const json& doc = builder.root;
  const Path root;
  // An object with none of the document's main keys is some other JSON file.
  if (!builder.samplesRead && !doc.contains("id") && !doc.contains("duration") &&
      !doc.contains("samples"))
    fail(Fault::notAProject, root);

  Clip clip;
  clip.id = uuid(required(doc, "id", root), root / "id");
  clip.title = string(required(doc, "title", root), root / "title");
  clip.duration = number(required(doc, "duration", root), root / "duration");
  if (!isRecordingLength(clip.duration)) fail(Fault::outOfRange, root / "duration");
  clip.screenPath = optionalMediaPath(doc, "screenPath", root);
  clip.cameraPath = optionalMediaPath(doc, "cameraPath", root);
  clip.audioPath = optionalMediaPath(doc, "audioPath", root);
  clip.cameraOffset = optionalOffset(doc, "cameraOffset", root);
  clip.audioOffset = optionalOffset(doc, "audioOffset", root);
  clip.cameraSyncAdjustment = optionalOffset(doc, "cameraSyncAdjustment", root);
  if (builder.samplesRead) {
    clip.samples = std::move(builder.samples);
  } else {
    clip.samples =
        list<PointerSample>(required(doc, "samples", root), root / "samples", readSample);
  }
  clip.isDemo = boolean(required(doc, "isDemo", root), root / "isDemo");
  clip.width = frameSide(required(doc, "width", root), root / "width");
  clip.height = frameSide(required(doc, "height", root), root / "height");
  if (const json* v = optional(doc, "keptRanges")) {
    clip.keptRanges = list<SourceRange>(*v, root / "keptRanges", readRange);
  }
  if (const json* v = optional(doc, "presenterEvents")) {
    clip.presenterEvents = list<PresenterEvent>(*v, root / "presenterEvents", readPresenterEvent);
  }
  if (const json* v = optional(doc, "zoomEventsOverride")) {
    clip.zoomEventsOverride = list<ZoomEvent>(*v, root / "zoomEventsOverride", readZoomEvent);
  }
  if (const json* v = optional(doc, "savedSettings")) {
    clip.savedSettings = readSettings(*v, root / "savedSettings");
  }
  return clip;
}

// Reads at most kLargestDocument + 1 bytes of a regular file; the fault, or none.
std::optional<std::string> readDocumentBytes(const std::string& path, std::string& bytes) {
  const std::string sentence = L("无法打开项目 {0}。", shownPath(path));
  const std::string tooLarge = withReason(sentence, ReadFault{Fault::tooLarge, {}}.describe());
  // Only a regular file of a document's size is opened at all: a pipe would block for
  // ever, a device might never end or do something on opening.
  auto refusal = [&](const struct stat& st) -> std::optional<std::string> {
    if (S_ISDIR(st.st_mode)) return systemFailure(sentence, EISDIR);
    if (!S_ISREG(st.st_mode)) return withReason(sentence, L("它不是普通文件，而是管道或设备。"));
    if (static_cast<std::uintmax_t>(st.st_size) > kLargestDocument) return tooLarge;
    return std::nullopt;
  };
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return systemFailure(sentence, errno);
  if (auto refused = refusal(st)) return refused;
  // Not blocking, and checked again once open: the path may have been replaced meanwhile.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return systemFailure(sentence, errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  if (::fstat(fd, &st) != 0) return systemFailure(sentence, errno);
  if (auto refused = refusal(st)) return refused;
  // The size is only a hint: the file may change while it is read.
  bytes.resize(static_cast<std::size_t>(st.st_size) + 1);
  std::size_t have = 0;
  for (;;) {
    if (have == bytes.size()) {
      if (bytes.size() > kLargestDocument) return tooLarge;
      bytes.resize(std::min<std::uintmax_t>(bytes.size() * 2, kLargestDocument + 1));
    }
    const ssize_t n = ::read(fd, bytes.data() + have, bytes.size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return systemFailure(sentence, errno);
    if (n == 0) break;
    have += static_cast<std::size_t>(n);
  }
  bytes.resize(have);
  return std::nullopt;
}

}  // namespace

std::string documentPartInWords(std::string_view key) {
  if (key == "id") return L("其中的项目标识");
  if (key == "title") return L("其中的标题");
  if (key == "duration") return L("其中的时长");
  if (key == "screenPath") return L("其中的录屏视频");
  if (key == "cameraPath") return L("其中的摄像头视频");
  if (key == "audioPath") return L("其中的声音");
  if (key == "cameraOffset") return L("其中的摄像头时间偏移");
  if (key == "audioOffset") return L("其中的声音时间偏移");
  if (key == "cameraSyncAdjustment") return L("其中的摄像头同步调整");
  if (key == "samples") return L("其中的鼠标轨迹");
  if (key == "isDemo") return L("其中的演示标记");
  if (key == "width" || key == "height") return L("其中的画面尺寸");
  if (key == "keptRanges") return L("其中的片段列表");
  if (key == "presenterEvents") return L("其中的人物布局列表");
  if (key == "zoomEventsOverride") return L("其中的缩放列表");
  if (key == "savedSettings") return L("其中保存的画面设置");
  return L("其中的一项");
}

std::string encodeClip(const Clip& clip) {
  checkWritable(clip);
  checkWithinLimits(clip);
  Writer w;
  w.reserve(512 + clip.samples.size() * 64);
  w.open('{');
  w.key("id");
  w.uuid(clip.id);
  w.key("title");
  w.string(clip.title, "title");
  w.key("duration");
  w.number(clip.duration);
  writeOptional(w, "screenPath", clip.screenPath);
  writeOptional(w, "cameraPath", clip.cameraPath);
  writeOptional(w, "audioPath", clip.audioPath);
  writeOptional(w, "cameraOffset", clip.cameraOffset);
  writeOptional(w, "audioOffset", clip.audioOffset);
  writeOptional(w, "cameraSyncAdjustment", clip.cameraSyncAdjustment);
  w.key("samples");
  w.countValues(false);  // the reader takes the track aside, not into its tree
  writeList(w, clip.samples.get(), [&](const PointerSample& s) {
    w.open('{');
    w.key("time");
    w.number(s.time);
    w.key("x");
    w.number(s.x);
    w.key("y");
    w.number(s.y);
    w.key("clicked");
    w.boolean(s.clicked);
    w.close('}');
  });
  w.countValues(true);
  w.key("isDemo");
  w.boolean(clip.isDemo);
  w.key("width");
  w.integer(clip.width);
  w.key("height");
  w.integer(clip.height);
  if (clip.keptRanges) {
    w.key("keptRanges");
    writeList(w, *clip.keptRanges, [&](const SourceRange& r) {
      w.open('{');
      w.key("id");
      w.uuid(r.id);
      w.key("start");
      w.number(r.start);
      w.key("end");
      w.number(r.end);
      w.close('}');
    });
  }
  if (clip.presenterEvents) {
    w.key("presenterEvents");
    writeList(w, *clip.presenterEvents, [&](const PresenterEvent& e) {
      w.open('{');
      w.key("id");
      w.uuid(e.id);
      w.key("time");
      w.number(e.time);
      w.key("fullScreen");
      w.boolean(e.fullScreen);
      w.close('}');
    });
  }
  if (clip.zoomEventsOverride) {
    w.key("zoomEventsOverride");
    writeList(w, *clip.zoomEventsOverride, [&](const ZoomEvent& z) {
      w.open('{');
      w.key("id");
      w.uuid(z.id);
      w.key("start");
      w.number(z.start);
      w.key("end");
      w.number(z.end);
      w.key("center");
      w.point(z.center);
      if (z.amount) {
        w.key("amount");
        w.number(*z.amount);
      }
      w.close('}');
    });
  }
  if (clip.savedSettings) {
    w.key("savedSettings");
    writeSettings(w, *clip.savedSettings);
  }
  w.close('}');
  if (w.treeValues() > kMostTreeValues) refuse(Fault::tooLarge, "");
  std::string bytes = w.take();
  if (bytes.size() > kLargestDocument) refuse(Fault::tooLarge, "");
  return bytes;
}

Clip decodeClip(std::string_view bytes) {
  try {
    return readClip(bytes);
  } catch (const ReadError& e) {
    throw DocumentError(e.fault().describe(), e.fault().field);
  } catch (const std::bad_alloc&) {
    throw DocumentError(ReadFault{Fault::tooLarge, {}}.describe());
  }
}

Clip decodeClipFile(const std::string& path) {
  std::string bytes;
  if (auto failure = readDocumentBytes(path, bytes)) throw DocumentError(*failure);
  try {
    return decodeClip(bytes);
  } catch (const DocumentError& e) {
    throw DocumentError(withReason(L("无法打开项目 {0}。", shownPath(path)), e.what()), e.where());
  }
}

}  // namespace vantry
