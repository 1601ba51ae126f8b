// Writing request and inbound files (layout in request_file.h).
//
// A writer builds the whole text in memory, key by key in its own order,
// and publishes it in one step: written under a hidden temporary name and
// renamed to its final name only if that name is free, so a queue scan
// never sees half a file and exclusive creation keeps its meaning.
//
// No value can break the layout: single-line values have every byte below
// 32 (and 127) turned into a blank, so a "\n" in a sender or service type
// never starts a new key line; `Data` escapes CR and LF as "\r" and "\n"
// and blanks the other control bytes. Lines end in CR LF.
//
// The "[ErrorDetail]" block of the retry logic is always written by cutting
// the file at an existing "[ErrorDetail]" line and appending the new block,
// so a file never holds two.
//
// A RequestWriter is a plain value owned by one thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status.h"
#include "queue/request_file.h"

namespace vek::queue {

class RequestWriter {
 public:
  // Starts the text with a section header line ("[SMS]", "[SMS-IN]").
  explicit RequestWriter(std::string_view header = "[SMS]");

  // Another section header line.
  RequestWriter& section(std::string_view header);
  // "key=value" with the value cleaned to one line.
  RequestWriter& text(std::string_view key, std::string_view value);
  // The same, only when the value is not empty.
  RequestWriter& textIfSet(std::string_view key, std::string_view value);
  // "Data=" with the value escaped.
  RequestWriter& data(std::string_view value);
  // "key=Yes" when `on`; nothing otherwise.
  RequestWriter& yes(std::string_view key, bool on = true);
  // "key=%02X" (two digits) and "key=%X".
  RequestWriter& hex2(std::string_view key, uint8_t value);
  RequestWriter& hex(std::string_view key, uint8_t value);
  RequestWriter& number(std::string_view key, uint64_t value);
  RequestWriter& time(std::string_view key, const RequestTime& t);

  const std::string& str() const { return text_; }
  // Creates `path` with the text, only if the name is free (Status code
  // EEXIST when taken: choose another name). `sync` as `SyncQueueWrites`.
  platform::Status publish(const std::string& path, bool sync) const;
  // The same with the `SyncQueueWrites` setting in force.
  platform::Status publish(const std::string& path) const;

 private:
  void line(std::string_view key, std::string_view value);
  std::string text_;
};

// The message section of a record in the submission order of the HTTP
// interface: header by `Inbound`, then every key that is set (strings not
// empty, flags on; pid and dcs as "%02X" when either is not 0). The flag
// word is written as its keys; `ModemName` wins over `SMSCRoute`, and a
// `RouteToLocalUser` is written as its own key. LoadSMSMessage reads the
// text back to the same record (apart from ModemRoute, which it resolves).
std::string formatSMSMessage(const SMSMessage& m);
RequestWriter& appendMessageKeys(RequestWriter& w, const SMSMessage& m);

// One "[ErrorDetail]" block.
struct ErrorDetail {
  uint32_t RetryCount = 0;
  RequestTime LastRetryTime;
  bool HasFirstAttemptTime = false;
  RequestTime FirstAttemptTime;
  // "LastErrorInfo=%s -- %s": error text and link name; written when the
  // error text is not empty.
  std::string ErrorText;
  std::string LinkName;
};
// "[ErrorDetail]\r\nRetryCount=%u\r\nLastRetryTime=...\r\n" then
// FirstAttemptTime and LastErrorInfo when set.
std::string formatErrorDetail(const ErrorDetail& d);

// Where a retry block may begin: the start of the first "[ErrorDetail]"
// line after the message section header (anywhere when there is none), or
// the end of the text.
size_t errorDetailOffset(std::string_view text);
// `text` with its retry block replaced by `d`'s (a line end is put first
// when the kept text does not end in one).
std::string withErrorDetail(std::string_view text, const ErrorDetail& d);
// The same on an open (claimed) file, in place: cut at the old block,
// append the new one, keep the file's modification time.
platform::Status rewriteErrorDetail(int fd, const ErrorDetail& d);

}  // namespace vek::queue
