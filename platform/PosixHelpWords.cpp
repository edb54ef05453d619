#include "platform/HelpWords.h"

namespace bcu::platform {

std::string DataFolderWords(const std::string& sub) {
  return "$XDG_DATA_HOME/brisant-code-updater/" + sub;
}

std::string DataFolderDefaultWords(const std::string& shown) {
  return " (default ~/.local/share/" + shown + ")";
}

const char* StopWords() {
  return "Ctrl-C, SIGTERM or SIGHUP";
}

const char* PortNameExample() {
  return "/dev/ttyUSB0";
}

const char* PortOptionWords() {
  return "Serial device to put first in the port list (e.g. a virtual radio's pseudo-terminal); "
         "may be given more than once";
}

const char* PortAccessNote() {
  return "The package's udev rule gives the port of an interface box's USB adapter (product text\n"
         "\"USB XIF VYX 6400\" or \"... 6700\") to the user logged in at the machine, keeps\n"
         "ModemManager off it, and sets FTDI adapters' latency timer to 1 ms. Group dialout is\n"
         "still needed for other ports, in ssh sessions without a seat and on systems without\n"
         "systemd-logind:\n"
         "  sudo usermod -aG dialout $USER   (then log out and in again)\n";
}

const char* PortAccessFooter() {
  return "A port this user may not open is listed as 'permission denied', followed by what the "
         "package's udev rule does and when group dialout is still needed.";
}

}  // namespace bcu::platform
