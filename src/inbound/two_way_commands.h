// Two-way commands: the keyword list of section SMSGW and the choice of the
// command that answers a received message.
//
// Keys "ReceiveSMSCommand1", "ReceiveSMSCommand2", ... are read in order up
// to the first one that is missing or empty. Each value holds up to four
// fields separated by TABs:
//
//   keyword pattern   TAB  command        TAB  reply  TAB  recipient filter
//   HELP*                  http://svc/?q=@@SMS@@   Yes     1234, 5678*
//
// The keyword pattern (250 characters) is a wildcard (foundation/
// wildcard.h) for the message's first word; the command (2,048) is a URL
// ("http://", "https://"), a "mailto:" address or a program command line;
// the reply flag (yes/no) sends the web answer or the program output back;
// the filter (1,024) lists wildcard patterns for the destination address,
// "*" or nothing meaning any. A value with fewer than two TABs has its last
// blank made a TAB, and a value with none at all the last remaining blank
// as well, so "HELP http://svc/ Yes" splits into three fields; a command
// line that holds blanks must therefore be written with TABs.
//
// Choosing (chooseCommand), over the list in order:
//  - a command whose keyword pattern does not match the first word is
//    skipped, and so is one with a filter none of whose patterns matches
//    the destination;
//  - the first command that passes its filter drops every unfiltered
//    candidate chosen so far, and from then on only filtered commands
//    count;
//  - score: the pattern's length, or the word's length plus one when word
//    and pattern are equal (any case); only a strictly higher score
//    replaces the best, so on equal scores the earlier command wins;
//  - an 8-bit message keeps its command only when the command mentions
//    "@@Binary@@".
//
// Pure functions apart from commandList(), which reads the configuration
// (and caches the parse per configuration snapshot). Thread-safe.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vek::hostlib {
class IniFile;
}

namespace vek::inbound {

inline constexpr size_t kMaxKeywordPattern = 250;
inline constexpr size_t kMaxCommandText = 2048;
inline constexpr size_t kMaxRecipientFilter = 1024;
// Longest first word taken from a message.
inline constexpr size_t kMaxFirstWord = 200;

struct TwoWayCommand {
  std::string keyword;
  std::string command;
  bool reply = false;
  std::vector<std::string> recipients;  // empty: any destination
};

enum class CommandKind { kWeb, kMailto, kProgram };
CommandKind commandKind(std::string_view command);

// One "ReceiveSMSCommand%u" value.
TwoWayCommand parseCommandValue(std::string_view value);
// The whole list of a configuration.
std::vector<TwoWayCommand> parseCommandList(const hostlib::IniFile& ini);
// The list of the configuration in force.
std::shared_ptr<const std::vector<TwoWayCommand>> commandList();

// The first word of a text: up to the first character at or below the
// space, at most 200 characters (never cutting a UTF-8 character).
std::string firstWord(std::string_view text);
// What follows the first word, leading blanks removed.
std::string afterFirstWord(std::string_view text);

// The chosen command, or nullptr.
const TwoWayCommand* chooseCommand(const std::vector<TwoWayCommand>& commands,
                                   std::string_view first_word, std::string_view destination,
                                   bool binary);

// `text` cut to at most `limit` bytes without splitting a UTF-8 character.
std::string_view cutUtf8(std::string_view text, size_t limit);

}  // namespace vek::inbound
