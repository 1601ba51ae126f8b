#include "queue/segment_order.h"

#include <vector>

#include "encoding/hex_text.h"
#include "foundation/debug_log.h"
#include "platform/files.h"
#include "platform/strings.h"

namespace vek::queue {
namespace {

constexpr std::string_view kOutboundPrefix = "SAR-";
constexpr size_t kMaxIdDigits = 8;
constexpr size_t kMaxCountDigits = 5;
// Outbound totals and numbers are written modulo 256.
constexpr unsigned kMaxOutboundCount = 255;

// Cuts the field after the last hyphen off `*rest`.
bool takeLastField(std::string_view* rest, std::string_view* field) {
  const size_t hyphen = rest->rfind('-');
  if (hyphen == std::string_view::npos) return false;
  *field = rest->substr(hyphen + 1);
  *rest = rest->substr(0, hyphen);
  return true;
}

bool parseDecimal(std::string_view s, unsigned* value) {
  if (s.empty() || s.size() > kMaxCountDigits || !platform::isAllDigits(s)) return false;
  *value = static_cast<unsigned>(platform::parseLeadingInt(s));
  return true;
}

bool parseHex(std::string_view s, uint32_t* value) {
  if (s.empty() || s.size() > kMaxIdDigits) return false;
  uint32_t v = 0;
  for (char c : s) {
    const int d = encoding::hexDigitValue(c);
    if (d < 0) return false;
    v = v << 4 | static_cast<uint32_t>(d);
  }
  *value = v;
  return true;
}

// "sub/name" -> "sub/" and "name".
void splitDirectoryPart(std::string_view file_name, std::string_view* dir_part,
                        std::string_view* base) {
  const size_t slash = file_name.rfind('/');
  *dir_part = slash == std::string_view::npos ? std::string_view() : file_name.substr(0, slash + 1);
  *base = slash == std::string_view::npos ? file_name : file_name.substr(slash + 1);
}

// An outbound segment worth ordering: "SAR-" name with non-zero fields.
bool orderedSegment(std::string_view base, SegmentFileName* seg) {
  return isOutboundSegmentName(base) && parseSegmentFileName(base, seg) && seg->total != 0 &&
         seg->number != 0 && seg->total <= kMaxOutboundCount && seg->number <= kMaxOutboundCount;
}

// The extensions a sibling may carry: the segment's own, then the two
// spellings writers use.
std::vector<std::string> siblingExtensions(const SegmentFileName& seg) {
  std::vector<std::string> exts{seg.extension};
  for (const char* e : {"req", "REQ"}) {
    if (seg.extension != e) exts.emplace_back(e);
  }
  return exts;
}

// The existing name of sibling `number`, or "".
std::string existingSibling(const std::string& directory, const SegmentFileName& seg,
                            const std::vector<std::string>& exts, unsigned number) {
  for (const std::string& ext : exts) {
    std::string name = seg.withNumber(number, ext);
    if (platform::isRegularFile(directory + name)) return name;
  }
  return std::string();
}

}  // namespace

std::string SegmentFileName::withNumber(unsigned n, std::string_view ext) const {
  std::string name = messagePrefix() + platform::format("-%u-%u", total, n);
  if (!ext.empty()) {
    name += '.';
    name += ext;
  }
  return name;
}

std::string SegmentFileName::messagePrefix() const {
  return key + platform::format("-%x", id);
}

bool parseSegmentFileName(std::string_view name, SegmentFileName* out) {
  std::string_view stem = name;
  std::string_view ext;
  const size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && name.find('-', dot) == std::string_view::npos) {
    stem = name.substr(0, dot);
    ext = name.substr(dot + 1);
  }
  std::string_view number, total, id;
  if (!takeLastField(&stem, &number) || !takeLastField(&stem, &total) ||
      !takeLastField(&stem, &id) || stem.empty()) {
    return false;
  }
  SegmentFileName seg;
  if (!parseHex(id, &seg.id) || !parseDecimal(total, &seg.total) ||
      !parseDecimal(number, &seg.number)) {
    return false;
  }
  seg.key = std::string(stem);
  seg.extension = std::string(ext);
  *out = std::move(seg);
  return true;
}

bool isOutboundSegmentName(std::string_view name) {
  return platform::startsWithNoCase(name, kOutboundPrefix);
}

bool MayProcessSegmentFile(const std::string& directory_in, std::string_view file_name) {
  std::string_view dir_part, base;
  splitDirectoryPart(file_name, &dir_part, &base);
  SegmentFileName seg;
  if (!orderedSegment(base, &seg)) return true;
  const std::string directory = platform::withTrailingSlash(directory_in) + std::string(dir_part);
  const std::vector<std::string> exts = siblingExtensions(seg);
  for (unsigned n = 1; n < seg.number; ++n) {
    if (!existingSibling(directory, seg, exts, n).empty()) return false;
  }
  return true;
}

bool CheckAdditionalLongMessageSegments(const std::string& directory_in, std::string* file_name) {
  std::string_view dir_part, base;
  splitDirectoryPart(*file_name, &dir_part, &base);
  SegmentFileName seg;
  if (!orderedSegment(base, &seg)) return false;
  foundation::Debug2Logf("CheckAdditionalLongMessageSegments", "Debug:  segCount=%u, segNum=%u",
                         seg.total, seg.number);
  const std::string directory = platform::withTrailingSlash(directory_in) + std::string(dir_part);
  const std::vector<std::string> exts = siblingExtensions(seg);
  for (unsigned n = seg.number + 1; n <= seg.total; ++n) {
    std::string next = existingSibling(directory, seg, exts, n);
    if (next.empty()) continue;
    *file_name = std::string(dir_part) + next;
    foundation::DebugLog("CheckAdditionalLongMessageSegments", *file_name);
    return true;
  }
  return false;
}

std::string segmentLockFileName(std::string_view file_name) {
  std::string_view dir_part, base;
  splitDirectoryPart(file_name, &dir_part, &base);
  SegmentFileName seg;
  if (!isOutboundSegmentName(base) || !parseSegmentFileName(base, &seg)) return std::string();
  return std::string(dir_part) + seg.messagePrefix() + ".LCK";
}

}  // namespace vek::queue
