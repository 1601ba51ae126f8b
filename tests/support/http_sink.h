// A small loopback HTTP server for tests that make the gateway call out
// (two-way web commands, MMS posts): it reads each request whole (head and
// a Content-Length body), records it, and answers what the test's handler
// says, keeping the connection open between requests unless told to close.
// Listens on 127.0.0.1 port 0; its threads stop in the destructor.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"

namespace vek::testing {

class HttpSink {
 public:
  struct Request {
    std::string head;  // request line and headers
    std::string body;
    std::string target() const;  // the request line's target
  };
  struct Reply {
    int status = 200;
    std::string content_type = "text/plain";
    std::string body;
    bool close = false;
    bool silent = false;  // answer nothing and close
  };
  using Handler = std::function<Reply(const Request& request, int index)>;

  explicit HttpSink(Handler handler);
  ~HttpSink();
  HttpSink(const HttpSink&) = delete;
  HttpSink& operator=(const HttpSink&) = delete;

  uint16_t port() const { return port_; }
  std::string url(const std::string& path = "/") const;
  std::vector<Request> requests() const;
  int count() const { return count_.load(); }
  int connections() const { return connections_.load(); }

 private:
  void acceptLoop();
  void serve(platform::UniqueFd fd);

  Handler handler_;
  platform::UniqueFd listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> count_{0};
  std::atomic<int> connections_{0};
  mutable std::mutex mu_;
  std::vector<Request> requests_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace vek::testing
