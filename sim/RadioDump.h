#pragma once
// Writes what a virtual radio received into a folder, so that a demo or a test
// can compare it with the firmware it sent:
//   loader.bin, code.bin, boot.bin   the last finished file of each kind
//   page<N>.bin                      DSP pages of the last DSP download (1, 2, ...)
//   file<NN>-<kind>.bin              every file in the order received
//   codeplug.bin                     the image the radio holds now
//   codeplug-received.bin            the last image downloaded into it
//   state.json                       mode, baud, versions, restarts, counters
// Flash files hold the data bytes of every block, fill of the last pair
// included (0xFF after code, 0x20 after DSP pages).
#include <string>

#include "sim/VirtualRadio.h"

namespace bcu::sim {

bool DumpRadio(const VirtualRadio& radio, const std::string& dir, std::string* error);

}  // namespace bcu::sim
