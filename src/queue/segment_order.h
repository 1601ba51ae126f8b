// Segment file names and the order in which a link sender takes a long
// message's segments.
//
// A segment file is named "<key>-<id>-<total>-<number>.<ext>": the key
// ("SAR-" + MessageIDPrefix + address for outbound request files, the
// cleaned sender for inbound ".SAR" copies), the long message's id or
// reference in hexadecimal, the number of segments and this segment's
// number in decimal. Names are parsed from the right: the last three
// hyphen-separated fields are id, total and number, and everything before
// them is the key, so a hyphen in MessageIDPrefix or in an address never
// shifts the fields. The extension is the text after the last '.' when it
// holds no hyphen.
//
// Ordering rests only on which files exist in the segment's directory:
// a segment waits while a lower-numbered sibling (same key, id and total)
// is still there, and after one is handled the sender takes the next
// higher sibling that exists. Siblings are looked for under the
// segment's own extension and, when that differs, "req" and "REQ".
//
// Pure name functions plus stat calls; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vek::queue {

struct SegmentFileName {
  std::string key;
  uint32_t id = 0;
  unsigned total = 0;
  unsigned number = 0;
  std::string extension;  // without the dot, as written; may be empty

  // The same long message's segment `number`: "<key>-<id %x>-<total>-<n>.<ext>".
  std::string withNumber(unsigned number, std::string_view extension) const;
  std::string withNumber(unsigned number) const { return withNumber(number, extension); }
  // "<key>-<id %x>": the part every segment of the long message shares.
  std::string messagePrefix() const;
};

// Parses a base name; false unless it ends in three fields (at most eight
// hexadecimal digits, then decimal numbers of at most five digits) after
// a non-empty key. Total and number may be 0 here; callers decide.
bool parseSegmentFileName(std::string_view name, SegmentFileName* out);

// True when a base name begins with "SAR-" (any case).
bool isOutboundSegmentName(std::string_view name);

// The link sender, before it takes `file_name` (a name in `directory`, or
// a path relative to it): false only for an outbound segment with non-zero
// total and number while a lower-numbered sibling still exists there.
bool MayProcessSegmentFile(const std::string& directory, std::string_view file_name);

// The link sender, after it handled `*file_name`: the next higher sibling
// that exists replaces `*file_name` (keeping its directory part) and the
// result is true; otherwise false and the name is left alone.
bool CheckAdditionalLongMessageSegments(const std::string& directory, std::string* file_name);

// The lock file that ties a long message to one link:
// "<key>-<id %x>.LCK". Empty for a name that is not an outbound segment.
std::string segmentLockFileName(std::string_view file_name);

}  // namespace vek::queue
