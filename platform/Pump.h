#pragma once
// What "let the GUI process its pending messages once" means for the host that
// runs an update: the window processes its Qt events, the command line polls
// its timers and its Ctrl-C flag, a test may advance a manual clock. Waits call
// Pump() between short blocking polls of the port; Pump() itself never blocks.

namespace bcu::platform {

class MessagePump {
 public:
  virtual ~MessagePump() = default;
  virtual void Pump() = 0;
  // True once the program has been told to end (the window was closed): fixed
  // waits return early then.
  virtual bool QuitRequested() const { return false; }
};

// A host with nothing to process.
class NullPump final : public MessagePump {
 public:
  void Pump() override {}
};

}  // namespace bcu::platform
