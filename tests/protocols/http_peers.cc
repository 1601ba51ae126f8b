#include "http_peers.h"

#include <poll.h>
#include <signal.h>

#include <algorithm>

#include "platform/process.h"
#include "platform/socket.h"
#include "tls/stream.h"
#include "tls/tls.h"

namespace vek::httpwire::testing {
namespace {

using platform::IoStatus;

// Reads up to the end of a request head; false when the peer went away or
// `stop` turned true. Bytes after the head stay in `*rest`.
bool readHead(tls::Stream& s, const std::atomic<bool>& stop, std::string* rest, std::string* head) {
  std::string& buf = *rest;
  for (int rounds = 0; rounds < 100000; ++rounds) {
    size_t end = buf.find("\r\n\r\n");
    if (end != std::string::npos) {
      *head = buf.substr(0, end + 4);
      buf.erase(0, end + 4);
      return true;
    }
    if (stop || buf.size() > (64u << 10)) return false;
    char tmp[4096];
    size_t got = 0;
    IoStatus st = s.readSome(tmp, sizeof tmp, 50, &got);
    if (st == IoStatus::kTimeout) continue;
    if (st != IoStatus::kOk) return false;
    buf.append(tmp, got);
  }
  return false;
}

// As the gateway does at start-up: a write to a closed connection (a TLS
// close_notify after the peer left) is an error, not a signal.
void ignoreSigpipe() {
  ::signal(SIGPIPE, SIG_IGN);
}

void forget(std::mutex& mu, std::vector<int>& fds, int fd) {
  std::scoped_lock lk(mu);
  fds.erase(std::remove(fds.begin(), fds.end(), fd), fds.end());
}

}  // namespace

bool makeCertificate(const std::string& dir) {
  platform::ProcessOptions o;
  o.argv = {"openssl",  "req",
            "-x509",    "-newkey",
            "rsa:2048", "-nodes",
            "-days",    "2",
            "-subj",    "/CN=localhost",
            "-addext",  "subjectAltName=DNS:localhost,DNS:tls.example.test,IP:127.0.0.1",
            "-keyout",  dir + "SSLKEY.PEM",
            "-out",     dir + "SSLCERT.PEM"};
  return platform::runProcess(o).exitedWith(0);
}

TestHttpServer::TestHttpServer(Handler handler, std::string tls_dir)
    : handler_(std::move(handler)), tls_dir_(std::move(tls_dir)) {
  ignoreSigpipe();
  if (!tls_dir_.empty()) {
    tls::sslInitLib();
    tls::sslSetCertificateDirectory(tls_dir_);
  }
  auto l = platform::listenTcp("127.0.0.1", 0);
  if (!l.ok()) return;
  listener_ = std::move(l.value());
  port_ = platform::localPort(listener_.get());
  acceptor_ = std::thread([this] { acceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
  stop_ = true;
  {
    std::scoped_lock lk(mu_);
    for (int fd : open_fds_) platform::wakeSocket(fd);
  }
  if (acceptor_.joinable()) acceptor_.join();
  for (auto& t : threads_) t.join();
}

std::string TestHttpServer::url(const std::string& path) const {
  return std::string(tls_dir_.empty() ? "http" : "https") +
         "://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> TestHttpServer::heads() const {
  std::scoped_lock lk(mu_);
  return heads_;
}

void TestHttpServer::acceptLoop() {
  while (!stop_) {
    auto c = platform::acceptConnection(listener_.get(), 50);
    if (!c.ok()) continue;
    int n = connections_++;
    std::scoped_lock lk(mu_);
    open_fds_.push_back(c->get());
    threads_.emplace_back(
        [this, fd = std::move(c.value()), n]() mutable { serve(std::move(fd), n); });
  }
}

void TestHttpServer::serve(platform::UniqueFd fd, int connection) {
  int raw = fd.get();
  tls::Stream stream;
  if (tls_dir_.empty()) {
    stream = tls::Stream(std::move(fd));
  } else {
    std::string err;
    tls::TlsSession* s = tls::sslAcceptSession(raw, 5000, &err);
    if (!s) return forget(mu_, open_fds_, raw);
    stream = tls::Stream(std::move(fd), tls::SessionPtr(s));
  }
  std::string rest;
  for (int index = 0; !stop_; ++index) {
    std::string head;
    if (!readHead(stream, stop_, &rest, &head)) break;
    {
      std::scoped_lock lk(mu_);
      heads_.push_back(head);
    }
    Reply reply = handler_(head, connection, index);
    if (!reply.bytes.empty() && stream.writeAll(reply.bytes, 5000) != IoStatus::kOk) break;
    if (reply.hold) {
      // Keep the connection open without answering until the test ends.
      while (!stop_) {
        char tmp[512];
        size_t got = 0;
        IoStatus st = stream.readSome(tmp, sizeof tmp, 50, &got);
        if (st == IoStatus::kClosed || st == IoStatus::kError) break;
      }
      break;
    }
    if (reply.close) break;
  }
  // Forget the descriptor before it closes, so that stop never wakes a
  // reused number.
  forget(mu_, open_fds_, raw);
}

ConnectProxy::ConnectProxy(uint16_t target_port) : target_(target_port) {
  ignoreSigpipe();
  auto l = platform::listenTcp("127.0.0.1", 0);
  if (!l.ok()) return;
  listener_ = std::move(l.value());
  port_ = platform::localPort(listener_.get());
  acceptor_ = std::thread([this] { acceptLoop(); });
}

ConnectProxy::~ConnectProxy() {
  stop_ = true;
  {
    std::scoped_lock lk(mu_);
    for (int fd : open_fds_) platform::wakeSocket(fd);
  }
  if (acceptor_.joinable()) acceptor_.join();
  for (auto& t : threads_) t.join();
}

std::vector<std::string> ConnectProxy::heads() const {
  std::scoped_lock lk(mu_);
  return heads_;
}

std::string ConnectProxy::relayedToServer() const {
  std::scoped_lock lk(mu_);
  return relayed_;
}

void ConnectProxy::acceptLoop() {
  while (!stop_) {
    auto c = platform::acceptConnection(listener_.get(), 50);
    if (!c.ok()) continue;
    std::scoped_lock lk(mu_);
    open_fds_.push_back(c->get());
    threads_.emplace_back([this, fd = std::move(c.value())]() mutable { relay(std::move(fd)); });
  }
}

void ConnectProxy::relay(platform::UniqueFd client_fd) {
  int client_raw = client_fd.get();
  tls::Stream client(std::move(client_fd));
  std::string rest, head;
  if (!readHead(client, stop_, &rest, &head)) return forget(mu_, open_fds_, client_raw);
  {
    std::scoped_lock lk(mu_);
    heads_.push_back(head);
  }
  auto server = platform::connectTcp("127.0.0.1", target_, 5000);
  if (!server.ok() || !head.starts_with("CONNECT ")) {
    (void)client.writeAll("HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n", 5000);
    return forget(mu_, open_fds_, client_raw);
  }
  int server_raw = server->get();
  {
    std::scoped_lock lk(mu_);
    open_fds_.push_back(server_raw);
  }
  tls::Stream upstream(std::move(server.value()));
  if (client.writeAll("HTTP/1.1 200 Connection established\r\n\r\n", 5000) == IoStatus::kOk &&
      (rest.empty() || upstream.writeAll(rest, 5000) == IoStatus::kOk)) {
    while (!stop_) {
      struct pollfd p[2] = {{client_raw, POLLIN, 0}, {server_raw, POLLIN, 0}};
      if (::poll(p, 2, 50) <= 0) continue;
      char buf[16384];
      size_t got = 0;
      if (p[0].revents) {
        IoStatus st = client.readSome(buf, sizeof buf, 0, &got);
        if (st != IoStatus::kOk && st != IoStatus::kTimeout) break;
        {
          std::scoped_lock lk(mu_);
          relayed_.append(buf, got);
        }
        if (upstream.writeAll(std::string_view(buf, got), 5000) != IoStatus::kOk) break;
      }
      if (p[1].revents) {
        got = 0;
        IoStatus st = upstream.readSome(buf, sizeof buf, 0, &got);
        if (st != IoStatus::kOk && st != IoStatus::kTimeout) break;
        if (client.writeAll(std::string_view(buf, got), 5000) != IoStatus::kOk) break;
      }
    }
  }
  forget(mu_, open_fds_, server_raw);
  forget(mu_, open_fds_, client_raw);
}

}  // namespace vek::httpwire::testing
