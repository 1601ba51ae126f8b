#include "queue/inbound_segments.h"

#include <chrono>
#include <map>
#include <mutex>
#include <tuple>
#include <vector>

#include "encoding/dcs.h"
#include "encoding/shift_tables.h"
#include "encoding/user_data_header.h"
#include "encoding/utf8.h"
#include "foundation/config_rules.h"
#include "foundation/debug_log.h"
#include "foundation/directories.h"
#include "foundation/settings.h"
#include "hostlib/host.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "queue/queue_tree.h"
#include "queue/request_writer.h"
#include "queue/segment_order.h"

namespace vek::queue {
namespace {

constexpr std::string_view kStoreTag = "StoreInboundSegment";
constexpr std::string_view kJoinTag = "RecombineSARMessages";
constexpr std::string_view kSegmentExtension = "SAR";
constexpr std::chrono::minutes kSegmentWait{5};
constexpr std::chrono::minutes kUSASegmentWait{1};
// Received totals are one octet.
constexpr unsigned kMaxInboundTotal = 255;

// Serialises the numbering of USASegmentFix texts (count, then store).
std::mutex& usaNumberingMutex() {
  static std::mutex mu;
  return mu;
}

bool replacedInSegmentSender(unsigned char c) {
  switch (c) {
    case '-':
    case '.':
    case '/':
    case '\\':
    case ':':
    case '*':
    case '?':
    case '|':
    case '<':
    case '>':
    case '"':
      return true;
    default:
      return c < 0x20 || c == 0x7F;
  }
}

size_t utf8Characters(std::string_view text) {
  size_t count = 0;
  for (size_t pos = 0; pos < text.size(); ++count) encoding::decodeUtf8Char(text, &pos);
  return count;
}

// The loader's route resolution reads the configuration; joining needs
// no route.
std::string noRoute(std::string_view) {
  return std::string();
}

SegmentStore storeCopy(const std::string& dir, const std::string& name, std::string_view text,
                       uint32_t reference, unsigned total, unsigned number,
                       std::string* stored_path) {
  foundation::DebugLogf(kStoreTag, "SAR Segment Reference = %X, Count = %u, Current = %u",
                        reference, total, number);
  const std::string path = dir + name;
  platform::Status st =
      platform::writeFileAtomic(path, text, foundation::settings()->SyncQueueWrites);
  if (!st.ok()) {
    foundation::DebugLogf(kStoreTag, "Error %d storing %s: %s", st.code(), path.c_str(),
                          st.message().c_str());
    return SegmentStore::kFailed;
  }
  if (stored_path != nullptr) *stored_path = path;
  return SegmentStore::kStored;
}

// ---- joining ----

struct SetKey {
  std::string sender;
  uint32_t reference;
  unsigned total;
  bool operator<(const SetKey& o) const {
    return std::tie(sender, reference, total) < std::tie(o.sender, o.reference, o.total);
  }
};
using SegmentSet = std::map<unsigned, std::string>;  // number -> file name

void setAside(const std::string& dir, const std::string& name, const std::string& target_dir) {
  const size_t dot = name.rfind('.');
  const std::string target = platform::withTrailingSlash(target_dir) + name.substr(0, dot) + ".SMS";
  const std::string from = dir + name;
  if (platform::renamePath(from, target).ok()) return;
  // Another file system: copy, then remove.
  auto text = platform::readFile(from);
  if (text.ok() && platform::writeFileAtomic(target, *text).ok()) {
    (void)platform::removeFile(from);
    return;
  }
  foundation::DebugLogf(kJoinTag, "Unable to set aside %s", from.c_str());
}

// True when the set waited long enough: one of its copies was last written
// more than the wait ago.
bool stopWaiting(const std::string& dir, const SetKey& key, const SegmentSet& set) {
  const auto wait = key.reference == kUSASegmentReference
                        ? std::chrono::duration_cast<std::chrono::seconds>(kUSASegmentWait)
                        : std::chrono::duration_cast<std::chrono::seconds>(kSegmentWait);
  const platform::SystemTime now = platform::clock().now();
  for (const auto& [number, name] : set) {
    auto info = platform::statPath(dir + name);
    if (info && now - info->modified > wait) return true;
  }
  return false;
}

// Creates the missing segments empty; false when one cannot be made.
bool fillMissing(const std::string& dir, const SetKey& key, SegmentSet* set) {
  for (unsigned n = 1; n <= key.total; ++n) {
    if (set->count(n) != 0) continue;
    const std::string name = inboundSegmentName(key.sender, key.reference, key.total, n);
    if (!platform::writeFileAtomic(dir + name, "").ok()) return false;
    foundation::DebugLogf(kJoinTag, "Stopped waiting for %s", name.c_str());
    (*set)[n] = name;
  }
  return true;
}

std::string joinedText(const std::vector<SMSMessage>& segments, const SMSMessage& t) {
  RequestWriter w("[SMS-IN]");
  w.text("Sender", t.Sender);
  w.textIfSet("PhoneNumber", t.PhoneNumber);
  w.textIfSet("ModemName", t.ModemName);
  const encoding::InboundHeader header = encoding::parseInboundHeader(t.UDH);
  if (header.has_destination_port) {
    w.text("UDH", encoding::applicationPortHeader(header.destination_port, header.source_port));
  }
  if (t.pid != 0) w.hex("pid", t.pid);
  if (t.dcs != 0) w.hex("dcs", t.dcs);
  const bool seven_bit = encoding::DCSIsGSM7Bit(t.dcs);
  if (!seven_bit) w.text("Binary", t.Binary ? "1" : "0");
  w.yes("RecombineFlag");
  // The two-way copy of a message an account already got stays a copy once
  // joined: routed again, the account would get the message a second time.
  w.yes("DuplicateMessageFor2Way", t.DuplicateMessageFor2Way);
  w.textIfSet("ReceivedSMSC", t.ReceivedSMSC);
  w.textIfSet("ServiceType", t.ServiceType);
  w.textIfSet("SMPPOptions", t.SMPPOptions);
  w.yes("ReceiptRequested", (t.MessageFlags & kFlagReceiptRequested) != 0);
  w.yes("NonDelReceiptRequested", (t.MessageFlags & kFlagNonDelReceiptRequested) != 0);
  if ((t.MessageFlags & kFlagIsReceipt) != 0) {
    if ((t.MessageFlags & kFlagReceiptInTransit) != 0) {
      w.yes("ReceiptIntransit");
    } else if ((t.MessageFlags & kFlagReceiptFailed) != 0) {
      w.yes("ReceiptFailed");
    } else if ((t.MessageFlags & kFlagReceiptDelivered) != 0) {
      w.yes("ReceiptDelivered");
    }
    w.textIfSet("ReceiptMessageId", t.ReceiptMessageId);
  }
  std::string data;
  for (const SMSMessage& s : segments) {
    // A segment whose text a link already converted is UTF-8 as it stands.
    data += seven_bit && s.Binary ? encoding::GSM7ToUTF8String(s.UDH, s.Data) : s.Data;
  }
  w.data(data);
  return w.str();
}

// Joins a complete set. False leaves it for the next scan.
bool joinSet(const std::string& dir, const SetKey& key, const SegmentSet& set, unsigned* joined) {
  std::vector<SMSMessage> segments(key.total);
  int first_valid = 0;
  for (unsigned n = 1; n <= key.total; ++n) {
    auto text = platform::readFile(dir + set.at(n));
    if (!text.ok()) {
      foundation::DebugLogf(kJoinTag, "Unable to read %s: %s", set.at(n).c_str(),
                            text.status().message().c_str());
      return false;
    }
    if (text->empty()) continue;
    parseSMSMessage(*text, &segments[n - 1], noRoute);
    if (first_valid == 0) first_valid = static_cast<int>(n);
  }
  if (first_valid != 0) {
    auto path = CreateQueueFile(dir, "in", joinedText(segments, segments[first_valid - 1]));
    if (!path.ok()) {
      foundation::DebugLogf(kJoinTag, "Unable to create the joined message in %s: %s", dir.c_str(),
                            path.status().message().c_str());
      return false;
    }
    foundation::DebugLogf(kJoinTag, "Created %s", path->c_str());
    foundation::DebugLogf(kJoinTag, "First valid segment is %d", first_valid);
    ++*joined;
  } else {
    foundation::DebugLogf(kJoinTag, "No segment of %s-%x holds a message", key.sender.c_str(),
                          key.reference);
  }
  for (const auto& [number, name] : set) (void)platform::removeFile(dir + name);
  return true;
}

}  // namespace

std::string inboundSegmentSender(std::string_view sender) {
  std::string out;
  out.reserve(std::min(sender.size(), kMaxSegmentSenderName));
  for (size_t pos = 0; pos < sender.size();) {
    const size_t start = pos;
    encoding::decodeUtf8Char(sender, &pos);
    if (out.size() + (pos - start) > kMaxSegmentSenderName) break;
    for (size_t i = start; i < pos; ++i) {
      const unsigned char c = static_cast<unsigned char>(sender[i]);
      out.push_back(replacedInSegmentSender(c) ? '_' : static_cast<char>(c));
    }
  }
  if (out.empty()) out.assign(1, '_');
  return out;
}

std::string inboundSegmentName(std::string_view sender, uint32_t reference, unsigned total,
                               unsigned number) {
  return inboundSegmentSender(sender) + platform::format("-%x-%u-%u.%s", reference, total, number,
                                                         std::string(kSegmentExtension).c_str());
}

InboundSegmentOptions InboundSegmentOptions::fromConfig() {
  InboundSegmentOptions o;
  o.USASegmentFix =
      foundation::yesNo(hostlib::SMSIniGetProfileString("SMSGW", "USASegmentFix", "No", 16));
  return o;
}

SegmentStore StoreInboundSegment(const std::string& inbound_dir, const SMSMessage& msg,
                                 std::string_view file_text, const InboundSegmentOptions& options,
                                 std::string* stored_path) {
  const std::string dir = platform::withTrailingSlash(inbound_dir);
  const encoding::InboundHeader header = encoding::parseInboundHeader(msg.UDH);
  if (!header.valid) return SegmentStore::kBadHeader;

  if (options.USASegmentFix && !msg.Binary && !msg.RecombineFlag &&
      utf8Characters(msg.Data) == kUSASegmentLength) {
    std::scoped_lock lk(usaNumberingMutex());
    unsigned number = 1;
    while (number <= kUSASegmentTotal &&
           platform::pathExists(dir + inboundSegmentName(msg.Sender, kUSASegmentReference,
                                                         kUSASegmentTotal, number))) {
      ++number;
    }
    // All twenty are waiting: the set is joined at the next scan, and this
    // text goes on as an ordinary message.
    if (number > kUSASegmentTotal) return SegmentStore::kNotASegment;
    return storeCopy(dir,
                     inboundSegmentName(msg.Sender, kUSASegmentReference, kUSASegmentTotal, number),
                     file_text, kUSASegmentReference, kUSASegmentTotal, number, stored_path);
  }
  if (!header.segment) return SegmentStore::kNotASegment;
  return storeCopy(dir,
                   inboundSegmentName(msg.Sender, header.reference, header.total, header.number),
                   file_text, header.reference, header.total, header.number, stored_path);
}

RecombineResult RecombineSARMessages(const std::string& inbound_dir,
                                     const RecombineOptions& options) {
  const std::string dir = platform::withTrailingSlash(inbound_dir);
  RecombineResult result;
  std::map<SetKey, SegmentSet> sets;
  std::string set_aside_dir;
  for (const platform::DirEntry& e : platform::listDirectory(dir, "*.SAR")) {
    SegmentFileName seg;
    if (parseSegmentFileName(e.name, &seg) && seg.total != 0 && seg.number != 0 &&
        seg.number <= seg.total && seg.total <= kMaxInboundTotal) {
      sets[SetKey{seg.key, seg.id, seg.total}].emplace(seg.number, e.name);
      continue;
    }
    if (set_aside_dir.empty()) {
      set_aside_dir = options.set_aside_directory.empty() ? foundation::setAsideDirectory()
                                                          : options.set_aside_directory;
      (void)platform::makeDirectories(set_aside_dir);
    }
    setAside(dir, e.name, set_aside_dir);
    ++result.set_aside;
  }

  for (auto& [key, set] : sets) {
    if (set.size() < key.total) {
      if (!stopWaiting(dir, key, set) || !fillMissing(dir, key, &set)) {
        ++result.waiting;
        continue;
      }
    }
    if (!joinSet(dir, key, set, &result.joined)) ++result.waiting;
  }
  return result;
}

}  // namespace vek::queue
