// bcu-clidoc: writes, from the command line that `bcu` itself runs, what the
// build installs beside it, so that neither drifts from `bcu --help`:
//
//   bcu-clidoc man-commands FILE     the COMMANDS section of bcu(1), every
//                                    subcommand with its options (an include
//                                    file for help2man)
//   bcu-clidoc bash-completion FILE  the bash completion of bcu
#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/ExitCodes.h"

namespace {

// Every subcommand below `app`, depth first, with its words ("codeplug read").
void Walk(CLI::App* app, const std::string& path,
          std::vector<std::pair<std::string, CLI::App*>>& out) {
  for (CLI::App* sub : app->get_subcommands([](CLI::App*) { return true; })) {
    const std::string words = path.empty() ? sub->get_name() : path + " " + sub->get_name();
    out.emplace_back(words, sub);
    Walk(sub, words, out);
  }
}

std::vector<std::pair<std::string, CLI::App*>> AllCommands(CLI::App& app) {
  std::vector<std::pair<std::string, CLI::App*>> out;
  Walk(&app, "", out);
  return out;
}

// The options of a command, without --help and --help-all (every command
// has them; the manual says so once).
std::vector<CLI::Option*> OptionsOf(CLI::App* app) {
  return app->get_options([app](CLI::Option* opt) {
    return opt != app->get_help_ptr() && opt != app->get_help_all_ptr();
  });
}

bool TakesValue(const CLI::Option* opt) {
  return opt->get_items_expected_max() > 0 && !opt->get_positional();
}

// ---- Manual page ----

// Text as roff: backslashes escaped, minus signs as such, no line starting
// with a control character.
std::string Roff(const std::string& text) {
  std::string out;
  bool lineStart = true;
  for (const char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
    lineStart = c == '\n';
  }
  return out;
}

std::string Usage(const std::string& words, CLI::App* cmd) {
  std::string usage = "bcu " + words;
  bool options = false;
  for (const CLI::Option* opt : OptionsOf(cmd)) {
    if (opt->get_positional()) continue;
    options = true;
  }
  if (options) usage += " [OPTIONS]";
  for (const CLI::Option* opt : OptionsOf(cmd)) {
    if (!opt->get_positional()) continue;
    usage += opt->get_required() ? " " + opt->get_name() : " [" + opt->get_name() + "]";
  }
  if (!cmd->get_subcommands([](CLI::App*) { return true; }).empty()) usage += " SUBCOMMAND";
  return usage;
}

// The sections after the commands: what the exit codes mean, the files the
// program keeps, and a few command lines as a technician types them.
std::string ManEndSections() {
  std::string s = "[EXIT STATUS]\nThe same in every command:\n.PP\n.nf\n";
  const std::string table = bcu::cli::ExitCodeTable();
  s += Roff(table.substr(table.find('\n') + 1));
  s += ".fi\n";
  s += "[FILES]\n"
       ".TP\n\\fI$XDG_DATA_HOME/brisant\\-code\\-updater/\\fR\n"
       "The program's data folder (default \\fI~/.local/share/brisant\\-code\\-updater/\\fR), "
       "mode 0700; it must be the user's own and not writable by others.\n"
       ".TP\n\\fI.../backups/SERIAL/YYYYmmdd\\-HHMMSS\\-FORMAT.bin\\fR\n"
       "Every codeplug read from a radio before its copy is rewritten, mode 0600 "
       "(\\fBbcu codeplug backups\\fR lists them).\n"
       ".TP\n\\fI.../history.jsonl\\fR\n"
       "One line per radio and update (\\fBbcu history\\fR prints it).\n"
       ".TP\n\\fI/lib/udev/rules.d/70\\-brisant\\-code\\-updater.rules\\fR\n"
       "Gives the interface box's port to the user at the seat, keeps ModemManager away from it "
       "and sets its adapter's latency timer to 1 ms.\n"
       ".TP\n\\fI/var/lock/LCK..DEVICE\\fR\n"
       "The lock file of a port while the program holds it (none where the folder cannot be "
       "written).\n";
  s += "[EXAMPLES]\n"
       ".TP\n\\fBbcu ports\\fR\nThe serial ports, and which one has an interface box.\n"
       ".TP\n\\fBbcu info \\-\\-port /dev/ttyUSB0\\fR\nThe radio's version information.\n"
       ".TP\n\\fBbcu update \\-\\-port /dev/ttyUSB0\\fR\n"
       "Update the radio: its code, then its codeplug (the start password is asked).\n"
       ".TP\n\\fBbcu update \\-\\-all\\-ports \\-\\-yes \\-\\-report today.csv\\fR\n"
       "Update a radio on every free port at once, and keep the table as CSV.\n"
       ".TP\n\\fBbcu doctor \\-\\-port /dev/ttyUSB0\\fR\n"
       "Why a port does not work: permission, holder, ModemManager, latency.\n"
       ".TP\n\\fBbcu history \\-\\-since 2026\\-12\\-01\\fR\nThe radios updated since that day.\n";
  return s;
}

std::string ManCommands(CLI::App& app) {
  std::string s =
      "[COMMANDS]\n"
      "Every command takes \\fB\\-h\\fR, \\fB\\-\\-help\\fR and \\fB\\-\\-help\\-all\\fR.\n";
  for (const auto& [words, cmd] : AllCommands(app)) {
    s += ".SS \"bcu " + Roff(words) + "\"\n";
    s += Roff(cmd->get_description()) + "\n";
    s += ".PP\n.B " + Roff(Usage(words, cmd)) + "\n";
    for (const CLI::Option* opt : OptionsOf(cmd)) {
      std::string head = opt->get_name(false, true);
      if (opt->get_positional()) head = opt->get_name();
      std::string type = opt->get_type_name();
      if (TakesValue(opt) && !type.empty()) head += " " + type;
      if (opt->get_required()) head += " (required)";
      if (opt->get_items_expected_max() > 1 && !opt->get_positional())
        head += " (may be given more than once)";
      s += ".TP\n\\fB" + Roff(head) + "\\fR\n" + Roff(opt->get_description()) + "\n";
    }
    const std::string footer = cmd->get_footer();
    if (!footer.empty()) s += ".PP\n" + Roff(footer) + "\n";
  }
  s += ManEndSections();
  return s;
}

// ---- Bash completion ----

// What the value of an option (or a positional argument) completes to.
std::string ValueCompletion(const CLI::Option* opt) {
  const std::string name = opt->get_name();
  const std::string type = opt->get_type_name();
  const std::string description = opt->get_description();
  auto mentions = [](const std::string& text, const char* word) {
    return text.find(word) != std::string::npos;
  };
  if (name == "--port") return "_bcu_ports";
  const auto open = type.find('{');
  const auto close = type.find('}');
  if (open != std::string::npos && close != std::string::npos && close > open) {
    std::string words = type.substr(open + 1, close - open - 1);
    for (auto& c : words)
      if (c == ',') c = ' ';
    return "COMPREPLY=($(compgen -W '" + words + "' -- \"$cur\"))";
  }
  if (mentions(type, "DIR") || mentions(name, "DIR") || mentions(description, "folder") ||
      name == "--dump")
    return "_filedir -d";
  if (mentions(type, "FILE") || mentions(name, "FILE") || mentions(description, "FILE") ||
      mentions(description, "file") || opt->get_positional())
    return "_filedir";
  return "";
}

std::string Quoted(const std::string& words) {
  return "\"" + words + "\"";
}

std::string BashCompletion(CLI::App& app) {
  const auto commands = AllCommands(app);
  std::string s =
      "# bash completion for bcu, written at build time from bcu's own command line.\n"
      "\n"
      "# Serial devices for --port: USB adapters and XIF boxes first.\n"
      "_bcu_ports() {\n"
      "  local devices\n"
      "  devices=$(compgen -G '/dev/ttyUSB*'; compgen -G '/dev/ttyACM*'; compgen -G '/dev/ttyS*')\n"
      "  COMPREPLY=($(compgen -W \"$devices\" -- \"$cur\"))\n"
      "  [[ ${#COMPREPLY[@]} -eq 0 ]] && _filedir\n"
      "}\n"
      "\n"
      "_bcu() {\n"
      "  local cur prev words cword\n"
      "  _init_completion || return\n"
      "\n"
      "  # The subcommand named so far, and whether a word is an option's value.\n"
      "  local path='' skip='' i w\n"
      "  for ((i = 1; i < cword; i++)); do\n"
      "    w=${words[i]}\n"
      "    if [[ -n $skip ]]; then skip=''; continue; fi\n"
      "    case \"$path|$w\" in\n";
  // Subcommand words.
  for (const auto& [words, cmd] : commands) {
    const auto space = words.rfind(' ');
    const std::string parent = space == std::string::npos ? "" : words.substr(0, space);
    s += "      " + Quoted(parent + "|" + cmd->get_name()) + ") path=" + Quoted(words) + " ;;\n";
  }
  // Options that take a value: the next word is that value.
  std::map<std::string, std::vector<std::string>> valueOptions;
  valueOptions[""] = {};
  for (const auto& [words, cmd] : commands) valueOptions[words] = {};
  auto addValueOptions = [&](const std::string& words, CLI::App* cmd) {
    for (const CLI::Option* opt : OptionsOf(cmd))
      if (TakesValue(opt))
        for (const auto& l : opt->get_lnames()) valueOptions[words].push_back("--" + l);
  };
  addValueOptions("", &app);
  for (const auto& [words, cmd] : commands) addValueOptions(words, cmd);
  for (const auto& [words, names] : valueOptions) {
    for (const auto& n : names) s += "      " + Quoted(words + "|" + n) + ") skip=1 ;;\n";
  }
  s += "    esac\n"
       "  done\n"
       "\n"
       "  # The value of an option.\n"
       "  case \"$path|$prev\" in\n";
  auto valueCases = [&](const std::string& words, CLI::App* cmd) {
    for (const CLI::Option* opt : OptionsOf(cmd)) {
      if (!TakesValue(opt)) continue;
      std::string completion = ValueCompletion(opt);
      if (completion.empty()) completion = "COMPREPLY=()";  // a number, a password ...
      for (const auto& l : opt->get_lnames())
        s += "    " + Quoted(words + "|--" + l) + ") " + completion + "; return ;;\n";
    }
  };
  valueCases("", &app);
  for (const auto& [words, cmd] : commands) valueCases(words, cmd);
  s += "  esac\n"
       "\n"
       "  # Subcommands and options of the subcommand named so far, or its\n"
       "  # arguments.\n"
       "  case \"$path\" in\n";
  auto wordCase = [&](const std::string& words, CLI::App* cmd) {
    std::string list;
    for (CLI::App* sub : cmd->get_subcommands([](CLI::App*) { return true; }))
      list += sub->get_name() + " ";
    std::string positional;
    for (const CLI::Option* opt : cmd->get_options([](CLI::Option*) { return true; })) {
      if (opt->get_positional()) {
        if (positional.empty()) positional = ValueCompletion(opt);
        continue;
      }
      for (const auto& l : opt->get_lnames()) list += "--" + l + " ";
      for (const auto& sn : opt->get_snames()) list += "-" + sn + " ";
    }
    // -v and -q may follow the subcommand too (the parser passes them up).
    if (cmd != &app) list += "-v --verbose -q --quiet ";
    if (!list.empty()) list.pop_back();
    s += "    " + Quoted(words) + ")\n";
    if (!positional.empty())
      s += "      if [[ $cur != -* ]]; then " + positional + "; return; fi\n";
    s += "      COMPREPLY=($(compgen -W '" + list + "' -- \"$cur\")) ;;\n";
  };
  wordCase("", &app);
  for (const auto& [words, cmd] : commands) wordCase(words, cmd);
  s += "  esac\n"
       "} &&\n"
       "  complete -F _bcu bcu\n";
  return s;
}

bool Write(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    std::fprintf(stderr, "bcu-clidoc: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 3 ? argv[1] : "";
  auto app = bcu::cli::MakeCommandLine();
  if (mode == "man-commands") return Write(argv[2], ManCommands(*app)) ? 0 : 1;
  if (mode == "bash-completion") return Write(argv[2], BashCompletion(*app)) ? 0 : 1;
  std::fprintf(stderr,
               "usage: bcu-clidoc man-commands FILE\n"
               "       bcu-clidoc bash-completion FILE\n");
  return 2;
}
