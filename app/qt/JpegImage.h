#pragma once
// JPEG pictures of the window (radio models, the about box logo), decoded with
// libjpeg itself rather than an image plugin, so the window shows them on any
// Qt installation.
#include <QImage>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace bcu::qt {

// Decodes a JPEG stream into an RGB image; a null image when the data is not a
// JPEG stream libjpeg can read.
QImage DecodeJpeg(const std::uint8_t* data, std::size_t size);

// Decodes the JPEG file at `path` (a Qt resource path such as
// ":/pictures/Logo.jpg" or a file name); a null image when it cannot be read.
QImage LoadJpeg(const QString& path);

}  // namespace bcu::qt
