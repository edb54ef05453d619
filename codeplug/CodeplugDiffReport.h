#pragma once
// A comparison of two codeplug images (CodeplugDiff) as a person reads it and
// as a script reads it. Both renderings say the same: every block, table, row
// and word that differs, what was added or dropped, the counts, and the
// conversion check. Nothing here prints; the caller puts the text where it
// belongs (a terminal, a report, a message box).
#include <nlohmann/json.hpp>
#include <string>

#include "codeplug/CodeplugDiff.h"

namespace bcu::codeplug {

// The whole comparison as lines of text, each ended by a newline. `nameA` and
// `nameB` name the images on the first two lines (file names, "radio").
std::string CodeplugComparisonText(const CodeplugComparison& comparison, const std::string& nameA,
                                   const std::string& nameB);

// One line without a newline: whether B holds what A holds, and if not how
// much differs ("the codeplugs differ: 3 of 23 blocks, 12 words changed").
std::string CodeplugComparisonVerdict(const CodeplugComparison& comparison);

// The whole comparison as one JSON object: "a" and "b" (each image's format,
// length, validity), "same", "matches", "counts", "blocks", "trailingWords" and
// "conversionCheck". Word values are numbers.
nlohmann::ordered_json CodeplugComparisonJson(const CodeplugComparison& comparison);

}  // namespace bcu::codeplug
