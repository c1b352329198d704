// Choosing a window icon from data another program wrote: the size nearest the one shown,
// and hostile or broken entries refused without reading past the data.
#include <gtest/gtest.h>

#include <vector>

#include "platform/screen_source.h"
#include "platform/synthetic/synthetic_screen.h"

namespace vantry::platform {
namespace {

void square(std::vector<unsigned long>& values, unsigned long w, unsigned long h,
            unsigned long argb) {
  values.push_back(w);
  values.push_back(h);
  values.insert(values.end(), w * h, argb);
}

std::optional<WindowIcon> pick(const std::vector<unsigned long>& values, int size) {
  return pickWindowIcon(values.data(), values.size(), size);
}

TEST(WindowIcons, TheSizeNearestTheShownOneIsChosenTheLargerOnATie) {
  std::vector<unsigned long> values;
  square(values, 16, 16, 0xFFFF0000);
  square(values, 22, 22, 0xFF0000FF);
  square(values, 48, 48, 0xFF00FF00);
  auto icon = pick(values, 24);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->width, 22);
  EXPECT_EQ(icon->argb.size(), 22u * 22u);
  EXPECT_EQ(icon->argb.front(), 0xFF0000FFu);
  EXPECT_EQ(pick(values, 48)->width, 48) << "at twice the scale";
  EXPECT_EQ(pick(values, 1000)->width, 48);
  EXPECT_EQ(pick(values, 1)->width, 16);
  EXPECT_EQ(nearestIconSize({{16, 16}, {32, 32}}, 24), 1);
  EXPECT_EQ(nearestIconSize({{32, 16}, {20, 20}}, 24), 1) << "by the larger side";
  EXPECT_EQ(nearestIconSize({}, 24), -1);
}

TEST(WindowIcons, BrokenEntriesEndTheReadingAndOversizedOnesAreSkipped) {
  EXPECT_FALSE(pick({}, 24));
  EXPECT_FALSE(pick({16}, 24));
  // Sides whose product wraps to zero in 64 bits, with hardly any values behind them.
  EXPECT_FALSE(pick({1ul << 33, 1ul << 31, 1, 2, 3}, 24));
  EXPECT_FALSE(pick({0xFFFFFFFFul, 0xFFFFFFFFul, 1, 2, 3}, 24));
  EXPECT_FALSE(pick({0, 16, 1, 2}, 24));

  // A complete entry, then one that promises more values than remain.
  std::vector<unsigned long> values;
  square(values, 16, 16, 0xFFFF0000);
  values.insert(values.end(), {24, 24, 0xFF00FF00, 0xFF00FF00});
  auto icon = pick(values, 24);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->width, 16);

  // Larger than 512 on a side: passed over, the next entry still read.
  values.clear();
  square(values, 513, 1, 0xFFFFFFFF);
  square(values, 32, 32, 0xFF00FF00);
  icon = pick(values, 600);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->width, 32);
  values.clear();
  square(values, 512, 512, 0xFFFFFFFF);
  EXPECT_EQ(pick(values, 24)->width, 512);
}

TEST(WindowIcons, SyntheticWindowsOfferIconsATestCanReplace) {
  auto screen = std::make_shared<synthetic::SyntheticScreenCapture>();
  WindowInfo w;
  w.id = 5;
  w.title = "Editor";
  screen->setWindows({w});
  auto icon = screen->windowIcon(5, 24);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->width, 32);
  EXPECT_EQ(screen->windowIcon(5, 20)->width, 16);
  screen->setWindowIcons(5, {});
  EXPECT_FALSE(screen->windowIcon(5, 24));
  screen->setWindowIcons(5, {{8, 8, std::vector<std::uint32_t>(64, 0xFF123456)}});
  EXPECT_EQ(screen->windowIcon(5, 24)->argb.front(), 0xFF123456u);
  EXPECT_FALSE(screen->windowIcon(6, 24));
}

}  // namespace
}  // namespace vantry::platform
