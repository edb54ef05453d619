#pragma once
// The words that help texts and messages use for what differs between the
// systems: the data folder as the user finds it, how a run is stopped from
// outside, an example port name, and what to do about a port that cannot be
// opened.
#include <string>

namespace bcu::platform {

// The data folder (backups, the update history) as help texts name it,
// followed by `sub` (parts separated by '/', turned into the system's
// separator): "$XDG_DATA_HOME/brisant-code-updater/backups/<serial>/" on
// Linux, "%LOCALAPPDATA%\Brisant Code Updater\backups\<serial>\" on Windows.
std::string DataFolderWords(const std::string& sub);
// Where that place is when the variable is not set, as " (default ...)" with
// `sub` shortened to `shown`; empty where the system always sets it.
std::string DataFolderDefaultWords(const std::string& shown);

// The ways a run is stopped from outside: "Ctrl-C, SIGTERM or SIGHUP", or
// "Ctrl-C, Ctrl-Break or closing the console window".
const char* StopWords();

// What the user types as a port: "/dev/ttyUSB0", "COM3".
const char* PortNameExample();
// The help of --port: what kind of name it takes.
const char* PortOptionWords();

// The note after a port list: why this user cannot open a port, and what
// gives access (Linux: the package's udev rule and group dialout; Windows:
// the program that holds the port). Ends with a line end.
const char* PortAccessNote();
// When the port list prints that note (the footer of `bcu ports`).
const char* PortAccessFooter();

}  // namespace bcu::platform
