// AtChannel: sends AT commands to one modem port and reads their responses
// through a ResponseReader, setting unsolicited reports aside on the way.
//
// Every wait is given in the dialogue's own unit (seconds, as the modem
// dialogue states them) and multiplied by `time_scale`, so tests can run
// the whole dialogue, timeouts included, many times faster. Waits are
// sliced so that the stop flag ends them within 200 ms.
//
// A response ends at its final result, at the send prompt (prompt mode),
// at the time-out ("Timeout Returning %u bytes:  %s"; a +CMT / +CDS whose
// PDU is still missing extends the wait once, to at least 5 seconds), at a
// hang-up, or when the stop flag is set. Before each command the bytes
// already waiting are worked through: reports are set aside, stale answer
// lines are dropped, so a late answer never passes for the next one.
//
// Owned by one thread (the modem's link thread).
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "modem/port.h"
#include "modem/response_reader.h"

namespace vek::modem {

struct Response {
  enum class Status { kOk, kError, kPrompt, kTimeout, kClosed, kStopped, kWriteFailed };
  Status status = Status::kTimeout;
  std::string text;

  bool ok() const { return status == Status::kOk; }
  bool prompt() const { return status == Status::kPrompt; }
  bool error() const { return status == Status::kError; }
  // The modem answered with a final result (OK or an error).
  bool answered() const { return status == Status::kOk || status == Status::kError; }
  bool contains(std::string_view s) const { return text.find(s) != std::string::npos; }
};

class AtChannel {
 public:
  struct Options {
    bool text_mode = false;
    bool extra_cr = false;                    // ModemSendExtraCR: a CR after each 1-second read
    size_t max_bytes_per_write = 0;           // 0: one write; else chunks of this size
    int write_pause_ms = 0;                   // pause between chunks
    double time_scale = 1.0;                  // multiplies every wait
    const std::atomic<bool>* stop = nullptr;  // null: the gateway's shutdown flag
    std::string log_tag = "Modem";
  };

  AtChannel(std::unique_ptr<Port> port, Options options);
  AtChannel(const AtChannel&) = delete;
  AtChannel& operator=(const AtChannel&) = delete;

  Port& port() { return *port_; }
  // Replaces the port (the hammer reopens the device).
  void replacePort(std::unique_ptr<Port> port);
  // False once a read or write found the port hung up.
  bool alive() const { return alive_; }
  void setTextMode(bool on);
  void setExtraCr(bool on) { options_.extra_cr = on; }
  bool extraCr() const { return options_.extra_cr; }

  // Writes `text` as it stands. Failures are logged under
  // "SendModemCommand": "WriteFile failed, error %u (%X)" or "Wrote %u
  // bytes, expected %u bytes".
  bool send(std::string_view text);
  // Reads one response.
  Response receive(double seconds, const ResponseReader::Expect& expect = {});
  // Works through waiting bytes, sends `text` (CR included by the caller)
  // and reads its response.
  Response command(std::string_view text, double seconds, std::string_view wait_for = {});
  // Reads raw bytes until one of `texts` appears (ASCII case ignored);
  // true then, with the text found in `*seen`.
  bool waitForText(const std::vector<std::string>& texts, double seconds,
                   std::string* seen = nullptr);
  // Reads for up to `seconds` (at least one read), setting reports aside.
  void listen(double seconds);
  // Works through the bytes already waiting (no wait).
  void drain();
  // Drops everything received and not yet worked through.
  void discardInput();
  // Sleeps `seconds` (scaled); false when the stop flag ended it.
  bool pause(double seconds) const;
  std::chrono::milliseconds scaled(double seconds) const;
  bool stopRequested() const;

  ResponseReader& reader() { return reader_; }
  const std::string& tag() const { return options_.log_tag; }

 private:
  // One bounded read into the reader; false on hang-up or error.
  bool readInto(int timeout_ms);

  std::unique_ptr<Port> port_;
  Options options_;
  ResponseReader reader_;
  bool alive_ = true;
};

}  // namespace vek::modem
