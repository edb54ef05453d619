// bcu codeplug diff A B: what differs between two codeplug files, in the
// terms of the codeplug's layout, and whether B holds what converting A to
// B's format gives (as after an update: a backup against the radio's image).
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/Commands.h"
#include "cli/Output.h"
#include "codeplug/CodeplugDiff.h"
#include "codeplug/CodeplugDiffReport.h"
#include "codeplug/CodeplugFile.h"

namespace bcu::cli {
namespace {

using namespace bcu::codeplug;

struct DiffInput {
  std::string path;
  std::unique_ptr<CodeplugImage> image = std::make_unique<CodeplugImage>();
  std::size_t byteCount = 0;
};

// Reads a whole image: a file that ends before the image it declares would
// be compared with words it does not hold.
void ReadWhole(DiffInput& in) {
  std::string error;
  bool notACodeplug = false;
  if (!ReadCodeplugFile(in.path, *in.image, in.byteCount, error, &notACodeplug))
    Fail(notACodeplug ? kExitFileInvalid : kExitFileError, error);
  std::string missing;
  if (!ImageIsWhole(*in.image, in.byteCount, missing))
    Fail(kExitFileInvalid, in.path + ": incomplete: " + missing);
}

nlohmann::ordered_json FileJson(const DiffInput& in, const nlohmann::ordered_json& summary) {
  nlohmann::ordered_json j{{"file", in.path}, {"fileBytes", in.byteCount}};
  j.update(summary);
  return j;
}

}  // namespace

void RegisterCodeplugDiffCommand(CLI::App& app) {
  CLI::App* group = app.get_subcommand("codeplug");
  auto* cmd = group->add_subcommand(
      "diff", "Show what differs between two codeplug files, and whether B is A converted");
  cmd->footer(
      "Blocks are paired by what they are (radio block, system-type code, system number, group\n"
      "ordinal), words by their place in the layout: fixed words, table rows and fields, words\n"
      "after the tables, and the 128 trailing words; any formats compare. When the formats\n"
      "differ, A is also converted to B's format as an update converts it and compared with B:\n"
      "what is left is what the conversion carries over or sets that B does not hold.\n"
      "Exit codes as in `bcu --help`: 0 B holds what A holds (the same image, or exactly A\n"
      "converted), 16 they differ, 13 a file is no whole codeplug whose blocks can be read\n"
      "(one that fails only the block counts is compared, and said to be invalid), 14 a file\n"
      "not readable.\n");
  auto a = std::make_shared<DiffInput>();
  auto b = std::make_shared<DiffInput>();
  auto json = std::make_shared<bool>(false);
  cmd->add_option("A", a->path, "Codeplug file: the one before (a backup)")
      ->type_name("FILE")
      ->required();
  cmd->add_option("B", b->path, "Codeplug file: the one after (what the radio holds now)")
      ->type_name("FILE")
      ->required();
  AddJsonFlag(*cmd, *json, "Print the comparison");
  cmd->callback([a, b, json, cmd] {
    const Verbosity verbosity = VerbosityOf(*cmd);
    ReadWhole(*a);
    ReadWhole(*b);
    const CodeplugComparison comparison = CompareCodeplugImages(*a->image, a->byteCount, *b->image);
    const CodeplugDiff& diff = comparison.diff;
    if (!diff.a.readable) Fail(kExitFileInvalid, a->path + ": not readable: " + diff.a.unreadable);
    if (!diff.b.readable) Fail(kExitFileInvalid, b->path + ": not readable: " + diff.b.unreadable);
    Detail(verbosity, "A: " + a->path + ", " + std::to_string(a->byteCount) + " bytes");
    Detail(verbosity, "B: " + b->path + ", " + std::to_string(b->byteCount) + " bytes");
    if (*json) {
      nlohmann::ordered_json j = CodeplugComparisonJson(comparison);
      j["a"] = FileJson(*a, j["a"]);
      j["b"] = FileJson(*b, j["b"]);
      std::printf("%s\n", j.dump(2).c_str());
    } else if (verbosity != Verbosity::kQuiet) {
      std::fputs(CodeplugComparisonText(comparison, a->path, b->path).c_str(), stdout);
    } else if (!comparison.Matches()) {
      std::printf("%s and %s: %s\n", a->path.c_str(), b->path.c_str(),
                  CodeplugComparisonVerdict(comparison).c_str());
    }
    Detail(verbosity, CodeplugComparisonVerdict(comparison));
    if (!comparison.Matches()) throw CLI::RuntimeError(kExitDiffer);
  });
}

}  // namespace bcu::cli
