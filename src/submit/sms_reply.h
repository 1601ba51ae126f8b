// BuildSMSReply: queues the automatic reply to a received message (the
// answer of a two-way command) as one request file, or as the segments of
// a long message.
//
// The text is folded and tested as every submission path does
// (encodeSMSText): 7-bit text over MaxSMSSegmentLengthText septets, or
// UCS-2 text over half of MaxSMSSegmentLengthBinary characters, is split
// (long_message.h) unless SendLongMessagesAsIs is on; one concatenation
// reference is drawn per long message and one unique id names its files.
// Each file holds, in this order:
//
//   [SMS]
//   SubmittedBy=Auto-response to <recipient>
//   SubmitUser=localsystem-2way
//   Sender=<sender>              only when given
//   PhoneNumber=<recipient>
//   Data=<content>
//   UDH=<header>                 segments
//   pid=00
//   dcs=<%02X>                   08 UCS-2, LongTextDCS on 7-bit segments, 00 plain text
//   Binary=1                     segments and unsplit UCS-2
//   SMSCRoute=<route>            when given or named by the report
//   SMPPOptions=<options>        when given
//
// An unsplit 7-bit reply is written whole as plain text; an unsplit UCS-2
// reply carries at most half of MaxSMSSegmentLengthBinary characters (a
// surrogate pair is never cut). An unsplit reply gets a single-message name
// (CreateQueueFile); segments get "SAR-" names for the recipient and are
// published as one set (segment_set.h): all of them, in one directory, or
// none.
//
// The reply is a submit::Message encoded by content.h (no shift tables,
// up to 255 segments) and written in FileLayout::kReply.
//
// Thread-safe: the counters have their own locks; files are published
// whole.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "queue/request_file.h"

namespace vek::submit {

struct SMSReply {
  std::string recipient;  // who gets the reply
  std::string sender;     // may be empty
  std::string text;       // UTF-8
  std::string route;      // may be empty
  std::string smpp_options;
  // The outbound queue root; empty: the configured one (QDir). The files
  // go to the route's queue directory below it (GetQueueDirectory).
  std::string queue_root;
  // The accounting report ("SMSSend" of user "localsystem-2way"), called
  // for each file before anything is published, with the file's record and
  // the route in force. It may name a route when none is set; the first
  // route named applies to every file of the reply (and chooses the
  // directory), so a long reply never spreads over two directories.
  std::function<void(const queue::SMSMessage& file, std::string* route)> report;
};

// -1 when the reply could not be queued: the unsplit reply's file, or any
// segment of a long reply (then none of them is queued). Otherwise the
// number of files written.
int BuildSMSReply(const SMSReply& reply);
int BuildSMSReply(std::string_view recipient, std::string_view sender, std::string_view text,
                  std::string_view route, std::string_view smpp_options);

}  // namespace vek::submit
