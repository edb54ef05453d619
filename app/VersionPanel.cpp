// The texts of the version panel, from the radio's version record.
#include <cstdio>

#include "app/CodeUpdater.h"

namespace bcu::app {

namespace {

// Unsigned bytes in decimal, joined by ".".
std::string Dotted(const std::uint8_t* bytes, int n) {
  std::string text;
  for (int i = 0; i < n; ++i) {
    if (i > 0) text += '.';
    text += std::to_string(static_cast<unsigned>(bytes[i]));
  }
  return text;
}

}  // namespace

VersionPanelTexts FormatVersionPanel(const link::VersionInfo& info, std::uint8_t platformCode) {
  const std::uint8_t* d = info.data;
  VersionPanelTexts panel;
  panel.FileVersionLabel = Dotted(d + 0, 2);
  panel.DSPVersionLabel = Dotted(d + 2, 3);
  panel.HWControllerVersionHeadingLabel = "Controller Version:";
  panel.HWControllerVersionLabel = Dotted(d + 5, 3);
  if (platformCode == 1 || platformCode == 5 || platformCode == 7)
    panel.HWRevisionLabel = Dotted(d + 8, 3);
  else
    panel.HWRevisionLabel = "Not Applicable";
  for (int i = 0; i < 8; ++i) {
    char group[4];
    std::snprintf(group, sizeof group, "%02X", static_cast<unsigned>(d[11 + i]));
    if (i > 0) panel.SerialNumberLabel += '-';
    panel.SerialNumberLabel += group;
  }
  panel.BootLoadVersionLabel =
      (d[19] == 0 && d[20] == 0) ? std::string("Not Applicable") : Dotted(d + 19, 2);
  panel.SEMVersionLabel =
      (d[21] == 0 && d[22] == 0) ? std::string("Not Applicable") : Dotted(d + 21, 2);
  return panel;
}

}  // namespace bcu::app
