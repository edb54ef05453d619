// bcu codeplug: offline work on codeplug files (the image exactly as the radio
// sends it: big-endian 16-bit words, an even byte count of at most 65,536).
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/CodeplugBackup.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "codeplug/Blocks.h"
#include "codeplug/CodeplugBuilder.h"
#include "codeplug/CodeplugConversion.h"
#include "codeplug/CodeplugFile.h"
#include "codeplug/FormatVersion.h"
#include "codeplug/TableAccess.h"
#include "codeplug/Validity.h"
#include "platform/HelpWords.h"

namespace bcu::cli {
namespace {

using namespace bcu::codeplug;

// The structural check and, for a file, that it holds the whole image.
ImageCheck CheckFile(const CodeplugImage& image, std::size_t byteCount) {
  ImageCheck check = CheckParmsImage(image);
  std::string missing;
  if (check.valid && !ImageIsWhole(image, byteCount, missing)) check = {false, missing};
  return check;
}

bool ParseVersion(const std::string& text, FormatVersion& version) {
  if (text == "5.8")
    version = {5, 8};
  else if (text == "5.9")
    version = {5, 9};
  else if (text == "5.10")
    version = {5, 10};
  else
    return false;
  return true;
}

std::string VersionText(FormatVersion v) {
  return std::to_string(v.major) + "." + std::to_string(v.minor);
}

struct LoadedImage {
  std::unique_ptr<CodeplugImage> image = std::make_unique<CodeplugImage>();
  std::size_t byteCount = 0;
};

LoadedImage Load(const std::string& path) {
  LoadedImage loaded;
  std::string error;
  bool notACodeplug = false;
  if (!ReadCodeplugFile(path, *loaded.image, loaded.byteCount, error, &notACodeplug))
    Fail(notACodeplug ? kExitFileInvalid : kExitFileError, error);
  return loaded;
}

void Save(const std::string& path, const CodeplugImage& image, std::size_t byteCount) {
  std::string error;
  if (!WriteCodeplugFile(path, image, byteCount, error)) Fail(kExitFileError, error);
}

const char* KindName(std::uint16_t kind) {
  static const char* const kNames[] = {"radio", "system-type", "system", "group"};
  return kNames[kind & 3];
}

nlohmann::ordered_json Describe(const LoadedImage& loaded) {
  const CodeplugImage& image = *loaded.image;
  const ImageCheck check = CheckFile(image, loaded.byteCount);
  const bool wide = ImageUsesWideLayout(image);
  nlohmann::ordered_json j;
  j["valid"] = check.valid;
  if (!check.valid) j["invalidReason"] = check.reason;
  j["codeplugFormat"] = VersionText(ImageFormatVersion(image));
  j["formatIndex"] = ParmsFormatIndex(image);
  j["fileBytes"] = loaded.byteCount;
  j["imageWords"] = ImageLength(image);
  j["variantCode"] = VariantCode(image);
  j["systemBlockCount"] = SystemBlockCount(image);
  j["groupBlockCount"] = GroupBlockCount(image);
  j["tableWordLayout"] = wide ? "wide" : "narrow";
  nlohmann::ordered_json blocks = nlohmann::ordered_json::array();
  const std::uint32_t end =
      ImageLength(image) > kTrailerWords ? ImageLength(image) - kTrailerWords : 0;
  for (std::uint32_t pos = 0; pos < end && IsBlockMark(image, pos);) {
    const TableWord t = DecodeTableWord(WordAt(image, pos + 2), wide);
    nlohmann::ordered_json b;
    b["wordPosition"] = pos;
    b["kind"] = KindName(KindOfBlock(image, pos));
    b["words"] = LengthOfBlock(image, pos);
    b["tag"] = WordAt(image, pos + 3);
    b["tableCount"] = t.count;
    b["directoryOffset"] = t.offset;
    nlohmann::ordered_json entries = nlohmann::ordered_json::array();
    for (std::uint32_t k = 0; k < t.count; ++k) {
      const Word e = WordAt(image, pos + t.offset + k);
      entries.push_back({{"rows", e >> 8}, {"rowSize", e & 0xFF}});
    }
    b["directory"] = entries;
    blocks.push_back(b);
    if (LengthOfBlock(image, pos) == 0) break;
    pos += LengthOfBlock(image, pos);
  }
  j["blocks"] = blocks;
  return j;
}

void PrintInfo(const nlohmann::ordered_json& j) {
  std::printf("valid:           %s%s\n", j["valid"].get<bool>() ? "yes" : "no",
              j.contains("invalidReason")
                  ? (" (" + j["invalidReason"].get<std::string>() + ")").c_str()
                  : "");
  std::printf("format version:  %s (index %d)\n", j["codeplugFormat"].get<std::string>().c_str(),
              j["formatIndex"].get<int>());
  std::printf("image length:    %d words (%zu bytes in the file)\n", j["imageWords"].get<int>(),
              j["fileBytes"].get<std::size_t>());
  std::printf("variant code:    %d\n", j["variantCode"].get<int>());
  std::printf("block counts:    %d system blocks, %d group blocks\n",
              j["systemBlockCount"].get<int>(), j["groupBlockCount"].get<int>());
  std::printf("table words:     %s layout\n", j["tableWordLayout"].get<std::string>().c_str());
  std::printf("blocks:\n");
  for (const auto& b : j["blocks"]) {
    std::printf("  %5d %-11s length %5d tag 0x%04X tables %2d directory at %d:",
                b["wordPosition"].get<int>(), b["kind"].get<std::string>().c_str(),
                b["words"].get<int>(), b["tag"].get<int>(), b["tableCount"].get<int>(),
                b["directoryOffset"].get<int>());
    for (const auto& e : b["directory"])
      std::printf(" %dx%d", e["rows"].get<int>(), e["rowSize"].get<int>());
    std::printf("\n");
  }
}

void AddSample(CLI::App& group) {
  auto* cmd = group.add_subcommand("sample", "Write a sample codeplug file built from a seed");
  struct Options {
    std::string file;
    std::string format = "5.9";
    std::uint32_t seed = 1;
    std::vector<int> systems{1, 1, 1, 1, 1};
    int groups = 2;
    int variant = 0;
    int maxRows = 3;
    bool json = false;
  };
  auto o = std::make_shared<Options>();
  cmd->add_option("FILE", o->file, "Codeplug file to write")->type_name("FILE")->required();
  AddJsonFlag(*cmd, o->json, "Print what was written");
  cmd->add_option("--format", o->format, "5.8, 5.9 or 5.10")
      ->type_name("FORMAT")
      ->capture_default_str();
  cmd->add_option("--seed", o->seed, "Seed of the random contents")
      ->type_name("SEED")
      ->capture_default_str();
  cmd->add_option("--systems", o->systems, "Systems of types 0,1,3,4,5 (sum 1 to 16)")
      ->type_name("COUNT")
      ->delimiter(',')
      ->expected(5);
  cmd->add_option("--groups", o->groups, "Group blocks (1 to 54)")
      ->type_name("COUNT")
      ->capture_default_str();
  cmd->add_option("--variant", o->variant, "Variant code (0 to 15)")
      ->type_name("CODE")
      ->capture_default_str();
  cmd->add_option("--max-rows", o->maxRows, "Rows of each filled table: 0 to this")
      ->type_name("ROWS")
      ->capture_default_str();
  cmd->callback([o, cmd] {
    CodeplugShape shape;
    if (!ParseVersion(o->format, shape.version)) throw CLI::ValidationError("--format", o->format);
    shape.systemsType0 = static_cast<std::uint8_t>(o->systems[0]);
    shape.systemsType1 = static_cast<std::uint8_t>(o->systems[1]);
    shape.systemsType3 = static_cast<std::uint8_t>(o->systems[2]);
    shape.systemsType4 = static_cast<std::uint8_t>(o->systems[3]);
    shape.systemsType5 = static_cast<std::uint8_t>(o->systems[4]);
    shape.groups = static_cast<std::uint8_t>(o->groups);
    shape.seed = o->seed;
    shape.variantCode = static_cast<std::uint8_t>(o->variant);
    shape.maxRows = static_cast<std::uint8_t>(o->maxRows);
    LoadedImage built;
    if (!BuildCodeplug(shape, *built.image, built.byteCount))
      Fail(kExitUsage, "no image of that shape fits");
    Save(o->file, *built.image, built.byteCount);
    if (o->json)
      std::printf("%s\n", nlohmann::ordered_json{{"file", o->file},
                                                 {"codeplugFormat", o->format},
                                                 {"fileBytes", built.byteCount}}
                              .dump(2)
                              .c_str());
    else if (VerbosityOf(*cmd) != Verbosity::kQuiet)
      std::printf("%s: format %s, %zu bytes\n", o->file.c_str(), o->format.c_str(),
                  built.byteCount);
  });
}

void AddInfo(CLI::App& group) {
  auto* cmd = group.add_subcommand("info", "Describe a codeplug file: format, counts, blocks");
  auto file = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  cmd->add_option("FILE", *file, "Codeplug file")->type_name("FILE")->required();
  AddJsonFlag(*cmd, *json, "Print the description");
  cmd->callback([file, json] {
    const nlohmann::ordered_json j = Describe(Load(*file));
    if (*json)
      std::printf("%s\n", j.dump(2).c_str());
    else
      PrintInfo(j);
  });
}

void AddCheck(CLI::App& group) {
  auto* cmd = group.add_subcommand("check", "Check a codeplug file's structure");
  cmd->footer(
      "Exit codes as in `bcu --help`: 0 valid, 13 invalid (the reason is printed; a file that "
      "ends before the end of its image is invalid too), 14 file not readable.\n");
  auto file = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  cmd->add_option("FILE", *file, "Codeplug file")->type_name("FILE")->required();
  AddJsonFlag(*cmd, *json, "Print the verdict");
  cmd->callback([file, json, cmd] {
    const LoadedImage loaded = Load(*file);
    const ImageCheck check = CheckFile(*loaded.image, loaded.byteCount);
    if (!check.valid) Fail(kExitFileInvalid, *file + ": invalid: " + check.reason);
    const std::string format = VersionText(ImageFormatVersion(*loaded.image));
    if (*json) {
      const nlohmann::ordered_json j{{"file", *file},
                                     {"valid", true},
                                     {"codeplugFormat", format},
                                     {"fileBytes", loaded.byteCount}};
      std::printf("%s\n", j.dump(2).c_str());
    } else if (VerbosityOf(*cmd) != Verbosity::kQuiet) {
      std::printf("%s: valid, format %s\n", file->c_str(), format.c_str());
    }
  });
}

void AddConvert(CLI::App& group) {
  auto* cmd = group.add_subcommand("convert", "Convert a codeplug file to another format");
  cmd->footer(
      "Exit codes as in `bcu --help`: 0 converted (or already in the target format: OUT is a\n"
      "copy of IN), 13 IN is not a valid codeplug (as `bcu codeplug check` finds; --force\n"
      "converts it all the same), 9 IN or the target is not a convertible\n"
      "format (5.8, 5.9, 5.10), or the conversion does not fit (too large or a damaged table),\n"
      "or its result fails the validity check: nothing written; 14 a file not readable or\n"
      "writable. OUT is written whole or not at all (IN may be OUT).\n");
  struct Options {
    std::string in, out, to;
    bool json = false;
    bool force = false;
  };
  auto o = std::make_shared<Options>();
  cmd->add_option("IN", o->in, "Codeplug file to read")->type_name("FILE")->required();
  cmd->add_option("OUT", o->out, "Codeplug file to write")->type_name("FILE")->required();
  cmd->add_option("--to", o->to, "Target format: 5.8, 5.9 or 5.10")
      ->type_name("FORMAT")
      ->required();
  cmd->add_flag("--force", o->force,
                "Convert a file that is not a whole valid codeplug (one that stops before the "
                "image's end: OUT then lacks the same words)");
  AddJsonFlag(*cmd, o->json, "Print what was converted");
  cmd->callback([o, cmd] {
    const bool quiet = VerbosityOf(*cmd) == Verbosity::kQuiet;
    // The result: what was converted into what, and how much it grew.
    const auto report = [&](const std::string& from, int growth, int fixup, std::size_t bytes) {
      if (o->json) {
        const nlohmann::ordered_json j{{"input", o->in},        {"output", o->out},
                                       {"fromFormat", from},    {"toFormat", o->to},
                                       {"growthWords", growth}, {"fixupWords", fixup},
                                       {"fileBytes", bytes}};
        std::printf("%s\n", j.dump(2).c_str());
        return;
      }
      if (quiet) return;
      if (from == o->to) {
        std::printf("already format %s: nothing to do, growth 0 words\n", o->to.c_str());
        return;
      }
      std::printf("converted %s to %s: growth %d words", from.c_str(), o->to.c_str(), growth);
      if (fixup != 0) std::printf(", fix-up %d words", fixup);
      std::printf(", %zu bytes\n", bytes);
    };
    LoadedImage loaded = Load(o->in);
    CodeplugImage& image = *loaded.image;
    // What `codeplug check` calls invalid is never converted silently: a
    // damaged structure not at all, a file cut short only with --force.
    const ImageCheck structure = CheckParmsImage(image);
    if (!structure.valid) Fail(kExitFileInvalid, o->in + ": invalid: " + structure.reason);
    std::string missing;
    const bool whole = ImageIsWhole(image, loaded.byteCount, missing);
    if (!whole && !o->force)
      Fail(kExitFileInvalid, o->in + ": invalid: " + missing +
                                 "; nothing written (--force converts it all the same, and OUT "
                                 "then lacks the same words)");
    if (!whole)
      std::fprintf(stderr, "%s: incomplete (%s); --force: OUT lacks the same words\n",
                   o->in.c_str(), missing.c_str());
    FormatVersion target;
    const std::uint8_t from = ParmsFormatIndex(image);
    const std::uint8_t to = ParseVersion(o->to, target)
                                ? ParmsFormatIndexOf(target.major, target.minor)
                                : kUnknownFormatIndex;
    if (from < kFormatIndex58 || from == kUnknownFormatIndex || to < kFormatIndex58 ||
        to == kUnknownFormatIndex)
      Fail(kExitNotConvertible,
           "no conversion from format " + VersionText(ImageFormatVersion(image)) + " to " + o->to);
    if (from == to) {
      Save(o->out, image, loaded.byteCount);
      report(o->to, 0, 0, loaded.byteCount);
      return;
    }
    auto scratch = std::make_unique<CodeplugImage>();
    const ConversionResult result =
        ConvertCodeplugImage(image, loaded.byteCount, from, to, *scratch);
    if (!result.converted)
      Fail(kExitNotConvertible,
           "conversion to " + o->to + " failed: " + result.failure + "; nothing written");
    Save(o->out, image, result.byteCount);
    report(VersionText(VersionOfFormatIndex(from)), result.growth - result.fixupGrowth,
           result.fixupGrowth, result.byteCount);
  });
}

void AddBackups(CLI::App& group) {
  auto* cmd = group.add_subcommand("backups", "List the codeplugs kept from radios");
  cmd->footer(
      "Backups are kept in\n  " + platform::DataFolderWords("backups/<serial>/") +
      platform::DataFolderDefaultWords("brisant-code-updater/backups/") +
      ",\none file per codeplug read before the radio's copy was rewritten. `bcu codeplug diff\n"
      "BACKUP FILE` shows what differs between a backup and another codeplug file. Exit codes\n"
      "as in `bcu --help`: 0 listed (also none), 14 the folder cannot be read.\n");
  struct Options {
    std::string serial;
    bool json = false;
  };
  auto o = std::make_shared<Options>();
  cmd->add_option("--serial", o->serial, "Only the radio with this serial number")
      ->type_name("SERIAL");
  AddJsonFlag(*cmd, o->json, "Print the list");
  cmd->callback([o, cmd] {
    const std::string root = app::DefaultBackupRoot();
    std::vector<app::CodeplugBackupEntry> entries;
    std::string error;
    if (!app::ListCodeplugBackups(root, o->serial, entries, error)) Fail(kExitFileError, error);
    if (o->json) {
      nlohmann::ordered_json list = nlohmann::ordered_json::array();
      for (const auto& e : entries)
        list.push_back({{"serialNumber", e.serial},
                        {"time", e.time},
                        {"codeplugFormat", e.format},
                        {"fileBytes", e.bytes},
                        {"file", e.path}});
      std::printf("%s\n", list.dump(2).c_str());
      return;
    }
    if (entries.empty()) {
      std::printf("No codeplug backups in %s\n", root.c_str());
      return;
    }
    std::printf("%-18s %-19s %-7s %6s  %s\n", "SERIAL", "TIME", "FORMAT", "BYTES", "FILE");
    for (const auto& e : entries)
      std::printf("%-18s %-19s %-7s %6ju  %s\n", e.serial.c_str(), e.time.c_str(), e.format.c_str(),
                  e.bytes, e.path.c_str());
    if (VerbosityOf(*cmd) != Verbosity::kQuiet)
      std::printf(
          "\nWhat changed since a backup: bcu codeplug read --port DEV now.bin, then\n"
          "bcu codeplug diff BACKUP now.bin (after an update it also checks the conversion).\n");
  });
}

}  // namespace

CLI::App* RegisterCodeplugCommand(CLI::App& app) {
  auto* group = app.add_subcommand("codeplug", "Work on codeplug files");
  group->require_subcommand(1);
  AddSample(*group);
  AddInfo(*group);
  AddCheck(*group);
  AddConvert(*group);
  AddBackups(*group);
  return group;
}

}  // namespace bcu::cli
