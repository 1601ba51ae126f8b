#include "modem/response_reader.h"

#include <algorithm>

#include "foundation/debug_log.h"
#include "platform/strings.h"

namespace vek::modem {
namespace {

constexpr char kTag[] = "ModemReceiveResponse";

bool startsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

size_t lineEnd(std::string_view s, size_t from) {
  return s.find_first_of("\r\n", from);
}

}  // namespace

void ResponseReader::start(const Expect& expect) {
  expect_ = expect;
  completion_ = Completion::kNone;
  lines_.clear();
  wait_for_seen_ = false;
  overflowed_ = false;
  discarded_ = 0;
  process();
}

void ResponseReader::feed(std::string_view bytes) {
  const size_t at = pending_.size();
  pending_.append(bytes);
  std::replace(pending_.begin() + static_cast<std::ptrdiff_t>(at), pending_.end(), '\0', ' ');
  process();
}

void ResponseReader::reset() {
  pending_.clear();
  skipping_line_ = false;
  report_header_.clear();
}

// Works through whole lines until the response completes; an open line
// stays in `pending_` (cut when it grows past kMaxLine).
void ResponseReader::process() {
  size_t pos = 0;
  while (completion_ == Completion::kNone) {
    const size_t end = lineEnd(pending_, pos);
    if (end == std::string::npos) break;
    std::string_view line(pending_.data() + pos, end - pos);
    pos = end + 1;
    if (skipping_line_) {
      discarded_ += line.size();
      skipping_line_ = false;
      continue;
    }
    if (line.size() > kMaxLine) {
      discarded_ += line.size();
      foundation::DebugLogf(kTag, "Discarded a line of %zu bytes (longer than %zu)", line.size(),
                            kMaxLine);
      continue;
    }
    onLine(line);
  }
  pending_.erase(0, pos);
  if (completion_ != Completion::kNone) return;

  // The open line: over-long ones are dropped up to their end; in prompt
  // mode one that starts with '>' is the prompt.
  if (skipping_line_ || pending_.size() > kMaxLine) {
    if (!skipping_line_)
      foundation::DebugLogf(kTag, "Discarding a line longer than %zu bytes", kMaxLine);
    discarded_ += pending_.size();
    pending_.clear();
    skipping_line_ = true;
    return;
  }
  // (A report waiting for its body takes the next line whatever it holds.)
  if (expect_.prompt && report_header_.empty() && startsWith(platform::trim(pending_), ">")) {
    pending_.clear();
    completion_ = Completion::kPrompt;
  }
}

void ResponseReader::onLine(std::string_view raw) {
  const std::string_view line = platform::trim(raw);
  if (line.empty()) return;
  Completion final_kind = Completion::kNone;
  const bool final_line = isFinal(line, &final_kind);

  if (!report_header_.empty()) {
    const bool another_report = startsWith(line, "+CMT") || startsWith(line, "+CDS");
    if (final_line || another_report) {
      foundation::DebugLogf(kTag, "Incomplete report dropped: %s",
                            printable(report_header_, 200).c_str());
      report_header_.clear();
    } else {
      setAsideReport(Unsolicited{report_kind_, std::move(report_header_), std::string(line)});
      report_header_.clear();
      return;
    }
  }
  if (classifyUnsolicited(line)) return;

  if (final_line &&
      !(final_kind == Completion::kOk && !expect_.wait_for.empty() && !wait_for_seen_)) {
    appendText(line);
    completion_ = final_kind;
    return;
  }
  if (expect_.prompt && startsWith(line, ">")) {
    completion_ = Completion::kPrompt;
    return;
  }
  appendText(line);
  if (!expect_.wait_for.empty() && line.find(expect_.wait_for) != std::string_view::npos)
    wait_for_seen_ = true;
}

bool ResponseReader::classifyUnsolicited(std::string_view line) {
  using Kind = Unsolicited::Kind;
  if (startsWith(line, "+CMTI:") || startsWith(line, "+CDSI:")) {
    new_message_ = true;
    foundation::DebugLog(kTag, "Received New Message Notification");
    setAsideReport(
        Unsolicited{startsWith(line, "+CMTI:") ? Kind::kCmti : Kind::kCdsi, std::string(line), {}});
    return true;
  }
  if (startsWith(line, "+CMT:")) {
    report_kind_ = Kind::kCmt;
    report_header_ = std::string(line);
    return true;
  }
  if (startsWith(line, "+CDS:")) {
    if (text_mode_) {
      setAsideReport(Unsolicited{Kind::kCds, std::string(line), {}});
    } else {
      report_kind_ = Kind::kCds;
      report_header_ = std::string(line);
    }
    return true;
  }
  return false;
}

bool ResponseReader::isFinal(std::string_view line, Completion* c) const {
  if (line == "OK") {
    *c = Completion::kOk;
    return true;
  }
  if (line == "ERROR" || line == "NO CARRIER" || startsWith(line, "+CMS ERROR") ||
      startsWith(line, "+CME ERROR")) {
    *c = Completion::kError;
    return true;
  }
  return false;
}

void ResponseReader::appendText(std::string_view line) {
  if (lines_.size() + line.size() + 2 > kMaxResponse) {
    overflowed_ = true;
    return;
  }
  if (!lines_.empty()) lines_ += "\r\n";
  lines_.append(line);
}

void ResponseReader::setAsideReport(Unsolicited u) {
  if (set_aside_.size() >= kMaxSetAside) {
    ++dropped_reports_;
    foundation::DebugLogf(kTag, "Too many unhandled reports waiting, dropped: %s",
                          printable(u.header, 200).c_str());
    return;
  }
  set_aside_.push_back(std::move(u));
}

bool ResponseReader::takeNewMessageFlag() {
  const bool f = new_message_;
  new_message_ = false;
  return f;
}

std::string ResponseReader::text() const {
  if (completion_ != Completion::kNone || skipping_line_) return lines_;
  const size_t end = lineEnd(pending_, 0);
  std::string_view open = platform::trim(std::string_view(pending_).substr(0, end));
  if (open.empty()) return lines_;
  std::string out = lines_;
  if (!out.empty()) out += "\r\n";
  out.append(open);
  return out;
}

int cmsErrorCode(std::string_view text) {
  for (std::string_view tag : {"+CMS ERROR:", "+CME ERROR:"}) {
    const size_t at = text.find(tag);
    if (at == std::string_view::npos) continue;
    std::string_view rest = platform::trim(text.substr(at + tag.size()));
    if (rest.empty() || rest[0] < '0' || rest[0] > '9') return -1;
    return static_cast<int>(std::min<int64_t>(platform::parseLeadingInt(rest), 65535));
  }
  return -1;
}

std::string_view findLineStarting(std::string_view text, std::string_view prefix) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = lineEnd(text, pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = platform::trim(text.substr(pos, end - pos));
    if (startsWith(line, prefix)) return line;
    pos = end + 1;
  }
  return {};
}

std::string printable(std::string_view text, size_t max) {
  std::string out(text.substr(0, max));
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return out;
}

}  // namespace vek::modem
