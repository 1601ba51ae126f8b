// ResponseReader: turns the byte stream of a modem into command responses
// and set-aside unsolicited reports, in bounded memory.
//
// The stream is cut into lines (CR or LF ends a line; NUL bytes become
// blanks; empty lines are dropped). Each whole line is classified:
//   - a final result ends the response at once: "OK" (only once the
//     wait-for text, when one is given, has been seen), "ERROR",
//     "+CMS ERROR: n", "+CME ERROR: n", "NO CARRIER". They match only as
//     whole lines, so a text that merely contains "OK" or "ERROR" does not
//     end a read;
//   - "+CMTI:" and "+CDSI:" (a message was stored) set the new-message flag
//     and are set aside;
//   - "+CMT:" and "+CDS:" (a message or status report delivered directly)
//     are set aside together with their next non-empty line, the PDU (in
//     text mode the +CMT text; a text-mode +CDS is a single line). A header
//     whose next line is a final result or another report is incomplete:
//     it is logged and dropped, and that line is classified as usual;
//   - anything else is response text.
// In prompt mode a line (whole or still open) that starts with '>' ends the
// response as the send prompt.
//
// Bounds: a line longer than kMaxLine is discarded up to its end (counted,
// never stored); response text beyond kMaxResponse is dropped (flagged);
// at most kMaxSetAside reports wait to be taken. Bytes after a final result
// stay in the reader for the next response, so nothing that arrived in the
// same read is lost; a report whose PDU has not arrived yet stays pending
// across responses.
//
// A plain value owned by one thread (the modem's link thread).
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace vek::modem {

inline constexpr size_t kMaxLine = 4096;
inline constexpr size_t kMaxResponse = 256 * 1024;
inline constexpr size_t kMaxSetAside = 256;

struct Unsolicited {
  enum class Kind { kCmt, kCds, kCmti, kCdsi };
  Kind kind = Kind::kCmt;
  std::string header;  // the report line, e.g. "+CMT: ,47"
  std::string body;    // the PDU or text line; empty for +CMTI / +CDSI
};

enum class Completion { kNone, kOk, kError, kPrompt };

class ResponseReader {
 public:
  struct Expect {
    std::string wait_for;  // "OK" counts only after this text (empty: any OK)
    bool prompt = false;   // '>' ends the response
  };

  explicit ResponseReader(bool text_mode = false) : text_mode_(text_mode) {}

  void setTextMode(bool on) { text_mode_ = on; }
  // Starts a new response: clears the text and the completion, then works
  // through bytes kept from earlier reads.
  void start(const Expect& expect);
  // Adds bytes read from the port.
  void feed(std::string_view bytes);

  Completion completion() const { return completion_; }
  // The response so far: its text lines joined by "\r\n", then the open
  // line (if any).
  std::string text() const;
  // A +CMT / +CDS header is waiting for its PDU line.
  bool awaitingReportBody() const { return !report_header_.empty(); }
  bool overflowed() const { return overflowed_; }
  // Bytes thrown away in over-long lines since the last start().
  size_t discardedBytes() const { return discarded_; }
  // Reports dropped because kMaxSetAside were already waiting.
  size_t droppedReports() const { return dropped_reports_; }

  // +CMTI / +CDSI seen since the flag was last taken.
  bool takeNewMessageFlag();
  std::deque<Unsolicited>& setAside() { return set_aside_; }

  // Forgets kept bytes and a pending report header (after a reopen).
  void reset();

 private:
  void process();
  void onLine(std::string_view line);
  bool classifyUnsolicited(std::string_view line);
  bool isFinal(std::string_view line, Completion* c) const;
  void appendText(std::string_view line);
  void setAsideReport(Unsolicited u);

  bool text_mode_;
  Expect expect_;
  Completion completion_ = Completion::kNone;
  std::string pending_;  // bytes not yet worked through (the open line first)
  bool skipping_line_ = false;
  std::string lines_;  // response text lines joined by "\r\n"
  bool wait_for_seen_ = false;
  bool overflowed_ = false;
  size_t discarded_ = 0;
  size_t dropped_reports_ = 0;
  std::string report_header_;
  Unsolicited::Kind report_kind_ = Unsolicited::Kind::kCmt;
  bool new_message_ = false;
  std::deque<Unsolicited> set_aside_;
};

// Helpers over response text.
// The number after "+CMS ERROR:" or "+CME ERROR:" in `text`, or -1.
int cmsErrorCode(std::string_view text);
// The lines of `text` that start with `prefix` (e.g. "+CPMS:").
std::string_view findLineStarting(std::string_view text, std::string_view prefix);
// The text with control characters shown as blanks, cut to `max` bytes.
std::string printable(std::string_view text, size_t max);

}  // namespace vek::modem
