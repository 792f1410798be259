// make-artwork: draws the player's artwork (skin, splash picture, window and
// menu icons) and synthesises the start-up jingle. Run by hand:
//   QT_QPA_PLATFORM=offscreen build/tools/make_artwork/make-artwork assets
// The results are committed; the build only copies them.

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtEndian>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

// The colour the main window keys out: exactly these pixels are holes.
const QColor kKey(0, 255, 255);

const QColor kBody(0x23, 0x26, 0x31);
const QColor kBodyLight(0x3a, 0x3f, 0x50);
const QColor kAccent(0xff, 0xa6, 0x2b);   // the sun of the logo
const QColor kLcd(0x07, 0x12, 0x1c);
const QColor kLcdText(0x7f, 0xe6, 0xff);
const QColor kOutline(0x12, 0x13, 0x19);

QFont font(const QString &family, int pixelSize, int weight = QFont::Normal) {
  QFont f(family);
  f.setPixelSize(pixelSize);
  f.setWeight(QFont::Weight(weight));
  f.setHintingPreference(QFont::PreferFullHinting);
  return f;
}

// The Kirasol sun: a disc with rays and two radio waves, centred on c.
void drawLogo(QPainter &p, QPointF c, double r) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(kAccent, std::max(1.0, r * 0.12), Qt::SolidLine, Qt::RoundCap));
  for (int i = 0; i < 8; ++i) {
    const double a = i * M_PI / 4;
    p.drawLine(c + QPointF(std::cos(a), std::sin(a)) * r * 0.62, c + QPointF(std::cos(a), std::sin(a)) * r * 0.92);
  }
  QRadialGradient g(c - QPointF(r * 0.15, r * 0.15), r * 0.5);
  g.setColorAt(0, QColor(0xff, 0xe0, 0x8a));
  g.setColorAt(1, kAccent);
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawEllipse(c, r * 0.45, r * 0.45);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(kBody, std::max(1.0, r * 0.09), Qt::SolidLine, Qt::RoundCap));
  for (double k : {0.18, 0.32}) p.drawArc(QRectF(c.x() - r * k, c.y() - r * k, 2 * r * k, 2 * r * k), -50 * 16, 100 * 16);
  p.restore();
}

// A recess for a control the window places on top of the skin.
void recess(QPainter &p, const QRect &r, int radius = 4) {
  p.setPen(QPen(QColor(0x10, 0x11, 0x17), 1));
  p.setBrush(QColor(0x17, 0x19, 0x21));
  p.drawRoundedRect(QRectF(r).adjusted(-1.5, -1.5, 1.5, 1.5), radius, radius);
  p.setPen(QPen(QColor(0x4a, 0x50, 0x64), 1));
  p.drawLine(QPointF(r.left() - 0.5 + radius, r.bottom() + 2), QPointF(r.right() + 0.5 - radius, r.bottom() + 2));
}

void printed(QPainter &p, const QRect &r, const QString &text, int px, int flags = Qt::AlignCenter,
             QColor colour = QColor(0xa9, 0xb0, 0xc4), const QString &family = QStringLiteral("DejaVu Sans")) {
  p.setFont(font(family, px, QFont::Bold));
  p.setPen(colour);
  p.drawText(r, flags, text);
}

// Every picture is drawn in the window's own units; `scale` 2 draws the same
// picture with twice the pixels for screens that have them.
QImage canvas(int w, int h, int scale, QImage::Format format) {
  QImage img(w * scale, h * scale, format);
  img.setDevicePixelRatio(scale);
  return img;
}

// The window's shape is cut from the 1x skin at every scale (the window
// system enlarges that mask), so a larger skin keeps the 1x outline: pixels
// inside it that the finer drawing left as key colour become outline.
QImage skin(int scale = 1) {
  QImage img = canvas(281, 172, scale, QImage::Format_RGB32);
  img.fill(kKey);
  QPainter p(&img);
  // The outline is drawn without antialiasing: a blended edge pixel would be
  // neither the key colour nor the body, and would show as a cyan fringe.
  p.setRenderHint(QPainter::Antialiasing, false);
  QPainterPath body;
  body.addRoundedRect(QRectF(1, 9, 279, 162), 18, 18);
  QPainterPath mast, knob;
  mast.addRect(QRectF(236, 1, 4, 10));
  knob.addEllipse(QRectF(233, 0, 10, 6));
  const QPainterPath shape = body.united(mast).united(knob);
  p.setPen(Qt::NoPen);
  p.setBrush(kOutline);
  p.drawPath(shape);
  QLinearGradient face(0, 9, 0, 171);
  face.setColorAt(0, kBodyLight);
  face.setColorAt(0.25, kBody);
  face.setColorAt(1, QColor(0x1a, 0x1c, 0x25));
  p.setBrush(face);
  QPainterPath inner;
  inner.addRoundedRect(QRectF(3, 11, 275, 158), 16, 16);
  p.drawPath(inner);

  p.setClipPath(inner);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  // Brand strip.
  drawLogo(p, QPointF(20, 21), 10);
  const QString brand = QStringLiteral("KIRASOL RADIO");
  const int brandEnd = 33 + QFontMetrics(font(QStringLiteral("DejaVu Sans"), 11, QFont::Bold)).horizontalAdvance(brand);
  printed(p, QRect(33, 12, brandEnd - 33 + 2, 18), brand, 11, Qt::AlignLeft | Qt::AlignVCenter, QColor(0xf2, 0xf2, 0xf6));
  // The Thai tagline takes the largest size that fits before the title-bar buttons.
  const QString tagline = QStringLiteral("วิทยุออนไลน์");
  int taglinePx = 12;
  while (taglinePx > 7 &&
         QFontMetrics(font(QStringLiteral("Loma"), taglinePx, QFont::Bold)).horizontalAdvance(tagline) > 216 - brandEnd - 6)
    --taglinePx;
  printed(p, QRect(brandEnd + 5, 12, 216 - brandEnd - 5, 18), tagline, taglinePx, Qt::AlignLeft | Qt::AlignVCenter,
          kAccent, QStringLiteral("Loma"));
  // Minimise and close.
  recess(p, QRect(222, 14, 22, 13));
  recess(p, QRect(249, 14, 22, 13));

  // Display glass.
  const QRectF glass(8, 32, 265, 72);
  p.setPen(QPen(QColor(0x0b, 0x0c, 0x10), 2));
  QLinearGradient lcd(0, glass.top(), 0, glass.bottom());
  lcd.setColorAt(0, QColor(0x0d, 0x1e, 0x2c));
  lcd.setColorAt(1, kLcd);
  p.setBrush(lcd);
  p.drawRoundedRect(glass, 6, 6);
  p.setPen(QPen(QColor(0x20, 0x3a, 0x4e), 1));
  p.drawLine(QPointF(12, 59), QPointF(269, 59));
  // Spectrum well: 74-193 × 60-99; columns 74-90 show this skin, so it is black too.
  p.setPen(QPen(QColor(0x2a, 0x4a, 0x60), 1));
  p.setBrush(Qt::black);
  p.drawRect(QRectF(73.5, 59.5, 120, 40));
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::black);
  p.drawRect(QRect(74, 60, 120, 40));
  p.setRenderHint(QPainter::Antialiasing);
  printed(p, QRect(12, 90, 60, 10), QStringLiteral("TIME · CPU"), 7, Qt::AlignLeft | Qt::AlignVCenter,
          QColor(0x3f, 0x7d, 0x99));
  printed(p, QRect(197, 90, 72, 10), QStringLiteral("STEREO · MP3"), 7, Qt::AlignLeft | Qt::AlignVCenter,
          QColor(0x3f, 0x7d, 0x99));
  // A glint across the glass.
  QLinearGradient glint(0, 32, 0, 46);
  glint.setColorAt(0, QColor(255, 255, 255, 28));
  glint.setColorAt(1, QColor(255, 255, 255, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(glint);
  p.drawRoundedRect(QRectF(9, 33, 263, 13), 5, 5);

  // Control deck: five button bays and the volume groove.
  for (const QRect &r : {QRect(12, 112, 48, 20), QRect(64, 112, 48, 20), QRect(116, 112, 48, 20),
                         QRect(168, 112, 50, 20), QRect(222, 112, 48, 20)})
    recess(p, r, 5);
  recess(p, QRect(48, 143, 150, 16), 7);
  // Speaker grille to the right of the volume.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x12, 0x14, 0x1a));
  for (int y = 141; y <= 161; y += 5)
    for (int x = 246; x <= 266; x += 5) p.drawEllipse(QPointF(x, y), 1.4, 1.4);
  // The small power dot (the window's hidden close spot sits on it).
  p.setBrush(QColor(0x6b, 0x1b, 0x1b));
  p.drawEllipse(QPointF(16, 163), 3, 3);
  // Screws.
  for (const QPointF &s : {QPointF(12, 20), QPointF(272, 138), QPointF(10, 162), QPointF(271, 162)}) {
    if (s == QPointF(12, 20)) continue;  // the logo sits there
    p.setBrush(QColor(0x4d, 0x52, 0x63));
    p.drawEllipse(s, 2.2, 2.2);
    p.setPen(QPen(QColor(0x22, 0x24, 0x2c), 0.8));
    p.drawLine(s + QPointF(-1.5, 0), s + QPointF(1.5, 0));
    p.setPen(Qt::NoPen);
  }
  p.end();

  // Nothing drawn inside the body may come out as the key colour.
  const QImage mask = [&] {
    QImage m(281, 172, QImage::Format_ARGB32);
    m.fill(Qt::transparent);
    QPainter mp(&m);
    mp.setRenderHint(QPainter::Antialiasing, false);
    mp.fillPath(shape, Qt::black);
    return m;
  }();
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      const bool inside = qAlpha(mask.pixel(x / scale, y / scale)) == 255;
      const QRgb c = img.pixel(x, y);
      if (!inside) img.setPixel(x, y, kKey.rgb());
      else if (QColor(c) == kKey) img.setPixel(x, y, scale == 1 ? QColor(0, 254, 255).rgb() : kOutline.rgb());
    }
  return img;
}

QImage icon(int w, int h, int scale, const std::function<void(QPainter &)> &draw) {
  QImage img = canvas(w, h, scale, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  draw(p);
  return img;
}

// "@2x" for the larger pictures, as Qt names them.
QString suffix(int scale) { return scale == 1 ? QString() : QStringLiteral("@%1x").arg(scale); }

QPen pen(QColor c, double w) { return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin); }

bool menuIcons(const QString &dir, int scale) {
  const QColor blue(0x3d, 0x8b, 0xff), green(0x2e, 0xb8, 0x5c), red(0xe0, 0x3a, 0x3a), pink(0xe8, 0x4d, 0x9a),
      orange(0xf2, 0x8c, 0x28), purple(0x8e, 0x5c, 0xe0), yellow(0xe8, 0xb9, 0x1e), dark(0x2a, 0x2d, 0x38);
  const std::vector<std::pair<QString, QImage>> icons = {
      {QStringLiteral("imgAbout"), icon(14, 14, scale, [&](QPainter &p) {
         p.setPen(Qt::NoPen);
         p.setBrush(blue);
         p.drawEllipse(QRectF(0.5, 0.5, 13, 13));
         p.setBrush(Qt::white);
         p.drawEllipse(QPointF(7, 4), 1.3, 1.3);
         p.drawRoundedRect(QRectF(5.9, 6, 2.2, 5.5), 1, 1);
       })},
      {QStringLiteral("imgUpdate"), icon(14, 14, scale, [&](QPainter &p) {
         p.setPen(pen(green, 2));
         p.drawArc(QRectF(2, 2, 10, 10), 30 * 16, 260 * 16);
         p.setPen(Qt::NoPen);
         p.setBrush(green);
         p.drawPolygon(QPolygonF({QPointF(8.5, 0.5), QPointF(13.5, 3.5), QPointF(8.5, 6.5)}));
       })},
      {QStringLiteral("imgRequest"), icon(14, 14, scale, [&](QPainter &p) {
         p.setPen(pen(pink, 1.6));
         p.drawLine(QPointF(5, 11), QPointF(5, 2));
         p.drawLine(QPointF(5, 2), QPointF(11, 1));
         p.drawLine(QPointF(11, 1), QPointF(11, 9.5));
         p.setPen(Qt::NoPen);
         p.setBrush(pink);
         p.drawEllipse(QPointF(3.3, 11.2), 2.3, 1.8);
         p.drawEllipse(QPointF(9.3, 10), 2.3, 1.8);
       })},
      {QStringLiteral("imgPlay"), icon(14, 14, scale, [&](QPainter &p) {
         p.setPen(pen(green.darker(130), 1));
         p.setBrush(green);
         p.drawPolygon(QPolygonF({QPointF(3, 1.5), QPointF(12.5, 7), QPointF(3, 12.5)}));
       })},
      {QStringLiteral("imgSkin"), icon(14, 14, scale, [&](QPainter &p) {
         p.setPen(pen(dark, 1));
         p.setBrush(orange);
         p.drawEllipse(QRectF(0.5, 1.5, 13, 11));
         p.setPen(Qt::NoPen);
         for (const auto &[pt, c] : std::vector<std::pair<QPointF, QColor>>{
                  {{4, 5}, red}, {{7.5, 4}, blue}, {{10.5, 6}, green}, {{9, 9.5}, purple}})
           p.setBrush(c), p.drawEllipse(pt, 1.5, 1.5);
         p.setBrush(Qt::white);
         p.drawEllipse(QPointF(4.3, 9.3), 1.5, 1.5);
       })},
      {QStringLiteral("imgChat"), icon(14, 14, scale, [&](QPainter &p) {
         p.setPen(pen(blue.darker(130), 1));
         p.setBrush(blue.lighter(120));
         QPainterPath bubble;
         bubble.addRoundedRect(QRectF(0.5, 1, 13, 9), 3, 3);
         bubble.moveTo(3, 9.5);
         bubble.lineTo(2.5, 13.3);
         bubble.lineTo(7, 9.5);
         p.drawPath(bubble.simplified());
         p.setPen(Qt::NoPen);
         p.setBrush(Qt::white);
         for (double x : {4.0, 7.0, 10.0}) p.drawEllipse(QPointF(x, 5.5), 1, 1);
       })},
      {QStringLiteral("imgTV"), icon(13, 15, scale, [&](QPainter &p) {
         p.setPen(pen(dark, 1));
         p.drawLine(QPointF(4, 1), QPointF(6.5, 4));
         p.drawLine(QPointF(9, 1), QPointF(6.5, 4));
         p.setBrush(purple);
         p.drawRoundedRect(QRectF(0.5, 4, 12, 9), 2, 2);
         p.setPen(Qt::NoPen);
         p.setBrush(QColor(0xcf, 0xe8, 0xff));
         p.drawRoundedRect(QRectF(2, 5.5, 9, 6), 1, 1);
         p.setBrush(dark);
         p.drawRect(QRectF(3, 13, 2, 1.6));
         p.drawRect(QRectF(8, 13, 2, 1.6));
       })},
      {QStringLiteral("imgWeb"), icon(14, 14, scale, [&](QPainter &p) {
         p.setPen(pen(blue.darker(140), 1));
         p.setBrush(QColor(0x9f, 0xd0, 0xff));
         p.drawEllipse(QRectF(0.5, 0.5, 13, 13));
         p.setBrush(Qt::NoBrush);
         p.drawEllipse(QRectF(4, 0.5, 6, 13));
         p.drawLine(QPointF(0.5, 7), QPointF(13.5, 7));
         p.drawLine(QPointF(2, 3.5), QPointF(12, 3.5));
         p.drawLine(QPointF(2, 10.5), QPointF(12, 10.5));
       })},
      {QStringLiteral("imgReccord"), icon(14, 14, scale, [&](QPainter &p) {
         p.setPen(pen(dark, 1));
         p.setBrush(QColor(0xee, 0xee, 0xf2));
         p.drawEllipse(QRectF(0.5, 0.5, 13, 13));
         QRadialGradient g(QPointF(6, 6), 5);
         g.setColorAt(0, QColor(0xff, 0x80, 0x80));
         g.setColorAt(1, red);
         p.setPen(Qt::NoPen);
         p.setBrush(g);
         p.drawEllipse(QPointF(7, 7), 4.2, 4.2);
       })},
      {QStringLiteral("imgOntop"), icon(14, 14, scale, [&](QPainter &p) {
         p.setPen(pen(dark, 1));
         p.setBrush(QColor(0xc9, 0xcd, 0xd8));
         p.drawRect(QRectF(0.5, 5.5, 9, 8));
         p.setBrush(yellow);
         p.drawRect(QRectF(4.5, 0.5, 9, 8));
         p.setPen(pen(dark, 1.4));
         p.drawLine(QPointF(9, 7), QPointF(9, 2.5));
         p.drawLine(QPointF(7, 4.5), QPointF(9, 2.5));
         p.drawLine(QPointF(11, 4.5), QPointF(9, 2.5));
       })},
      {QStringLiteral("imgExit"), icon(14, 14, scale, [&](QPainter &p) {
         p.setPen(pen(red, 2));
         p.drawArc(QRectF(1.5, 2, 11, 11), 125 * 16, 290 * 16);
         p.drawLine(QPointF(7, 0.8), QPointF(7, 6.5));
       })},
  };
  bool ok = true;
  for (const auto &[name, img] : icons) ok = img.save(dir + u'/' + name + suffix(scale) + QStringLiteral(".png")) && ok;
  return ok;
}

QImage appIcon(int size) {
  QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const double s = size;
  QLinearGradient g(0, 0, 0, s);
  g.setColorAt(0, kBodyLight);
  g.setColorAt(1, QColor(0x14, 0x15, 0x1c));
  p.setPen(QPen(QColor(0x0b, 0x0c, 0x10), s / 40));
  p.setBrush(g);
  p.drawRoundedRect(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92), s * 0.2, s * 0.2);
  drawLogo(p, QPointF(s * 0.5, s * 0.47), s * 0.36);
  p.setPen(Qt::NoPen);
  p.setBrush(kLcdText);
  for (int i = 0; i < 7; ++i) {
    const double h = s * (0.04 + 0.05 * std::abs(std::sin(i * 1.3 + 0.6)));
    p.drawRoundedRect(QRectF(s * (0.25 + i * 0.075), s * 0.88 - h, s * 0.05, h), s * 0.01, s * 0.01);
  }
  return img;
}

QImage splash(int scale = 1) {
  QImage img = canvas(360, 220, scale, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  QLinearGradient g(0, 0, 0, 220);
  g.setColorAt(0, QColor(0x2b, 0x2f, 0x3e));
  g.setColorAt(1, QColor(0x10, 0x11, 0x17));
  p.fillRect(QRect(0, 0, 360, 220), g);
  QRadialGradient glow(QPointF(180, 70), 120);
  glow.setColorAt(0, QColor(0xff, 0xa6, 0x2b, 70));
  glow.setColorAt(1, QColor(0xff, 0xa6, 0x2b, 0));
  p.fillRect(QRect(0, 0, 360, 220), glow);
  drawLogo(p, QPointF(180, 66), 44);
  printed(p, QRect(0, 112, 360, 34), QStringLiteral("KIRASOL RADIO"), 28, Qt::AlignCenter, QColor(0xf4, 0xf4, 0xf8));
  printed(p, QRect(0, 146, 360, 24), QStringLiteral("ฟังเพลงออนไลน์ 24 ชั่วโมง"), 17, Qt::AlignCenter, kAccent,
          QStringLiteral("Loma"));
  printed(p, QRect(0, 190, 350, 22), QStringLiteral("1.1"), 11, Qt::AlignRight | Qt::AlignVCenter,
          QColor(0x8a, 0x90, 0xa6));
  return img;
}

// A three-note bell chime rising to the logo's note, 2.4 s, 44.1 kHz 16-bit stereo.
QByteArray jingle() {
  constexpr int rate = 44100;
  constexpr double seconds = 2.4;
  const int frames = int(rate * seconds);
  const struct { double start, freq, gain; } notes[] = {
      {0.00, 523.25, 0.55}, {0.18, 659.25, 0.5}, {0.36, 783.99, 0.5}, {0.60, 1046.50, 0.6}};
  std::vector<double> l(frames), r(frames);
  for (const auto &n : notes) {
    const double pan = 0.35 + 0.1 * (&n - notes);
    for (int i = int(n.start * rate); i < frames; ++i) {
      const double t = double(i) / rate - n.start;
      const double env = std::min(1.0, t / 0.005) * std::exp(-t * 2.6);
      const double v = n.gain * env *
                       (std::sin(2 * M_PI * n.freq * t) + 0.3 * std::sin(2 * M_PI * n.freq * 2 * t) * std::exp(-t * 4) +
                        0.12 * std::sin(2 * M_PI * n.freq * 3.01 * t) * std::exp(-t * 6));
      l[i] += v * (1 - pan);
      r[i] += v * pan;
    }
  }
  QByteArray pcm;
  for (int i = 0; i < frames; ++i) {
    const double fade = std::min(1.0, double(frames - i) / (0.15 * rate));
    for (double v : {l[i], r[i]}) {
      const auto s = qint16(std::lround(std::clamp(v * fade, -1.0, 1.0) * 32767));
      pcm.append(reinterpret_cast<const char *>(&s), 2);  // little-endian host
    }
  }
  QByteArray wav = "RIFF";
  const auto u32 = [&](quint32 v) { v = qToLittleEndian(v); wav.append(reinterpret_cast<const char *>(&v), 4); };
  const auto u16 = [&](quint16 v) { v = qToLittleEndian(v); wav.append(reinterpret_cast<const char *>(&v), 2); };
  u32(quint32(36 + pcm.size()));
  wav += "WAVEfmt ";
  u32(16);
  u16(1);
  u16(2);
  u32(rate);
  u32(rate * 4);
  u16(4);
  u16(16);
  wav += "data";
  u32(quint32(pcm.size()));
  return wav + pcm;
}

}  // namespace

int main(int argc, char **argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-artwork ASSETS_DIR\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out + QStringLiteral("/icons"));
  bool ok = true;
  for (int scale : {1, 2}) {
    ok = skin(scale).save(out + QStringLiteral("/skin") + suffix(scale) + QStringLiteral(".png")) && ok;
    ok = splash(scale).save(out + QStringLiteral("/splash") + suffix(scale) + QStringLiteral(".png")) && ok;
    ok = menuIcons(out + QStringLiteral("/icons"), scale) && ok;
  }
  ok = appIcon(64).save(out + QStringLiteral("/icons/kirasol-radio-64.png")) && ok;
  ok = appIcon(256).save(out + QStringLiteral("/icons/kirasol-radio-256.png")) && ok;
  QFile wav(out + QStringLiteral("/intro.wav"));
  ok = wav.open(QIODevice::WriteOnly | QIODevice::Truncate) && wav.write(jingle()) > 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "make-artwork: could not write everything to %s\n", argv[1]);
    return 1;
  }
  return 0;
}
