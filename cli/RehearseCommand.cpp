#include <cstdio>
#include <ctime>
#include <utility>

#include "app/FirmwareSetIdentity.h"
#include "app/RunHistory.h"
#include "app/UpdateHistory.h"
#include "cli/ExitCodes.h"
#include "cli/RehearsalReport.h"
#include "cli/Rehearse.h"
#include "cli/UpdateOutcome.h"

namespace bcu::cli {

namespace {

void Record(const RehearseRequest& request, const std::string& port, const RehearsalResult& r,
            std::time_t start) {
  app::RunStart run;
  run.port = port;
  run.time = start;
  if (r.radio.answered) run.serialNumber = r.radio.key;
  app::UpdateRunFacts facts;
  facts.status = r.outcome;
  facts.codeplug = r.codeplug;
  app::HistoryRecord record =
      app::RunHistoryRecord(run, app::ReadFirmwareSetIdentity(*request.input.resources), facts,
                            r.exitCode, r.rehearsalSeconds);
  record.rehearsal = true;
  // Nothing was written to the radio: its versions are what they were.
  record.versionsAfter = {};
  std::string error;
  const std::string path =
      request.historyPath.empty() ? app::DefaultHistoryPath() : request.historyPath;
  if (!app::AppendHistory(path, {record}, error))
    std::fprintf(stderr, "bcu update: the rehearsal could not be recorded in the history: %s\n",
                 error.c_str());
}

}  // namespace

int RunRehearsals(RehearseRequest& request, TerminalHost& terminal,
                  std::vector<std::string>& passed) {
  // The start password is asked once, for the rehearsals and the real run.
  if (!request.input.password) {
    std::string text;
    if (terminal.AskPassword(platform::PasswordPurpose::Start, text)) request.input.password = text;
  }
  nlohmann::ordered_json all = nlohmann::ordered_json::array();
  int single = kExitOk;
  bool allDone = true;
  for (const auto& port : request.ports) {
    RehearsalInput input = request.input;
    input.port = port;
    const std::time_t start = std::time(nullptr);
    const RehearsalResult r = Rehearse(input, terminal);
    Record(request, port, r, start);
    if (r.Done()) passed.push_back(port);
    allDone = allDone && r.Done();
    single = r.exitCode;
    if (request.json)
      all.push_back(RehearsalJson(r, port));
    else if (request.verbosity != Verbosity::kQuiet || !r.Done())
      std::fputs(RehearsalText(r, port).c_str(), stdout);
    std::fflush(stdout);
  }
  if (request.json) {
    nlohmann::ordered_json j;
    j["rehearsals"] = all;
    if (request.heldJson != nullptr) {
      *request.heldJson = std::move(j);
    } else {
      std::printf("%s\n", j.dump(2).c_str());
      std::fflush(stdout);
    }
  }
  if (request.ports.size() == 1) return single;
  return allDone ? kExitOk : kExitSomeFailed;
}

bool ConfirmRealRun(TerminalHost& terminal, std::size_t radios) {
  const std::string text =
      radios == 1 ? "The rehearsal ended \"Done.\". Put the radio into bootload mode and update "
                    "it now?"
                  : "The rehearsals of " + std::to_string(radios) +
                        " radios ended \"Done.\". Put them into bootload mode and update them "
                        "now?";
  return terminal.ShowMessage(text, "Confirm", platform::MsgIcon::Question,
                              platform::MsgButtons::YesNo) == platform::MsgResult::Yes;
}

}  // namespace bcu::cli
