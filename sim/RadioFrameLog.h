#pragma once
// The last frames a virtual radio took and sent, and the ends of its slow
// phases, each with the real time its thread handled it and the clock time it
// stands for on the line. When an exchange fails, these and the PC's own
// record of the same frames say which side was late and by how much.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace bcu::sim {

struct RadioFrameNote {
  enum class Kind { kIn, kOut, kPhaseEnd };
  Kind kind = Kind::kIn;
  // Real microseconds (platform::RealMicros) when the radio's thread handled
  // the frame or ended the phase.
  std::uint64_t realUs = 0;
  // Clock milliseconds the event stands for: when a frame from the PC ended
  // on the line, when the last byte of a reply falls due, when a phase ended.
  double lineMs = 0;
  std::uint8_t group = 0, code = 0;  // the payload's first two bytes
  int length = 0;                    // payload bytes
  // What the radio did with a frame from the PC ("answered", "ignored while
  // erasing", ...), or which phase ended.
  const char* what = "";
};

class RadioFrameLog {
 public:
  static constexpr std::size_t kKept = 32;
  void Add(const RadioFrameNote& note);
  // Sets what the radio did with the last frame taken (when it was one).
  void SetLastVerdict(const char* what);
  const std::deque<RadioFrameNote>& Notes() const { return notes_; }

 private:
  std::deque<RadioFrameNote> notes_;
};

// One line per note, oldest first, the last `count` of them: real time
// relative to `originUs`, the time since the line before, the side, the code
// and what happened.
std::string FormatRadioFrameNotes(const std::deque<RadioFrameNote>& notes, std::size_t count,
                                  std::uint64_t originUs);

}  // namespace bcu::sim
