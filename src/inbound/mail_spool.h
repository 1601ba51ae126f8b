// "mailto:" two-way commands as mail spool files: the text of a received
// message becomes a mail in the directory "MMSCOUT" under the program data
// directory, named like a queue file with the extension "RFC", where the
// mail side of the gateway picks it up and sends it.
//
//   From: <sender up to any '@'>@<SMSDomainName>
//   To: alice@example.com,
//    bob@example.com                one address per line, commas kept
//   Cc: ...                          from "cc=", only when given
//   Bcc: ...                         from "bcc=", only when given
//   Subject: <subject=, else "<sender> - SMS Text Message">
//   Content-Type: text/plain; charset="utf-8"
//
//   <body=, else the message text>
//
// The addresses are those of the mailto part (up to '?', comma-separated)
// followed by those of "to="; the query parameters are percent-decoded.
// No header value can start a header of its own: line breaks and other
// control characters in addresses and the subject become blanks. Lines of
// the body end in CR LF.
//
// Pure functions apart from writeMailSpoolFile; thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace vek::inbound {

struct MailtoCommand {
  std::vector<std::string> to;
  std::vector<std::string> cc;
  std::vector<std::string> bcc;
  std::string subject;  // empty: not given
  std::string body;     // empty: not given
  bool has_body = false;
};

// A replaced "mailto:" command taken apart.
MailtoCommand parseMailto(std::string_view command);
// The address part of a "mailto:" command (up to '?'), decoded.
std::string mailtoAddressPart(std::string_view command);
// True when the mail has somewhere to go: an address with an '@'.
bool hasMailRecipient(const MailtoCommand& m);

// The spool file's text.
std::string formatMailSpool(const MailtoCommand& m, std::string_view sender,
                            std::string_view domain, std::string_view text);

// Writes the spool file into "MMSCOUT" (created when missing); its path.
platform::Result<std::string> writeMailSpoolFile(const std::string& text);
// The spool directory, ending in '/'.
std::string mailSpoolDirectory();

// "%XX" escapes decoded ('+' stays as it is).
std::string percentDecode(std::string_view text);

}  // namespace vek::inbound
