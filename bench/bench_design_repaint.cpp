// Repaint cost of the design system beside a 60 Hz preview: the ambient ground (cached
// against drawn afresh), a glass card full of controls repainting a small area (against the
// same area of a plain widget), single controls, and soft shadows (cached against blurred
// afresh). Run a Release build: bench_design_repaint.
#include <QApplication>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "design/buttons.h"
#include "design/chrome.h"
#include "design/motion.h"
#include "design/neon_slider.h"
#include "design/shadow.h"

namespace {

using namespace vantry;

double microseconds(int runs, const std::function<void()>& work) {
  work();  // warm caches
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < runs; ++i)
    work();
  const auto end = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::micro>(end - start).count() / runs;
}

void report(const char* what, double us, double baseline) {
  std::printf("%-58s %9.1f us  (x%.2f of baseline)\n", what, us, us / baseline);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  setAnimationsFrozen(true);
  QImage target(1920, 1080, QImage::Format_ARGB32_Premultiplied);

  // 1. Ambient ground of a full-HD window.
  AmbientBackground ground;
  ground.setAttribute(Qt::WA_DontShowOnScreen);
  ground.resize(1920, 1080);
  ground.show();
  const double fresh = microseconds(20, [] { (void)AmbientBackground::drawGround({1920, 1080}); });
  const double whole =
      microseconds(50, [&] { ground.render(&target, QPoint(), QRegion(0, 0, 1920, 1080)); });
  const double patch =
      microseconds(500, [&] { ground.render(&target, QPoint(), QRegion(600, 300, 640, 360)); });
  std::printf("Ambient ground, 1920 x 1080\n");
  report("drawn afresh (baseline)", fresh, fresh);
  report("cached, whole window", whole, fresh);
  report("cached, 640 x 360 preview area", patch, fresh);

  // 2. A glass card holding 240 controls; a 640 x 200 area repaints as a timeline would.
  auto* card = new QWidget(&ground);
  card->setGeometry(40, 600, 1840, 440);
  glass(card);
  for (int i = 0; i < 240; ++i) {
    QWidget* w = nullptr;
    switch (i % 3) {
      case 0:
        w = new GlassButton(QStringLiteral("Split"), QStringLiteral("scissors"), {}, card);
        break;
      case 1:
        w = new PrimaryButton(QStringLiteral("Export"), {}, {}, card);
        break;
      default:
        w = new NeonSlider(0.5, 0, 1, std::nullopt, Theme::accent, card);
        w->resize(140, 18);
        break;
    }
    w->move(10 + (i % 12) * 150, 10 + (i / 12) * 21);
    if (w->size().isEmpty() || i % 3 != 2) w->resize(w->sizeHint());
    w->show();
  }
  QWidget plain(&ground);
  plain.setGeometry(40, 600, 1840, 440);
  plain.hide();
  QCoreApplication::processEvents();
  const QRegion area(700, 700, 640, 200);
  const double plainPatch = microseconds(300, [&] {
    QPainter p(&target);
    p.fillRect(QRect(700, 700, 640, 200), QColor(20, 20, 30));
  });
  const double glassPatch = microseconds(200, [&] { ground.render(&target, QPoint(), area); });
  std::printf("\nGlass card with 240 controls, 640 x 200 repaint\n");
  report("flat fill of the same area (baseline)", plainPatch, plainPatch);
  report("ground + card + shadows + controls", glassPatch, plainPatch);

  // 3. Single controls.
  std::printf("\nSingle controls, one paint each\n");
  GlassButton glassButton(QStringLiteral("Split"), QStringLiteral("scissors"));
  glassButton.resize(glassButton.sizeHint());
  PrimaryButton primary(QStringLiteral("Export"));
  primary.resize(primary.sizeHint());
  NeonSlider slider(0.5, 0, 1);
  slider.resize(200, 18);
  QImage small(240, 40, QImage::Format_ARGB32_Premultiplied);
  const double button = microseconds(2000, [&] { glassButton.render(&small); });
  report("GlassButton (baseline)", button, button);
  report("PrimaryButton", microseconds(2000, [&] { primary.render(&small); }), button);
  report("NeonSlider", microseconds(2000, [&] { slider.render(&small); }), button);

  // 4. Shadows: a 200 x 32 capsule halo of radius 14.
  std::printf("\nSoft shadow, 200 x 32 capsule, radius 14\n");
  QImage canvas(300, 120, QImage::Format_ARGB32_Premultiplied);
  const double blur = microseconds(200, [] { (void)shadowMask({200, 32}, 16, 14, 1.0); });
  const double cached = microseconds(5000, [&] {
    QPainter p(&canvas);
    paintShadow(p, QRectF(50, 44, 200, 32), 16, Shadow{QColor(79, 216, 255, 140), 14, {}});
  });
  report("blurred afresh (baseline)", blur, blur);
  report("cached, painted", cached, blur);

  std::printf("\nDrop shadow of a 1840 x 440 glass card, radius 18\n");
  QImage wide(1920, 560, QImage::Format_ARGB32_Premultiplied);
  const double fullBlur = microseconds(5, [] { (void)shadowMask({1840, 440}, 16, 18, 1.0); });
  const double cardShadow = microseconds(200, [&] {
    QPainter p(&wide);
    paintShadow(p, QRectF(40, 40, 1840, 440), 16, glassShadow({}));
  });
  report("whole card blurred (baseline)", fullBlur, fullBlur);
  report("stand-in, cached, stretched", cardShadow, fullBlur);
  return 0;
}
