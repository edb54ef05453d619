#include "cli/CommandLine.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "app/ProgramVersion.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "platform/EmbeddedResources.h"

namespace bcu::cli {

std::string VersionText() {
  return app::VersionText("bcu", platform::EmbeddedResources());
}

namespace {

// The parser's help without its "Excludes: ..." notes (the option's own
// description says what it cannot be given with).
class HelpFormatter final : public CLI::Formatter {
 public:
  std::string make_option_opts(const CLI::Option* opt) const override {
    std::string text = CLI::Formatter::make_option_opts(opt);
    const auto at = text.find(" " + get_label("Excludes") + ":");
    if (at != std::string::npos) text.erase(at);
    return text;
  }
};

}  // namespace

std::unique_ptr<CLI::App> MakeCommandLine() {
  auto app = std::make_unique<CLI::App>(
      "Brisant Code Updater: puts new code into a radio and keeps its codeplug", "bcu");
  // Before the subcommands: each takes its parent's formatter when added.
  app->formatter(std::make_shared<HelpFormatter>());
  app->require_subcommand(1);
  // -v and -q may also follow the subcommand.
  app->fallthrough();
  AddVerbosityOptions(*app);
  app->set_help_all_flag("--help-all", "Show help for every subcommand");
  app->set_version_flag(
      "--version",
      [] {
        std::string text = VersionText();
        if (!text.empty() && text.back() == '\n') text.pop_back();  // the parser ends the line
        return text;
      },
      "Print the version and the firmware set's name and release");
  RegisterUpdateCommand(*app);
  RegisterInfoCommand(*app);
  RegisterPortsCommand(*app);
  RegisterDoctorCommand(*app);
  RegisterHistoryCommand(*app);
  RegisterCodeplugCommand(*app);
  RegisterCodeplugDiffCommand(*app);
  RegisterCodeplugTransferCommands(*app);
  RegisterFirmwareCommand(*app);
  RegisterVersionCommand(*app);
  // Set last: a subcommand takes its parent's footer when it is added.
  app->footer(ExitCodeTable());
  return app;
}

namespace {

// The subcommand that ran ("codeplug write"), as its messages name it, and
// whether it was asked for JSON.
struct RanCommand {
  std::string words;
  bool json = false;
};

RanCommand CommandThatRan(const CLI::App& app) {
  RanCommand ran{app.get_name(), false};
  const CLI::App* at = &app;
  for (;;) {
    const auto subs = at->get_subcommands();
    if (subs.empty()) break;
    at = subs.front();
    ran.words += " " + at->get_name();
  }
  const CLI::Option* json = at->get_option_no_throw("--json");
  ran.json = json != nullptr && json->count() > 0;
  return ran;
}

bool AsksForJson(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == "--json") return true;
  return false;
}

// Edits (insert, delete, replace) from `a` to `b`.
std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The first word of the command line when it names no command: the word
// and the nearest command ("bcu: no command \"updat\"; the nearest is
// \"update\""), or empty when the first word is an option or a command.
std::string UnknownCommandText(const CLI::App& app, int argc, const char* const* argv) {
  std::string word;
  for (int i = 1; i < argc && word.empty(); ++i)
    if (argv[i][0] != '-') word = argv[i];
  if (word.empty()) return {};
  std::string nearest;
  std::size_t best = std::string::npos;
  for (const CLI::App* sub : app.get_subcommands({})) {
    if (sub->get_name() == word) return {};
    const std::size_t d = EditDistance(word, sub->get_name());
    if (d < best) {
      best = d;
      nearest = sub->get_name();
    }
  }
  std::string text = "bcu: no command \"" + word + "\"";
  if (!nearest.empty() && best <= std::max<std::size_t>(2, nearest.size() / 2))
    text += "; the nearest is \"" + nearest + "\"";
  return text + " (`bcu --help` lists them)";
}

// A failure no command caught, said as a command's own failure is.
int ReportUncaught(CLI::App& app, int code, const std::string& text) {
  const RanCommand ran = CommandThatRan(app);
  if (ran.json) {
    PrintJsonError(code, text);
  } else {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", ran.words.c_str(), text.c_str());
  }
  return code;
}

}  // namespace

int RunCommandLine(CLI::App& app, int argc, const char* const* argv) {
  if (argc <= 1) {
    std::fputs(app.help().c_str(), stdout);
    return kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {  // --help, --help-all, --version
    return app.exit(e);
  } catch (const CommandFailure& e) {
    const RanCommand ran = CommandThatRan(app);
    if (ran.json) {
      PrintJsonError(e.get_exit_code(), e.what());
    } else {
      std::fflush(stdout);
      std::fprintf(stderr, "%s: %s\n", ran.words.c_str(), e.what());
    }
    return e.get_exit_code();
  } catch (const CLI::RuntimeError& e) {  // reported by the command itself
    return e.get_exit_code();
  } catch (const CLI::ParseError& e) {
    const std::string unknown = UnknownCommandText(app, argc, argv);
    if (!unknown.empty()) {
      std::fprintf(stderr, "%s\n", unknown.c_str());
      if (AsksForJson(argc, argv)) PrintJsonError(kExitUsage, unknown);
      return kExitUsage;
    }
    app.exit(e);
    if (AsksForJson(argc, argv)) PrintJsonError(kExitUsage, e.what());
    return kExitUsage;
  } catch (const std::filesystem::filesystem_error& e) {
    // A file call on a path the user gave that no command caught: reported
    // as the file error it is, never an abort.
    return ReportUncaught(app, kExitFileError, e.what());
  } catch (const std::bad_alloc&) {
    return ReportUncaught(app, kExitFailure, "out of memory");
  } catch (const std::exception& e) {
    return ReportUncaught(app, kExitFailure, e.what());
  }
  return kExitOk;
}

}  // namespace bcu::cli
