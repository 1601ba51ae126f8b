#include "tls/tls.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <chrono>
#include <map>
#include <mutex>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/socket.h"

namespace vek::tls {

struct TlsSession {
  SSL* ssl = nullptr;
  int fd = -1;
};

namespace {

std::mutex g_mu;
bool g_inited = false;
std::string g_cert_dir;
// Client contexts by extra CA file ("" for the system store alone): a CA
// file a caller trusts must not become trusted for every other session.
std::map<std::string, SSL_CTX*>* g_client_ctx = nullptr;
SSL_CTX* g_server_ctx = nullptr;
std::string g_server_loaded_from;
platform::SystemTime g_server_cert_time{};

int remainingMs(platform::SteadyTime deadline) {
  auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - platform::monotonicNow()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

std::string certPath() {
  return platform::joinPath(g_cert_dir, "SSLCERT.PEM");
}
std::string keyPath() {
  return platform::joinPath(g_cert_dir, "SSLKEY.PEM");
}

// Waits for the direction OpenSSL asked for. false on time-out or error.
bool waitFor(int fd, int ssl_error, platform::SteadyTime deadline) {
  short events = ssl_error == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN;
  int r = events == POLLOUT ? platform::waitWritable(fd, remainingMs(deadline))
                            : platform::waitReadable(fd, remainingMs(deadline));
  return r > 0;
}

// Loads (or reloads after a change of the certificate file) the server context.
SSL_CTX* serverContext(std::string* error_text) {
  std::scoped_lock lk(g_mu);
  auto info = platform::statPath(certPath());
  if (!info) {
    if (error_text) *error_text = "no server certificate " + certPath();
    return nullptr;
  }
  if (g_server_ctx && g_server_loaded_from == certPath() && info->modified == g_server_cert_time)
    return g_server_ctx;
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (!ctx) return nullptr;
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  if (SSL_CTX_use_certificate_chain_file(ctx, certPath().c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx, keyPath().c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(ctx) != 1) {
    if (error_text) *error_text = "server certificate: " + sslErrorText();
    SSL_CTX_free(ctx);
    return nullptr;
  }
  // Contexts are reference counted: sessions made from the old one keep it alive.
  if (g_server_ctx) SSL_CTX_free(g_server_ctx);
  g_server_ctx = ctx;
  g_server_loaded_from = certPath();
  g_server_cert_time = info->modified;
  return ctx;
}

SSL_CTX* clientContext(const std::string& ca_file, std::string* error_text) {
  std::scoped_lock lk(g_mu);
  if (!g_client_ctx) g_client_ctx = new std::map<std::string, SSL_CTX*>();
  auto it = g_client_ctx->find(ca_file);
  if (it != g_client_ctx->end()) return it->second;
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (!ctx) {
    if (error_text) *error_text = "TLS not available";
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_default_verify_paths(ctx);
  if (!ca_file.empty() && SSL_CTX_load_verify_locations(ctx, ca_file.c_str(), nullptr) != 1) {
    if (error_text) *error_text = "cannot load trusted certificates from " + ca_file;
    ERR_clear_error();
    SSL_CTX_free(ctx);
    return nullptr;  // not cached: the file may be fixed while we run
  }
  // Contexts live for the process: sessions refer to them.
  (*g_client_ctx)[ca_file] = ctx;
  return ctx;
}

TlsSession* handshake(SSL* ssl, int fd, bool server, int timeout_ms, std::string* error_text) {
  auto deadline = platform::deadlineAfter(std::chrono::milliseconds(timeout_ms));
  for (;;) {
    ERR_clear_error();
    int rc = server ? SSL_accept(ssl) : SSL_connect(ssl);
    if (rc == 1) return new TlsSession{ssl, fd};
    int err = SSL_get_error(ssl, rc);
    if ((err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) && waitFor(fd, err, deadline))
      continue;
    if (error_text) {
      if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
        *error_text = "TLS handshake timed out";
      } else {
        std::string why = sslErrorText();
        long verify = SSL_get_verify_result(ssl);
        if (verify != X509_V_OK)
          why += std::string(" (") + X509_verify_cert_error_string(verify) + ")";
        *error_text =
            "TLS handshake failed: " + (why.empty() ? std::string("connection closed") : why);
      }
    }
    SSL_free(ssl);
    return nullptr;
  }
}

}  // namespace

bool sslInitLib() {
  std::scoped_lock lk(g_mu);
  if (!g_inited) g_inited = OPENSSL_init_ssl(0, nullptr) == 1;
  return g_inited;
}

void sslSetCertificateDirectory(const std::string& dir) {
  std::scoped_lock lk(g_mu);
  g_cert_dir = dir;
}

std::string sslServerCertPath() {
  std::scoped_lock lk(g_mu);
  return certPath();
}

bool sslServerCertExists() {
  if (!platform::isRegularFile(certPath()) || !platform::isRegularFile(keyPath())) return false;
  return serverContext(nullptr) != nullptr;
}

TlsSession* sslInitSession(int socket, std::string* error_text, const ClientOptions& options) {
  SSL_CTX* ctx = clientContext(options.ca_file, error_text);
  if (!ctx) return nullptr;
  SSL* ssl = SSL_new(ctx);
  if (!ssl) return nullptr;
  SSL_set_fd(ssl, socket);
  if (options.verify) {
    SSL_set_verify(ssl, SSL_VERIFY_PEER, nullptr);
    if (!options.check_name || options.server_name.empty()) {
      // Chain only: the caller knows the peer by other means.
    } else if (!platform::isIpLiteral(options.server_name)) {
      SSL_set1_host(ssl, options.server_name.c_str());
    } else if (!options.server_name.empty()) {
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), options.server_name.c_str());
    }
  } else {
    SSL_set_verify(ssl, SSL_VERIFY_NONE, nullptr);
  }
  if (!options.server_name.empty() && !platform::isIpLiteral(options.server_name))
    SSL_set_tlsext_host_name(ssl, options.server_name.c_str());
  return handshake(ssl, socket, false, options.handshake_timeout_ms, error_text);
}

TlsSession* sslAcceptSession(int socket, int timeout_ms, std::string* error_text) {
  SSL_CTX* ctx = serverContext(error_text);
  if (!ctx) return nullptr;
  SSL* ssl = SSL_new(ctx);
  if (!ssl) return nullptr;
  SSL_set_fd(ssl, socket);
  return handshake(ssl, socket, true, timeout_ms, error_text);
}

void sslFreeSession(TlsSession* session) {
  if (!session) return;
  if (session->ssl) {
    SSL_shutdown(session->ssl);  // one close_notify, never waits for the answer
    SSL_free(session->ssl);
  }
  delete session;
}

int sslRead(TlsSession* session, void* buf, size_t len, int timeout_ms) {
  if (!session || !session->ssl) return -1;
  auto deadline = platform::deadlineAfter(std::chrono::milliseconds(timeout_ms));
  for (;;) {
    ERR_clear_error();
    size_t got = 0;
    int rc = SSL_read_ex(session->ssl, buf, len, &got);
    if (rc == 1) return static_cast<int>(got);
    int err = SSL_get_error(session->ssl, rc);
    if (err == SSL_ERROR_ZERO_RETURN) return 0;
    if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
      if (remainingMs(deadline) == 0) return -2;
      if (!waitFor(session->fd, err, deadline)) {
        return remainingMs(deadline) == 0 ? -2 : 0;
      }
      continue;
    }
    if (err == SSL_ERROR_SYSCALL) return 0;  // peer went away without close_notify
    return -1;
  }
}

bool sslWrite(TlsSession* session, std::string_view data, int timeout_ms) {
  if (!session || !session->ssl) return false;
  auto deadline = platform::deadlineAfter(std::chrono::milliseconds(timeout_ms));
  while (!data.empty()) {
    ERR_clear_error();
    size_t written = 0;
    int rc = SSL_write_ex(session->ssl, data.data(), data.size(), &written);
    if (rc == 1) {
      data.remove_prefix(written);
      continue;
    }
    int err = SSL_get_error(session->ssl, rc);
    if ((err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) &&
        waitFor(session->fd, err, deadline))
      continue;
    return false;
  }
  return true;
}

size_t sslPending(TlsSession* session) {
  return session && session->ssl ? static_cast<size_t>(SSL_pending(session->ssl)) : 0;
}

std::string sslErrorText() {
  unsigned long e = ERR_get_error();
  if (e == 0) return std::string();
  char buf[256];
  ERR_error_string_n(e, buf, sizeof buf);
  ERR_clear_error();
  return buf;
}

const TlsLibrary& tlsLibrary() {
  static const TlsLibrary table = {sslInitLib,       sslServerCertExists, sslInitSession,
                                   sslAcceptSession, sslFreeSession,      sslRead,
                                   sslWrite,         sslErrorText};
  return table;
}

}  // namespace vek::tls
