#include "model/document_json.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>

namespace vantry {

namespace {

using nlohmann::json;

// ---------------------------------------------------------------- writing

[[noreturn]] void refuseNumber(const std::string& where) {
  throw DocumentError("cannot write the document: " + where + " is not a finite number");
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
    separate();
    out_ += bracket;
    first_ = true;
  }

  void close(char bracket) {
    out_ += bracket;
    first_ = false;
  }

  void number(double v) {
    separate();
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
    out_ += text;
    // Keep doubles recognisable as such (and -0.0 as itself) when read back.
    if (text.find_first_of(".e") == std::string_view::npos) out_ += ".0";
  }

  void integer(std::int64_t v) {
    separate();
    char buffer[24];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    out_.append(buffer, end);
  }

  void boolean(bool v) {
    separate();
    out_ += v ? "true" : "false";
  }

  void string(const std::string& text, std::string_view where) {
    separate();
    try {
      out_ += json(text).dump(-1, ' ', false, json::error_handler_t::strict);
    } catch (const json::exception& e) {
      throw DocumentError("cannot write the document: " + std::string(where) + ": " + e.what());
    }
  }

  // Text known to be plain ASCII without quotes or backslashes.
  void plain(std::string_view text) {
    separate();
    out_ += '"';
    out_ += text;
    out_ += '"';
  }

  void uuid(const Uuid& id) {
    separate();
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

 private:
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

[[noreturn]] void fail(const Path& path, const std::string& problem) {
  const std::string where = path.text();
  throw DocumentError(where.empty() ? problem : where + ": " + problem);
}

const json& object(const json& value, const Path& path) {
  if (!value.is_object()) fail(path, "expected an object");
  return value;
}

const json& array(const json& value, const Path& path) {
  if (!value.is_array()) fail(path, "expected an array");
  return value;
}

// A required member: missing or null fails.
const json& required(const json& obj, const char* key, const Path& path) {
  const auto it = obj.find(key);
  if (it == obj.end() || it->is_null()) fail(path / key, "required key is missing");
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
    fail(path, "expected a number");
  }
  if (!std::isfinite(v)) fail(path, "number out of range");
  return v;
}

std::int64_t integer(const json& value, const Path& path) {
  if (value.is_number_unsigned()) {
    const std::uint64_t v = value.get<std::uint64_t>();
    if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      fail(path, "integer out of the 64-bit range");
    }
    return static_cast<std::int64_t>(v);
  }
  if (value.is_number_integer()) return value.get<std::int64_t>();
  if (value.is_number_float()) {
    // A whole number written with a fraction or exponent (1920.0, 1e3) is still whole.
    const double v = value.get<double>();
    if (!std::isfinite(v) || std::trunc(v) != v) fail(path, "expected a whole number");
    // Strict at both ends: a text just below the smallest integer rounds to it.
    if (!(v > -9223372036854775808.0 && v < 9223372036854775808.0)) {
      fail(path, "integer out of the 64-bit range");
    }
    return static_cast<std::int64_t>(v);
  }
  fail(path, "expected an integer");
}

bool boolean(const json& value, const Path& path) {
  if (!value.is_boolean()) fail(path, "expected true or false");
  return value.get<bool>();
}

std::string string(const json& value, const Path& path) {
  if (!value.is_string()) fail(path, "expected a string");
  return value.get<std::string>();
}

Uuid uuid(const json& value, const Path& path) {
  if (!value.is_string()) fail(path, "expected a UUID string");
  const auto id = Uuid::parse(value.get_ref<const std::string&>());
  if (!id) fail(path, "malformed UUID");
  return *id;
}

Point point(const json& value, const Path& path) {
  if (!value.is_array() || value.size() < 2) fail(path, "expected a point [x, y]");
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
  const std::string corner = string(required(value, "corner", path), path / "corner");
  const auto parsed = cameraCornerFromRaw(corner);
  if (!parsed) fail(path / "corner", "unknown corner \"" + corner + "\"");
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

std::optional<double> optionalNumber(const json& obj, const char* key, const Path& path) {
  if (const json* v = optional(obj, key)) return number(*v, path / key);
  return std::nullopt;
}

std::optional<std::string> optionalString(const json& obj, const char* key, const Path& path) {
  if (const json* v = optional(obj, key)) return string(*v, path / key);
  return std::nullopt;
}

// Builds the JSON tree of the document, except for the pointer track: its samples
// (216,000 in an hour) go straight into PointerSample values, strictly checked on the
// way, instead of one small tree object each.
class DocumentBuilder {
 public:
  json root;
  std::vector<PointerSample> samples;
  bool samplesRead = false;  // the track came through the fast path
  std::string error;

  bool null() { return scalar(json(nullptr)); }
  bool boolean(bool v) { return scalar(json(v)); }
  bool number_integer(std::int64_t v) { return scalar(json(v)); }
  bool number_unsigned(std::uint64_t v) { return scalar(json(v)); }
  bool number_float(double v, const std::string&) { return scalar(json(v)); }
  bool string(std::string& v) { return scalar(json(std::move(v))); }
  bool binary(json::binary_t&) { return fail("unexpected binary value"); }

  bool start_object(std::size_t) {
    if (inTrack_) return trackOpen(true);
    open(json::object());
    return true;
  }
  bool start_array(std::size_t) {
    if (inTrack_) return trackOpen(false);
    if (atRootKey("samples")) {
      root.erase("samples");
      samples.clear();
      samplesRead = true;
      inTrack_ = true;
      level_ = 0;
      return true;
    }
    open(json::array());
    return true;
  }
  bool end_object() {
    if (inTrack_) return trackClose();
    stack_.pop_back();
    return true;
  }
  bool end_array() {
    if (inTrack_) return trackClose();
    stack_.pop_back();
    return true;
  }
  bool key(std::string& name) {
    if (inTrack_) {
      if (level_ == 1) field_ = fieldOf(name);
      return true;
    }
    key_ = std::move(name);
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const json::exception& e) {
    error = e.what();
    return false;
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

  bool fail(std::string message) {
    error = std::move(message);
    return false;
  }
  bool failSample(const char* key, const char* problem) {
    std::string where = "samples[" + std::to_string(samples.size()) + "]";
    if (*key) where += std::string(".") + key;
    return fail(where + ": " + problem);
  }

  bool atRootKey(const char* name) const {
    return stack_.size() == 1 && stack_.back() == &root && root.is_object() && key_ == name;
  }

  json* insert(json&& value) {
    if (stack_.empty()) {
      root = std::move(value);
      return &root;
    }
    json& parent = *stack_.back();
    if (parent.is_array()) {
      parent.push_back(std::move(value));
      return &parent.back();
    }
    // A later "samples" that is not an array replaces a track read earlier.
    if (atRootKey("samples")) samplesRead = false;
    json& slot = parent[key_];
    slot = std::move(value);
    return &slot;
  }
  void open(json&& container) { stack_.push_back(insert(std::move(container))); }
  bool scalar(json&& value) {
    if (inTrack_) return trackScalar(value);
    insert(std::move(value));
    return true;
  }

  bool trackOpen(bool object) {
    if (level_ == 0) {
      if (!object) return failSample("", "expected an object");
      sample_ = PointerSample{};
      seen_ = 0;
      level_ = 1;
      return true;
    }
    if (level_ == 1 && field_ != kOther) {
      return failSample(nameOf(field_),
                        field_ == kClicked ? "expected true or false" : "expected a number");
    }
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
        if (!(seen_ & (1u << f))) return failSample(nameOf(f), "required key is missing");
      }
      samples.push_back(sample_);
      level_ = 0;
      return true;
    }
    --level_;
    return true;
  }

  bool trackScalar(const json& value) {
    if (level_ == 0) return failSample("", "expected an object");
    if (level_ > 1 || field_ == kOther) return true;
    const unsigned bit = 1u << field_;
    if (value.is_null()) {  // null reads as missing
      seen_ &= ~bit;
      return true;
    }
    if (field_ == kClicked) {
      if (!value.is_boolean()) return failSample("clicked", "expected true or false");
      sample_.clicked = value.get<bool>();
    } else {
      if (!value.is_number()) return failSample(nameOf(field_), "expected a number");
      const double v = value.get<double>();
      if (!std::isfinite(v)) return failSample(nameOf(field_), "number out of range");
      (field_ == kTime ? sample_.time : field_ == kX ? sample_.x : sample_.y) = v;
    }
    seen_ |= bit;
    return true;
  }

  std::vector<json*> stack_;
  std::string key_;
  bool inTrack_ = false;
  int level_ = 0;
  Field field_ = kOther;
  unsigned seen_ = 0;
  PointerSample sample_;
};

}  // namespace

std::string encodeClip(const Clip& clip) {
  checkWritable(clip);
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
  return w.take();
}

Clip decodeClip(std::string_view bytes) {
  DocumentBuilder builder;
  bool parsed = false;
  try {
    parsed = json::sax_parse(bytes.begin(), bytes.end(), &builder);
  } catch (const json::exception& e) {
    throw DocumentError(e.what());
  }
  if (!parsed) throw DocumentError(builder.error.empty() ? "malformed JSON" : builder.error);
  const json& doc = builder.root;
  const Path root;
  if (!doc.is_object()) fail(root, "the document is not a JSON object");

  Clip clip;
  clip.id = uuid(required(doc, "id", root), root / "id");
  clip.title = string(required(doc, "title", root), root / "title");
  clip.duration = number(required(doc, "duration", root), root / "duration");
  clip.screenPath = optionalString(doc, "screenPath", root);
  clip.cameraPath = optionalString(doc, "cameraPath", root);
  clip.audioPath = optionalString(doc, "audioPath", root);
  clip.cameraOffset = optionalNumber(doc, "cameraOffset", root);
  clip.audioOffset = optionalNumber(doc, "audioOffset", root);
  clip.cameraSyncAdjustment = optionalNumber(doc, "cameraSyncAdjustment", root);
  if (builder.samplesRead) {
    clip.samples = std::move(builder.samples);
  } else {
    clip.samples =
        list<PointerSample>(required(doc, "samples", root), root / "samples", readSample);
  }
  clip.isDemo = boolean(required(doc, "isDemo", root), root / "isDemo");
  clip.width = integer(required(doc, "width", root), root / "width");
  clip.height = integer(required(doc, "height", root), root / "height");
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

Clip decodeClipFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw DocumentError(path + ": " + std::strerror(errno));
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw DocumentError(path + ": read error");
  return decodeClip(bytes);
}

}  // namespace vantry
