#include "design/icons.h"

#include <QCache>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <cmath>
#include <functional>
#include <memory>

namespace vantry {

namespace {

// Symbols are drawn on a 24 x 24 grid; `stroke` pens lines, `fill` paints solid shapes.
struct Ink {
  QPainter& p;
  QColor color;
  double width;

  void stroke() const {
    QPen pen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
  }
  void fill() const {
    p.setPen(Qt::NoPen);
    p.setBrush(color);
  }
  void line(double x1, double y1, double x2, double y2) const {
    stroke();
    p.drawLine(QPointF(x1, y1), QPointF(x2, y2));
  }
  void rect(double x, double y, double w, double h, double r) const {
    stroke();
    p.drawRoundedRect(QRectF(x, y, w, h), r, r);
  }
  void solidRect(double x, double y, double w, double h, double r) const {
    fill();
    p.drawRoundedRect(QRectF(x, y, w, h), r, r);
  }
  void circle(double cx, double cy, double r) const {
    stroke();
    p.drawEllipse(QPointF(cx, cy), r, r);
  }
  void disc(double cx, double cy, double r) const {
    fill();
    p.drawEllipse(QPointF(cx, cy), r, r);
  }
  void poly(std::initializer_list<QPointF> points, bool solid, bool closed = true) const {
    QPainterPath path;
    bool first = true;
    for (const QPointF& pt : points) {
      if (first) {
        path.moveTo(pt);
        first = false;
      } else {
        path.lineTo(pt);
      }
    }
    if (closed) path.closeSubpath();
    if (solid) {
      fill();
      p.drawPath(path);
      stroke();
      p.setPen(QPen(color, width * 0.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.drawPath(path);
    } else {
      stroke();
      p.drawPath(path);
    }
  }
  void path(const QPainterPath& path) const {
    stroke();
    p.drawPath(path);
  }
  // Knocks a hole (used for marks inside filled shapes).
  void clear(const std::function<void()>& draw) const {
    p.save();
    p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
    draw();
    p.restore();
  }
};

using Draw = std::function<void(const Ink&)>;

void magnifier(const Ink& k) {
  k.circle(10, 10, 6.5);
  k.line(14.8, 14.8, 20.5, 20.5);
}

void person(const Ink& k, double dx, double dy, double s) {
  k.disc(dx + 12 * s, dy + 8.5 * s, 3.6 * s);
  QPainterPath body;
  body.moveTo(dx + 5 * s, dy + 20 * s);
  body.cubicTo(dx + 5 * s, dy + 14 * s, dx + 19 * s, dy + 14 * s, dx + 19 * s, dy + 20 * s);
  body.closeSubpath();
  k.fill();
  k.p.drawPath(body);
}

void camera(const Ink& k, bool solid) {
  if (solid) {
    k.solidRect(2.5, 6.5, 13.5, 11, 2.5);
    k.poly({{17, 10.5}, {21.5, 7.5}, {21.5, 16.5}, {17, 13.5}}, true);
  } else {
    k.rect(2.5, 6.5, 13.5, 11, 2.5);
    k.poly({{17, 10.5}, {21.5, 7.5}, {21.5, 16.5}, {17, 13.5}}, false);
  }
}

void microphone(const Ink& k, bool solid) {
  if (solid) {
    k.solidRect(8.5, 2.5, 7, 12, 3.5);
  } else {
    k.rect(8.5, 2.5, 7, 12, 3.5);
  }
  QPainterPath cup;
  cup.moveTo(5.5, 11);
  cup.cubicTo(5.5, 19.5, 18.5, 19.5, 18.5, 11);
  k.path(cup);
  k.line(12, 17.5, 12, 21);
}

void slash(const Ink& k) {
  k.clear([&] {
    k.p.setPen(QPen(Qt::black, k.width * 2.6, Qt::SolidLine, Qt::RoundCap));
    k.p.drawLine(QPointF(3.5, 3.5), QPointF(20.5, 20.5));
  });
  k.line(3.5, 3.5, 20.5, 20.5);
}

void uturn(const Ink& k, bool forward) {
  k.p.save();
  if (forward) {
    k.p.translate(24, 0);
    k.p.scale(-1, 1);
  }
  QPainterPath path;
  path.moveTo(5, 9);
  path.lineTo(14, 9);
  path.cubicTo(22, 9, 22, 20, 14, 20);
  path.lineTo(9, 20);
  k.path(path);
  k.poly({{9, 4.5}, {4.5, 9}, {9, 13.5}}, false, false);
  k.p.restore();
}

void arrowHead(const Ink& k, QPointF tip, QPointF dir) {
  const QPointF n(-dir.y(), dir.x());
  const QPointF a = tip - dir * 4.5 + n * 4.5;
  const QPointF b = tip - dir * 4.5 - n * 4.5;
  k.poly({a, tip, b}, false, false);
}

void screen(const Ink& k) {
  k.rect(2.5, 4, 19, 13, 2);
  k.line(9, 20.5, 15, 20.5);
  k.line(12, 17, 12, 20.5);
}

void window(const Ink& k, double x, double y, double w, double h) {
  k.rect(x, y, w, h, 2);
  k.line(x, y + 4, x + w, y + 4);
}

void corners(const Ink& k, double a, double b, double len) {
  // Four corner brackets of a square from a to b.
  k.poly({{a, a + len}, {a, a}, {a + len, a}}, false, false);
  k.poly({{b - len, a}, {b, a}, {b, a + len}}, false, false);
  k.poly({{a, b - len}, {a, b}, {a + len, b}}, false, false);
  k.poly({{b - len, b}, {b, b}, {b, b - len}}, false, false);
}

void gear(const Ink& k, double cx, double cy, double r) {
  QPainterPath path;
  const int teeth = 8;
  for (int i = 0; i < teeth * 2; ++i) {
    const double a = i * M_PI / teeth;
    const double rr = (i % 2 == 0) ? r : r * 0.78;
    const QPointF pt(cx + rr * std::cos(a), cy + rr * std::sin(a));
    if (i == 0) {
      path.moveTo(pt);
    } else {
      path.lineTo(pt);
    }
  }
  path.closeSubpath();
  k.path(path);
  k.circle(cx, cy, r * 0.35);
}

void folder(const Ink& k) {
  k.poly({{2.5, 6}, {2.5, 19}, {21.5, 19}, {21.5, 8.5}, {11.5, 8.5}, {9.5, 5.5}, {3, 5.5}}, false);
}

void sparkle(const Ink& k, double cx, double cy, double r) {
  QPainterPath path;
  path.moveTo(cx, cy - r);
  path.quadTo(cx, cy, cx + r, cy);
  path.quadTo(cx, cy, cx, cy + r);
  path.quadTo(cx, cy, cx - r, cy);
  path.quadTo(cx, cy, cx, cy - r);
  k.fill();
  k.p.drawPath(path);
}

void waveform(const Ink& k, double x0, double x1) {
  const double heights[] = {4, 10, 16, 8, 12, 5, 14, 7};
  const int n = 8;
  for (int i = 0; i < n; ++i) {
    const double x = x0 + (x1 - x0) * i / (n - 1);
    k.line(x, 12 - heights[i] / 2, x, 12 + heights[i] / 2);
  }
}

const QHash<QString, Draw>& symbols() {
  static const QHash<QString, Draw> table = [] {
    QHash<QString, Draw> t;
    t["play.fill"] = [](const Ink& k) { k.poly({{7, 4.5}, {19.5, 12}, {7, 19.5}}, true); };
    t["pause.fill"] = [](const Ink& k) {
      k.solidRect(6, 4.5, 4, 15, 1.2);
      k.solidRect(14, 4.5, 4, 15, 1.2);
    };
    t["backward.end.fill"] = [](const Ink& k) {
      k.solidRect(4.5, 5, 2.8, 14, 1);
      k.poly({{19.5, 5}, {8.5, 12}, {19.5, 19}}, true);
    };
    t["record.circle"] = [](const Ink& k) {
      k.circle(12, 12, 9);
      k.disc(12, 12, 4.5);
    };
    t["stop.fill"] = [](const Ink& k) { k.solidRect(5.5, 5.5, 13, 13, 2.5); };
    t["scissors"] = [](const Ink& k) {
      k.circle(6.5, 17.5, 3);
      k.circle(17.5, 17.5, 3);
      k.line(8.5, 15.3, 18, 3.5);
      k.line(15.5, 15.3, 6, 3.5);
    };
    t["plus.magnifyingglass"] = [](const Ink& k) {
      magnifier(k);
      k.line(7, 10, 13, 10);
      k.line(10, 7, 10, 13);
    };
    t["minus.magnifyingglass"] = [](const Ink& k) {
      magnifier(k);
      k.line(7, 10, 13, 10);
    };
    t["magnifyingglass"] = magnifier;
    t["arrow.uturn.backward"] = [](const Ink& k) { uturn(k, false); };
    t["arrow.uturn.forward"] = [](const Ink& k) { uturn(k, true); };
    t["arrow.clockwise"] = [](const Ink& k) {
      k.stroke();
      k.p.drawArc(QRectF(4, 4, 16, 16), 60 * 16, 300 * 16);
      k.poly({{15, 3}, {19.5, 5.5}, {16.5, 9.5}}, false, false);
    };
    t["arrow.up.left.and.arrow.down.right"] = [](const Ink& k) {
      k.line(4, 4, 20, 20);
      arrowHead(k, {4, 4}, {-0.7071, -0.7071});
      arrowHead(k, {20, 20}, {0.7071, 0.7071});
    };
    t["arrow.down.right.and.arrow.up.left"] = [](const Ink& k) {
      k.line(4, 4, 10.5, 10.5);
      k.line(13.5, 13.5, 20, 20);
      arrowHead(k, {10.5, 10.5}, {0.7071, 0.7071});
      arrowHead(k, {13.5, 13.5}, {-0.7071, -0.7071});
    };
    t["arrow.left.and.right.square"] = [](const Ink& k) {
      k.rect(2.5, 2.5, 19, 19, 4);
      k.line(7, 12, 17, 12);
      arrowHead(k, {7, 12}, {-1, 0});
      arrowHead(k, {17, 12}, {1, 0});
    };
    t["chevron.left"] = [](const Ink& k) {
      k.poly({{15, 4.5}, {7.5, 12}, {15, 19.5}}, false, false);
    };
    t["chevron.right"] = [](const Ink& k) {
      k.poly({{9, 4.5}, {16.5, 12}, {9, 19.5}}, false, false);
    };
    t["checkmark"] = [](const Ink& k) {
      k.poly({{4.5, 12.5}, {9.5, 17.5}, {19.5, 6.5}}, false, false);
    };
    t["checkmark.circle.fill"] = [](const Ink& k) {
      k.disc(12, 12, 10);
      k.clear([&] {
        k.p.setPen(QPen(Qt::black, k.width * 1.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        k.p.setBrush(Qt::NoBrush);
        QPainterPath tick;
        tick.moveTo(7, 12.5);
        tick.lineTo(10.5, 16);
        tick.lineTo(17, 8.5);
        k.p.drawPath(tick);
      });
    };
    t["xmark"] = [](const Ink& k) {
      k.line(5.5, 5.5, 18.5, 18.5);
      k.line(18.5, 5.5, 5.5, 18.5);
    };
    t["xmark.circle.fill"] = [](const Ink& k) {
      k.disc(12, 12, 10);
      k.clear([&] {
        k.p.setPen(QPen(Qt::black, k.width * 1.1, Qt::SolidLine, Qt::RoundCap));
        k.p.drawLine(QPointF(8, 8), QPointF(16, 16));
        k.p.drawLine(QPointF(16, 8), QPointF(8, 16));
      });
    };
    t["plus"] = [](const Ink& k) {
      k.line(12, 4.5, 12, 19.5);
      k.line(4.5, 12, 19.5, 12);
    };
    t["minus"] = [](const Ink& k) { k.line(4.5, 12, 19.5, 12); };
    t["exclamationmark.triangle.fill"] = [](const Ink& k) {
      k.poly({{12, 3}, {22, 20.5}, {2, 20.5}}, true);
      k.clear([&] {
        k.p.setPen(QPen(Qt::black, k.width * 1.1, Qt::SolidLine, Qt::RoundCap));
        k.p.drawLine(QPointF(12, 9), QPointF(12, 14));
        k.p.drawPoint(QPointF(12, 17.5));
      });
    };
    t["display"] = screen;
    t["macwindow"] = [](const Ink& k) { window(k, 2.5, 4, 19, 16); };
    t["macwindow.on.rectangle"] = [](const Ink& k) {
      k.rect(2.5, 2.5, 15, 12, 2);
      k.solidRect(7, 8, 15, 13, 2);
      k.clear([&] {
        k.p.setPen(Qt::NoPen);
        k.p.setBrush(Qt::black);
        k.p.drawRect(QRectF(8.5, 13.5, 12, 6));
      });
    };
    t["rectangle.on.rectangle"] = [](const Ink& k) {
      k.rect(2.5, 3, 14, 11, 2);
      k.rect(7.5, 9.5, 14, 11, 2);
    };
    t["rectangle.inset.bottomtrailing.filled"] = [](const Ink& k) {
      k.rect(2.5, 4, 19, 16, 2.5);
      k.solidRect(12.5, 12, 6.5, 5.5, 1.5);
    };
    t["rectangle.inset.topleft.filled"] = [](const Ink& k) {
      k.rect(2.5, 4, 19, 16, 2.5);
      k.solidRect(5, 6.5, 6.5, 5.5, 1.5);
    };
    t["square.dashed"] = [](const Ink& k) {
      k.stroke();
      QPen pen = k.p.pen();
      pen.setDashPattern({2.0, 1.6});
      pen.setCapStyle(Qt::FlatCap);
      k.p.setPen(pen);
      k.p.drawRoundedRect(QRectF(3.5, 3.5, 17, 17), 3, 3);
    };
    t["square.and.arrow.up"] = [](const Ink& k) {
      k.poly({{8, 9}, {4.5, 9}, {4.5, 21}, {19.5, 21}, {19.5, 9}, {16, 9}}, false, false);
      k.line(12, 2.5, 12, 14.5);
      arrowHead(k, {12, 2.5}, {0, -1});
    };
    t["person.fill"] = [](const Ink& k) { person(k, 0, 0, 1); };
    t["person.crop.square"] = [](const Ink& k) {
      k.rect(2.5, 2.5, 19, 19, 4);
      k.circle(12, 10, 3.5);
      QPainterPath body;
      body.moveTo(6, 21);
      body.cubicTo(7, 15, 17, 15, 18, 21);
      k.path(body);
    };
    t["person.crop.rectangle.fill"] = [](const Ink& k) {
      k.solidRect(2, 4, 20, 16, 3);
      k.clear([&] {
        k.p.setPen(Qt::NoPen);
        k.p.setBrush(Qt::black);
        k.p.drawEllipse(QPointF(12, 10.5), 3.2, 3.2);
        QPainterPath body;
        body.moveTo(6.5, 20);
        body.cubicTo(7, 14.5, 17, 14.5, 17.5, 20);
        body.closeSubpath();
        k.p.drawPath(body);
      });
    };
    t["video.fill"] = [](const Ink& k) { camera(k, true); };
    t["video.slash"] = [](const Ink& k) {
      camera(k, false);
      slash(k);
    };
    t["video.slash.fill"] = [](const Ink& k) {
      camera(k, true);
      slash(k);
    };
    t["mic.fill"] = [](const Ink& k) { microphone(k, true); };
    t["mic.slash"] = [](const Ink& k) {
      microphone(k, false);
      slash(k);
    };
    t["mic.slash.fill"] = [](const Ink& k) {
      microphone(k, true);
      slash(k);
    };
    t["waveform.path"] = [](const Ink& k) { waveform(k, 3, 21); };
    t["waveform.badge.mic"] = [](const Ink& k) {
      waveform(k, 2.5, 12.5);
      k.solidRect(16, 10, 4.5, 7.5, 2.25);
      QPainterPath cup;
      cup.moveTo(14.5, 15);
      cup.cubicTo(14.5, 20.5, 22, 20.5, 22, 15);
      k.path(cup);
    };
    t["film"] = [](const Ink& k) {
      k.rect(3.5, 2.5, 17, 19, 2);
      k.line(7.5, 2.5, 7.5, 21.5);
      k.line(16.5, 2.5, 16.5, 21.5);
      k.line(7.5, 12, 16.5, 12);
    };
    t["folder"] = folder;
    t["folder.badge.gearshape"] = [](const Ink& k) {
      folder(k);
      k.clear([&] {
        k.p.setPen(Qt::NoPen);
        k.p.setBrush(Qt::black);
        k.p.drawEllipse(QPointF(17.5, 17), 6, 6);
      });
      gear(k, 17.5, 17, 4.5);
    };
    t["gearshape"] = [](const Ink& k) { gear(k, 12, 12, 9); };
    t["trash"] = [](const Ink& k) {
      k.line(3.5, 6, 20.5, 6);
      k.poly({{9, 6}, {9.5, 3}, {14.5, 3}, {15, 6}}, false, false);
      k.poly({{5.5, 6}, {6.8, 21}, {17.2, 21}, {18.5, 6}}, false, false);
      k.line(10, 10, 10, 17);
      k.line(14, 10, 14, 17);
    };
    t["hand.raised"] = [](const Ink& k) {
      QPainterPath path;
      path.moveTo(7, 13);
      path.lineTo(7, 6);
      path.moveTo(10, 12);
      path.lineTo(10, 4);
      path.moveTo(13, 12);
      path.lineTo(13, 4.5);
      path.moveTo(16, 12.5);
      path.lineTo(16, 6.5);
      path.moveTo(16, 12.5);
      path.cubicTo(16, 12.5, 18.5, 9, 19.5, 10.5);
      path.cubicTo(20.5, 12, 17, 21, 11.5, 21);
      path.cubicTo(7, 21, 7, 16, 7, 13);
      k.path(path);
    };
    t["lock.shield"] = [](const Ink& k) {
      QPainterPath shield;
      shield.moveTo(12, 2.5);
      shield.lineTo(20, 5.5);
      shield.cubicTo(20, 14, 17, 19, 12, 21.5);
      shield.cubicTo(7, 19, 4, 14, 4, 5.5);
      shield.closeSubpath();
      k.path(shield);
      k.solidRect(9, 11, 6, 5, 1);
      k.stroke();
      k.p.drawArc(QRectF(9.8, 7.8, 4.4, 5), 0, 180 * 16);
    };
    t["cursorarrow"] = [](const Ink& k) {
      k.poly({{6, 3}, {6, 19}, {10, 15.5}, {12.8, 21}, {15, 20}, {12.3, 14.5}, {17.5, 14.5}}, true);
    };
    t["cursorarrow.rays"] = [](const Ink& k) {
      k.poly({{10, 8}, {10, 20.5}, {13, 18}, {15, 22}, {16.7, 21.2}, {14.8, 17.3}, {18.6, 17.3}},
             true);
      k.line(10, 2, 10, 4.5);
      k.line(4, 8, 6.5, 8);
      k.line(5.3, 3.3, 7, 5);
      k.line(14.7, 3.3, 13, 5);
    };
    t["camera.viewfinder"] = [](const Ink& k) {
      corners(k, 2.5, 21.5, 5);
      k.rect(7, 9, 10, 7.5, 1.5);
      k.circle(12, 12.75, 2);
    };
    t["viewfinder"] = [](const Ink& k) { corners(k, 3, 21, 5.5); };
    t["scope"] = [](const Ink& k) {
      k.circle(12, 12, 8.5);
      k.line(12, 2, 12, 7);
      k.line(12, 17, 12, 22);
      k.line(2, 12, 7, 12);
      k.line(17, 12, 22, 12);
    };
    t["sparkles"] = [](const Ink& k) {
      sparkle(k, 10, 13, 7.5);
      sparkle(k, 18.5, 5.5, 3.5);
      sparkle(k, 19, 18.5, 2.5);
    };
    t["speedometer"] = [](const Ink& k) {
      k.stroke();
      k.p.drawArc(QRectF(2.5, 4, 19, 19), -30 * 16, 240 * 16);
      k.line(12, 13.5, 16.5, 8.5);
      k.disc(12, 13.5, 1.8);
    };
    t["paintpalette"] = [](const Ink& k) {
      QPainterPath path;
      path.moveTo(12, 2.5);
      path.cubicTo(5, 2.5, 2.5, 8, 2.5, 12);
      path.cubicTo(2.5, 17.5, 7, 21.5, 12, 21.5);
      path.cubicTo(14, 21.5, 14, 19, 13, 18);
      path.cubicTo(12, 16.5, 13, 15, 15, 15);
      path.lineTo(17.5, 15);
      path.cubicTo(20.5, 15, 21.5, 12.5, 21.5, 11);
      path.cubicTo(21.5, 6, 17, 2.5, 12, 2.5);
      k.path(path);
      k.disc(7.5, 12, 1.6);
      k.disc(9.5, 7.5, 1.6);
      k.disc(14.5, 7, 1.6);
    };
    t["photo.on.rectangle.angled"] = [](const Ink& k) {
      k.p.save();
      k.p.translate(12, 12);
      k.p.rotate(-8);
      k.p.translate(-12, -12);
      k.rect(2, 6.5, 16, 13, 2);
      k.p.restore();
      k.rect(6, 4, 16, 13, 2);
      k.poly({{8, 15}, {12, 10.5}, {15, 13.5}, {17, 11.5}, {20, 15}}, false, false);
      k.disc(17.5, 7.5, 1.4);
    };
    t["timeline.selection"] = [](const Ink& k) {
      k.line(3, 8, 21, 8);
      k.line(3, 16, 21, 16);
      k.solidRect(7, 5.5, 10, 5, 1.5);
      k.line(7, 3, 7, 21);
      k.line(17, 3, 17, 21);
    };
    return t;
  }();
  return table;
}

}  // namespace

QStringList symbolNames() {
  QStringList names = symbols().keys();
  names.sort();
  return names;
}

bool hasSymbol(QStringView name) {
  return symbols().contains(name.toString());
}

void paintSymbol(QPainter& painter, QStringView name, const QRectF& box, const QColor& color,
                 int weight) {
  const auto it = symbols().constFind(name.toString());
  if (it == symbols().constEnd() || box.isEmpty()) return;
  const double side = std::max(box.width(), box.height());
  // Strokes thicken with the weight, as a font's do; they stay about 1.3 pixels at least.
  const double scale = side / 24.0;
  const double base = 1.55 + (std::clamp(weight, 100, 900) - 400) / 100.0 * 0.22;
  const double width = std::max(base, 1.3 / scale);

  // Holes knocked into filled symbols must not reach what lies under the symbol, and
  // overlapping strokes must not darken, so the symbol is drawn opaque into its own layer
  // (cached) and laid down at the colour's opacity.
  const double dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
  QColor opaque = color;
  opaque.setAlpha(255);
  const QString key = QStringLiteral("%1|%2|%3|%4|%5")
                          .arg(name)
                          .arg(side, 0, 'f', 2)
                          .arg(opaque.rgb(), 0, 16)
                          .arg(weight)
                          .arg(dpr);
  static QCache<QString, QImage> layers(4 * 1024 * 1024);
  QImage* layer = layers.object(key);
  if (!layer) {
    const int n = static_cast<int>(std::ceil(side * dpr)) + 2;
    auto image = std::make_unique<QImage>(QSize(n, n), QImage::Format_ARGB32_Premultiplied);
    image->setDevicePixelRatio(dpr);
    image->fill(Qt::transparent);
    {
      QPainter p(image.get());
      p.setRenderHint(QPainter::Antialiasing);
      p.translate(1 / dpr, 1 / dpr);
      p.scale(scale, scale);
      Ink ink{p, opaque, width};
      it.value()(ink);
    }
    layer = image.get();
    const qsizetype cost = image->sizeInBytes();
    if (!layers.insert(key, image.release(), cost)) return;
  }
  const QPointF origin(box.center().x() - side / 2 - 1 / dpr,
                       box.center().y() - side / 2 - 1 / dpr);
  const double opacity = painter.opacity();
  painter.setOpacity(opacity * color.alphaF());
  painter.drawImage(origin, *layer);
  painter.setOpacity(opacity);
}

}  // namespace vantry
