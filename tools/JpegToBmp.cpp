// bcu-jpeg2bmp: the window pictures for the Windows build. The Windows window
// shows bitmap resources; the JPEG pictures are decoded here, on the build
// machine, with libjpeg, so the program needs no image decoder of its own.
//
//   bcu-jpeg2bmp PICTURE.jpg OUT.bmp            24-bit bitmap, same size
//   bcu-jpeg2bmp --icon PICTURE.jpg OUT.ico     icon of 16, 32 and 48 pixels
//
// clang-format off
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <csetjmp>
#include <jpeglib.h>
// clang-format on

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Rgb {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // rows top down, 3 bytes a pixel
};

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

void OnFatalError(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// No C++ object with a destructor lives between setjmp and the decoder's
// calls: `out` belongs to the caller and is only resized before decoding.
bool Decode(const std::vector<unsigned char>& data, Rgb* out) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnFatalError;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  out->width = static_cast<int>(cinfo.output_width);
  out->height = static_cast<int>(cinfo.output_height);
  out->pixels.resize(static_cast<std::size_t>(out->width) * out->height * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out->pixels.data() + static_cast<std::size_t>(cinfo.output_scanline) *
                                            static_cast<std::size_t>(out->width) * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

void Put16(std::vector<std::uint8_t>& b, unsigned v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

// BITMAPINFOHEADER; `heightField` is twice the height inside an icon.
void PutInfoHeader(std::vector<std::uint8_t>& b, int width, int heightField, int bits,
                   std::uint32_t imageSize) {
  Put32(b, 40);
  Put32(b, static_cast<std::uint32_t>(width));
  Put32(b, static_cast<std::uint32_t>(heightField));
  Put16(b, 1);
  Put16(b, static_cast<unsigned>(bits));
  Put32(b, 0);  // BI_RGB
  Put32(b, imageSize);
  Put32(b, 3780);  // 96 dpi
  Put32(b, 3780);
  Put32(b, 0);
  Put32(b, 0);
}

// Rows bottom up, blue green red, each padded to 4 bytes.
std::vector<std::uint8_t> Rows24(const Rgb& img) {
  const int stride = (img.width * 3 + 3) & ~3;
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(stride) * img.height, 0);
  for (int y = 0; y < img.height; ++y) {
    const std::uint8_t* src = &img.pixels[static_cast<std::size_t>(y) * img.width * 3];
    std::uint8_t* dst = &rows[static_cast<std::size_t>(img.height - 1 - y) * stride];
    for (int x = 0; x < img.width; ++x) {
      dst[x * 3 + 0] = src[x * 3 + 2];
      dst[x * 3 + 1] = src[x * 3 + 1];
      dst[x * 3 + 2] = src[x * 3 + 0];
    }
  }
  return rows;
}

std::vector<std::uint8_t> Bitmap(const Rgb& img) {
  const std::vector<std::uint8_t> rows = Rows24(img);
  std::vector<std::uint8_t> b;
  b.push_back('B');
  b.push_back('M');
  Put32(b, static_cast<std::uint32_t>(14 + 40 + rows.size()));
  Put32(b, 0);
  Put32(b, 14 + 40);
  PutInfoHeader(b, img.width, img.height, 24, static_cast<std::uint32_t>(rows.size()));
  b.insert(b.end(), rows.begin(), rows.end());
  return b;
}

// Box-filtered square of `size` pixels from the middle of the picture.
Rgb Square(const Rgb& img, int size) {
  const int side = img.width < img.height ? img.width : img.height;
  const int left = (img.width - side) / 2;
  const int top = (img.height - side) / 2;
  Rgb out;
  out.width = out.height = size;
  out.pixels.resize(static_cast<std::size_t>(size) * size * 3);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const int x0 = left + x * side / size, x1 = left + (x + 1) * side / size;
      const int y0 = top + y * side / size, y1 = top + (y + 1) * side / size;
      unsigned sum[3] = {0, 0, 0};
      unsigned n = 0;
      for (int sy = y0; sy < (y1 > y0 ? y1 : y0 + 1); ++sy) {
        for (int sx = x0; sx < (x1 > x0 ? x1 : x0 + 1); ++sx) {
          const std::uint8_t* p = &img.pixels[(static_cast<std::size_t>(sy) * img.width + sx) * 3];
          for (int c = 0; c < 3; ++c) sum[c] += p[c];
          ++n;
        }
      }
      for (int c = 0; c < 3; ++c) {
        out.pixels[(static_cast<std::size_t>(y) * size + x) * 3 + c] =
            static_cast<std::uint8_t>(sum[c] / n);
      }
    }
  }
  return out;
}

std::vector<std::uint8_t> Icon(const Rgb& img) {
  const int sizes[] = {16, 32, 48};
  std::vector<std::vector<std::uint8_t>> images;
  for (int size : sizes) {
    const Rgb sq = Square(img, size);
    const std::vector<std::uint8_t> rows = Rows24(sq);
    const int maskStride = ((size + 31) / 32) * 4;
    std::vector<std::uint8_t> b;
    const auto bytes = static_cast<std::uint32_t>(rows.size() + maskStride * size);
    PutInfoHeader(b, size, size * 2, 24, bytes);
    b.insert(b.end(), rows.begin(), rows.end());
    b.insert(b.end(), static_cast<std::size_t>(maskStride) * size, 0);  // all opaque
    images.push_back(std::move(b));
  }
  std::vector<std::uint8_t> out;
  Put16(out, 0);
  Put16(out, 1);  // icon
  Put16(out, static_cast<unsigned>(images.size()));
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    out.push_back(static_cast<std::uint8_t>(sizes[i]));
    out.push_back(static_cast<std::uint8_t>(sizes[i]));
    out.push_back(0);
    out.push_back(0);
    Put16(out, 1);
    Put16(out, 24);
    Put32(out, static_cast<std::uint32_t>(images[i].size()));
    Put32(out, offset);
    offset += static_cast<std::uint32_t>(images[i].size());
  }
  for (const auto& image : images) out.insert(out.end(), image.begin(), image.end());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const bool icon = argc == 4 && std::strcmp(argv[1], "--icon") == 0;
  if (argc != 3 && !icon) {
    std::fprintf(stderr, "usage: bcu-jpeg2bmp [--icon] PICTURE.jpg OUT\n");
    return 2;
  }
  const char* in = argv[icon ? 2 : 1];
  const char* outPath = argv[icon ? 3 : 2];
  std::ifstream file(in, std::ios::binary);
  const std::vector<unsigned char> data((std::istreambuf_iterator<char>(file)),
                                        std::istreambuf_iterator<char>());
  Rgb img;
  if (data.empty() || !Decode(data, &img) || img.width <= 0 || img.height <= 0) {
    std::fprintf(stderr, "bcu-jpeg2bmp: %s: not a JPEG picture\n", in);
    return 1;
  }
  const std::vector<std::uint8_t> bytes = icon ? Icon(img) : Bitmap(img);
  std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "bcu-jpeg2bmp: cannot write %s\n", outPath);
    return 1;
  }
  return 0;
}
