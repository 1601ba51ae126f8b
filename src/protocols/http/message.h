// HTTP message structure. A message is one byte string: the request or
// status line, the header lines, a blank line, then the body. This header
// finds where the header area ends, decides when a message has arrived
// whole (Content-Length or chunked transfer coding), removes the chunk
// framing, and looks up header fields.
//
// Header lookups search the header area only (up to the first blank line),
// and only at the start of a line: a body that happens to contain
// "Authorization:" or "Content-Length:" is never read as a header.
//
// Framing is strict where leniency would let two parties disagree about
// where a message ends: a Content-Length that is not a plain decimal number,
// two different Content-Length values, Content-Length together with chunked
// coding, a transfer coding other than chunked, broken chunk framing and
// trailer fields are all refused as malformed. Sizes are bounded by
// MessageLimits; nothing is allocated for a declared length before the
// bytes arrive.
//
// Requests (the web server) and responses (the outbound client) share the
// scanner. A response differs in what frames it: its first line must be a
// status line ("HTTP/1.x nnn"), a 1xx answer is an interim message without
// a body, 204, 304 and the answer to HEAD carry no body whatever their
// header says, and a body framed by neither Content-Length nor chunks runs
// until the server closes. A response with a repeated Content-Length is
// refused even when the values agree; trailer fields after a response's
// last chunk are skipped (within the header limit) instead of refused.
//
// Pure functions plus a small per-message scanner; thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vek::httpwire {

// Offset just past the first blank line ("\n\r\n" or "\n\n"); 0 while no
// blank line has arrived.
size_t bodyOffset(std::string_view msg);
// The lenient variant the parameter readers use: after a line feed, a "\r"
// that is not followed by "\n" counts as a line feed, and blanks and "\r"
// before the next line feed are skipped. The whole length when no blank
// line exists.
size_t tolerantBodyOffset(std::string_view msg);

// The header area (request line included), empty while incomplete.
std::string_view headerArea(std::string_view msg);

// The value of header `name` (the name includes its colon, "Host:"),
// matched case-insensitively at the start of a line inside the header area.
// Leading blanks are skipped; the value ends at the first control
// character and keeps at most size - 1 characters. nullopt when absent.
std::optional<std::string> findHeader(std::string_view msg, std::string_view name,
                                      size_t size = 4096);
// Same, "" when absent.
std::string headerValue(std::string_view msg, std::string_view name, size_t size = 4096);

// "User-agent:" value, at most 100 characters.
std::string userAgent(std::string_view msg);
// "Host:" value, at most 100 characters, ending at the first blank.
std::string hostHeader(std::string_view msg);
// "Accept:" value, at most size - 1 characters, ending at the first blank.
std::string acceptHeader(std::string_view msg, size_t size = 4096);

struct Credentials {
  std::string user;
  std::string password;
};
// "Authorization: Basic <token>": the token (at most 250 characters)
// decoded and split at its first colon (no colon: all of it is the user).
// Both empty without the header or with another scheme.
Credentials basicCredentials(std::string_view msg);

// The status code of a response ("HTTP/1.1 200 OK" gives 200); 0 when the
// status line does not start with "HTTP/" or carries no number.
int responseStatusCode(std::string_view msg);

// The first Content-Length value, 0 when absent or not a valid number.
uint64_t contentLength(std::string_view msg);

struct MessageLimits {
  size_t max_message = 16u << 20;  // the whole message as received
  size_t max_header = 64u << 10;   // the header area
};

// Which side wrote the message (see the top of this file).
enum class MessageRole { kRequest, kResponse, kResponseToHead };

enum class MessageState {
  kIncomplete,
  kComplete,
  kTooLarge,        // the message (declared or received) exceeds max_message
  kHeaderTooLarge,  // no blank line within max_header bytes
  kMalformed,       // framing refused (see the top of this file)
};

struct MessageCheck {
  MessageState state = MessageState::kIncomplete;
  size_t length = 0;        // with kComplete: the message's length as received
  const char* reason = "";  // with kMalformed/kTooLarge: why, for the debug log
};

// Decides, as bytes arrive, whether one message is complete. The data given
// to successive scan() calls must grow by appending (same prefix); the
// scanner resumes where it stopped, so a slowly arriving body costs linear
// time overall. One message per scanner; reset() for the next.
class MessageScanner {
 public:
  explicit MessageScanner(MessageLimits limits = {}, MessageRole role = MessageRole::kRequest)
      : limits_(limits), role_(role) {}

  MessageCheck scan(std::string_view data);
  // The connection ended after `data` (the bytes given to scan() so far).
  // kComplete for a response whose body runs until the close, the earlier
  // verdict when there was one, kIncomplete for a message cut short.
  MessageCheck finishAtClose(std::string_view data);
  void reset() { *this = MessageScanner(limits_, role_); }

  bool headerComplete() const { return body_offset_ != 0; }
  size_t bodyOffset() const { return body_offset_; }
  bool chunked() const { return chunked_; }
  // The header asked for "100-continue" before sending its body.
  bool expectsContinue() const { return expect_continue_; }

  // Responses, once the header is complete:
  int statusCode() const { return status_; }
  // A 1xx answer: complete at the end of its header, the real one follows.
  bool interim() const { return status_ >= 100 && status_ < 200; }
  // "HTTP/1.1" or a later 1.x: connections persist unless told otherwise.
  bool http11() const { return http11_; }
  // The end of the message is known without the connection closing
  // (Content-Length, chunks, or no body at all).
  bool delimited() const { return !until_close_; }

 private:
  MessageCheck parseHeader(std::string_view data);
  MessageCheck parseStatusLine(std::string_view data);
  MessageCheck scanChunks(std::string_view data);
  MessageCheck scanTrailer(std::string_view data, size_t pos);
  bool isResponse() const { return role_ != MessageRole::kRequest; }
  const char* tooLargeReason() const {
    return isResponse() ? "Message exceeds MaxHTTPResponseSize"
                        : "Message exceeds MaxHTTPRequestSize";
  }

  MessageLimits limits_;
  MessageRole role_;
  size_t header_scan_ = 0;  // next position to look for the blank line
  size_t body_offset_ = 0;
  bool chunked_ = false;
  bool expect_continue_ = false;
  uint64_t content_length_ = 0;
  size_t chunk_pos_ = 0;     // start of the next chunk-size line
  uint64_t chunk_data_ = 0;  // data bytes of the chunks accepted so far
  int status_ = 0;
  bool http11_ = false;
  bool no_body_ = false;  // 1xx, 204, 304, answer to HEAD
  bool until_close_ = false;
  std::optional<MessageCheck> final_;
};

// One-shot form of MessageScanner.
MessageCheck checkMessage(std::string_view data, const MessageLimits& limits = {});

// Replaces the chunked body of a complete message by its plain data; the
// header area, "Transfer-Encoding:" included, stays as received. False (and
// `msg` unchanged) when the framing is broken.
bool removeChunking(std::string* msg, size_t body_offset);

}  // namespace vek::httpwire
