// The recipient list of a submission: a list of addresses as a client
// writes it (the web interface's `Phone` / `PhoneNumber` value) split into
// addresses, distribution lists expanded, each address reduced to the form
// the queue carries.
//
// Splitting: at ',', ';' and every character at or below the blank; each
// item keeps at most 100 characters. An item that names a distribution
// list ("<item>.TXT" in the list directory, distribution_lists.h) stands
// for the list's members instead. An address that is not a dotted IP
// address loses a ":<port>" suffix (the first such port is the
// destination port) and, unless `allow_alpha`, everything but a leading
// '+' and its digits; what is left empty is dropped. Each list file is
// read once per call.
//
// Pure apart from reading the list directory; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vek::submit {

inline constexpr size_t kMaxRecipientItem = 100;
// A request names at most this many recipients (lists expanded): a short
// request that names a big list many times must not exhaust memory.
inline constexpr size_t kMaxRecipients = 1000000;

struct RecipientOptions {
  bool allow_alpha = false;
  std::string list_directory;  // "" : no lists are looked up
  size_t max_recipients = kMaxRecipients;
};

struct RecipientList {
  std::vector<std::string> recipients;
  std::optional<uint16_t> destination_port;  // from the first ":<port>" suffix
  bool too_many = false;                     // more than max_recipients: the list is cut there
};

RecipientList parseRecipients(std::string_view value, const RecipientOptions& options);

// Four dot-separated groups of 1-3 digits.
bool isDottedAddress(std::string_view address);
// One address as the queue carries it ("" when nothing is left); a port
// suffix is stored in *port when it is still empty.
std::string reduceRecipient(std::string_view item, bool allow_alpha, std::optional<uint16_t>* port);

}  // namespace vek::submit
