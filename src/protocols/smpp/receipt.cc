#include "protocols/smpp/receipt.h"

#include "platform/strings.h"

namespace vek::smpp {

namespace {

// The value after `key` up to the next blank (for "text:" up to the end).
bool takeField(std::string_view text, std::string_view key, bool to_end, std::string* out) {
  size_t at = 0;
  while ((at = platform::findNoCase(text, key, at)) != std::string_view::npos) {
    // A key starts the text or follows a blank ("done date:" must not match "submit date:").
    if (at == 0 || text[at - 1] == ' ') break;
    ++at;
  }
  if (at == std::string_view::npos) return false;
  std::string_view v = text.substr(at + key.size());
  if (!to_end) v = v.substr(0, v.find(' '));
  out->assign(v);
  return true;
}

}  // namespace

bool parseReceiptText(std::string_view text, ReceiptText* r) {
  *r = ReceiptText();
  bool id = takeField(text, "id:", false, &r->id);
  takeField(text, "sub:", false, &r->sub);
  takeField(text, "dlvrd:", false, &r->dlvrd);
  takeField(text, "submit date:", false, &r->submit_date);
  takeField(text, "done date:", false, &r->done_date);
  bool stat = takeField(text, "stat:", false, &r->stat);
  takeField(text, "err:", false, &r->err);
  takeField(text, "text:", true, &r->text);
  return id || stat;
}

uint32_t flagsForStat(std::string_view stat) {
  struct Word {
    const char* word;
    uint32_t flags;
  };
  static constexpr Word kWords[] = {
      {"DELIVRD", flag::kDelivered},    {"DELIVERED", flag::kDelivered},
      {"ACCEPTD", flag::kDelivered},    {"ACCEPTED", flag::kDelivered},
      {"ENROUTE", flag::kInTransit},    {"BUFFRED", flag::kInTransit},
      {"BUFFERED", flag::kInTransit},   {"EXPIRED", flag::kFailed},
      {"DELETED", flag::kFailed},       {"UNDELIV", flag::kFailed},
      {"UNDELIVERABLE", flag::kFailed}, {"REJECTD", flag::kFailed},
      {"REJECTED", flag::kFailed},      {"UNKNOWN", flag::kFailed},
  };
  for (const auto& w : kWords)
    if (platform::equalsNoCase(stat, w.word)) return w.flags;
  return 0;
}

uint32_t flagsForState(uint8_t s) {
  switch (s) {
    case state::kEnroute:
      return flag::kInTransit;
    case state::kDelivered:
    case state::kAccepted:
      return flag::kDelivered;
    case state::kExpired:
    case state::kDeleted:
    case state::kUndeliverable:
    case state::kUnknown:
    case state::kRejected:
      return flag::kFailed;
    default:
      return 0;
  }
}

uint8_t stateForFlags(uint32_t flags) {
  if (flags & flag::kDelivered) return state::kDelivered;
  if (flags & flag::kFailed) return state::kUndeliverable;
  if (flags & flag::kInTransit) return state::kEnroute;
  return state::kUnknown;
}

}  // namespace vek::smpp
