#include "codeplug/CodeplugDiffReport.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace bcu::codeplug {
namespace {

using Json = nlohmann::ordered_json;

// Words of a run printed on one line.
constexpr std::size_t kWordsPerLine = 12;

std::string VersionText(FormatVersion v) {
  return std::to_string(v.major) + "." + std::to_string(v.minor);
}

std::string Hex(Word w) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", w);
  return text;
}

std::string Range(const char* noun, std::uint32_t first, std::size_t count) {
  if (count == 1) return std::string(noun) + " " + std::to_string(first);
  return std::string(noun) + "s " + std::to_string(first) + "-" + std::to_string(first + count - 1);
}

bool AllZero(const std::vector<Word>& words) {
  return std::all_of(words.begin(), words.end(), [](Word w) { return w == 0; });
}

std::string Plural(std::uint32_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string BlockName(const BlockDiff& d) {
  std::string name;
  switch (d.id.kind) {
    case kRadioBlock:
      name = "radio block";
      break;
    case kSystemTypeBlock: {
      const Word tag = d.presence == Presence::kOnlyB ? d.b.tag : d.a.tag;
      name = "system-type block, code " + std::to_string(tag >> 12);
      break;
    }
    case kSystemBlock: {
      name = "system " + std::to_string(d.id.key) + ", type ";
      if (d.presence == Presence::kOnlyB)
        name += std::to_string(d.SystemTypeB());
      else if (d.presence == Presence::kOnlyA || d.SystemTypeA() == d.SystemTypeB())
        name += std::to_string(d.SystemTypeA());
      else
        name += std::to_string(d.SystemTypeA()) + " -> " + std::to_string(d.SystemTypeB());
      break;
    }
    case kGroupBlock:
      name = "group " + std::to_string(d.id.key);
      break;
  }
  if (d.id.repeat > 0) name += " (block " + std::to_string(d.id.repeat + 1) + " of that name)";
  return name;
}

// ---- Text ----

class TextWriter {
 public:
  TextWriter(std::string labelA, std::string labelB)
      : labelA_(std::move(labelA)), labelB_(std::move(labelB)) {}

  void Line(int indent, const std::string& text) {
    out_.append(static_cast<std::size_t>(indent), ' ');
    out_ += text;
    out_ += '\n';
  }

  // Words of a run one image has alone, after `head`; long runs continue on
  // further lines.
  void Words(int indent, const std::string& head, const std::vector<Word>& words) {
    if (AllZero(words)) {
      Line(indent, head + ": all 0");
      return;
    }
    std::string line = head + ":";
    for (std::size_t i = 0; i < words.size(); ++i) {
      if (i > 0 && i % kWordsPerLine == 0) {
        Line(indent, line);
        line = "  ";
      }
      line += " " + Hex(words[i]);
    }
    Line(indent, line);
  }

  // A run of fixed words, words after the tables or trailing words; each line
  // starts with `prefix`.
  void Run(int indent, const WordRunDiff& run, const std::string& prefix) {
    for (const WordChange& c : run.changed)
      Line(indent,
           prefix + "word " + std::to_string(c.index) + ": " + Hex(c.a) + " -> " + Hex(c.b));
    if (!run.added.empty())
      Words(indent, prefix + Range("word", run.extraFrom, run.added.size()) + " added", run.added);
    if (!run.dropped.empty())
      Words(indent, prefix + Range("word", run.extraFrom, run.dropped.size()) + " dropped",
            run.dropped);
  }

  void Row(int indent, const RowDiff& row) {
    const std::string name = "row " + std::to_string(row.row);
    if (row.presence == Presence::kOnlyB) {
      Words(indent, name + " added", row.fields.added);
      return;
    }
    if (row.presence == Presence::kOnlyA) {
      Words(indent, name + " dropped", row.fields.dropped);
      return;
    }
    // "row 2: field 3 0x0001 -> 0x0002, field 5 ...; field 7 added 0x0004"
    std::vector<std::string> parts;
    std::string changes;
    for (const WordChange& c : row.fields.changed)
      changes += (changes.empty() ? "" : ", ") +
                 ("field " + std::to_string(c.index) + " " + Hex(c.a) + " -> " + Hex(c.b));
    if (!changes.empty()) parts.push_back(changes);
    const auto extra = [&](const std::vector<Word>& words, const char* what) {
      if (words.empty()) return;
      std::string part = Range("field", row.fields.extraFrom, words.size()) + " " + what;
      for (const Word w : words) part += " " + Hex(w);
      parts.push_back(part);
    };
    extra(row.fields.added, "added");
    extra(row.fields.dropped, "dropped");
    std::string line = name + ":";
    for (std::size_t i = 0; i < parts.size(); ++i) line += (i == 0 ? " " : "; ") + parts[i];
    Line(indent, line);
  }

  // Added or dropped rows that hold only zeros are said once per run of them.
  void Rows(int indent, const std::vector<RowDiff>& rows) {
    for (std::size_t i = 0; i < rows.size();) {
      const RowDiff& row = rows[i];
      const bool alone = row.presence != Presence::kBoth;
      const auto& words = row.presence == Presence::kOnlyB ? row.fields.added : row.fields.dropped;
      if (!alone || !AllZero(words)) {
        Row(indent, row);
        ++i;
        continue;
      }
      std::size_t j = i + 1;
      while (j < rows.size() && rows[j].presence == row.presence &&
             rows[j].row == rows[j - 1].row + 1 &&
             AllZero(rows[j].presence == Presence::kOnlyB ? rows[j].fields.added
                                                          : rows[j].fields.dropped))
        ++j;
      const char* what = row.presence == Presence::kOnlyB ? " added" : " dropped";
      Line(indent, Range("row", row.row, j - i) + what + ": all 0");
      i = j;
    }
  }

  void Table(int indent, const TableDiff& t) {
    const std::string name = "table " + std::to_string(t.table);
    const auto shape = [](DirectoryEntry e) {
      return Plural(e.rows, "row") + " of " + Plural(e.size, "word");
    };
    std::string line;
    if (t.presence == Presence::kOnlyB) {
      line = name + " added: " + shape(t.b);
    } else if (t.presence == Presence::kOnlyA) {
      line = name + " dropped: " + shape(t.a);
    } else {
      const std::string rows = t.a.rows == t.b.rows ? Plural(t.a.rows, "row")
                                                    : std::to_string(t.a.rows) + " -> " +
                                                          std::to_string(t.b.rows) + " rows";
      const std::string size = t.a.size == t.b.size ? Plural(t.a.size, "word")
                                                    : std::to_string(t.a.size) + " -> " +
                                                          std::to_string(t.b.size) + " words";
      line = name + ": " + rows + " of " + size;
      const std::uint32_t shorter = std::min(t.a.size, t.b.size);
      const std::uint32_t commonRows = std::min(t.a.rows, t.b.rows);
      if (t.a.size != t.b.size && commonRows > 0)
        line += std::string("; ") +
                Range("field", shorter, std::max(t.a.size, t.b.size) - shorter) +
                (t.b.size > t.a.size ? " added to" : " dropped from") +
                " every row, 0 where no row below says otherwise";
    }
    Line(indent, line);
    Rows(indent + 2, t.rows);
  }

  void Block(int indent, const BlockDiff& d) {
    const std::string name = BlockName(d);
    const auto tables = [](const BlockSide& s) { return Plural(s.tableWord.count, "table"); };
    if (d.presence == Presence::kOnlyB) {
      Line(indent, name + " added (" + labelB_ + " word " + std::to_string(d.b.position) +
                       "): " + Plural(d.b.length, "word") + ", " + tables(d.b));
    } else if (d.presence == Presence::kOnlyA) {
      Line(indent, name + " dropped (" + labelA_ + " word " + std::to_string(d.a.position) +
                       "): " + Plural(d.a.length, "word") + ", " + tables(d.a));
    } else {
      std::string line = name + " (" + labelA_ + " word " + std::to_string(d.a.position) + ", " +
                         labelB_ + " word " + std::to_string(d.b.position) + ")";
      std::vector<std::string> parts;
      if (d.a.length != d.b.length)
        parts.push_back(std::to_string(d.a.length) + " -> " + std::to_string(d.b.length) +
                        " words");
      if (d.a.tableWord.offset != d.b.tableWord.offset)
        parts.push_back("directory at word " + std::to_string(d.a.tableWord.offset) + " -> " +
                        std::to_string(d.b.tableWord.offset));
      if (d.a.tableWord.count != d.b.tableWord.count)
        parts.push_back(std::to_string(d.a.tableWord.count) + " -> " +
                        std::to_string(d.b.tableWord.count) + " tables");
      for (std::size_t i = 0; i < parts.size(); ++i) line += (i == 0 ? ": " : ", ") + parts[i];
      Line(indent, line);
    }
    Run(indent + 2, d.fixed, "");
    for (const TableDiff& t : d.tables) Table(indent + 2, t);
    Run(indent + 2, d.afterTables, "after the tables: ");
  }

  void Diff(int indent, const CodeplugDiff& diff) {
    for (const BlockDiff& d : diff.blocks) Block(indent, d);
    if (!diff.trailingWords.Same()) {
      Line(indent, "trailing words (the " + std::to_string(kTrailerWords) +
                       " words after the last block):");
      Run(indent + 2, diff.trailingWords, "");
    }
  }

  void Append(const std::string& text) { out_ += text; }
  std::string Take() { return std::move(out_); }

 private:
  std::string labelA_, labelB_;
  std::string out_;
};

std::string ImageLine(const std::string& label, const std::string& name, const ImageSummary& s) {
  std::string line = label + ": " + name + ": ";
  if (!s.readable) return line + "not readable as a codeplug: " + s.unreadable;
  line += "format " + VersionText(s.version) + ", " + Plural(s.imageWords, "word") + ", " +
          Plural(s.blocks, "block") + ", ";
  line += s.valid ? "valid" : "invalid (" + s.invalidReason + ")";
  return line;
}

// "3 of 23 blocks differ, 1 added; 12 words changed, 40 added; 2 tables added"
std::string CountsText(const CodeplugDiff& diff) {
  const DiffCounts& c = diff.counts;
  std::vector<std::string> parts;
  std::string blocks =
      std::to_string(c.blocksDiffering) + " of " + Plural(c.blocksCompared, "block") + " differ";
  if (c.blocksAdded) blocks += ", " + std::to_string(c.blocksAdded) + " added";
  if (c.blocksDropped) blocks += ", " + std::to_string(c.blocksDropped) + " dropped";
  parts.push_back(blocks);
  std::string words = Plural(c.wordsChanged, "word") + " changed";
  if (c.wordsAdded) words += ", " + std::to_string(c.wordsAdded) + " added";
  if (c.wordsDropped) words += ", " + std::to_string(c.wordsDropped) + " dropped";
  parts.push_back(words);
  const auto shape = [&](std::uint32_t added, std::uint32_t dropped, const char* noun) {
    if (added == 0 && dropped == 0) return;
    std::string text;
    if (added) text = Plural(added, noun) + " added";
    if (dropped) text += (text.empty() ? "" : ", ") + Plural(dropped, noun) + " dropped";
    parts.push_back(text);
  };
  shape(c.tablesAdded, c.tablesDropped, "table");
  shape(c.rowsAdded, c.rowsDropped, "row");
  if (!diff.trailingWords.Same()) parts.push_back("the trailing words differ");
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i == 0 ? "" : "; ") + parts[i];
  return text;
}

std::string ConversionText(const ConversionCheck& check) {
  const std::string path = VersionText(check.from) + " to " + VersionText(check.to);
  switch (check.status) {
    case ConversionCheckStatus::kNotCompared:
      return "not made (an image is not readable)";
    case ConversionCheckStatus::kSameFormat:
      return "none needed: both are format " + VersionText(check.from) +
             ", which an update writes back as it is";
    case ConversionCheckStatus::kNotConvertible:
      return "not made: " + check.reason;
    case ConversionCheckStatus::kFailed:
      return "A does not convert from " + path + ": " + check.reason;
    case ConversionCheckStatus::kCompared:
      break;
  }
  if (check.Carried())
    return "B is A converted from " + path +
           " as an update converts it, word for word: every setting the conversion carries "
           "over was carried";
  return "B differs from A converted from " + path + " as an update converts it (" +
         CountsText(check.remaining) + "):";
}

// ---- JSON ----

const char* PresenceName(Presence p) {
  switch (p) {
    case Presence::kOnlyA:
      return "a";
    case Presence::kOnlyB:
      return "b";
    default:
      return "both";
  }
}

Json RunJson(const WordRunDiff& run, const char* indexName) {
  Json j = Json::object();
  if (!run.changed.empty()) {
    Json changed = Json::array();
    for (const WordChange& c : run.changed)
      changed.push_back({{indexName, c.index}, {"a", c.a}, {"b", c.b}});
    j["changed"] = std::move(changed);
  }
  if (!run.added.empty()) j["added"] = {{"from", run.extraFrom}, {"words", run.added}};
  if (!run.dropped.empty()) j["dropped"] = {{"from", run.extraFrom}, {"words", run.dropped}};
  return j;
}

Json SideJson(const BlockDiff& d, const BlockSide& s) {
  Json j{{"wordPosition", s.position},
         {"words", s.length},
         {"tag", s.tag},
         {"directoryOffset", s.tableWord.offset},
         {"tableCount", s.tableWord.count}};
  if (d.id.kind == kSystemBlock) j["systemType"] = s.tag >> 12;
  return j;
}

Json BlockJson(const BlockDiff& d) {
  static const char* const kKinds[] = {"radio", "systemType", "system", "group"};
  Json j{{"block", kKinds[d.id.kind & 3]}};
  if (d.id.kind == kSystemTypeBlock) j["systemTypeCode"] = d.id.key;
  if (d.id.kind == kSystemBlock) j["systemNumber"] = d.id.key;
  if (d.id.kind == kGroupBlock) j["groupOrdinal"] = d.id.key;
  if (d.id.repeat > 0) j["repeat"] = d.id.repeat;
  j["in"] = PresenceName(d.presence);
  if (d.presence != Presence::kOnlyB) j["a"] = SideJson(d, d.a);
  if (d.presence != Presence::kOnlyA) j["b"] = SideJson(d, d.b);
  if (!d.fixed.Same()) j["fixedWords"] = RunJson(d.fixed, "word");
  Json tables = Json::array();
  for (const TableDiff& t : d.tables) {
    Json tj{{"table", t.table}, {"in", PresenceName(t.presence)}};
    if (t.presence != Presence::kOnlyB) tj["a"] = {{"rows", t.a.rows}, {"rowSize", t.a.size}};
    if (t.presence != Presence::kOnlyA) tj["b"] = {{"rows", t.b.rows}, {"rowSize", t.b.size}};
    Json rows = Json::array();
    for (const RowDiff& r : t.rows) {
      Json rj{{"row", r.row}, {"in", PresenceName(r.presence)}};
      rj.update(RunJson(r.fields, "field"));
      rows.push_back(std::move(rj));
    }
    tj["rows"] = std::move(rows);
    tables.push_back(std::move(tj));
  }
  j["tables"] = std::move(tables);
  if (!d.afterTables.Same()) j["wordsAfterTables"] = RunJson(d.afterTables, "word");
  return j;
}

Json SummaryJson(const ImageSummary& s) {
  Json j{{"readable", s.readable}};
  if (!s.readable) {
    j["unreadableReason"] = s.unreadable;
    return j;
  }
  j["codeplugFormat"] = VersionText(s.version);
  j["formatIndex"] = s.formatIndex;
  j["imageWords"] = s.imageWords;
  j["blocks"] = s.blocks;
  j["tableWordLayout"] = s.wideLayout ? "wide" : "narrow";
  j["valid"] = s.valid;
  if (!s.valid) j["invalidReason"] = s.invalidReason;
  return j;
}

Json CountsJson(const DiffCounts& c) {
  return {{"blocksCompared", c.blocksCompared}, {"blocksDiffering", c.blocksDiffering},
          {"blocksAdded", c.blocksAdded},       {"blocksDropped", c.blocksDropped},
          {"tablesAdded", c.tablesAdded},       {"tablesDropped", c.tablesDropped},
          {"rowsAdded", c.rowsAdded},           {"rowsDropped", c.rowsDropped},
          {"wordsChanged", c.wordsChanged},     {"wordsAdded", c.wordsAdded},
          {"wordsDropped", c.wordsDropped}};
}

// The differences of a diff: counts, blocks, trailing words.
Json DifferencesJson(const CodeplugDiff& diff) {
  Json blocks = Json::array();
  for (const BlockDiff& d : diff.blocks) blocks.push_back(BlockJson(d));
  return {{"counts", CountsJson(diff.counts)},
          {"blocks", std::move(blocks)},
          {"trailingWords", RunJson(diff.trailingWords, "word")}};
}

const char* StatusName(ConversionCheckStatus s) {
  switch (s) {
    case ConversionCheckStatus::kSameFormat:
      return "sameFormat";
    case ConversionCheckStatus::kNotConvertible:
      return "notConvertible";
    case ConversionCheckStatus::kFailed:
      return "failed";
    case ConversionCheckStatus::kCompared:
      return "compared";
    default:
      return "notCompared";
  }
}

}  // namespace

std::string CodeplugComparisonVerdict(const CodeplugComparison& comparison) {
  const CodeplugDiff& diff = comparison.diff;
  if (!diff.compared) return "not compared: an image is not readable as a codeplug";
  if (diff.Same()) return "the codeplugs are the same";
  if (comparison.conversion.Carried())
    return "B is A converted to " + VersionText(comparison.conversion.to) +
           ": every setting carried over";
  return "the codeplugs differ: " + CountsText(diff);
}

std::string CodeplugComparisonText(const CodeplugComparison& comparison, const std::string& nameA,
                                   const std::string& nameB) {
  const CodeplugDiff& diff = comparison.diff;
  TextWriter text("A", "B");
  text.Line(0, ImageLine("A", nameA, diff.a));
  text.Line(0, ImageLine("B", nameB, diff.b));
  if (!diff.compared) return text.Take();
  text.Diff(0, diff);
  if (diff.Same())
    text.Line(
        0, "Same: " + Plural(diff.a.blocks, "block") + " and the trailing words, word for word.");
  else
    text.Line(0, "Differences: " + CountsText(diff) + ".");
  const ConversionCheck& check = comparison.conversion;
  const std::string conversion = ConversionText(check);
  text.Line(0, "Conversion check: " + conversion + (conversion.back() == ':' ? "" : "."));
  if (check.status == ConversionCheckStatus::kCompared && !check.Carried()) {
    TextWriter remaining("converted A", "B");
    remaining.Diff(2, check.remaining);
    text.Append(remaining.Take());
  }
  return text.Take();
}

nlohmann::ordered_json CodeplugComparisonJson(const CodeplugComparison& comparison) {
  const CodeplugDiff& diff = comparison.diff;
  Json j{{"a", SummaryJson(diff.a)}, {"b", SummaryJson(diff.b)}};
  if (!diff.compared) return j;
  j["same"] = diff.Same();
  j["matches"] = comparison.Matches();
  j.update(DifferencesJson(diff));
  const ConversionCheck& check = comparison.conversion;
  Json c{{"status", StatusName(check.status)},
         {"fromFormat", VersionText(check.from)},
         {"toFormat", VersionText(check.to)}};
  if (!check.reason.empty()) c["reason"] = check.reason;
  if (check.status == ConversionCheckStatus::kCompared) {
    c["carried"] = check.Carried();
    c["growthWords"] = check.growth;
    if (!check.Carried()) c["differences"] = DifferencesJson(check.remaining);
  }
  j["conversionCheck"] = std::move(c);
  return j;
}

}  // namespace bcu::codeplug
