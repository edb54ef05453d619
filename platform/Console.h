#pragma once
// The terminal a command-line program runs in: whether a stream is one, how
// wide it is, its control sequences (the fleet display redraws its lines
// with them), input that does not echo (passwords) and waits for input that
// are bounded, so that a prompt keeps the program's pump running.
//
// On Windows the "terminal" is the console: control sequences need its
// virtual-terminal mode, which older consoles refuse.
#include <cstddef>
#include <cstdio>

namespace bcu::platform {

bool IsTerminal(std::FILE* stream);
// The terminal's width in columns, 0 when it is not known.
int TerminalColumns(std::FILE* stream);
// Makes the terminal behind `stream` take control sequences (cursor moves,
// line erase). False where it does not (not a terminal; a console that
// refuses): the caller then writes plain lines.
bool EnableControlSequences(std::FILE* stream);

// Input that is not echoed while the object lives (when `in` is a terminal).
class EchoOff {
 public:
  explicit EchoOff(std::FILE* in);
  ~EchoOff();
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;
  // Echo was turned off (and comes back at the end).
  bool Active() const { return active_; }

 private:
  std::FILE* in_;
  bool active_ = false;
  unsigned long saved_ = 0;
  unsigned char savedState_[64] = {};
};

enum class InputWait { Ready, Timeout, Failed };
// Waits up to `ms` for `in` to have input (or its end) to read.
InputWait WaitForInput(std::FILE* in, int ms);
// Reads one byte of `in` past its stream buffer: 1, 0 at the end of the
// input, -1 with errno (EINTR: a stop request came).
int ReadInputByte(std::FILE* in, char& c);

}  // namespace bcu::platform
