// Inbound segments: the parts of a long message that arrived one by one,
// kept as ".SAR" copies in the inbound directory until their set is
// complete, then joined into one inbound file.
//
// Storing (the first-stage inbound threads, for each inbound file): a
// message whose header carries concatenation information (or, with
// USASegmentFix, a plain text of exactly 153 characters) is a segment. Its
// whole file is copied to "<sender>-<reference %x>-<total>-<number>.SAR",
// replacing an older copy, atomically; only when that copy is stored does
// the inbound file count as processed (the caller deletes it then, and
// keeps it for a later pass otherwise). The sender part of the name is
// cleaned as a file name must be: hyphens and every '.', '/', '\', ':',
// '*', '?', '|', '<', '>', '"' and control character become '_', it is cut
// to 50 characters (never inside a UTF-8 character) and an empty sender
// becomes "_", so no sender can climb out of the inbound directory, hide a
// copy behind a leading dot or shift the name's fields.
//
// USASegmentFix (networks that deliver the segments of a long text
// without their header): the text is taken as segment n of 20 under the
// reference 0x10000 (beyond any real 16-bit reference), n being one more
// than the count of copies 1, 2, ... that this sender already has; the
// numbering is serialised so that two such texts stored at once never get
// the same number.
//
// Joining (RecombineSARMessages, after each scan of the inbound thread
// that joins): copies are grouped by sender, reference and total. A set
// with every segment is joined in number order, whatever order they
// arrived in. A set still missing segments is given up on when one of its
// copies was last written more than 5 minutes ago (1 minute for the
// reference 0x10000): the missing segments are created empty ("Stopped
// waiting for %s") and the set is joined with what it has. The joined
// message is a new "in" file (CreateQueueFile) built from the first
// non-empty segment's keys (a two-way copy's
// "DuplicateMessageFor2Way=Yes" among them), its header reduced to the
// application ports (or dropped), "RecombineFlag=Yes" and the data of segments 1 to total in
// order; 7-bit segments that carry packed septets (Binary) are turned into
// UTF-8 with their own header. Only after the joined file is published are
// the copies deleted; a set that cannot be read or published stays for the
// next scan. A copy whose name does not parse (or whose number is 0 or
// above its total) can never be joined: it is moved to the set-aside
// directory with the extension ".SMS".
//
// One thread joins; any number of threads store. Functions are
// thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "queue/request_file.h"

namespace vek::queue {

inline constexpr uint32_t kUSASegmentReference = 0x10000;
inline constexpr unsigned kUSASegmentTotal = 20;
inline constexpr size_t kUSASegmentLength = 153;
inline constexpr size_t kMaxSegmentSenderName = 50;

// The sender part of an inbound segment's name (cleaning above).
std::string inboundSegmentSender(std::string_view sender);
// "<sender>-<reference %x>-<total>-<number>.SAR".
std::string inboundSegmentName(std::string_view sender, uint32_t reference, unsigned total,
                               unsigned number);

struct InboundSegmentOptions {
  bool USASegmentFix = false;
  // From section SMSGW of the configuration (read at the point of use).
  static InboundSegmentOptions fromConfig();
};

enum class SegmentStore {
  kNotASegment,  // go on with the message
  kStored,       // the copy is safe: the inbound file is processed
  kFailed,       // the copy could not be written: keep the inbound file
  kBadHeader,    // the header is not hexadecimal or longer than 399 octets
};

// Stores `msg` (loaded from `file_text`, the inbound file's whole text)
// when it is a segment. `inbound_dir` is the inbound directory; the copy's
// path goes to `*stored_path` when given.
SegmentStore StoreInboundSegment(const std::string& inbound_dir, const SMSMessage& msg,
                                 std::string_view file_text, const InboundSegmentOptions& options,
                                 std::string* stored_path = nullptr);

struct RecombineOptions {
  // Where copies that can never be joined go; empty: the dated set-aside
  // directory of the inbound directory layout.
  std::string set_aside_directory;
};

struct RecombineResult {
  unsigned joined = 0;     // inbound files created (the received-messages count grows by this)
  unsigned waiting = 0;    // sets left for a later scan
  unsigned set_aside = 0;  // copies moved away
};

RecombineResult RecombineSARMessages(const std::string& inbound_dir,
                                     const RecombineOptions& options = {});

}  // namespace vek::queue
