// make_icon: writes the window's logo as the PNG icon of the menu entry.
//
//   make_icon LOGO.jpg OUT.png
//
// The logo is decoded as the window decodes it and saved unchanged in size.
#include <QImage>
#include <QString>
#include <cstdio>

#include "app/qt/JpegImage.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_icon LOGO.jpg OUT.png\n");
    return 2;
  }
  const QImage logo = bcu::qt::LoadJpeg(QString::fromLocal8Bit(argv[1]));
  if (logo.isNull()) {
    std::fprintf(stderr, "make_icon: %s: not a JPEG picture\n", argv[1]);
    return 1;
  }
  if (!logo.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
    std::fprintf(stderr, "make_icon: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
