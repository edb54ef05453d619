#include "app/qt/JpegImage.h"

// clang-format off
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <csetjmp>
#include <jpeglib.h>
// clang-format on

#include <QFile>

namespace bcu::qt {

namespace {

// libjpeg reports a fatal error through error_exit, which must not return.
// The decoder jumps back to DecodeInto; no C++ object lives between the two.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

void OnFatalError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  std::longjmp(err->jump, 1);
}

void OnMessage(j_common_ptr) {}  // warnings stay quiet

// Has no automatic C++ objects of its own, so the long jump skips no
// destructor; `out` belongs to the caller.
bool DecodeInto(const std::uint8_t* data, std::size_t size, QImage* out) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnFatalError;
  err.pub.output_message = OnMessage;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    *out = QImage();
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_components != 3) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  *out = QImage(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                QImage::Format_RGB888);
  if (out->isNull()) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out->scanLine(static_cast<int>(cinfo.output_scanline));
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

}  // namespace

QImage DecodeJpeg(const std::uint8_t* data, std::size_t size) {
  QImage image;
  if (data == nullptr || size == 0) return image;
  if (!DecodeInto(data, size, &image)) return QImage();
  return image;
}

QImage LoadJpeg(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QImage();
  const QByteArray bytes = file.readAll();
  return DecodeJpeg(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                    static_cast<std::size_t>(bytes.size()));
}

}  // namespace bcu::qt
