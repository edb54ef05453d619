#include "link/SRecord.h"

namespace bcu::link {
namespace {

int HexDigit(std::string_view line, std::size_t i) {
  if (i >= line.size()) return 0;
  char c = line[i];
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

}  // namespace

int SRecordKind(std::string_view line) {
  if (line.size() < 2 || line[0] != 'S') return kSRecordOther;
  switch (line[1]) {
    case '1':
      return kSRecordS1;
    case '2':
      return kSRecordS2;
    case '3':
      return kSRecordS3;
    case '0':
      return kSRecordS0;
    default:
      return kSRecordOther;
  }
}

bool SRecordIsEnd(std::string_view line) {
  return line.size() >= 2 && line[0] == 'S' && (line[1] == '9' || line[1] == '7');
}

int SRecordFirstData(int kind) {
  switch (kind) {
    case kSRecordS1:
      return 8;
    case kSRecordS2:
      return 10;
    case kSRecordS3:
      return 12;
    default:
      return 8;
  }
}

int SRecordWeight(int kind) {
  return kind == kSRecordS3 ? 4 : (kind >= 0 && kind < 2 ? 3 : 0);
}

int SRecordDataLength(std::string_view line) {
  const int kind = SRecordKind(line);
  if (kind < 0 || kind > kSRecordS3) return 0;
  const int addressDigits = kind == kSRecordS0 ? 4 : SRecordFirstData(kind) - 4;
  return SRecordHexByte(line, 2) - addressDigits / 2 - 1;
}

std::uint8_t SRecordHexByte(std::string_view line, int pos) {
  if (pos < 0) return 0;
  auto p = static_cast<std::size_t>(pos);
  return static_cast<std::uint8_t>(HexDigit(line, p) * 16 + HexDigit(line, p + 1));
}

std::uint16_t SRecordHexWord(std::string_view line, int pos) {
  const unsigned a = SRecordHexByte(line, pos);
  const unsigned b = SRecordHexByte(line, pos + 2);
  return static_cast<std::uint16_t>(b * 256 + a);
}

bool SRecordReadLine(std::istream& in, std::string& line) {
  line.clear();
  std::streambuf* buf = in.rdbuf();
  if (!buf || !in.good()) return false;
  using Traits = std::char_traits<char>;
  bool any = false;
  std::size_t taken = 0;  // characters of this piece, its line end included
  while (taken < kSRecordLineMax) {
    Traits::int_type c = buf->sbumpc();
    if (Traits::eq_int_type(c, Traits::eof())) {
      in.setstate(std::ios::eofbit);
      return any;
    }
    any = true;
    char ch = Traits::to_char_type(c);
    if (ch == '\r' && Traits::eq_int_type(buf->sgetc(), Traits::to_int_type('\n'))) continue;
    ++taken;
    if (ch == '\n') return true;
    line += ch;
  }
  return true;
}

std::int64_t StreamSize(std::istream& in) {
  const auto here = in.tellg();
  if (here < 0) return 0;
  in.seekg(0, std::ios::end);
  const auto end = in.tellg();
  in.seekg(here);
  return end < 0 ? 0 : static_cast<std::int64_t>(end);
}

}  // namespace bcu::link
