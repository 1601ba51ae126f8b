// A scripted modem behind the Port interface: every command line the
// driver writes (ended by CR, or a PDU ended by Ctrl-Z) is answered by a
// responder function; tests read back everything that was written.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "modem/port.h"

namespace vek::modem::testing {

struct FakeModemState {
  // Returns the bytes the modem sends back for one line (without its CR
  // or Ctrl-Z).
  std::function<std::string(const std::string& line)> responder;
  std::string written;             // every byte the driver wrote
  std::vector<std::string> lines;  // the lines the responder saw
  std::string to_read;             // bytes waiting for the driver
  size_t chunk = 64;               // at most this many bytes per read
  bool hang_up_when_drained = false;
  size_t max_buffered = 0;  // the most the driver ever had waiting (for bounds)
};

// A modem that answers the initialisation dialogue, +CMGS prompts and
// submissions; `extra` answers first (empty string: not handled).
std::string standardAnswer(const std::string& line);

class FakePort final : public Port {
 public:
  explicit FakePort(std::shared_ptr<FakeModemState> state) : state_(std::move(state)) {}
  Kind kind() const override { return Kind::kTcp; }
  const std::string& name() const override { return name_; }
  platform::IoStatus write(std::string_view data, int timeout_ms) override;
  platform::IoStatus read(char* buf, size_t len, int timeout_ms, size_t* got) override;
  void discardInput() override { state_->to_read.clear(); }

 private:
  std::shared_ptr<FakeModemState> state_;
  std::string line_;
  std::string name_ = "fake";
};

}  // namespace vek::modem::testing
