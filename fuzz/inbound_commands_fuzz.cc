// Two-way command parsing and variable replacement on any bytes: the input
// is split at the first two NUL bytes into a list of command values (one
// per line), a message text and a sender.
//
// Checks, besides surviving within the time limit (templates of thousands
// of variables, values that name variables):
//  - every replaced command stays within 8,192 bytes, however many
//    variables and however long the values;
//  - a URL-encoded replacement of a template without control bytes or
//    blanks holds none either, whatever the text held (the request line
//    cannot be broken by a message);
//  - a program's arguments come from the template's own split: their count
//    never depends on the text, and a text's control bytes never reach them;
//  - a mail spool file's header lines are only the ones it writes (no text
//    or address adds a line of its own).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "inbound/command_variables.h"
#include "inbound/mail_spool.h"
#include "inbound/two_way_commands.h"
#include "platform/strings.h"

namespace {

using namespace vek::inbound;

bool hasControlsOrBlanks(std::string_view s) {
  for (unsigned char c : s)
    if (c <= 0x20 || c == 0x7F) return true;
  return false;
}

bool hasControls(std::string_view s) {
  for (unsigned char c : s)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

void checkMail(const std::string& text) {
  const std::string headers = text.substr(0, text.find("\r\n\r\n"));
  for (const std::string& line : vek::platform::split(headers, "\n")) {
    std::string_view l = line;
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    if (l.find('\r') != std::string_view::npos) abort();
    const bool known = l.rfind("From: ", 0) == 0 || l.rfind("To: ", 0) == 0 ||
                       l.rfind("Cc: ", 0) == 0 || l.rfind("Bcc: ", 0) == 0 ||
                       l.rfind("Subject: ", 0) == 0 || l.rfind("Content-Type: ", 0) == 0 ||
                       l.rfind(" ", 0) == 0;
    if (!known) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const size_t a = in.find('\0');
  const std::string_view list = in.substr(0, a);
  const std::string_view rest = a == std::string_view::npos ? std::string_view() : in.substr(a + 1);
  const size_t b = rest.find('\0');
  const std::string text(rest.substr(0, b));
  const std::string sender(b == std::string_view::npos ? std::string_view() : rest.substr(b + 1));

  // A few commands are enough to exercise the choice; each is checked
  // against the whole text.
  constexpr size_t kMaxCommands = 16;
  std::vector<TwoWayCommand> commands;
  for (const std::string& line : vek::platform::split(list, "\n")) {
    if (commands.size() == kMaxCommands) break;
    commands.push_back(parseCommandValue(line));
  }

  CommandValues v;
  v.sender = sender;
  v.recipient = "1234";
  v.text = text;
  v.first_word = firstWord(text);
  v.rest = afterFirstWord(text);
  v.subject = text;
  if (v.first_word.size() > kMaxFirstWord) abort();

  const TwoWayCommand* chosen =
      chooseCommand(commands, v.first_word, "1234", !text.empty() && (text[0] & 1));
  for (const TwoWayCommand& c : commands) {
    if (c.keyword.size() > kMaxKeywordPattern || c.command.size() > kMaxCommandText) abort();
    const std::string url = replaceVariables(c.command, v, ValueEncoding::kUrl);
    const std::string plain = replaceVariables(c.command, v, ValueEncoding::kPlain);
    if (url.size() > kMaxReplacedCommand || plain.size() > kMaxReplacedCommand) abort();
    if (!hasControlsOrBlanks(c.command) && hasControlsOrBlanks(url)) abort();

    const std::vector<std::string> args = programArguments(c.command, v);
    if (args.size() > splitCommandLine(c.command).size()) abort();
    size_t total = 0;
    for (const std::string& arg : args) {
      total += arg.size();
      if (!hasControls(c.command) && hasControls(arg)) abort();
    }
    if (total > kMaxReplacedCommand) abort();

    if (commandKind(c.command) == CommandKind::kMailto)
      checkMail(formatMailSpool(parseMailto(url), sender, "example.com", text));
  }
  (void)chosen;
  (void)commandEnvironment(v);
  checkMail(formatMailSpool(parseMailto("mailto:" + urlEncodeValue(v.first_word)), sender, sender,
                            v.rest));
  return 0;
}
