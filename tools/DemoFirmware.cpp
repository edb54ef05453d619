#include "tools/DemoFirmware.h"

#include <cstring>

namespace bcu::tools {
namespace {

// splitmix64: small, fast and the same on every machine.
class DataStream {
 public:
  explicit DataStream(const std::string& seedText) {
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a of the image name
    for (unsigned char c : seedText) h = (h ^ c) * 1099511628211ull;
    state_ = h;
  }
  std::uint8_t Next() {
    if (left_ == 0) {
      std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      word_ = z ^ (z >> 31);
      left_ = 8;
    }
    auto b = static_cast<std::uint8_t>(word_);
    word_ >>= 8;
    --left_;
    return b;
  }

 private:
  std::uint64_t state_ = 0;
  std::uint64_t word_ = 0;
  int left_ = 0;
};

int AddressBytes(char type) {
  switch (type) {
    case '2':
    case '6':
    case '8':
      return 3;
    case '3':
    case '7':
      return 4;
    default:
      return 2;
  }
}

// How one image is laid out: data records of `recordBytes`, cut into chunks.
struct Layout {
  const char* baseName;
  const char* extension;
  char type;                      // data record type
  std::uint32_t address;          // load address of the first data byte
  std::vector<int> chunkRecords;  // full data records per chunk
  int lastRecordBytes;            // a shorter data record at the end (0: none)
  bool header;                    // an S0 header record first
  bool countRecord;               // an S5/S6 record count before the end record
};

constexpr int kRecordBytes = 16;

std::vector<Layout> Layouts() {
  std::vector<int> code(11, 21312);
  code.push_back(15104);
  return {
      {"Loader", "s2", '2', 0x010000, {512}, 0, true, false},
      {"Code", "s3", '3', 0x00100000, code, 6, false, true},
      {"Loader_Boot", "s2", '2', 0x020000, {256}, 0, true, false},
      {"Code_Boot", "s3", '3', 0x00000000, {2048}, 10, false, false},
  };
}

DemoImage Build(const Layout& l) {
  DemoImage image{l.baseName, l.extension, {}};
  DataStream data(l.baseName);
  std::uint32_t address = l.address;
  std::uint32_t records = 0;
  std::uint8_t buf[kRecordBytes];
  for (std::size_t c = 0; c < l.chunkRecords.size(); ++c) {
    std::string text;
    text.reserve(static_cast<std::size_t>(l.chunkRecords[c]) * 48 + 64);
    if (c == 0 && l.header) {
      const char* name = l.baseName;
      text += MakeSRecord('0', 0, reinterpret_cast<const std::uint8_t*>(name), std::strlen(name));
    }
    for (int r = 0; r < l.chunkRecords[c]; ++r) {
      for (auto& b : buf) b = data.Next();
      text += MakeSRecord(l.type, address, buf, kRecordBytes);
      address += kRecordBytes;
      ++records;
    }
    if (c + 1 == l.chunkRecords.size()) {
      if (l.lastRecordBytes > 0) {
        for (int i = 0; i < l.lastRecordBytes; ++i) buf[i] = data.Next();
        text += MakeSRecord(l.type, address, buf, static_cast<std::size_t>(l.lastRecordBytes));
        ++records;
      }
      if (l.countRecord) text += MakeSRecord(records > 0xFFFF ? '6' : '5', records, nullptr, 0);
      text += MakeSRecord('9', 0, nullptr, 0);
    }
    image.chunks.push_back(std::move(text));
  }
  return image;
}

}  // namespace

std::string MakeSRecord(char type, std::uint32_t address, const std::uint8_t* data, std::size_t n) {
  static const char kHex[] = "0123456789ABCDEF";
  const int addressBytes = AddressBytes(type);
  std::string line = "S";
  line += type;
  unsigned sum = 0;
  auto put = [&](std::uint8_t b) {
    sum += b;
    line += kHex[b >> 4];
    line += kHex[b & 15];
  };
  put(static_cast<std::uint8_t>(n + static_cast<std::size_t>(addressBytes) + 1));
  for (int i = addressBytes - 1; i >= 0; --i) put(static_cast<std::uint8_t>(address >> (8 * i)));
  for (std::size_t i = 0; i < n; ++i) put(data[i]);
  put(static_cast<std::uint8_t>(~sum));
  line += "\r\n";
  return line;
}

app::ResourceAttributes DemoAttributes() {
  app::ResourceAttributes a;
  a.LoaderChunks = 1;
  a.CodeChunks = 12;
  a.BootLoaderChunks = 1;
  a.BootCodeChunks = 1;
  a.BootMajor = 4;
  a.BootMinor = 2;
  std::memcpy(a.ConfigDeskVersion, "2.10.2", 6);
  std::memcpy(a.TuneDeskVersion, "3.0.14", 6);
  a.RadioFamily = 1;
  a.NewPlatform = 1;
  a.Series = 4;
  a.UpgradeType = app::kUpgradeApplicationBoot;
  a.Processor416 = 0;
  std::memcpy(a.Tag, "E01", 3);
  return a;
}

resources::FirmwareSetDescription DemoDescription() {
  return {DemoAttributes(), {kDemoSetName, kDemoSetRelease}};
}

std::vector<DemoImage> DemoImages() {
  std::vector<DemoImage> images;
  for (const auto& l : Layouts()) images.push_back(Build(l));
  return images;
}

std::vector<std::uint8_t> DemoImageData(const std::string& baseName) {
  std::vector<std::uint8_t> out;
  for (const auto& l : Layouts()) {
    if (baseName != l.baseName) continue;
    std::size_t n = 0;
    for (int r : l.chunkRecords) n += static_cast<std::size_t>(r) * kRecordBytes;
    n += static_cast<std::size_t>(l.lastRecordBytes);
    DataStream data(l.baseName);
    out.resize(n);
    for (auto& b : out) b = data.Next();
  }
  return out;
}

}  // namespace bcu::tools
