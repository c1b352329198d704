// The project document's JSON form: what is written, what is read, and what is refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>

#include "localization/language_scope.h"
#include "localization/localization.h"
#include "model/clip.h"
#include "model/document_json.h"

namespace vantry {
namespace {

using nlohmann::json;
using ::testing::HasSubstr;

const Uuid kClipID = *Uuid::parse("0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9");

Clip minimalClip() {
  Clip clip;
  clip.id = kClipID;
  clip.title = "Demo";
  clip.duration = 12.5;
  clip.samples = std::vector<PointerSample>{{0, 0.1, 0.2, false}, {1.0 / 60, 0.3, 0.4, true}};
  return clip;
}

Clip fullClip() {
  Clip clip = minimalClip();
  clip.screenPath = "/home/u/Pexilar/Recordings/a/screen.mp4";
  clip.cameraPath = "/home/u/x/camera.mov";
  clip.audioPath = "/home/u/x/voice.m4a";
  clip.cameraOffset = -0.4;
  clip.audioOffset = 0.1;
  clip.cameraSyncAdjustment = 0.05;
  clip.isDemo = true;
  clip.width = 2560;
  clip.height = 1440;
  clip.keptRanges = std::vector<SourceRange>{{kClipID, 0, 5}, {Uuid::random(), 5, 12.5}};
  clip.presenterEvents =
      std::vector<PresenterEvent>{{Uuid::random(), 0, false}, {Uuid::random(), 3.25, true}};
  clip.zoomEventsOverride = std::vector<ZoomEvent>{
      {Uuid::random(), 1, 3, {0.25, 0.75}, std::nullopt}, {Uuid::random(), 4, 6, {0.5, 0.5}, 3.5}};
  EditSettings settings;
  settings.zoomEnabled = false;
  settings.zoomAmount = 2.75;
  settings.corner = CameraCorner::topLeft;
  settings.cameraPosition = Point{0.1, 0.9};
  settings.mirrorCamera = false;
  settings.background = 5;
  clip.savedSettings = settings;
  return clip;
}

void expectSameClip(const Clip& a, const Clip& b) {
  EXPECT_EQ(a.id, b.id);
  EXPECT_EQ(a.title, b.title);
  EXPECT_EQ(a.duration, b.duration);
  EXPECT_EQ(a.screenPath, b.screenPath);
  EXPECT_EQ(a.cameraPath, b.cameraPath);
  EXPECT_EQ(a.audioPath, b.audioPath);
  EXPECT_EQ(a.cameraOffset, b.cameraOffset);
  EXPECT_EQ(a.audioOffset, b.audioOffset);
  EXPECT_EQ(a.cameraSyncAdjustment, b.cameraSyncAdjustment);
  ASSERT_EQ(a.samples.size(), b.samples.size());
  for (std::size_t i = 0; i < a.samples.size(); ++i) {
    EXPECT_EQ(a.samples[i].time, b.samples[i].time);
    EXPECT_EQ(a.samples[i].x, b.samples[i].x);
    EXPECT_EQ(a.samples[i].y, b.samples[i].y);
    EXPECT_EQ(a.samples[i].clicked, b.samples[i].clicked);
  }
  EXPECT_EQ(a.isDemo, b.isDemo);
  EXPECT_EQ(a.width, b.width);
  EXPECT_EQ(a.height, b.height);
  EXPECT_EQ(a.keptRanges, b.keptRanges);
  EXPECT_EQ(a.presenterEvents, b.presenterEvents);
  EXPECT_EQ(a.zoomEventsOverride, b.zoomEventsOverride);
  EXPECT_EQ(a.savedSettings, b.savedSettings);
}

// A valid document as a JSON tree, to be spoiled by each test.
json validDocument() {
  return json::parse(encodeClip(fullClip()));
}

std::string readError(const json& doc) {
  try {
    decodeClip(doc.dump());
  } catch (const DocumentError& e) {
    return e.what();
  }
  return {};
}

// Where the read failed, in the JSON form's own terms (what the tools print).
std::string failedAt(const json& doc) {
  try {
    decodeClip(doc.dump());
  } catch (const DocumentError& e) {
    return e.where();
  }
  return {};
}

TEST(DocumentJsonWriting, AbsentOptionalsAreLeftOutAndReadBackEqual) {
  const std::string bytes = encodeClip(minimalClip());
  const json doc = json::parse(bytes);
  for (const char* key : {"screenPath", "cameraPath", "audioPath", "cameraOffset", "audioOffset",
                          "cameraSyncAdjustment", "keptRanges", "presenterEvents",
                          "zoomEventsOverride", "savedSettings"}) {
    EXPECT_FALSE(doc.contains(key)) << key;
  }
  EXPECT_EQ(bytes.find("null"), std::string::npos);
  EXPECT_EQ(doc["width"], 1920);
  EXPECT_EQ(doc["height"], 1080);
  expectSameClip(decodeClip(bytes), minimalClip());
}

TEST(DocumentJsonWriting, EveryFieldSurvivesARoundTrip) {
  const Clip clip = fullClip();
  expectSameClip(decodeClip(encodeClip(clip)), clip);
}

TEST(DocumentJsonWriting, IsCompactWithUpperCaseIdsAndPointsAsArrays) {
  Clip clip = fullClip();
  clip.id = *Uuid::parse("abcdef01-2345-6789-abcd-ef0123456789");
  const std::string bytes = encodeClip(clip);
  EXPECT_EQ(bytes.find('\n'), std::string::npos);
  EXPECT_EQ(bytes.find(": "), std::string::npos);
  EXPECT_THAT(bytes, HasSubstr("\"id\":\"ABCDEF01-2345-6789-ABCD-EF0123456789\""));
  const json doc = json::parse(bytes);
  EXPECT_EQ(doc["zoomEventsOverride"][0]["center"], json::parse("[0.25,0.75]"));
  EXPECT_FALSE(doc["zoomEventsOverride"][0].contains("amount"));
  EXPECT_EQ(doc["zoomEventsOverride"][1]["amount"], 3.5);
  EXPECT_EQ(doc["savedSettings"]["corner"], "topLeft");
  EXPECT_EQ(doc["savedSettings"]["cameraPosition"], json::parse("[0.1,0.9]"));
  EXPECT_TRUE(doc["savedSettings"]["background"].is_number_integer());
}

TEST(DocumentJsonWriting, DoublesReadBackBitForBit) {
  Clip clip = minimalClip();
  const double values[] = {0.1 + 0.2, 1.0 / 3,       1e-300,  5e-324, 1.7976931348623157e308,
                           -0.0,      123456789.125, 1.0 / 60};
  std::vector<PointerSample> samples;
  for (double v : values)
    samples.push_back({v, v, v, false});
  clip.samples = samples;
  const Clip back = decodeClip(encodeClip(clip));
  for (std::size_t i = 0; i < samples.size(); ++i) {
    EXPECT_EQ(back.samples[i].time, samples[i].time);
    EXPECT_EQ(std::signbit(back.samples[i].x), std::signbit(samples[i].x));
  }
}

TEST(DocumentJsonWriting, NonFiniteNumbersAnywhereRefuseTheWholeWrite) {
  const double bad[] = {std::nan(""), std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity()};
  for (double v : bad) {
    std::vector<Clip> spoiled(6, fullClip());
    spoiled[0].duration = v;
    spoiled[1].samples.edit()[1].y = v;
    (*spoiled[2].zoomEventsOverride)[1].amount = v;
    spoiled[3].savedSettings->cameraPosition = Point{0.5, v};
    (*spoiled[4].presenterEvents)[0].time = v;
    spoiled[5].cameraSyncAdjustment = v;
    for (const Clip& clip : spoiled)
      EXPECT_THROW(encodeClip(clip), DocumentError);
  }
}

// A document the reader would refuse is never written: the writer holds the same limits
// and refuses in the reader's words, naming the same place. (A recovery once wrote a
// duration of 18325202.66 s that the app then refused.)
TEST(DocumentJsonWriting, WhatTheReaderWouldRefuseIsNeverWritten) {
  LanguageScope chinese(AppLanguage::chinese);
  struct Case {
    const char* pointer;
    json value;
    std::function<void(Clip&)> spoil;
  };
  const Case cases[] = {
      {"/duration", 18325202.66, [](Clip& c) { c.duration = 18325202.66; }},
      {"/duration", -1, [](Clip& c) { c.duration = -1; }},
      {"/width", 0, [](Clip& c) { c.width = 0; }},
      {"/height", 1'000'000, [](Clip& c) { c.height = 1'000'000; }},
      {"/cameraOffset", 1e300, [](Clip& c) { c.cameraOffset = 1e300; }},
      {"/cameraSyncAdjustment", -1e7, [](Clip& c) { c.cameraSyncAdjustment = -1e7; }},
      {"/screenPath", "Recordings/a/screen.mp4",
       [](Clip& c) { c.screenPath = "Recordings/a/screen.mp4"; }},
      {"/audioPath", std::string("/tmp/a\0b", 8),
       [](Clip& c) { c.audioPath = std::string("/tmp/a\0b", 8); }},
  };
  for (const Case& c : cases) {
    json doc = validDocument();
    doc[json::json_pointer(c.pointer)] = c.value;
    Clip clip = fullClip();
    c.spoil(clip);
    try {
      encodeClip(clip);
      ADD_FAILURE() << "written: " << c.pointer;
    } catch (const DocumentError& e) {
      EXPECT_EQ(e.what(), readError(doc)) << c.pointer;
      EXPECT_EQ(e.where(), failedAt(doc)) << c.pointer;
    }
  }
  // Right at the limits: written, and read back. The full document holds 500,000 values
  // besides its pointer track with 124,986 kept ranges (four values each), the most the
  // reader keeps; one range more is refused by both.
  Clip edge = fullClip();
  edge.duration = 100.0 * 3600;
  edge.width = 32768;
  edge.height = 1;
  edge.cameraOffset = -100.0 * 3600;
  edge.keptRanges = std::vector<SourceRange>(124'986, SourceRange{kClipID, 0, 1});
  EXPECT_NO_THROW(decodeClip(encodeClip(edge)));
  edge.keptRanges->push_back(SourceRange{kClipID, 0, 1});
  json doc = validDocument();
  const json range = doc["keptRanges"][0];
  doc["keptRanges"] = json::array();
  for (std::size_t i = 0; i < edge.keptRanges->size(); ++i)
    doc["keptRanges"].push_back(range);
  try {
    encodeClip(edge);
    ADD_FAILURE() << "a document too large to read was written";
  } catch (const DocumentError& e) {
    EXPECT_EQ(e.what(), L("它太大，不可能是 Vantry 项目。"));
    EXPECT_EQ(e.what(), readError(doc));
  }
}

TEST(DocumentJsonWriting, InvalidUtf8IsAnOrdinaryError) {
  Clip clip = minimalClip();
  clip.screenPath = std::string("/tmp/bad\xff\xfe/screen.mp4");
  try {
    encodeClip(clip);
    FAIL() << "invalid UTF-8 was written";
  } catch (const DocumentError& e) {
    EXPECT_THAT(e.what(), HasSubstr("screenPath"));
  }
}

TEST(DocumentJsonWriting, SlashesAndUnicodeInStringsRoundTrip) {
  Clip clip = minimalClip();
  clip.title = "把注意力，交给镜头 \"quoted\" \\ / \t";
  clip.screenPath = "/路径/with spaces/screen.mp4";
  expectSameClip(decodeClip(encodeClip(clip)), clip);
  json doc = json::parse(encodeClip(clip));
  std::string escaped = doc.dump();
  // A writer may escape the forward slash; readers take both forms.
  const std::string withEscapedSlash = R"({"id":"0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9",)"
                                       R"("title":"a\/b","duration":1,"samples":[],)"
                                       R"("isDemo":false,"width":1920,"height":1080})";
  EXPECT_EQ(decodeClip(withEscapedSlash).title, "a/b");
}

TEST(DocumentJsonReading, NullOptionalsReadAsAbsent) {
  json doc = validDocument();
  doc["screenPath"] = nullptr;
  doc["keptRanges"] = nullptr;
  doc["zoomEventsOverride"][1]["amount"] = nullptr;
  doc["savedSettings"]["cameraPosition"] = nullptr;
  doc["savedSettings"]["mirrorCamera"] = nullptr;
  const Clip clip = decodeClip(doc.dump());
  EXPECT_FALSE(clip.screenPath);
  EXPECT_FALSE(clip.keptRanges);
  EXPECT_FALSE((*clip.zoomEventsOverride)[1].amount);
  EXPECT_FALSE(clip.savedSettings->cameraPosition);
  EXPECT_FALSE(clip.savedSettings->mirrorCamera);
  EXPECT_TRUE(clip.savedSettings->mirrorsCamera());
}

TEST(DocumentJsonReading, EmptyListsArePresentAndDifferFromMissingOnes) {
  json doc = validDocument();
  doc["zoomEventsOverride"] = json::array();
  doc["keptRanges"] = json::array();
  const Clip clip = decodeClip(doc.dump());
  ASSERT_TRUE(clip.zoomEventsOverride);
  EXPECT_TRUE(clip.zoomEventsOverride->empty());
  ASSERT_TRUE(clip.keptRanges);
  EXPECT_TRUE(clip.keptRanges->empty());
  EXPECT_THAT(encodeClip(clip), HasSubstr("\"zoomEventsOverride\":[]"));

  doc.erase("zoomEventsOverride");
  EXPECT_FALSE(decodeClip(doc.dump()).zoomEventsOverride);
}

TEST(DocumentJsonReading, UuidsInAnyCaseButOnlyInTheirTextForm) {
  json doc = validDocument();
  doc["id"] = "0a1b2c3d-4e5f-4061-8273-94a5b6c7d8e9";
  EXPECT_EQ(decodeClip(doc.dump()).id, kClipID);
  for (const char* bad :
       {"0A1B2C3D4E5F4061827394A5B6C7D8E9", "0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E",
        "{0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9}", "0A1B2C3D-4E5F-4061-8273-94A5B6C7D8EG",
        "0A1B2C3D_4E5F-4061-8273-94A5B6C7D8E9", ""}) {
    doc["id"] = bad;
    EXPECT_EQ(readError(doc), L("{0}格式不对。", L("其中的项目标识"))) << bad;
  }
}

TEST(DocumentJsonReading, WrongTypesAnywhereFailTheWholeDocument) {
  struct Case {
    const char* pointer;
    json value;
  };
  const Case cases[] = {
      {"/samples/1/clicked", 1},
      {"/samples/0/time", "0"},
      {"/width", 1920.5},
      {"/width", "1920"},
      {"/height", 9223372036854775808ULL},
      {"/width", 1e19},
      {"/isDemo", 0},
      {"/duration", true},
      {"/title", 5},
      {"/savedSettings/corner", "middle"},
      {"/savedSettings/corner", "BottomRight"},
      {"/savedSettings/background", 0.5},
      {"/savedSettings/mirrorCamera", "yes"},
      {"/zoomEventsOverride/0/center", json::array({0.5})},
      {"/zoomEventsOverride/0/center", json::array({0.5, "0.5"})},
      {"/zoomEventsOverride/0/center", json::object({{"x", 0.5}, {"y", 0.5}})},
      {"/keptRanges/1/id", 7},
      {"/presenterEvents/0/fullScreen", nullptr},
      {"/samples", json::object()},
      {"/samples/0", json::array({0, 0, 0, false})},
      {"/savedSettings", json::array()},
  };
  for (const Case& c : cases) {
    json doc = validDocument();
    doc[json::json_pointer(c.pointer)] = c.value;
    EXPECT_FALSE(readError(doc).empty()) << c.pointer << " = " << c.value.dump();
  }
}

TEST(DocumentJsonReading, MissingRequiredKeysFailAlsoInsideNestedObjects) {
  for (const char* pointer : {"/id", "/title", "/duration", "/samples", "/isDemo", "/width",
                              "/height", "/savedSettings/background", "/savedSettings/zoomEnabled",
                              "/savedSettings/corner", "/samples/0/x", "/keptRanges/0/end",
                              "/zoomEventsOverride/1/center", "/presenterEvents/1/time"}) {
    json doc = validDocument();
    const json::json_pointer p(pointer);
    doc[p.parent_pointer()].erase(p.back());
    EXPECT_FALSE(readError(doc).empty()) << pointer;
  }
  json doc = validDocument();
  doc["title"] = nullptr;
  EXPECT_EQ(readError(doc), L("{0}缺失。", L("其中的标题")));
}

TEST(DocumentJsonReading, LenientWhereTheFormatAllows) {
  json doc = validDocument();
  doc["version"] = 3;
  doc["samples"][0]["pressure"] = 0.5;
  doc["savedSettings"]["theme"] = "dark";
  doc["duration"] = 12;   // integer form of a double
  doc["width"] = 1920.0;  // whole number with a fraction part
  doc["zoomEventsOverride"][0]["center"] = json::array({0.25, 0.75, 9});
  doc["keptRanges"][0]["start"] = 7;  // reversed and out of order: kept as it stands
  doc["keptRanges"][0]["end"] = -3;
  const Clip clip = decodeClip(doc.dump());
  EXPECT_EQ(clip.duration, 12);
  EXPECT_EQ(clip.width, 1920);
  EXPECT_EQ((*clip.keptRanges)[0].start, 7);
  EXPECT_EQ((*clip.keptRanges)[0].end, -3);
  EXPECT_EQ((*clip.zoomEventsOverride)[0].center, (Point{0.25, 0.75}));
}

TEST(DocumentJsonReading, HostileBytesFailWithADescription) {
  LanguageScope chinese(AppLanguage::chinese);
  const std::string damaged = L("它已损坏或不完整。");
  const std::string foreign = L("它不是 Vantry 项目。");
  const std::string valid = encodeClip(minimalClip());
  auto repeat = [](const std::string& text, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
      out += text;
    return out;
  };
  struct Case {
    std::string bytes;
    std::string reason;  // the first line of the description
  };
  const Case cases[] = {
      {"", damaged},
      {" \n", damaged},
      {"[]", foreign},
      {"null", foreign},
      {"\x89PNG\r\n\x1a\n", foreign},
      {R"({"name":"vantry","version":"1.0.0"})", foreign},
      {"{\"id\":", damaged},
      {std::string("{\"title\":\"\xff\"}"), damaged},
      {valid.substr(0, valid.size() / 2), damaged},
      {R"({"id":"0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9","title":"","duration":1e400,)"
       R"("samples":[],"isDemo":false,"width":1920,"height":1080})",
       damaged},
      {std::string(100000, '[') + std::string(100000, ']'), foreign},
      {valid + "{}", damaged},
      // A huge list is refused at its first wrong element, before it takes the memory.
      {R"({"keptRanges":[0)" + repeat(",0", 2'000'000) + "]}",
       L("{0}格式不对。", L("其中的片段列表"))},
  };
  for (const Case& c : cases) {
    try {
      decodeClip(c.bytes);
      ADD_FAILURE() << "accepted: " << c.bytes.substr(0, 40);
    } catch (const DocumentError& e) {
      // Nothing of the JSON library's own text: it quotes the bytes around the fault, cut
      // anywhere (inside a character, or in a path), in English.
      EXPECT_EQ(e.what(), c.reason) << c.bytes.substr(0, 40);
    }
  }
  // Keys the format does not list are passed over unread, however large.
  json doc = validDocument();
  doc["junk"] = json::array();
  doc["junk"].get_ref<json::array_t&>().resize(1'000'000, json(0));
  EXPECT_NO_THROW(decodeClip(doc.dump()));
}

// What no recording can be is refused by name; times the editing operations clamp
// (negative, reversed) still read as they stand.
TEST(DocumentJsonReading, ValuesNoRecordingCanHoldAreRefusedByName) {
  LanguageScope chinese(AppLanguage::chinese);
  auto range = [](const char* part) { return L("{0}超出范围。", L(part)); };
  auto local = [](const char* part) { return L("{0}不是本机上的文件。", L(part)); };
  struct Case {
    const char* pointer;
    json value;
    std::string reason;
  };
  const Case cases[] = {
      {"/duration", -1, range("其中的时长")},
      {"/duration", 400'000, range("其中的时长")},  // more than four days
      {"/width", 0, range("其中的画面尺寸")},
      {"/height", std::numeric_limits<std::int64_t>::min(), range("其中的画面尺寸")},
      {"/height", 1'000'000, range("其中的画面尺寸")},
      {"/cameraOffset", 1e300, range("其中的摄像头时间偏移")},
      {"/audioOffset", -1e7, range("其中的声音时间偏移")},
      {"/savedSettings/corner", "middle", range("其中保存的画面设置")},
      {"/samples/1/clicked", 1, L("{0}格式不对。", L("其中的鼠标轨迹"))},
      {"/cameraPath", "pipe:3", local("其中的摄像头视频")},
      {"/screenPath", "Recordings/a/screen.mp4", local("其中的录屏视频")},
      {"/screenPath", std::string("/tmp/a\0b", 8), local("其中的录屏视频")},
      {"/audioPath", "file:/tmp/a.m4a", local("其中的声音")},
  };
  for (const Case& c : cases) {
    json doc = validDocument();
    doc[json::json_pointer(c.pointer)] = c.value;
    EXPECT_EQ(readError(doc), c.reason) << c.pointer << " = " << c.value.dump();
  }
  json doc = validDocument();
  doc["screenPath"] = "/home/u/Demo: take 2/screen.mp4";
  doc["duration"] = 0;
  doc["cameraOffset"] = -3600;
  doc["presenterEvents"][0]["time"] = -1e300;
  const Clip clip = decodeClip(doc.dump());
  EXPECT_EQ(clip.screenPath, "/home/u/Demo: take 2/screen.mp4");
  EXPECT_EQ((*clip.presenterEvents)[0].time, -1e300);
}

TEST(DocumentJsonReading, PointerTrackIsCheckedSampleBySample) {
  json doc = validDocument();
  doc["samples"][1]["extra"] = json::parse(R"({"a":[1,{"time":"no"}],"b":null})");
  doc["samples"][1]["more"] = json::array({json::array(), json::object()});
  const Clip clip = decodeClip(doc.dump());
  ASSERT_EQ(clip.samples.size(), 2u);
  EXPECT_TRUE(clip.samples[1].clicked);
  EXPECT_EQ(clip.samples[1].x, 0.3);

  const std::string track = L("其中的鼠标轨迹");
  doc["samples"][1]["time"] = nullptr;  // null counts as missing
  EXPECT_EQ(readError(doc), L("{0}不完整。", track));
  EXPECT_EQ(failedAt(doc), "samples[1].time");
  doc = validDocument();
  doc["samples"][1]["x"] = json::array({0.5});
  EXPECT_EQ(readError(doc), L("{0}格式不对。", track));
  EXPECT_EQ(failedAt(doc), "samples[1].x");
  doc = validDocument();
  doc["samples"][0] = 0.5;
  EXPECT_EQ(readError(doc), L("{0}格式不对。", track));
  EXPECT_EQ(failedAt(doc), "samples[0]");
  doc = validDocument();
  doc["samples"] = nullptr;
  EXPECT_EQ(readError(doc), L("{0}缺失。", track));
  EXPECT_EQ(failedAt(doc), "samples");

  // With a key given twice the later value is the one read, as for every other key.
  const std::string base = encodeClip(minimalClip());
  const std::string twiceBad = base.substr(0, base.size() - 1) + R"(,"samples":7})";
  EXPECT_THROW(decodeClip(twiceBad), DocumentError);
  const std::string twiceGood =
      base.substr(0, base.size() - 1) + R"(,"samples":[{"time":2,"x":0,"y":1,"clicked":false}]})";
  const Clip later = decodeClip(twiceGood);
  ASSERT_EQ(later.samples.size(), 1u);
  EXPECT_EQ(later.samples[0].time, 2);
  // A "samples" key inside another object is not the pointer track.
  json nested = validDocument();
  nested["savedSettings"]["samples"] = json::array({1, 2});
  EXPECT_EQ(decodeClip(nested.dump()).samples.size(), 2u);
}

TEST(DocumentJsonReading, IntegersAtTheEdgesOfTheRange) {
  json doc = validDocument();
  doc["savedSettings"]["background"] = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(decodeClip(doc.dump()).savedSettings->background,
            std::numeric_limits<std::int64_t>::max());
  doc["savedSettings"]["background"] = std::numeric_limits<std::int64_t>::min();
  EXPECT_EQ(decodeClip(doc.dump()).savedSettings->background,
            std::numeric_limits<std::int64_t>::min());
  EXPECT_FALSE(readError(json::parse(R"({"id":"0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9",)"
                                     R"("title":"","duration":1,"samples":[],"isDemo":false,)"
                                     R"("width":-9223372036854775809,"height":1080})"))
                   .empty());
}

}  // namespace
}  // namespace vantry
