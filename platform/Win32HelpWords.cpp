#include "platform/HelpWords.h"

namespace bcu::platform {

std::string DataFolderWords(const std::string& sub) {
  std::string words = "%LOCALAPPDATA%\\Brisant Code Updater\\" + sub;
  for (char& c : words)
    if (c == '/') c = '\\';
  return words;
}

std::string DataFolderDefaultWords(const std::string&) {
  return {};  // Windows sets LOCALAPPDATA for every user
}

const char* StopWords() {
  return "Ctrl-C, Ctrl-Break or closing the console window";
}

const char* PortNameExample() {
  return "COM3";
}

const char* PortOptionWords() {
  return "COM port to put first in the port list (COM3, COM12 or \\\\.\\COM12); may be given "
         "more than once";
}

const char* PortAccessNote() {
  return "A COM port serves one program at a time: a port that a terminal program, a modem\n"
         "tool or another updater holds is listed as 'in use by another program' until that\n"
         "program closes it. The Device Manager (Ports (COM & LPT)) shows the number and the\n"
         "driver of each port; an interface box's port reads \"USB XIF VYX 6400\" or \"... "
         "6700\".\n";
}

const char* PortAccessFooter() {
  return "A port that cannot be opened is listed with the reason ('in use by another program', "
         "'access denied'), followed by what to do about it.";
}

}  // namespace bcu::platform
