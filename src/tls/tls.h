// TLS sessions over OpenSSL 3 for the web and SMPP listeners (server side)
// and for links and the HTTP client (client side).
//
// The server certificate and key are "SSLCERT.PEM" and "SSLKEY.PEM" in the
// private data directory (sslSetCertificateDirectory). Client sessions verify
// the peer against the system's CA store unless told not to. Sockets are
// non-blocking; every call below waits with poll up to its time-out.
//
// A session belongs to one thread at a time. The library calls are
// thread-safe.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace vek::tls {

struct TlsSession;

// Initialises the library once; true when TLS is usable.
bool sslInitLib();
// Where "SSLCERT.PEM" and "SSLKEY.PEM" are looked for.
void sslSetCertificateDirectory(const std::string& dir);
// True when both files exist and load as a matching pair.
bool sslServerCertExists();
// The path of "SSLCERT.PEM" (the gateway's own certificate).
std::string sslServerCertPath();

struct ClientOptions {
  std::string server_name;  // SNI and the name verified; empty: no SNI, no name check
  bool verify = true;       // verify the chain against the CA store
  bool check_name = true;   // with verify: the certificate must name server_name
  // Extra trusted certificates (PEM), optional. They are trusted for the
  // sessions that name this file only, never for other sessions.
  std::string ca_file;
  int handshake_timeout_ms = 30000;
};

// Client handshake on a connected socket. Null on failure with the reason
// in *error_text.
TlsSession* sslInitSession(int socket, std::string* error_text, const ClientOptions& options = {});
// Server handshake on an accepted socket, bounded by `timeout_ms`.
TlsSession* sslAcceptSession(int socket, int timeout_ms, std::string* error_text);
// Sends close_notify (without waiting) and frees. Null is fine.
void sslFreeSession(TlsSession* session);

// >0 bytes read, 0 peer closed, -1 error, -2 time-out.
int sslRead(TlsSession* session, void* buf, size_t len, int timeout_ms);
// True when everything was written within `timeout_ms`.
bool sslWrite(TlsSession* session, std::string_view data, int timeout_ms);
// Bytes already decrypted and waiting (a poll on the socket would miss them).
size_t sslPending(TlsSession* session);
// The text of the last error on this thread's OpenSSL queue.
std::string sslErrorText();

struct SessionDeleter {
  void operator()(TlsSession* s) const { sslFreeSession(s); }
};
using SessionPtr = std::unique_ptr<TlsSession, SessionDeleter>;

// The entry table of the TLS library, as the rest of the gateway binds it.
struct TlsLibrary {
  bool (*sslInitLib)();
  bool (*sslServerCertExists)();
  TlsSession* (*sslInitSession)(int, std::string*, const ClientOptions&);
  TlsSession* (*sslAcceptSession)(int, int, std::string*);
  void (*sslFreeSession)(TlsSession*);
  int (*sslRead)(TlsSession*, void*, size_t, int);
  bool (*sslWrite)(TlsSession*, std::string_view, int);
  std::string (*sslErrorText)();
};
const TlsLibrary& tlsLibrary();

}  // namespace vek::tls
