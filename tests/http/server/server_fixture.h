// A web server started inside the test process: a fresh data directory with
// its own "SMSGW.INI", the listener threads started the way the service
// starts them, short listener waits, and a clean stop in TearDown. Plus a
// small raw-socket HTTP client whose waits are real time, so that it works
// the same while the server runs on a fake clock.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/unique_fd.h"
#include "support/test_support.h"

namespace vek::http::testing {

// A port that was free a moment ago (bound to port 0 and released).
uint16_t freePort();

struct Response {
  std::string text;  // status line, headers, body
  std::string status_line() const { return text.substr(0, text.find("\r\n")); }
  std::string body() const;
};

// One client connection. Reads keep bytes that follow a response.
class Client {
 public:
  // `from`: the local address to bind (127.0.0.x), "" for any.
  Client(uint16_t port, const std::string& from = "");
  bool connected() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }
  bool send(std::string_view data);
  // The next complete response (by its Content-Length); nullopt on time-out
  // or close first.
  std::optional<Response> read(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // True when the server closed the connection (end-of-stream) in time.
  bool closedByServer(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  std::optional<Response> exchange(std::string_view request) {
    if (!send(request)) return std::nullopt;
    return read();
  }
  // Nothing arrives (neither bytes nor the end) within `wait`.
  bool quiet(std::chrono::milliseconds wait = std::chrono::milliseconds(100));
  void close() { fd_.reset(); }

 private:
  platform::UniqueFd fd_;
  std::string pending_;
};

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes "SMSGW.INI" (section text as given) and makes it current.
  void configure(const std::string& ini);
  // Starts the plain listener on a free port with `ini` added to [SMSGW].
  void startPlain(const std::string& smsgw_keys = "", const std::string& more_sections = "");
  // Starts the listener thread `which` (0 plain, 1 TLS).
  void startListener(int which);
  // Waits until the listener `which` listens on `port`.
  bool listeningOn(int which, uint16_t port,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Creates a self-signed "SSLCERT.PEM"/"SSLKEY.PEM"; false when openssl is missing.
  bool makeCertificate();
  // Runs the server on a fake clock; call before starting a listener. The
  // clock is removed in TearDown, after every server thread has ended.
  platform::FakeClock& useFakeClock();
  // Lets `d` pass on the fake clock and waits until the event loop has
  // looked at the clock since.
  void advance(std::chrono::milliseconds d);

  vek::testing::TempDir dir_;
  std::unique_ptr<platform::FakeClock> fake_;
  std::unique_ptr<platform::ScopedClock> scoped_clock_;
  uint16_t port_ = 0;
  std::string ini_;
};

}  // namespace vek::http::testing
