// Receipt texts and receipt files on any bytes: the input is split at the
// first NUL byte into a receipt file's text (an ".rct" as a link wrote it,
// or any junk) and a gateway message id.
//
// Checks, besides surviving:
//  - the id after a leading "id:" is replaced by the gateway's id and the
//    rest of the text is kept byte for byte; any other text is unchanged;
//  - translating a loaded receipt keeps every value within what the loader
//    reads back;
//  - a rejection receipt's text carries at most 19 characters of the
//    message and never cuts one: from valid UTF-8 it is valid UTF-8;
//  - MMS header files and "+CMGS:" answers read without surprises (values
//    within 250 characters, references within 1-255).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "encoding/utf8.h"
#include "hostlib/message_ids.h"
#include "inbound/modem_receipt_keys.h"
#include "inbound/receipt_worker.h"
#include "inbound/rejection_receipt.h"
#include "inbound/two_way_mms.h"
#include "queue/request_file.h"
#include "queue/request_writer.h"

namespace {

using namespace vek;

// Strict UTF-8 (what the decoder takes as a sequence, not a byte).
bool validUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80             ? 1
               : (c & 0xE0) == 0xC0 ? 2
               : (c & 0xF0) == 0xE0 ? 3
               : (c & 0xF8) == 0xF0 ? 4
                                    : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    // Overlong forms, surrogates and values above U+10FFFF are not
    // sequences either.
    const unsigned char c1 = static_cast<unsigned char>(s[i + (n > 1 ? 1 : 0)]);
    if ((n == 2 && c < 0xC2) || (c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0) ||
        (c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 >= 0x90) || c > 0xF4)
      return false;
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const size_t nul = in.find('\0');
  const std::string_view text = in.substr(0, nul);
  const std::string id(nul == std::string_view::npos ? std::string_view("0000A1B2")
                                                     : in.substr(nul + 1, 40));

  const std::string replaced = inbound::replaceReceiptTextId(text, id);
  if (text.size() >= 3 && (text.substr(0, 3) == "id:" || text.substr(0, 3) == "ID:" ||
                           text.substr(0, 3) == "Id:" || text.substr(0, 3) == "iD:")) {
    size_t end = 3;
    while (end < text.size() && static_cast<unsigned char>(text[end]) > ' ') ++end;
    if (replaced.compare(3, id.size(), id) != 0) abort();
    if (replaced.substr(3 + id.size()) != text.substr(end)) abort();
  } else if (replaced != text) {
    abort();
  }

  queue::SMSMessage msg;
  queue::parseSMSMessage(text, &msg, [](std::string_view) { return std::string(); });
  hostlib::MessageIdRecord original;
  original.local_id = id;
  original.recipient = std::string(text.substr(0, 200));
  original.account = "alice";
  inbound::translateReceipt(&msg, original);
  queue::SMSMessage back;
  queue::parseSMSMessage(queue::formatSMSMessage(msg), &back,
                         [](std::string_view) { return std::string(); });
  if (back.PhoneNumber.size() > queue::kLimitPhoneNumber + 1) abort();

  const std::string rejection = inbound::rejectionReceiptText(
      id, platform::SystemTime{}, platform::SystemTime{}, static_cast<int32_t>(size), text);
  // The id may hold " text:" itself: look after it (the id is printed up
  // to a NUL, which no real id holds).
  const std::string shown = id.substr(0, id.find('\0'));
  if (rejection.compare(0, 3 + shown.size(), "id:" + shown) != 0) abort();
  const size_t at = rejection.find(" text:", 3 + shown.size());
  if (at == std::string::npos) abort();
  const std::string_view carried = std::string_view(rejection).substr(at + 6);
  if (carried.size() > 19 * 4) abort();
  if (validUtf8(text) && !validUtf8(carried)) abort();

  const inbound::MmsHeader h = inbound::parseMmsHeader(text);
  if (h.sender.size() > 250 || h.subject.size() > 250 || h.phone_number.size() > 250) abort();
  const int reference = inbound::cmgsReference(text);
  if (reference != -1 && (reference < 1 || reference > 255)) abort();
  return 0;
}
