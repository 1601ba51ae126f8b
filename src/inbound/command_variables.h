// The variables of a two-way command and how their values are put in.
//
//   @@SENDER@@  @@RECIP@@  @@SMSPREFIX@@ (first word)  @@FULLSMS@@ and
//   @@TEXT@@ (whole text)  @@SMS@@ (text after the first word)  @@Binary@@
//   (1 or 0)  @@UDH@@  @@PID@@  @@DCS@@ ("%02X")  @@MESSAGEID@@ (the
//   inbound file's name)  @@RECEIPTMESSAGEID@@  @@SERVICETYPE@@
//   @@RECEIVEDSMSC@@  @@SMSCROUTE@@ (route)  @@SMSCROUTEID@@ (receiving
//   link)  @@MSGDATE@@ ("%04d%02d%02d")  @@MSGTIME@@ ("%02d%02d%02d")
//   @@SUBJECT@@
//
// Names match without regard to case. The template is read once from left
// to right and each variable in it is replaced once: a value that itself
// holds a variable name is never expanded again, so a text "@@TEXT@@" goes
// in as those eight characters and the work is linear in the template
// whatever it holds. The result is cut at 8,192 bytes, never inside a
// character or a "%XX" escape.
//
// Web and "mailto:" commands take the values URL-encoded: bytes 0x24,
// 0x27-0x29, 0x2D-0x3A, 0x3D, 0x40-0x5B and 0x5D-0x7E stay, every other
// byte becomes "%XX" (DEL included: a URL holding it could never be sent).
//
// Program commands never go through a shell. The command line is split
// into arguments first (blanks separate them; double or single quotes
// group blanks into one argument and are removed), and only then are the
// values put into each argument, plainly: whatever a text holds (quotes,
// semicolons, "$(...)", blanks) stays inside the argument it was put in.
// Control characters in values become blanks. The values also reach the
// program as environment variables: VEKSMS_SENDER, VEKSMS_RECIP, ...
// ("VEKSMS_" and the variable's name in capitals).
//
// Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vek::inbound {

inline constexpr size_t kMaxReplacedCommand = 8192;

struct CommandValues {
  std::string sender;
  std::string recipient;
  std::string first_word;
  std::string text;
  std::string rest;  // after the first word
  bool binary = false;
  std::string udh;
  uint8_t pid = 0;
  uint8_t dcs = 0;
  std::string message_id;
  std::string receipt_message_id;
  std::string service_type;
  std::string received_smsc;
  std::string route;
  std::string link;
  std::string msg_date;
  std::string msg_time;
  std::string subject;
};

enum class ValueEncoding { kPlain, kUrl };

std::string urlEncodeValue(std::string_view value);

// `pattern` with its variables replaced (see above), cut at `limit` bytes.
std::string replaceVariables(std::string_view pattern, const CommandValues& values,
                             ValueEncoding encoding, size_t limit = kMaxReplacedCommand);

// A command line split into arguments (quotes group and are removed).
std::vector<std::string> splitCommandLine(std::string_view line);

// The argument vector of a program command: split, then each argument's
// variables replaced plainly, all arguments together within 8,192 bytes.
std::vector<std::string> programArguments(std::string_view command, const CommandValues& values);

// "VEKSMS_<NAME>=<value>" for every variable.
std::vector<std::string> commandEnvironment(const CommandValues& values);

// Every control character (below 0x20, and DEL) replaced by a blank.
std::string controlsToBlanks(std::string_view text);

}  // namespace vek::inbound
