#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QWindow>

#include "design/buttons.h"
#include "design/chrome.h"
#include "design/shadow.h"
#include "render_probe.h"

namespace vantry {
namespace {

TEST(TransparentWindowClose, CloseButtonAsksToQuitAndKeepsTheWindow) {
  QWidget window;
  window.setAttribute(Qt::WA_DontShowOnScreen);
  auto* content = new QWidget(&window);
  int asked = 0;
  auto* chrome = new TransparentWindow(content, [&] { ++asked; });
  EXPECT_EQ(chrome->window(), nullptr);  // applied on the next turn of the event loop
  window.show();
  QCoreApplication::processEvents();
  ASSERT_EQ(chrome->window(), &window);
  EXPECT_EQ(window.palette().color(QPalette::Window), Theme::base);

  // A request to close the window (as its close button makes) asks to quit instead.
  window.windowHandle()->close();
  QCoreApplication::processEvents();
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(window.isVisible());
  window.close();
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(window.isVisible());

  // Once released, closing closes.
  chrome->allowClose();
  window.close();
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(window.isVisible());
}

TEST(VisualEffect, PaintsItsOpaqueMaterialTone) {
  VisualEffectBackground background;
  background.resize(40, 30);
  const QImage image = background.grab().toImage();
  EXPECT_EQ(QColor(image.pixel(20, 15)),
            VisualEffectBackground::toneOf(VisualEffectBackground::Material::hudWindow));
  EXPECT_EQ(background.material(), VisualEffectBackground::Material::hudWindow);
  EXPECT_EQ(background.blending(), VisualEffectBackground::Blending::behindWindow);
}

TEST(ShadowHosts, NearestPaintingAncestorPaintsTheShadow) {
  AmbientBackground ground;
  auto* card = new QWidget(&ground);
  glass(card);
  auto* plain = new QWidget(card);
  auto* button = new PrimaryButton("Go", {}, {}, plain);
  auto* loose = new PrimaryButton("Go", {}, {}, &ground);
  EXPECT_EQ(button->findChild<ShadowCaster*>()->host(), card);
  EXPECT_EQ(loose->findChild<ShadowCaster*>()->host(), &ground);
  EXPECT_EQ(card->findChild<ShadowCaster*>(QString(), Qt::FindDirectChildrenOnly)->host(), &ground);
  // A control with no painting ancestor casts nothing (and does not crash).
  PrimaryButton alone("Go");
  EXPECT_EQ(alone.findChild<ShadowCaster*>()->host(), nullptr);
  alone.findChild<ShadowCaster*>()->update();
  // Applying glass again restyles the same surface.
  GlassSurface* first = glass(card);
  EXPECT_EQ(glass(card, {8, 0.1, {}}), first);
  EXPECT_EQ(first->style().radius, 8);
}

TEST(ShadowHosts, HiddenControlsCastNoShadow) {
  auto* button = new PrimaryButton("Go");
  button->resize(100, 32);
  QWidget* host = probeHost(button, {140, 72});
  const QImage lit = grabOnGround(host);
  button->hide();
  const QImage dark = grabOnGround(host);
  const QImage ground = AmbientBackground::drawGround(host->size());
  // Just below the capsule: the halo shows while the button does, and only then.
  EXPECT_GT(qGreen(lit.pixel(70, 20 + 34)), qGreen(ground.pixel(70, 20 + 34)) + 3);
  EXPECT_EQ(dark.pixel(70, 20 + 34), ground.pixel(70, 20 + 34));
  delete host;
}

TEST(GalleryCommand, WritesEverySheetInBothLanguages) {
  QTemporaryDir out;
  ASSERT_TRUE(out.isValid());
  QProcess tool;
  tool.start(QStringLiteral(VANTRY_TOOL_PATH), {"gallery", out.path()});
  ASSERT_TRUE(tool.waitForFinished(120000));
  EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
  for (const char* language : {"english", "chinese"}) {
    const QDir dir(out.path() + "/" + language);
    const QStringList sheets = dir.entryList({"*.png"});
    EXPECT_GE(sheets.size(), 10) << language;
    for (const QString& name : sheets) {
      const QImage image(dir.filePath(name));
      EXPECT_FALSE(image.isNull()) << name.toStdString();
      EXPECT_GT(image.width(), 100) << name.toStdString();
    }
  }
  // A folder that cannot be made is reported, not ignored.
  QProcess bad;
  bad.start(QStringLiteral(VANTRY_TOOL_PATH), {"gallery", "/proc/no-such-place"});
  ASSERT_TRUE(bad.waitForFinished(120000));
  EXPECT_NE(bad.exitCode(), 0);
}

}  // namespace
}  // namespace vantry
