#include "app/HistoryLine.h"

#include <charconv>
#include <cstdint>
#include <string>

namespace bcu::app {

namespace {

constexpr int kMaxDepth = 64;
// Longer numbers are left to the full parser (its integer and float limits).
constexpr std::ptrdiff_t kMaxNumberChars = 24;

class LineReader {
 public:
  explicit LineReader(std::string_view line) : p_(line.data()), end_(line.data() + line.size()) {}

  void Blank() {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
  }
  bool Take(char c) {
    Blank();
    if (p_ < end_ && *p_ == c) {
      ++p_;
      return true;
    }
    return false;
  }
  bool Next(char c) {
    Blank();
    return p_ < end_ && *p_ == c;
  }
  bool NextIsNumber() {
    Blank();
    return p_ < end_ && (*p_ == '-' || (*p_ >= '0' && *p_ <= '9'));
  }
  bool AtEnd() {
    Blank();
    return p_ == end_;
  }

  // A string, decoded into `out` when given.
  bool String(std::string* out) {
    if (!Take('"')) return false;
    if (out) out->clear();
    const char* run = p_;
    while (p_ < end_) {
      const auto c = static_cast<unsigned char>(*p_);
      if (c == '"') {
        if (out) out->append(run, static_cast<std::size_t>(p_ - run));
        ++p_;
        return true;
      }
      if (c < 0x20) return false;
      if (c == '\\') {
        if (out) out->append(run, static_cast<std::size_t>(p_ - run));
        if (++p_ == end_) return false;
        char v = 0;
        switch (*p_++) {
          case '"':
            v = '"';
            break;
          case '\\':
            v = '\\';
            break;
          case '/':
            v = '/';
            break;
          case 'b':
            v = '\b';
            break;
          case 'f':
            v = '\f';
            break;
          case 'n':
            v = '\n';
            break;
          case 'r':
            v = '\r';
            break;
          case 't':
            v = '\t';
            break;
          default:
            return false;  // \u and anything else: the full parser
        }
        if (out) out->push_back(v);
        run = p_;
        continue;
      }
      if (c < 0x80) {
        ++p_;
        continue;
      }
      if (!Utf8Sequence()) return false;
    }
    return false;
  }

  // A number; `integer` when it has neither fraction nor exponent.
  bool Number(double& value, std::int64_t& whole, bool& integer) {
    Blank();
    const char* start = p_;
    if (p_ < end_ && *p_ == '-') ++p_;
    if (p_ == end_) return false;
    if (*p_ == '0') {
      ++p_;
    } else if (*p_ >= '1' && *p_ <= '9') {
      Digits();
    } else {
      return false;
    }
    integer = true;
    if (p_ < end_ && *p_ == '.') {
      integer = false;
      ++p_;
      if (!Digits()) return false;
    }
    if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
      integer = false;
      ++p_;
      if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
      if (!Digits()) return false;
    }
    if (p_ - start > kMaxNumberChars) return false;
    if (integer) {
      if (std::from_chars(start, p_, whole).ptr != p_) return false;
      value = static_cast<double>(whole);
      return true;
    }
    const auto result = std::from_chars(start, p_, value);
    return result.ec == std::errc() && result.ptr == p_;
  }

  bool Literal(std::string_view word) {
    Blank();
    if (static_cast<std::size_t>(end_ - p_) < word.size() ||
        std::string_view(p_, word.size()) != word)
      return false;
    p_ += word.size();
    return true;
  }

  // Any value, checked and dropped.
  bool Skip(int depth) {
    if (depth > kMaxDepth) return false;
    Blank();
    if (p_ == end_) return false;
    switch (*p_) {
      case '"':
        return String(nullptr);
      case '{':
        return Object([&](const std::string&) { return Skip(depth + 1); });
      case '[': {
        ++p_;
        if (Take(']')) return true;
        do {
          if (!Skip(depth + 1)) return false;
        } while (Take(','));
        return Take(']');
      }
      case 't':
        return Literal("true");
      case 'f':
        return Literal("false");
      case 'n':
        return Literal("null");
      default: {
        double d = 0;
        std::int64_t w = 0;
        bool integer = false;
        return Number(d, w, integer);
      }
    }
  }

  // An object: `member` (key) reads each member's value.
  template <typename Member>
  bool Object(Member member) {
    if (!Take('{')) return false;
    if (Take('}')) return true;
    std::string key;
    do {
      if (!String(&key) || !Take(':') || !member(key)) return false;
    } while (Take(','));
    return Take('}');
  }

  // A string value into `out`; any other value leaves `out` empty.
  bool Text(std::string& out) {
    out.clear();
    if (Next('"')) return String(&out);
    return Skip(1);
  }

 private:
  bool Digits() {
    const char* from = p_;
    while (p_ < end_ && *p_ >= '0' && *p_ <= '9') ++p_;
    return p_ != from;
  }

  // One well-formed UTF-8 sequence of two to four bytes at p_.
  bool Utf8Sequence() {
    const auto b = [&](std::ptrdiff_t i) {
      return p_ + i < end_ ? static_cast<unsigned char>(p_[i]) : 0u;
    };
    const unsigned lead = b(0);
    unsigned lo = 0x80, hi = 0xBF;
    int more = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      more = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      more = 2;
      if (lead == 0xE0) lo = 0xA0;
      if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      more = 3;
      if (lead == 0xF0) lo = 0x90;
      if (lead == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (b(1) < lo || b(1) > hi) return false;
    for (int i = 2; i <= more; ++i)
      if (b(i) < 0x80 || b(i) > 0xBF) return false;
    p_ += more + 1;
    return true;
  }

  const char* p_;
  const char* end_;
};

// Marks `bit` seen; false when it was already (a key given twice: which of
// the two counts is the full parser's to say).
bool First(unsigned& seen, unsigned bit) {
  if (seen & bit) return false;
  seen |= bit;
  return true;
}

bool Versions(LineReader& in, RadioVersions& v) {
  v = RadioVersions{};
  if (!in.Next('{')) return in.Skip(1);
  unsigned seen = 0;
  return in.Object([&](const std::string& key) {
    std::string* field = nullptr;
    unsigned bit = 0;
    if (key == "fileFormatVersion") {
      field = &v.fileFormatVersion, bit = 1;
    } else if (key == "dspSoftwareVersion") {
      field = &v.dspVersion, bit = 2;
    } else if (key == "controllerVersion") {
      field = &v.controllerVersion, bit = 4;
    } else if (key == "hardwareRevision") {
      field = &v.hardwareRevision, bit = 8;
    } else if (key == "bootVersion") {
      field = &v.bootVersion, bit = 16;
    } else if (key == "semVersion") {
      field = &v.semVersion, bit = 32;
    } else {
      return in.Skip(2);
    }
    return First(seen, bit) && in.Text(*field);
  });
}

}  // namespace

bool ReadHistoryLineFast(std::string_view line, HistoryRecord& r) {
  LineReader in(line);
  r = HistoryRecord{};
  if (!in.Next('{')) return false;
  unsigned seen = 0;
  const bool read = in.Object([&](const std::string& key) {
    if (key == "port") return First(seen, 1u << 0) && in.Text(r.port);
    if (key == "serialNumber") return First(seen, 1u << 1) && in.Text(r.serialNumber);
    if (key == "versionsBefore") return First(seen, 1u << 2) && Versions(in, r.versionsBefore);
    if (key == "versionsAfter") return First(seen, 1u << 3) && Versions(in, r.versionsAfter);
    if (key == "codeplugFormatBefore")
      return First(seen, 1u << 4) && in.Text(r.codeplugFormatBefore);
    if (key == "codeplugFormatAfter") return First(seen, 1u << 5) && in.Text(r.codeplugFormatAfter);
    if (key == "backupFile") return First(seen, 1u << 6) && in.Text(r.backupPath);
    if (key == "startTime") return First(seen, 1u << 7) && in.Text(r.startTime);
    if (key == "firmwareSet") {
      if (!First(seen, 1u << 8)) return false;
      r.firmwareSetName.clear();
      r.firmwareSetRelease.clear();
      if (!in.Next('{')) return in.Skip(1);
      unsigned inner = 0;
      return in.Object([&](const std::string& k) {
        if (k == "name") return First(inner, 1) && in.Text(r.firmwareSetName);
        if (k == "release") return First(inner, 2) && in.Text(r.firmwareSetRelease);
        return in.Skip(2);
      });
    }
    if (key == "outcome") {
      if (!First(seen, 1u << 9)) return false;
      if (!in.Next('{')) return in.Skip(1);
      unsigned inner = 0;
      return in.Object([&](const std::string& k) {
        if (k == "text") return First(inner, 1) && in.Text(r.outcomeText);
        if (k != "code") return in.Skip(2);
        if (!First(inner, 2)) return false;
        if (!in.NextIsNumber()) return in.Skip(2);  // not a number: the code stays 0
        double d = 0;
        std::int64_t whole = 0;
        bool integer = false;
        // A fraction or a code beyond an int: the full parser's conversion.
        if (!in.Number(d, whole, integer) || !integer || whole > 999999999 || whole < -999999999)
          return false;
        r.outcomeCode = static_cast<int>(whole);
        return true;
      });
    }
    if (key == "durationSeconds") {
      if (!First(seen, 1u << 10)) return false;
      if (!in.NextIsNumber()) return in.Skip(1);
      std::int64_t whole = 0;
      bool integer = false;
      return in.Number(r.durationSeconds, whole, integer);
    }
    return in.Skip(1);
  });
  return read && in.AtEnd();
}

}  // namespace bcu::app
