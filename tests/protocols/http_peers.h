// Small loopback peers for the HTTP client tests: a scripted HTTP server
// (plain or TLS) and a CONNECT proxy that relays bytes to a fixed port.
// Each runs its own threads, listens on 127.0.0.1 port 0 and stops (closing
// every connection) in its destructor.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"

namespace vek::httpwire::testing {

// Writes a self-signed certificate "SSLCERT.PEM" and key "SSLKEY.PEM" into
// `dir`, valid for localhost, tls.example.test and 127.0.0.1. False when
// the openssl program is missing.
bool makeCertificate(const std::string& dir);

class TestHttpServer {
 public:
  struct Reply {
    std::string bytes;   // written as they stand
    bool close = false;  // close the connection after writing
    bool hold = false;   // then keep it open, reading nothing, until the server stops
  };
  // Called once per request head ("GET ... \r\n\r\n"); `connection` counts
  // connections from 0, `index` the requests on this connection.
  using Handler = std::function<Reply(const std::string& head, int connection, int index)>;

  // With `tls_dir`, connections are TLS with the certificate found there.
  explicit TestHttpServer(Handler handler, std::string tls_dir = "");
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  uint16_t port() const { return port_; }
  std::string url(const std::string& path = "/") const;
  int connections() const { return connections_.load(); }
  std::vector<std::string> heads() const;

 private:
  void acceptLoop();
  void serve(platform::UniqueFd fd, int connection);

  Handler handler_;
  std::string tls_dir_;
  platform::UniqueFd listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mu_;
  std::vector<std::string> heads_;
  std::vector<int> open_fds_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

// Answers "CONNECT" with 200 and relays both directions to 127.0.0.1:target
// whatever host the request names. Records each CONNECT head and every byte
// it relayed towards the server.
class ConnectProxy {
 public:
  explicit ConnectProxy(uint16_t target_port);
  ~ConnectProxy();
  ConnectProxy(const ConnectProxy&) = delete;
  ConnectProxy& operator=(const ConnectProxy&) = delete;

  uint16_t port() const { return port_; }
  std::vector<std::string> heads() const;
  std::string relayedToServer() const;

 private:
  void acceptLoop();
  void relay(platform::UniqueFd client);

  uint16_t target_;
  platform::UniqueFd listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mu_;
  std::vector<std::string> heads_;
  std::string relayed_;
  std::vector<int> open_fds_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace vek::httpwire::testing
