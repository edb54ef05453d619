// draw_pictures: draws the window's pictures (four radio models and the about
// box logo) and writes them as JPEG files into the folder given as the first
// argument. Run it with QT_QPA_PLATFORM=offscreen; the output is committed
// under resources/pictures/, so a normal build never runs it.
// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <vector>

namespace {

bool WriteJpeg(const QImage& source, const QString& path) {
  const QImage image = source.convertToFormat(QImage::Format_RGB888);
  FILE* file = std::fopen(path.toLocal8Bit().constData(), "wb");
  if (file == nullptr) return false;
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = static_cast<JDIMENSION>(image.width());
  cinfo.image_height = static_cast<JDIMENSION>(image.height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<uchar*>(image.constScanLine(static_cast<int>(cinfo.next_scanline)));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return std::fclose(file) == 0;
}

QImage Canvas(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(QColor(239, 239, 239));  // the window face colour
  return image;
}

// A hand-held radio: body, antenna, two knobs, display, speaker grille, keys.
QImage DrawPortable(int w, int h, QColor body, QColor accent, bool keypad) {
  QImage image = Canvas(w, h);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal bw = h * 0.42, bh = h * 0.70;
  const qreal bx = (w - bw) / 2, by = h - bh - 4;
  // antenna and knobs
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(40, 40, 40));
  p.drawRoundedRect(QRectF(bx + bw * 0.12, 4, bw * 0.16, by - 2), 3, 3);
  p.setBrush(QColor(70, 70, 70));
  p.drawRect(QRectF(bx + bw * 0.55, by - 8, bw * 0.18, 10));
  p.setBrush(accent);
  p.drawRect(QRectF(bx + bw * 0.78, by - 5, bw * 0.12, 7));
  // body
  QLinearGradient g(bx, 0, bx + bw, 0);
  g.setColorAt(0, body.lighter(140));
  g.setColorAt(0.5, body);
  g.setColorAt(1, body.darker(160));
  p.setBrush(g);
  p.setPen(QPen(body.darker(220), 1));
  p.drawRoundedRect(QRectF(bx, by, bw, bh), 6, 6);
  // speaker grille
  p.setPen(QPen(body.darker(250), 1.2));
  for (int i = 0; i < 5; ++i) {
    const qreal y = by + bh * 0.10 + i * 3.5;
    p.drawLine(QPointF(bx + bw * 0.22, y), QPointF(bx + bw * 0.78, y));
  }
  // display
  p.setPen(QPen(QColor(20, 20, 20), 1));
  p.setBrush(QColor(150, 190, 120));
  const QRectF display(bx + bw * 0.15, by + bh * 0.34, bw * 0.70, bh * 0.16);
  p.drawRect(display);
  p.setPen(QPen(QColor(40, 60, 30), 1));
  p.drawLine(QPointF(display.left() + 3, display.center().y()),
             QPointF(display.right() - 3, display.center().y()));
  // keys
  p.setPen(Qt::NoPen);
  const int rows = keypad ? 4 : 1;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < 3; ++c) {
      p.setBrush(r == 0 ? accent : QColor(200, 200, 200));
      p.drawRoundedRect(
          QRectF(bx + bw * (0.17 + c * 0.24), by + bh * (0.56 + r * 0.095), bw * 0.18, bh * 0.06),
          2, 2);
    }
  }
  return image;
}

// A mobile radio: a wide front panel with display, knob, keys, and its
// microphone on a coiled cord.
QImage DrawMobile(int w, int h, QColor body, QColor accent, bool buttonsRow) {
  QImage image = Canvas(w, h);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF front(6, h * 0.18, w - 12, h * 0.40);
  QLinearGradient g(0, front.top(), 0, front.bottom());
  g.setColorAt(0, body.lighter(150));
  g.setColorAt(1, body.darker(150));
  p.setPen(QPen(body.darker(220), 1));
  p.setBrush(g);
  p.drawRoundedRect(front, 7, 7);
  // knob
  p.setBrush(QColor(45, 45, 45));
  p.drawEllipse(QPointF(front.left() + 16, front.center().y()), 10, 10);
  p.setBrush(accent);
  p.drawEllipse(QPointF(front.left() + 16, front.center().y() - 5), 2, 2);
  // display
  p.setPen(QPen(QColor(20, 20, 20), 1));
  p.setBrush(QColor(140, 180, 220));
  const QRectF display(front.left() + 34, front.top() + 7, front.width() * 0.48,
                       front.height() * 0.38);
  p.drawRect(display);
  // keys
  p.setPen(Qt::NoPen);
  const int keys = buttonsRow ? 5 : 3;
  for (int i = 0; i < keys; ++i) {
    p.setBrush(i == 0 ? accent : QColor(205, 205, 205));
    p.drawRoundedRect(QRectF(display.left() + i * (display.width() / keys), front.bottom() - 14,
                             display.width() / keys - 3, 7),
                      2, 2);
  }
  // microphone and cord
  const QRectF mic(front.right() - 26, h * 0.63, 20, 30);
  p.setPen(QPen(QColor(30, 30, 30), 1.5));
  p.setBrush(Qt::NoBrush);
  QPainterPath cord;
  cord.moveTo(front.right() - 14, front.bottom());
  for (int i = 0; i < 4; ++i)
    cord.cubicTo(front.right() - 22, front.bottom() + 2 + i * 1.5, front.right() - 6,
                 front.bottom() + 3 + i * 1.5, front.right() - 14, front.bottom() + 4 + i * 1.5);
  p.drawPath(cord);
  p.setBrush(QColor(50, 50, 50));
  p.drawRoundedRect(mic, 8, 8);
  p.setBrush(accent);
  p.setPen(Qt::NoPen);
  p.drawRect(QRectF(mic.left() - 2, mic.top() + 10, 3, 8));
  return image;
}

// The updater's logo: a radio wave over a flash chip.
QImage DrawLogo(int size) {
  QImage image = Canvas(size, size);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(30, 60, 120), 2));
  p.setBrush(QColor(60, 110, 190));
  p.drawEllipse(QRectF(3, 3, size - 6, size - 6));
  // chip
  const QRectF chip(size * 0.30, size * 0.50, size * 0.40, size * 0.26);
  p.setBrush(QColor(30, 30, 30));
  p.setPen(Qt::NoPen);
  p.drawRect(chip);
  p.setPen(QPen(QColor(220, 220, 220), 1.5));
  for (int i = 0; i < 4; ++i) {
    const qreal x = chip.left() + chip.width() * (0.15 + i * 0.23);
    p.drawLine(QPointF(x, chip.top() - 3), QPointF(x, chip.top()));
    p.drawLine(QPointF(x, chip.bottom()), QPointF(x, chip.bottom() + 3));
  }
  // waves
  p.setBrush(Qt::NoBrush);
  for (int i = 1; i <= 3; ++i) {
    p.setPen(QPen(QColor(255, 220, 90), 2.2));
    const qreal r = size * 0.09 * i;
    p.drawArc(QRectF(size / 2.0 - r, size * 0.42 - r, 2 * r, 2 * r), 40 * 16, 100 * 16);
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: draw_pictures OUTPUT_FOLDER\n");
    return 2;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]);
  struct Picture {
    const char* name;
    QImage image;
  };
  const std::vector<Picture> pictures = {
      {"PortableX.jpg", DrawPortable(113, 113, QColor(70, 72, 78), QColor(230, 120, 30), true)},
      {"PortableG.jpg", DrawPortable(145, 121, QColor(40, 60, 90), QColor(80, 170, 80), false)},
      {"MobileX.jpg", DrawMobile(145, 113, QColor(75, 75, 80), QColor(230, 120, 30), false)},
      {"MobileG.jpg", DrawMobile(145, 113, QColor(40, 60, 90), QColor(80, 170, 80), true)},
      {"Logo.jpg", DrawLogo(64)},
  };
  for (const auto& picture : pictures) {
    if (!WriteJpeg(picture.image, dir + "/" + picture.name)) {
      std::fprintf(stderr, "draw_pictures: cannot write %s\n", picture.name);
      return 1;
    }
  }
  return 0;
}
