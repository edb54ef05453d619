#pragma once
// The codeplug password exchange that runs between the start command of a
// codeplug upload or download and its data. The radio either accepts at once
// (03 0D or 03 0E) or asks for the password (03 0B); the user is asked through
// the prompt, the digits go out packed as BCD (03 0C), and after the third
// prompt a further request abandons the transfer (03 04).
#include <cstdint>
#include <functional>
#include <string>

#include "transfer/VYXTransfer.h"

namespace bcu::platform {
class Host;
}

namespace bcu::transfer {

// Asks the user for the codeplug password: writes it into the text and returns
// true, or returns false (text untouched) when the user cancelled.
using PasswordPrompt = std::function<bool(std::string&)>;

// Packs the digits among the first 12 characters of `text` into `count` 16-bit
// BCD words, first digit in the top nibble of word 0; unused nibbles are 0xF.
// At most 4 * count digits are taken.
void EncodePasswordDigits(const std::string& text, std::uint16_t* words, int count);

class VYXTransferParmsPassChecker : public VYXTransfer {
 public:
  VYXTransferParmsPassChecker();

  // 1 when the radio accepted, <= 0 otherwise (03 04 has then been sent).
  std::int32_t CheckPassword();

  // The default prompt: the host's password dialog, its entry trimmed of
  // leading and trailing blanks. Without a host it answers "cancelled".
  bool PromptCodeplugPassword(std::string& text);

  void SetHost(platform::Host* host) { host_ = host; }
  // Replaces the prompt; an empty function restores the default one.
  void SetPrompt(PasswordPrompt newPrompt);

 private:
  PasswordPrompt prompt;
  platform::Host* host_ = nullptr;
};

}  // namespace bcu::transfer
