#include "queue/bulk_list.h"

#include "platform/sanitize.h"
#include "platform/strings.h"

namespace vek::queue {
namespace {

constexpr std::string_view kFlagPrefix = "QDelay-";
constexpr std::string_view kRequestExtension = ".req";

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

int digits(std::string_view s) {
  int v = 0;
  for (char c : s) v = v * 10 + (c - '0');
  return v;
}

}  // namespace

const char* lineVerdictText(LineVerdict v) {
  switch (v) {
    case LineVerdict::kOk:
      return "ok";
    case LineVerdict::kNoEquals:
      return "no '=' in the line";
    case LineVerdict::kBadName:
      return "unusable file name";
    case LineVerdict::kNoRecipient:
      return "no recipient";
    case LineVerdict::kTooLong:
      return "line too long";
  }
  return "?";
}

std::string requestFileName(std::string_view name, unsigned number) {
  const std::string n = std::to_string(number);
  std::string out;
  out.reserve(name.size() + n.size());
  size_t pos = 0;
  for (;;) {
    size_t mark = name.find(kTemplateCounterMark, pos);
    if (mark == std::string_view::npos) break;
    out.append(name.substr(pos, mark - pos));
    out.append(n);
    pos = mark + kTemplateCounterMark.size();
  }
  out.append(name.substr(pos));
  return out;
}

bool isUsableRequestName(std::string_view name) {
  return name.size() > kRequestExtension.size() && name.size() <= kMaxRequestName &&
         platform::isSafePathComponent(name) && platform::endsWithNoCase(name, kRequestExtension);
}

LineVerdict parseRecipientLine(std::string_view line, unsigned templates, RecipientLine* out) {
  if (line.size() > kMaxRecipientLine) return LineVerdict::kTooLong;
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return LineVerdict::kNoEquals;
  RecipientLine r;
  r.name = line.substr(0, eq);
  std::string_view rest = line.substr(eq + 1);
  size_t semi = rest.find(';');
  r.recipient = platform::trim(rest.substr(0, semi));
  if (semi != std::string_view::npos) r.route = platform::trim(rest.substr(semi + 1));
  // The longest number gives the longest name; checking it and the first
  // covers every template in between.
  if (!isUsableRequestName(requestFileName(r.name, 1)) ||
      !isUsableRequestName(requestFileName(r.name, templates == 0 ? 1 : templates)))
    return LineVerdict::kBadName;
  if (r.recipient.empty()) return LineVerdict::kNoRecipient;
  *out = r;
  return LineVerdict::kOk;
}

std::string bulkRequestText(std::string_view templ, std::string_view recipient,
                            std::string_view route) {
  std::string text;
  text.reserve(templ.size() + recipient.size() + route.size() + 32);
  text.append(templ);
  if (!text.empty() && text.back() != '\n') text.append("\r\n");
  text.append("PhoneNumber=");
  text.append(platform::singleLine(recipient));
  text.append("\r\n");
  if (!route.empty()) {
    text.append("SMSCRoute=");
    text.append(platform::singleLine(route));
    text.append("\r\n");
  }
  return text;
}

std::optional<platform::CalendarTime> parseDelayFlagName(std::string_view name) {
  if (!platform::startsWithNoCase(name, kFlagPrefix)) return std::nullopt;
  std::string_view stamp = name.substr(kFlagPrefix.size());
  if (stamp.size() < 12) return std::nullopt;
  stamp = stamp.substr(0, 12);
  for (char c : stamp)
    if (!isDigit(c)) return std::nullopt;
  platform::CalendarTime t;
  t.year = digits(stamp.substr(0, 4));
  t.month = digits(stamp.substr(4, 2));
  t.day = digits(stamp.substr(6, 2));
  t.hour = digits(stamp.substr(8, 2));
  t.minute = digits(stamp.substr(10, 2));
  return t;
}

bool laterToTheMinute(const platform::CalendarTime& t, const platform::CalendarTime& now) {
  const int a[] = {t.year, t.month, t.day, t.hour, t.minute};
  const int b[] = {now.year, now.month, now.day, now.hour, now.minute};
  for (size_t i = 0; i < 5; ++i)
    if (a[i] != b[i]) return a[i] > b[i];
  return false;
}

void LineSplitter::feed(std::string_view bytes, const Visit& visit) {
  while (!bytes.empty()) {
    size_t end = bytes.find_first_of("\r\n");
    std::string_view piece = bytes.substr(0, end);
    // Keep at most one byte beyond the limit: enough to know it was passed.
    size_t room = line_.size() <= kMaxRecipientLine ? kMaxRecipientLine + 1 - line_.size() : 0;
    line_.append(piece.substr(0, std::min(room, piece.size())));
    length_ += piece.size();
    if (end == std::string_view::npos) return;
    endLine(visit);
    bytes.remove_prefix(end + 1);
  }
}

void LineSplitter::finish(const Visit& visit) {
  endLine(visit);
}

void LineSplitter::endLine(const Visit& visit) {
  if (length_ != 0) {
    Line l;
    l.too_long = length_ > kMaxRecipientLine;
    l.length = length_;
    l.text = std::string_view(line_).substr(0, std::min(line_.size(), kMaxRecipientLine));
    visit(l);
  }
  line_.clear();
  length_ = 0;
}

}  // namespace vek::queue
