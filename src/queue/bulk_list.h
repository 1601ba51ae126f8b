// The texts of a bulk job, read and checked: recipient list lines, output
// file names, the delay flag's name, and the request file a template and a
// recipient make together. Pure functions and one small line splitter, no
// file access; the bulk queue (bulk_queue.h) does the I/O. Everything here
// takes untrusted bytes (job files may be damaged or planted) and refuses
// what it cannot use instead of guessing.
//
// A recipient list line is "<file name>=<recipient>[;<route>]"; the file
// name may hold "@@CTR@@", replaced by the template number (1, 2, ...).
//
// Thread-safe: no shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace vek::queue {

// A line longer than this is refused whole (no real line comes near it: a
// file name, a recipient of at most 100 and a route of at most 100).
constexpr size_t kMaxRecipientLine = 1024;
// Output file names (after "@@CTR@@" is replaced) longer than this are refused.
constexpr size_t kMaxRequestName = 200;
// The bulk thread reads at most this many templates ("M1.REQ" to "M99.REQ").
constexpr unsigned kMaxBulkTemplates = 99;
constexpr std::string_view kTemplateCounterMark = "@@CTR@@";

enum class LineVerdict {
  kOk,
  kNoEquals,     // no '=' at all
  kBadName,      // empty, hidden, a path, control characters, too long, not ".req"
  kNoRecipient,  // nothing (or only blanks) after '='
  kTooLong,      // longer than kMaxRecipientLine
};
const char* lineVerdictText(LineVerdict v);

struct RecipientLine {
  std::string_view name;       // before '=' (may hold "@@CTR@@")
  std::string_view recipient;  // after '=', up to ';'
  std::string_view route;      // after ';' (empty: none)
};

// Splits and checks one line (without its line end). The name is checked
// with the highest template number the job uses, so that every output name
// the line gives is usable.
LineVerdict parseRecipientLine(std::string_view line, unsigned templates, RecipientLine* out);

// The output name of template `number`: "@@CTR@@" replaced by the number.
std::string requestFileName(std::string_view name, unsigned number);
// True when `name` may be created in a queue directory: one plain path
// component (no '/', '\', ':', control characters, not starting with '.'),
// at most kMaxRequestName bytes, ending in ".req" (any case) so that the
// senders' scan finds it.
bool isUsableRequestName(std::string_view name);

// The request file: the template, a line end when it lacks one,
// "PhoneNumber=<recipient>\r\n" and, with a route, "SMSCRoute=<route>\r\n".
// Control characters in recipient and route become blanks.
std::string bulkRequestText(std::string_view templ, std::string_view recipient,
                            std::string_view route);

// The time in a flag file's name "QDelay-<yyyymmddhhmm>..." (any case):
// nullopt when the 12 characters after "QDelay-" are not all digits.
// Fields are not range-checked: they are compared field by field with the
// local time, so a month 13 simply lies in the future.
std::optional<platform::CalendarTime> parseDelayFlagName(std::string_view name);
// True when `t` (to the minute) is later than `now`, compared field by
// field: year, month, day, hour, minute. Local times compared as fields
// release a time that a daylight-saving change skips at the first minute
// after it, and one that occurs twice at its first occurrence.
bool laterToTheMinute(const platform::CalendarTime& t, const platform::CalendarTime& now);

// Splits a byte stream fed in pieces into lines ending at CR, LF or the end
// of the stream; empty lines are dropped. A line over kMaxRecipientLine
// bytes is passed on cut to that size with `too_long` set (its length in
// `length`), and the rest of it is skipped without being kept in memory.
class LineSplitter {
 public:
  struct Line {
    std::string_view text;
    bool too_long = false;
    uint64_t length = 0;
  };
  using Visit = std::function<void(const Line&)>;
  void feed(std::string_view bytes, const Visit& visit);
  void finish(const Visit& visit);

 private:
  void endLine(const Visit& visit);
  std::string line_;
  uint64_t length_ = 0;
};

}  // namespace vek::queue
