// What a fleet update shows of its ports and of a finished radio: the part of
// each port's name that tells the ports apart, and a result line that keeps
// its reason.
#include "cli/FleetDisplay.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace bcu::cli {
namespace {

TEST(FleetDisplayTest, PortNamesKeepTheEndThatTellsThemApart) {
  EXPECT_EQ(ShortPortName("/dev/ttyUSB0", 20), "/dev/ttyUSB0");
  const std::string byId = "/dev/serial/by-id/usb-XIF_0042-if00";
  EXPECT_EQ(ShortPortName(byId, byId.size()), byId);
  EXPECT_EQ(ShortPortName(byId, 28), "\u2026/by-id/usb-XIF_0042-if00");
  EXPECT_EQ(ShortPortName(byId, 22), "\u2026/usb-XIF_0042-if00");
  // Even the last part does not fit: its end, which differs between ports.
  EXPECT_EQ(ShortPortName(byId, 10), "\u20260042-if00");
  EXPECT_NE(ShortPortName("/dev/serial/by-id/usb-XIF_0043-if00", 10), ShortPortName(byId, 10));
}

// A finished radio's line (line mode: one line per event) carries its
// failure text whole.
TEST(FleetDisplayTest, AFinishedRadioSaysWhyItFailed) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = ::open_memstream(&text, &size);
  ASSERT_NE(out, nullptr);
  {
    FleetDisplay display(DisplayMode::Lines, out, out);
    const int radio = display.AddRadio("/dev/serial/by-id/usb-XIF_0042-if00");
    display.Finished(radio, 5, "Communication problem during code download. (the boot code)", {});
  }
  std::fclose(out);
  const std::string shown(text, size);
  std::free(text);
  EXPECT_NE(shown.find("finished, exit code 5: Communication problem during code download. (the "
                       "boot code)"),
            std::string::npos)
      << shown;
}

}  // namespace
}  // namespace bcu::cli
