// Running the two-way command for a received message (Execute2WayCommand)
// and queuing its answer as an SMS reply to the sender.
//
//   TwoWayRunner runner;                     one per inbound or receipt thread
//   TwoWayResult r = runner.run(msg, file);  msg already holds text, not octets
//
// The command is chosen from the configured list (two_way_commands.h) by
// the message's first word and destination, its variables filled
// (command_variables.h; debug log "GetProgramToExecute" before and after),
// and it is run by its kind:
//
//  - web ("http://", "https://"): a GET through the outbound HTTP client
//    with proxy `2WayProxy`, 60 s per wait, the thread's kept-alive
//    connection with `2WayKeepAlive`; any SMPP option of the message whose
//    name has a value in section "SMPPOptions" is appended as
//    "&SMPPOption_<name>=<value>". No answer at all: kUnreachable. A status
//    other than 2xx: "HTTP response indicates error", kErrorStatus. With the
//    reply flag, a "text/plain" answer (parameters such as "; charset=..."
//    allowed) is the reply, trailing blanks and controls removed, cut at
//    8,192 bytes and converted to UTF-8 from its charset (else from
//    `ReceiveSMSCharset`); another type gives the reply "Command not
//    completed.  Request returned invalid content type:  <type>"; an empty
//    body none ("Command response is blank, no reply will be sent").
//  - "mailto:": a mail spool file (mail_spool.h); "mailto:@@SMSPREFIX@@"
//    mails the rest of the text to the address given as the first word. A
//    command without an address holding '@' replies "Invalid e-mail
//    recipient: ...".
//  - program: started without a shell (platform/process.h) with the split
//    argument vector and the values also in the environment, waited for up
//    to 300 s; at the limit (or at shutdown) the program and its process
//    group are killed (kFailed). Standard output and error, at most 10,240
//    bytes, trailing blanks removed, converted from `DefaultCodePage`, are
//    the reply. A program that cannot be started replies "Command not
//    completed.  System error executing associated command." once (first
//    attempt) and is kFailed, so the message is retried and finally set
//    aside rather than dropped.
//
// With `ReceiveSMSCharset` set (other than UTF-8), the first word and the
// text are converted to it before they go into a web or program command.
//
// Replies go to the message's sender from its destination through
// submit::BuildSMSReply, with the reply SMPP options (replyOptions) and,
// with `2WayReplySameServer`, the receiving link's route. A reply that
// cannot be queued is kFailed.
//
// A TwoWayRunner is owned by one thread; runners of different threads run
// at once.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "inbound/command_variables.h"
#include "platform/clock.h"
#include "protocols/http/client.h"
#include "queue/request_file.h"

namespace vek::inbound {

enum class TwoWayResult {
  kDone,         // ran; its reply, if any, is queued
  kNoCommand,    // no command applies: the message is set aside
  kErrorStatus,  // the web server answered with an error status: retry, limited
  kFailed,       // could not be run, timed out, or its reply not queued: retry, limited
  kUnreachable,  // the web server could not be reached: retry without a limit
};
const char* twoWayResultName(TwoWayResult r);

struct TwoWayOptions {
  std::chrono::milliseconds program_time_limit{300000};
  std::chrono::seconds web_timeout{60};
};

// What a command's execution made of the reply, for tests and logs.
struct CommandRun {
  TwoWayResult result = TwoWayResult::kDone;
  bool reply_wanted = false;
  std::string reply;   // the reply text ("" when none)
  std::string detail;  // why it failed
};

class TwoWayRunner {
 public:
  explicit TwoWayRunner(TwoWayOptions options = {}) : options_(options) {}
  TwoWayRunner(const TwoWayRunner&) = delete;
  TwoWayRunner& operator=(const TwoWayRunner&) = delete;

  // Chooses and runs the command for `msg`. `file_name` is the inbound
  // file's name (without directory), `file_time` its time stamp;
  // `receipt_message_id` fills "@@RECEIPTMESSAGEID@@" for a receipt.
  TwoWayResult run(const queue::SMSMessage& msg, std::string_view file_name,
                   platform::SystemTime file_time, std::string_view receipt_message_id = {});

  // Runs one command (already chosen) with its values; queues the reply.
  CommandRun execute(const queue::SMSMessage& msg, const std::string& command, bool reply,
                     const CommandValues& values);

  // Drops the kept-alive connection when it has gone bad.
  void closeIfBad();

 private:
  CommandRun executeWeb(const queue::SMSMessage& msg, const std::string& command, bool reply,
                        const CommandValues& values);
  CommandRun executeMailto(const queue::SMSMessage& msg, const std::string& command,
                           const CommandValues& values);
  CommandRun executeProgram(const queue::SMSMessage& msg, const std::string& command, bool reply,
                            const CommandValues& values);

  TwoWayOptions options_;
  httpwire::KeepAliveSlot slot_;
};

// The values of a message's variables. `file_time` gives "@@MSGDATE@@" and
// "@@MSGTIME@@" (local time).
CommandValues commandValues(const queue::SMSMessage& msg, std::string_view file_name,
                            platform::SystemTime file_time, std::string_view receipt_message_id);

// The SMPP options of a reply: the message's source and destination
// sub-addresses swapped ("SMPPOption_source_subaddress" <->
// "SMPPOption_dest_subaddress") and each option named in `copy` (names
// separated by commas or semicolons, with or without the "SMPPOption_"
// prefix) copied, joined by "; ".
std::string replyOptions(std::string_view options, std::string_view copy);

// A web command with its variables replaced (URL-encoded) and the
// message's configured SMPP options appended.
std::string webCommandUrl(std::string_view command, const CommandValues& values,
                          std::string_view smpp_options);

// True when a Content-Type value names "text/plain" (parameters allowed);
// `*charset` receives its charset parameter, if any.
bool plainTextType(std::string_view content_type, std::string* charset);

// Bytes at or below the blank removed from the end.
std::string_view trimTrailingControls(std::string_view text);
// `text` with every byte sequence that is not UTF-8 read as Windows-1252
// and every NUL dropped: text safe to put into a message.
std::string wellFormedUtf8(std::string_view text);

}  // namespace vek::inbound
