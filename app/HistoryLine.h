#pragma once
// Reading one line of the update history quickly.
//
// A history of years holds hundreds of thousands of lines; building a JSON
// document for each is most of what listing it costs. This reader walks the
// line once and fills the record's fields directly. It takes only what it is
// sure of: valid JSON (strict grammar, well-formed UTF-8, no duplicate keys,
// no \u escapes, plain numbers); for anything else it answers false and the
// caller reads the line with the full JSON parser, which then decides. So a
// line gives the same record either way.
#include <string_view>

#include "app/UpdateHistory.h"

namespace bcu::app {

// True with `record` filled when the line is a JSON object this reader is
// sure of; false when the full parser must decide (the record is then
// unspecified).
bool ReadHistoryLineFast(std::string_view line, HistoryRecord& record);

}  // namespace bcu::app
