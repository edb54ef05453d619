#pragma once
// What a fleet update shows while its radios run: on a terminal one line per
// radio, redrawn in place at most five times a second (port, serial number,
// step, percent of the whole run, bytes, rate, time left); otherwise each
// status line prefixed with its port; with --json one JSON object per line,
// each naming the port and the serial number.
//
// The radios' threads report through here; every call is cheap (it only
// records, except for a status line in the two line modes), and the drawing
// happens on the display's own thread.
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace bcu::cli {

enum class DisplayMode { Terminal, Lines, Json };

// Where in the whole run a step lies: percent of the run at its start and its
// end. The code download is most of a run.
struct RunPhase {
  int from = 0;
  int to = 0;
};
RunPhase PhaseOfStatus(const std::string& status, const RunPhase& current);

// A port's name in at most `width` characters: the whole path where it
// fits, otherwise its end, whole parts of the path from the last one back,
// after "…/" ("…/by-id/usb-XIF_0042-if00"); the end of the last part alone
// when even that is too long.
std::string ShortPortName(const std::string& path, std::size_t width);

class FleetDisplay {
 public:
  FleetDisplay(DisplayMode mode, std::FILE* out, std::FILE* err);
  ~FleetDisplay();
  FleetDisplay(const FleetDisplay&) = delete;
  FleetDisplay& operator=(const FleetDisplay&) = delete;

  // A new line for a radio on `port`; its index.
  int AddRadio(const std::string& port);
  void SetSerial(int radio, const std::string& serial);
  void Status(int radio, const std::string& text);
  // The progress bar of the radio's current step.
  void Progress(int radio, int min, int max, int position);
  // Bytes that went over the radio's line so far.
  void Bytes(int radio, std::uint64_t bytes);
  // The radio's run has ended with `code` and the status text `text`;
  // `details` joins the JSON object of the result.
  void Finished(int radio, int code, const std::string& text, const nlohmann::json& details);
  // A message about one radio (a message box, a note) on the error stream.
  void Note(int radio, const std::string& text);
  // A message about the whole fleet.
  void Note(const std::string& text);

  // While a prompt is on the screen nothing is drawn; the caller holds the
  // prompt (one at a time) between the two calls.
  void BeginPrompt();
  void EndPrompt();

  // Draws the last state (terminal) and stops drawing.
  void Stop();

 private:
  struct Radio {
    std::string port;
    std::string serial;
    std::string status;
    RunPhase phase;
    int min = 0, max = 100, position = 0;
    int percent = 0;        // of the whole run, never going back
    int shownPercent = -1;  // last one reported in the line modes
    std::uint64_t bytes = 0;
    std::uint64_t startUs = 0;
    std::uint64_t rateUs = 0, rateBytes = 0;  // the last rate sample
    double rate = 0;                          // bytes per second
    bool finished = false;
    int code = 0;
  };
  void UpdatePercent(Radio& r);
  std::string LineOf(const Radio& r, std::uint64_t nowUs) const;
  void EmitJson(const Radio& r, nlohmann::json j);
  void DrawLocked();
  void EraseLocked();
  void Loop();

  DisplayMode mode_;
  std::FILE* out_;
  std::FILE* err_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Radio> radios_;
  std::size_t portWidth_ = 4;  // the port column: the longest port, within bounds
  int drawnLines_ = 0;
  bool dirty_ = false;
  bool prompting_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace bcu::cli
