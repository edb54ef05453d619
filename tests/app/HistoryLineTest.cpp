// The quick reader of history lines gives the record the JSON parser gives,
// or leaves the line to it: lines as this program writes them, lines edited
// by hand, and damaged lines (every byte of a written line changed in turn).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/HistoryLine.h"
#include "app/UpdateHistory.h"

namespace bcu::app {
namespace {

HistoryRecord Sample() {
  HistoryRecord r;
  r.port = "COM3";
  r.serialNumber = "042ABC0042";
  r.versionsBefore = {"5.9", "D06.01.00", "R03.04.00", "HW 3", "B01.02", "S02.00"};
  r.versionsAfter = {"5.10", "D06.02.00", "R04.04.00", "HW 3", "B01.03", "S02.00"};
  r.codeplugFormatBefore = "5.9";
  r.codeplugFormatAfter = "5.10";
  r.firmwareSetName = "Portable \"6400\"";
  r.firmwareSetRelease = "R04.04.00";
  r.backupPath = "C:\\Users\\Técnico\\backups\\042ABC0042.cpl";
  r.outcomeCode = 8;
  r.outcomeText = "Codeplug Not Converted\tsee the trace";
  r.startTime = "2026-12-08T14:03:05Z";
  r.durationSeconds = 312.4;
  return r;
}

std::string Text(const HistoryRecord& r) {
  return HistoryRecordToJson(r).dump();
}

// What the full parser makes of the line: false when it is no record.
bool Parsed(const std::string& line, HistoryRecord& r) {
  const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
  return !j.is_discarded() && HistoryRecordFromJson(j, r);
}

// The quick reader either agrees with the parser or declines; true when it
// took the line.
bool Agrees(const std::string& line) {
  HistoryRecord quick;
  if (!ReadHistoryLineFast(line, quick)) return false;
  HistoryRecord full;
  EXPECT_TRUE(Parsed(line, full)) << "taken by the quick reader, refused by the parser: " << line;
  EXPECT_EQ(Text(quick), Text(full)) << line;
  return true;
}

TEST(HistoryLine, LinesAsWrittenAndAsEditedByHand) {
  const std::string written = Text(Sample());
  EXPECT_TRUE(Agrees(written));
  HistoryRecord r;
  ASSERT_TRUE(ReadHistoryLineFast(written, r));
  EXPECT_EQ(r.backupPath, Sample().backupPath);
  EXPECT_EQ(r.firmwareSetName, "Portable \"6400\"");
  EXPECT_EQ(r.outcomeCode, 8);
  EXPECT_EQ(r.durationSeconds, 312.4);

  // Taken by the quick reader.
  const std::vector<std::string> taken = {
      "{}",
      " { \"port\" : \"/dev/ttyS0\" , \"serialNumber\":\"AB\" }\r",
      R"({"port":5,"serialNumber":null,"versionsBefore":"none","outcome":[1,2]})",
      R"({"outcome":{"code":-3,"text":"x"},"durationSeconds":12})",
      R"({"outcome":{"code":"7"},"durationSeconds":-0})",
      R"({"durationSeconds":1.5e2,"extra":{"a":[true,false,null,{"b":[]}],"c":-0.25E-3}})",
      R"({"firmwareSet":{"name":"a\/b\\c\n","release":"\u00e9"}})",
      R"({"versionsAfter":{"bootVersion":"B1","unknown":1,"semVersion":"S"}})",
      R"({"port":"ü€𝄞"})",
  };
  int quick = 0;
  for (const auto& line : taken) quick += Agrees(line) ? 1 : 0;
  EXPECT_GE(quick, static_cast<int>(taken.size()) - 1);  // all but the \u line

  // Declined (the parser decides) or refused by both.
  const std::vector<std::string> declined = {
      "",
      "garbage",
      "[1,2]",
      R"({"port":"a","port":"b"})",
      R"({"outcome":{"code":1.5}})",
      R"({"outcome":{"code":12345678901234}})",
      R"({"durationSeconds":01})",
      R"({"durationSeconds":1.})",
      R"({"port":"a"} x)",
      R"({"port":"a",})",
      "{\"port\":\"a\tb\"}",
      "{\"port\":\"\xC3\x28\"}",
      "{\"port\":\"\xED\xA0\x80\"}",
      "{\"port\":\"\xF4\x90\x80\x80\"}",
      "\xEF\xBB\xBF{\"port\":\"a\"}",
      R"({"port":"\u0041"})",
      R"({"durationSeconds":1e400})",
  };
  for (const auto& line : declined) {
    HistoryRecord r2;
    EXPECT_FALSE(ReadHistoryLineFast(line, r2)) << line;
  }
}

TEST(HistoryLine, EveryByteOfAWrittenLineChanged) {
  const std::string written = Text(Sample());
  const char replacements[] = {'"', '\\', '{', '}',    ',',  ':', ' ', '0',
                               'e', '-',  '.', '\x80', '\n', 'x', '[', ']'};
  int taken = 0, tried = 0;
  for (std::size_t i = 0; i < written.size(); ++i) {
    for (char c : replacements) {
      std::string line = written;
      line[i] = c;
      taken += Agrees(line) ? 1 : 0;
      ++tried;
      std::string shorter = written.substr(0, i) + written.substr(i + 1);
      taken += Agrees(shorter) ? 1 : 0;
      ++tried;
    }
  }
  // Many damaged lines are still JSON (a changed letter inside a text).
  EXPECT_GT(taken, tried / 10);
}

}  // namespace
}  // namespace bcu::app
