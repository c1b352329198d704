// The document's values: identities, copy-on-write samples and the small derived rules.
#include <gtest/gtest.h>

#include <set>

#include "localization/app_language.h"
#include "model/clip.h"

namespace vantry {
namespace {

TEST(DocumentUuid, ParsesAnyCaseAndWritesUpperCase) {
  const auto lower = Uuid::parse("00112233-4455-6677-8899-aabbccddeeff");
  const auto upper = Uuid::parse("00112233-4455-6677-8899-AABBCCDDEEFF");
  ASSERT_TRUE(lower && upper);
  EXPECT_EQ(*lower, *upper);
  EXPECT_EQ(lower->toString(), "00112233-4455-6677-8899-AABBCCDDEEFF");
  EXPECT_EQ(lower->bytes()[0], 0x00);
  EXPECT_EQ(lower->bytes()[1], 0x11);
  EXPECT_EQ(lower->bytes()[15], 0xFF);
}

TEST(DocumentUuid, RandomIdsAreVersionFourAndDistinct) {
  std::set<Uuid> seen;
  for (int i = 0; i < 1000; ++i) {
    const Uuid id = Uuid::random();
    EXPECT_EQ(id.bytes()[6] >> 4, 4);
    EXPECT_EQ(id.bytes()[8] & 0xC0, 0x80);
    EXPECT_EQ(Uuid::parse(id.toString()), id);
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 1000u);
  EXPECT_NE(ZoomEvent{}.id, ZoomEvent{}.id);
  EXPECT_NE(Clip{}.id, Clip{}.id);
}

TEST(DocumentSamples, CopiesShareUntilOneSideChanges) {
  Clip original;
  original.samples = std::vector<PointerSample>(216000, PointerSample{0, 0.5, 0.5, false});
  Clip copy = original;
  EXPECT_TRUE(copy.samples.sharesStorageWith(original.samples));

  copy.samples.edit()[10].clicked = true;
  EXPECT_FALSE(copy.samples.sharesStorageWith(original.samples));
  EXPECT_FALSE(original.samples[10].clicked);
  EXPECT_TRUE(copy.samples[10].clicked);

  // An unshared list is changed in place, not copied again.
  const PointerSample* before = copy.samples.get().data();
  copy.samples.edit()[11].clicked = true;
  EXPECT_EQ(copy.samples.get().data(), before);

  Clip empty;
  EXPECT_TRUE(empty.samples.empty());
  empty.samples.edit().push_back({1, 0, 0, true});
  EXPECT_EQ(empty.samples.size(), 1u);
}

TEST(DocumentValues, EqualityCoversEveryFieldAndAbsentDiffersFromPresent) {
  const Uuid id = Uuid::random();
  ZoomEvent a{id, 1, 2, {0.5, 0.5}, std::nullopt};
  ZoomEvent b = a;
  EXPECT_EQ(a, b);
  b.amount = 2.0;
  EXPECT_NE(a, b);
  b = a;
  b.center.y = 0.6;
  EXPECT_NE(a, b);

  EditSettings s;
  EditSettings t;
  EXPECT_EQ(s, t);
  t.mirrorCamera = true;  // explicit true is not the same value as absent
  EXPECT_NE(s, t);
  EXPECT_EQ(s.mirrorsCamera(), t.mirrorsCamera());
  t.mirrorCamera = false;
  EXPECT_FALSE(t.mirrorsCamera());

  EXPECT_EQ((ZoomEvent{id, 5, 3, {}, {}}).duration(), 0);
  EXPECT_EQ((SourceRange{id, 5, 3}).duration(), 0);
  PresenterBlock block{{id, 5}, 3, 10, false};
  EXPECT_EQ(block.duration(), -2);  // not clamped
  EXPECT_EQ(block.outputEnd(), 8);
}

TEST(DocumentValues, DefaultsOfSettingsAndClip) {
  const EditSettings s;
  EXPECT_TRUE(s.zoomEnabled);
  EXPECT_EQ(s.zoomAmount, 2.0);
  EXPECT_TRUE(s.follow);
  EXPECT_EQ(s.smoothness, 0.72);
  EXPECT_EQ(s.hold, 2.3);
  EXPECT_TRUE(s.showCamera);
  EXPECT_EQ(s.cameraSize, 0.2);
  EXPECT_EQ(s.corner, CameraCorner::bottomRight);
  EXPECT_FALSE(s.cameraPosition);
  EXPECT_TRUE(s.showCursor);
  EXPECT_FALSE(s.showClicks);
  EXPECT_EQ(s.padding, 0.015);
  EXPECT_FALSE(s.mirrorCamera);
  EXPECT_EQ(s.background, 0);
  const Clip clip;
  EXPECT_EQ(clip.width, 1920);
  EXPECT_EQ(clip.height, 1080);
}

TEST(DocumentValues, ChangesMotionOnlyForMotionFields) {
  const EditSettings base;
  EditSettings other = base;
  other.padding = 0.05;
  other.corner = CameraCorner::topLeft;
  other.background = 3;
  other.cameraSize = 0.25;
  other.showClicks = true;
  EXPECT_FALSE(other.changesMotion(base));
  for (int field = 0; field < 5; ++field) {
    EditSettings changed = base;
    switch (field) {
      case 0:
        changed.zoomEnabled = false;
        break;
      case 1:
        changed.zoomAmount = 2.5;
        break;
      case 2:
        changed.follow = false;
        break;
      case 3:
        changed.smoothness = 0.5;
        break;
      case 4:
        changed.hold = 3;
        break;
    }
    EXPECT_TRUE(changed.changesMotion(base)) << field;
    EXPECT_TRUE(base.changesMotion(changed)) << field;
  }
}

TEST(DocumentValues, CameraTimeNeverGoesNegative) {
  Clip clip;
  clip.cameraOffset = -0.4;
  EXPECT_EQ(clip.cameraTime(0), 0);
  EXPECT_EQ(clip.cameraTime(0.4), 0);
  EXPECT_DOUBLE_EQ(clip.cameraTime(1.0), 0.6);
  clip.cameraSyncAdjustment = 0.5;
  EXPECT_DOUBLE_EQ(clip.cameraTime(1.0), 1.1);
  EXPECT_EQ(Clip{}.cameraTime(2.5), 2.5);
}

TEST(DocumentValues, CameraCornersByRawStringAndLabel) {
  EXPECT_EQ(cameraCornerFromRaw("bottomRight"), CameraCorner::bottomRight);
  EXPECT_EQ(cameraCornerFromRaw("bottomLeft"), CameraCorner::bottomLeft);
  EXPECT_EQ(cameraCornerFromRaw("topRight"), CameraCorner::topRight);
  EXPECT_EQ(cameraCornerFromRaw("topLeft"), CameraCorner::topLeft);
  EXPECT_FALSE(cameraCornerFromRaw("topleft"));
  EXPECT_FALSE(cameraCornerFromRaw(""));
  for (CameraCorner c : kAllCameraCorners)
    EXPECT_EQ(cameraCornerFromRaw(rawValue(c)), c);
  EXPECT_EQ(kAllCameraCorners[0], CameraCorner::bottomRight);
  EXPECT_EQ(kAllCameraCorners[3], CameraCorner::topLeft);

  const AppLanguage before = currentLanguage();
  setCurrentLanguage(AppLanguage::english);
  EXPECT_EQ(label(CameraCorner::bottomRight), "Bottom Right");
  EXPECT_EQ(label(CameraCorner::topLeft), "Top Left");
  setCurrentLanguage(AppLanguage::chinese);
  EXPECT_EQ(label(CameraCorner::bottomLeft), "左下角");
  EXPECT_EQ(label(CameraCorner::topRight), "右上角");
  setCurrentLanguage(before);
}

}  // namespace
}  // namespace vantry
