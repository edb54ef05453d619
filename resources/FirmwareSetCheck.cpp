#include "resources/FirmwareSetCheck.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace bcu::resources {
namespace fs = std::filesystem;
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int AddressBytes(char type) {
  switch (type) {
    case '0':
    case '1':
    case '5':
    case '9':
      return 2;
    case '2':
    case '6':
    case '8':
      return 3;
    case '3':
    case '7':
      return 4;
    default:
      return -1;
  }
}

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Checks one record line (without its line end); empty result when it is good.
std::string CheckRecord(std::string_view line) {
  if (line.size() < 4 || line[0] != 'S') return "not an S-record";
  const int addressBytes = AddressBytes(line[1]);
  if (addressBytes < 0) return std::string("unknown record type S") + line[1];
  if (line.size() > kMaxRecordChars) return "record longer than 298 characters";
  if (line.size() % 2 != 0) return "odd number of hex digits";
  unsigned sum = 0;
  std::vector<int> bytes;
  for (std::size_t i = 2; i < line.size(); i += 2) {
    int hi = HexValue(line[i]), lo = HexValue(line[i + 1]);
    if (hi < 0 || lo < 0) return "character that is not a hex digit";
    bytes.push_back(hi * 16 + lo);
    sum += static_cast<unsigned>(hi * 16 + lo);
  }
  const int count = bytes[0];
  if (static_cast<std::size_t>(count) + 1 != bytes.size())
    return "byte count " + std::to_string(count) + " does not match the record's length";
  if ((sum & 0xFF) != 0xFF) return "wrong record checksum";
  const int data = count - addressBytes - 1;
  if (data < 0) return "byte count too small for the address";
  if ((line[1] == '1' || line[1] == '2' || line[1] == '3') && data % 2 != 0)
    return "odd number of data bytes (" + std::to_string(data) + ")";
  if ((line[1] == '5' || line[1] == '6' || line[1] == '7' || line[1] == '8' || line[1] == '9') &&
      data != 0)
    return "count or end record with data bytes";
  return {};
}

}  // namespace

bool ReadChunkFile(const fs::path& file, bool records, std::string& text, std::string& error) {
  text.clear();
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = file.string() + ": cannot be read";
    return false;
  }
  // Read in pieces, so that the first line or the first byte over its bound
  // ends the read: a huge file is refused without being held in memory.
  constexpr std::size_t kPiece = 65536;
  std::size_t lineLength = 0;
  int lineNo = 1;
  std::string piece(kPiece, '\0');
  while (in) {
    in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0) break;
    if (text.size() + got > kMaxChunkBytes) {
      error = file.filename().string() + ": larger than " + std::to_string(kMaxChunkBytes) +
              " bytes, more than any chunk of a firmware set";
      return false;
    }
    if (records) {
      for (std::size_t i = 0; i < got; ++i) {
        if (piece[i] == '\n') {
          lineLength = 0;
          ++lineNo;
        } else if (++lineLength > kMaxRecordChars + 1) {  // a CR before the line end counts
          error = file.filename().string() + " line " + std::to_string(lineNo) +
                  ": record longer than " + std::to_string(kMaxRecordChars) + " characters";
          return false;
        }
      }
    }
    text.append(piece.data(), got);
  }
  if (in.bad()) {
    error = file.string() + ": cannot be read";
    return false;
  }
  return true;
}

bool CheckSRecordChunk(std::string_view text, const std::string& chunkName, bool lastChunk,
                       bool& endSeen, std::string& error) {
  std::size_t pos = 0;
  int lineNo = 0;
  bool endLast = false;
  if (text.empty()) {
    error = chunkName + ": empty chunk";
    return false;
  }
  while (pos < text.size()) {
    ++lineNo;
    std::size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) {
      error = chunkName + " line " + std::to_string(lineNo) +
              ": no line end (chunks must be cut at record boundaries)";
      return false;
    }
    std::string_view line = text.substr(pos, nl - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = nl + 1;
    std::string why = CheckRecord(line);
    if (why.empty() && endSeen) why = "record after the end record";
    if (!why.empty()) {
      error = chunkName + " line " + std::to_string(lineNo) + ": " + why;
      return false;
    }
    endLast = line[1] == '7' || line[1] == '9';
    if (endLast) endSeen = true;
  }
  if (lastChunk && !endLast) {
    error = chunkName + ": the image does not end with an S9 or S7 record";
    return false;
  }
  return true;
}

std::string ChunkResourceName(const std::string& fileName, std::string& base, int& number) {
  std::string stem = fileName.substr(0, fileName.find('.'));
  std::string up = Upper(stem);
  std::size_t us = up.rfind('_');
  if (us == std::string::npos || us + 1 >= up.size()) return {};
  std::string prefix = up.substr(0, us);
  static const char* const kBases[] = {"Loader",    "Code",           "Loader_Boot",
                                       "Code_Boot", "Loader_BootTwo", "Code_BootTwo"};
  base.clear();
  for (const char* b : kBases)
    if (Upper(b) == prefix) base = b;
  if (base.empty()) return {};
  const std::string digits = up.substr(us + 1);
  number = 0;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c)) || number > 100000) return {};
    number = number * 10 + (c - '0');
  }
  return up;
}

namespace {

// A set's name or release: printable characters only (they are shown on one
// line), at most `max` of them.
bool IdentityText(const nlohmann::json& v, std::size_t max, std::string& out) {
  if (!v.is_string()) return false;
  out = v.get<std::string>();
  if (out.empty() || out.size() > max) return false;
  for (const char c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  return true;
}

}  // namespace

bool CheckAttributeValues(const app::ResourceAttributes& a, std::string& error) {
  if (a.UpgradeType > app::kUpgradeApplicationBoot) {
    error = "UpgradeType " + std::to_string(a.UpgradeType) +
            " is unknown (0 Application, 1 Boot, 2 DSP, 3 Application/Boot)";
    return false;
  }
  if (a.RadioFamily > 1) {
    error = "RadioFamily " + std::to_string(a.RadioFamily) + " is unknown (0 portable, 1 mobile)";
    return false;
  }
  if (a.LoaderChunks == 0) {
    error = "LoaderChunks is 0: there would be no loader to send to the radio";
    return false;
  }
  if (a.CodeChunks == 0) {
    error = "CodeChunks is 0: the radio's flash would be erased and no code written into it";
    return false;
  }
  if (a.UpgradeType == app::kUpgradeApplicationBoot &&
      (a.BootLoaderChunks == 0 || a.BootCodeChunks == 0)) {
    error = std::string(a.BootLoaderChunks == 0 ? "BootLoaderChunks" : "BootCodeChunks") +
            " is 0 in an Application/Boot set: a boot update would write no boot code";
    return false;
  }
  if (a.SecondBootMajor != 0 && (a.SecondBootLoaderChunks == 0 || a.SecondBootCodeChunks == 0)) {
    error = std::string(a.SecondBootLoaderChunks == 0 ? "SecondBootLoaderChunks"
                                                      : "SecondBootCodeChunks") +
            " is 0 while SecondBootMajor names a second boot line";
    return false;
  }
  const std::pair<const char*, std::int32_t> versions[] = {{"BootMajor", a.BootMajor},
                                                           {"BootMinor", a.BootMinor},
                                                           {"SecondBootMajor", a.SecondBootMajor},
                                                           {"SecondBootMinor", a.SecondBootMinor}};
  for (const auto& [name, value] : versions) {
    if (value < 0 || value > 255) {
      error = std::string(name) + " " + std::to_string(value) +
              " is not a version part a radio reports (0 to 255)";
      return false;
    }
  }
  return true;
}

bool ReadAttributesJson(const fs::path& file, FirmwareSetDescription& out, std::string& error) {
  // A few hundred bytes; a file far larger is not one (and is not read whole).
  constexpr std::size_t kMaxAttributesBytes = 1024 * 1024;
  std::error_code ec;
  const fs::file_status status = fs::status(file, ec);
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    error = file.string() + ": not a regular file";
    return false;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = file.string() + ": cannot be read";
    return false;
  }
  std::string content(kMaxAttributesBytes + 1, '\0');
  in.read(content.data(), static_cast<std::streamsize>(content.size()));
  content.resize(static_cast<std::size_t>(in.gcount()));
  if (content.size() > kMaxAttributesBytes) {
    error = file.string() + ": larger than " + std::to_string(kMaxAttributesBytes) + " bytes";
    return false;
  }
  nlohmann::json j;
  try {
    j = nlohmann::json::parse(content);
  } catch (const std::exception& e) {
    error = file.string() + ": not valid JSON (" + e.what() + ")";
    return false;
  }
  if (!j.is_object()) {
    error = file.string() + ": must hold one object";
    return false;
  }
  out = {};
  app::ResourceAttributes& a = out.attributes;
  struct IntField {
    const char* name;
    std::int32_t* value;
    bool required;
  };
  IntField ints[] = {{"LoaderChunks", &a.LoaderChunks, true},
                     {"CodeChunks", &a.CodeChunks, true},
                     {"BootLoaderChunks", &a.BootLoaderChunks, true},
                     {"BootCodeChunks", &a.BootCodeChunks, true},
                     {"SecondBootLoaderChunks", &a.SecondBootLoaderChunks, false},
                     {"SecondBootCodeChunks", &a.SecondBootCodeChunks, false},
                     {"BootMajor", &a.BootMajor, false},
                     {"BootMinor", &a.BootMinor, false},
                     {"SecondBootMajor", &a.SecondBootMajor, false},
                     {"SecondBootMinor", &a.SecondBootMinor, false}};
  struct ByteField {
    const char* name;
    std::uint8_t* value;
  };
  ByteField bytes[] = {{"RadioFamily", &a.RadioFamily},
                       {"NewPlatform", &a.NewPlatform},
                       {"Series", &a.Series},
                       {"UpgradeType", &a.UpgradeType},
                       {"Processor416", &a.Processor416}};
  struct TextField {
    const char* name;
    char* value;
    std::size_t max;
  };
  TextField texts[] = {{"ConfigDeskVersion", a.ConfigDeskVersion, 9},
                       {"TuneDeskVersion", a.TuneDeskVersion, 9},
                       {"Tag", a.Tag, 3}};
  struct IdentityField {
    const char* name;
    std::string* value;
    std::size_t max;
  };
  IdentityField identity[] = {{"Name", &out.identity.name, kMaxSetNameChars},
                              {"Release", &out.identity.release, kMaxSetReleaseChars}};
  std::size_t known = 0;
  for (auto& f : ints) {
    if (!j.contains(f.name)) {
      if (f.required) {
        error = file.string() + ": " + f.name + " is missing";
        return false;
      }
      continue;
    }
    ++known;
    const auto& v = j[f.name];
    if (!v.is_number_integer() || v.get<std::int64_t>() < 0 || v.get<std::int64_t>() > 100000) {
      error = file.string() + ": " + f.name + " must be a whole number from 0 to 100000";
      return false;
    }
    *f.value = v.get<std::int32_t>();
  }
  for (auto& f : bytes) {
    if (!j.contains(f.name)) continue;
    ++known;
    const auto& v = j[f.name];
    if (!v.is_number_integer() || v.get<std::int64_t>() < 0 || v.get<std::int64_t>() > 255) {
      error = file.string() + ": " + f.name + " must be a whole number from 0 to 255";
      return false;
    }
    *f.value = v.get<std::uint8_t>();
  }
  for (auto& f : texts) {
    if (!j.contains(f.name)) continue;
    ++known;
    const auto& v = j[f.name];
    if (!v.is_string() || v.get<std::string>().size() > f.max) {
      error = file.string() + ": " + f.name + " must be a text of at most " +
              std::to_string(f.max) + " characters";
      return false;
    }
    std::string s = v.get<std::string>();
    std::memcpy(f.value, s.data(), s.size());
  }
  for (auto& f : identity) {
    if (!j.contains(f.name)) continue;
    ++known;
    if (!IdentityText(j[f.name], f.max, *f.value)) {
      error = file.string() + ": " + f.name + " must be a text of 1 to " + std::to_string(f.max) +
              " printable characters";
      return false;
    }
  }
  if (known != j.size()) {
    for (auto it = j.begin(); it != j.end(); ++it) {
      bool found = false;
      for (auto& f : ints) found |= it.key() == f.name;
      for (auto& f : bytes) found |= it.key() == f.name;
      for (auto& f : texts) found |= it.key() == f.name;
      for (auto& f : identity) found |= it.key() == f.name;
      if (!found) {
        error = file.string() + ": unknown field " + it.key();
        return false;
      }
    }
  }
  std::string why;
  if (!CheckAttributeValues(a, why)) {
    error = file.string() + ": " + why;
    return false;
  }
  return true;
}

std::string AttributesJson(const FirmwareSetDescription& d) {
  const app::ResourceAttributes& a = d.attributes;
  nlohmann::ordered_json j;
  if (!d.identity.name.empty()) j["Name"] = d.identity.name;
  if (!d.identity.release.empty()) j["Release"] = d.identity.release;
  j["LoaderChunks"] = a.LoaderChunks;
  j["CodeChunks"] = a.CodeChunks;
  j["BootLoaderChunks"] = a.BootLoaderChunks;
  j["BootCodeChunks"] = a.BootCodeChunks;
  j["SecondBootLoaderChunks"] = a.SecondBootLoaderChunks;
  j["SecondBootCodeChunks"] = a.SecondBootCodeChunks;
  j["BootMajor"] = a.BootMajor;
  j["BootMinor"] = a.BootMinor;
  j["SecondBootMajor"] = a.SecondBootMajor;
  j["SecondBootMinor"] = a.SecondBootMinor;
  j["ConfigDeskVersion"] = app::AttributeText(a.ConfigDeskVersion);
  j["TuneDeskVersion"] = app::AttributeText(a.TuneDeskVersion);
  j["RadioFamily"] = a.RadioFamily;
  j["NewPlatform"] = a.NewPlatform;
  j["Series"] = a.Series;
  j["UpgradeType"] = a.UpgradeType;
  j["Processor416"] = a.Processor416;
  j["Tag"] = std::string(a.Tag, strnlen(a.Tag, 3));
  return j.dump(2) + "\n";
}

std::vector<std::pair<std::string, std::string>> DescriptionResources(
    const FirmwareSetDescription& d) {
  std::string record(app::kResourceAttributesSize, '\0');
  app::EncodeResourceAttributes(d.attributes, reinterpret_cast<std::uint8_t*>(record.data()));
  std::vector<std::pair<std::string, std::string>> out = {{Upper("ResourceAttributes_"), record}};
  if (!d.identity.name.empty()) out.emplace_back(Upper(app::kSetNameResource), d.identity.name);
  if (!d.identity.release.empty())
    out.emplace_back(Upper(app::kSetReleaseResource), d.identity.release);
  return out;
}

bool CheckFirmwareSet(const fs::path& dir, const app::ResourceAttributes& a,
                      std::map<std::string, fs::path>& chunks, std::string& error) {
  const std::map<std::string, int> counts = {{"Loader", a.LoaderChunks},
                                             {"Code", a.CodeChunks},
                                             {"Loader_Boot", a.BootLoaderChunks},
                                             {"Code_Boot", a.BootCodeChunks},
                                             {"Loader_BootTwo", a.SecondBootLoaderChunks},
                                             {"Code_BootTwo", a.SecondBootCodeChunks}};
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    std::string base;
    int number = 0;
    std::string name = ChunkResourceName(entry.path().filename().string(), base, number);
    if (name.empty()) continue;
    // A chunk's name on anything but a regular file (a folder, a device, a
    // link that leads nowhere or in a loop) is refused, not skipped.
    std::error_code typeEc;
    if (!entry.is_regular_file(typeEc)) {
      error = entry.path().filename().string() + ": not a regular file" +
              (typeEc ? " (" + typeEc.message() + ")" : std::string());
      return false;
    }
    const int count = counts.at(base);
    if (number < 1 || number > count) {
      error = entry.path().filename().string() + ": the attributes give " + base + " " +
              std::to_string(count) + " chunk(s), so this chunk file does not belong to the set";
      return false;
    }
    if (chunks.count(name)) {
      error = "two files for chunk " + name + ": " + chunks[name].filename().string() + " and " +
              entry.path().filename().string();
      return false;
    }
    chunks[name] = entry.path();
  }
  if (ec) {
    error = dir.string() + ": " + ec.message();
    return false;
  }
  for (const auto& [base, count] : counts) {
    const bool binary = base == "Code" && a.UpgradeType == app::kUpgradeDsp;
    bool endSeen = false;
    for (int n = 1; n <= count; ++n) {
      std::string name = Upper(base) + "_" + std::to_string(n);
      auto it = chunks.find(name);
      if (it == chunks.end()) {
        error = "chunk " + base + "_" + std::to_string(n) + " is missing (the attributes give " +
                base + " " + std::to_string(count) + " chunk(s))";
        return false;
      }
      std::string text;
      if (!ReadChunkFile(it->second, !binary, text, error)) return false;
      if (binary) {
        if (text.empty()) {
          error = it->second.filename().string() + ": empty chunk";
          return false;
        }
        continue;
      }
      if (!CheckSRecordChunk(text, it->second.filename().string(), n == count, endSeen, error))
        return false;
    }
  }
  return true;
}

}  // namespace bcu::resources
