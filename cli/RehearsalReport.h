#pragma once
// A rehearsal's report as a person reads it and as a script reads it: every
// check, the boot update, each transfer, the conversion, the read-back, the
// predicted time, the codeplug diff, and last the real run's outcome.
#include <nlohmann/json.hpp>
#include <string>

#include "cli/Rehearsal.h"

namespace bcu::cli {

// Lines of text, each ended by a newline; the last says the real run's
// outcome ("Done." or its failure text) and exit code.
std::string RehearsalText(const RehearsalResult& result, const std::string& port);
nlohmann::ordered_json RehearsalJson(const RehearsalResult& result, const std::string& port);

}  // namespace bcu::cli
