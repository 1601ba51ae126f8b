#include "support/http_sink.h"

#include <cstdlib>

#include "platform/socket.h"
#include "platform/strings.h"

namespace vek::testing {
namespace {

constexpr size_t kMaxRequest = 64u << 20;

size_t contentLength(const std::string& head) {
  const size_t at = platform::findNoCase(head, "\r\nContent-Length:");
  if (at == std::string::npos) return 0;
  return static_cast<size_t>(std::strtoull(head.c_str() + at + 17, nullptr, 10));
}

const char* reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

}  // namespace

std::string HttpSink::Request::target() const {
  const size_t sp = head.find(' ');
  if (sp == std::string::npos) return {};
  return head.substr(sp + 1, head.find(' ', sp + 1) - sp - 1);
}

HttpSink::HttpSink(Handler handler) : handler_(std::move(handler)) {
  auto l = platform::listenTcp("127.0.0.1", 0);
  if (!l.ok()) return;
  listener_ = std::move(l.value());
  port_ = platform::localPort(listener_.get());
  acceptor_ = std::thread([this] { acceptLoop(); });
}

HttpSink::~HttpSink() {
  stop_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  for (auto& t : threads_) t.join();
}

std::string HttpSink::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<HttpSink::Request> HttpSink::requests() const {
  std::scoped_lock lk(mu_);
  return requests_;
}

void HttpSink::acceptLoop() {
  while (!stop_) {
    auto c = platform::acceptConnection(listener_.get(), 50);
    if (!c.ok()) continue;
    ++connections_;
    threads_.emplace_back([this, fd = std::move(c.value())]() mutable { serve(std::move(fd)); });
  }
}

void HttpSink::serve(platform::UniqueFd fd) {
  std::string buffer;
  char chunk[65536];
  while (!stop_) {
    size_t head_end;
    while ((head_end = buffer.find("\r\n\r\n")) == std::string::npos) {
      size_t got = 0;
      const auto st = platform::recvSome(fd.get(), chunk, sizeof chunk, 50, &got);
      if (stop_ || st == platform::IoStatus::kClosed || st == platform::IoStatus::kError) return;
      if (st == platform::IoStatus::kOk) buffer.append(chunk, got);
      if (buffer.size() > kMaxRequest) return;
    }
    Request request;
    request.head = buffer.substr(0, head_end + 2);
    const size_t length = std::min(contentLength(request.head), kMaxRequest);
    buffer.erase(0, head_end + 4);
    while (buffer.size() < length) {
      size_t got = 0;
      const auto st = platform::recvSome(fd.get(), chunk, sizeof chunk, 50, &got);
      if (stop_ || st == platform::IoStatus::kClosed || st == platform::IoStatus::kError) return;
      if (st == platform::IoStatus::kOk) buffer.append(chunk, got);
    }
    request.body = buffer.substr(0, length);
    buffer.erase(0, length);
    const int index = count_++;
    {
      std::scoped_lock lk(mu_);
      requests_.push_back(request);
    }
    const Reply reply = handler_(request, index);
    if (reply.silent) return;
    std::string answer = platform::format("HTTP/1.1 %d %s\r\n", reply.status, reason(reply.status));
    if (!reply.content_type.empty()) answer += "Content-Type: " + reply.content_type + "\r\n";
    answer += platform::format("Content-Length: %zu\r\n", reply.body.size());
    if (reply.close) answer += "Connection: close\r\n";
    answer += "\r\n" + reply.body;
    if (platform::sendAll(fd.get(), answer, 10000) != platform::IoStatus::kOk || reply.close)
      return;
  }
}

}  // namespace vek::testing
