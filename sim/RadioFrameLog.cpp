#include "sim/RadioFrameLog.h"

#include <cstdio>

namespace bcu::sim {

void RadioFrameLog::Add(const RadioFrameNote& note) {
  notes_.push_back(note);
  while (notes_.size() > kKept) notes_.pop_front();
}

void RadioFrameLog::SetLastVerdict(const char* what) {
  for (auto it = notes_.rbegin(); it != notes_.rend(); ++it) {
    if (it->kind != RadioFrameNote::Kind::kIn) continue;
    it->what = what;
    return;
  }
}

std::string FormatRadioFrameNotes(const std::deque<RadioFrameNote>& notes, std::size_t count,
                                  std::uint64_t originUs) {
  std::string text;
  const std::size_t from = notes.size() > count ? notes.size() - count : 0;
  std::uint64_t previousUs = 0;
  for (std::size_t i = from; i < notes.size(); ++i) {
    const RadioFrameNote& n = notes[i];
    const double atMs = (static_cast<double>(n.realUs) - static_cast<double>(originUs)) / 1000.0;
    const double sinceMs =
        i == from ? 0.0
                  : (static_cast<double>(n.realUs) - static_cast<double>(previousUs)) / 1000.0;
    previousUs = n.realUs;
    char line[200];
    if (n.kind == RadioFrameNote::Kind::kPhaseEnd) {
      std::snprintf(line, sizeof line, "  %10.3f ms  +%9.3f  radio: %s ended (line %.3f ms)\n",
                    atMs, sinceMs, n.what, n.lineMs);
    } else {
      std::snprintf(line, sizeof line,
                    "  %10.3f ms  +%9.3f  radio %s %02X %02X (%d bytes, line %.3f ms)%s%s\n", atMs,
                    sinceMs, n.kind == RadioFrameNote::Kind::kIn ? "took" : "sent", n.group, n.code,
                    n.length, n.lineMs, *n.what ? ": " : "", n.what);
    }
    text += line;
  }
  return text;
}

}  // namespace bcu::sim
