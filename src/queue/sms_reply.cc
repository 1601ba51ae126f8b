#include "queue/sms_reply.h"

#include <vector>

#include "encoding/long_message.h"
#include "foundation/debug_log.h"
#include "platform/strings.h"
#include "queue/naming_counters.h"
#include "queue/queue_tree.h"
#include "queue/request_writer.h"
#include "queue/segment_set.h"
#include "queue/unique_id.h"

namespace vek::queue {
namespace {

constexpr std::string_view kTag = "BuildSMSReply";
constexpr std::string_view kReplyUser = "localsystem-2way";
constexpr uint8_t kUcs2Dcs = 0x08;

std::string ucs2Hex(std::u16string_view units) {
  std::string hex;
  hex.reserve(4 * units.size());
  for (char16_t u : units) hex += platform::format("%04X", static_cast<unsigned>(u));
  return hex;
}

// An unsplit UCS-2 reply: at most `max` units, a surrogate pair kept whole.
std::u16string_view cutUnits(std::u16string_view units, size_t max) {
  if (units.size() <= max) return units;
  size_t end = max;
  if (end > 0 && units[end - 1] >= 0xD800 && units[end - 1] <= 0xDBFF) --end;
  return units.substr(0, end);
}

// The records of the reply's files; false when the text cannot be split.
bool replyRecords(const SMSReply& reply, const encoding::SplitOptions& options,
                  std::vector<SMSMessage>* files, bool* split) {
  const encoding::SMSText text = encoding::encodeSMSText(reply.text);
  if (text.ucs2) {
    foundation::DebugLog(kTag, "SMS message must be submitted with Unicode");
    foundation::DebugLog(kTag, text.utf8);
  }
  SMSMessage base;
  base.SubmittedBy = "Auto-response to " + reply.recipient;
  base.SubmitUser = std::string(kReplyUser);
  base.Sender = reply.sender;
  base.PhoneNumber = reply.recipient;
  base.SMPPOptions = reply.smpp_options;

  *split = encoding::needsSplitting(text, options);
  if (!*split) {
    SMSMessage m = base;
    if (text.ucs2) {
      m.Data = ucs2Hex(cutUnits(text.units, options.binaryLimit() / 2));
      m.dcs = kUcs2Dcs;
      m.Binary = true;
    } else {
      m.Data = text.utf8;
    }
    files->push_back(std::move(m));
    return true;
  }
  auto parts = encoding::splitText(text, NextConcatReference(), options);
  if (!parts.ok()) {
    foundation::DebugLog(kTag, parts.status().message());
    return false;
  }
  if (parts->dropped != 0) {
    foundation::DebugLogf(kTag, "Reply cut to %zu segments, %zu characters left out",
                          parts->segments.size(), parts->dropped);
  }
  for (encoding::Segment& s : parts->segments) {
    SMSMessage m = base;
    m.Data = std::move(s.data);
    m.UDH = std::move(s.udh);
    m.dcs = text.ucs2 ? kUcs2Dcs : options.LongTextDCS;
    m.Binary = true;
    files->push_back(std::move(m));
  }
  return true;
}

}  // namespace

std::string formatReplyFile(const SMSMessage& m) {
  RequestWriter w("[SMS]");
  w.text("SubmittedBy", m.SubmittedBy);
  w.text("SubmitUser", m.SubmitUser);
  w.textIfSet("Sender", m.Sender);
  w.text("PhoneNumber", m.PhoneNumber);
  w.data(m.Data);
  w.textIfSet("UDH", m.UDH);
  w.hex2("pid", m.pid);
  w.hex2("dcs", m.dcs);
  if (m.Binary) w.text("Binary", "1");
  w.textIfSet("SMSCRoute", m.SMSCRoute);
  w.textIfSet("SMPPOptions", m.SMPPOptions);
  return w.str();
}

int BuildSMSReply(const SMSReply& reply) {
  const encoding::SplitOptions options = encoding::splitOptionsFromSettings();
  std::vector<SMSMessage> files;
  bool split = false;
  if (!replyRecords(reply, options, &files, &split)) return -1;

  std::string route = reply.route;
  for (SMSMessage& m : files) {
    m.SMSCRoute = route;
    if (!reply.report) continue;
    std::string named = route;
    reply.report(m, &named);
    if (route.empty() && !named.empty()) route = named;
  }
  for (SMSMessage& m : files) m.SMSCRoute = route;
  const std::string directory = reply.queue_root.empty()
                                    ? GetQueueDirectory(route)
                                    : QueueDirectoryIn(reply.queue_root, route);

  if (!split) {
    auto path = CreateQueueFile(directory, "req", formatReplyFile(files.front()));
    if (!path.ok()) {
      foundation::DebugLogf(kTag, "Unable to create reply file in %s: %s", directory.c_str(),
                            path.status().message().c_str());
      return -1;
    }
    return 1;
  }
  const uint32_t id = NextUniqueMessageId();
  const unsigned total = static_cast<unsigned>(files.size());
  std::vector<SegmentFileText> set;
  set.reserve(files.size());
  for (unsigned i = 0; i < total; ++i) {
    set.push_back(
        {segmentFileName(reply.recipient, id, total, i + 1, "req"), formatReplyFile(files[i])});
  }
  auto paths = PublishSegmentSet(directory, set);
  if (!paths.ok()) {
    foundation::DebugLogf(kTag, "Unable to queue the %u segments of a reply in %s: %s", total,
                          directory.c_str(), paths.status().message().c_str());
    return -1;
  }
  return static_cast<int>(total);
}

int BuildSMSReply(std::string_view recipient, std::string_view sender, std::string_view text,
                  std::string_view route, std::string_view smpp_options) {
  SMSReply reply;
  reply.recipient = std::string(recipient);
  reply.sender = std::string(sender);
  reply.text = std::string(text);
  reply.route = std::string(route);
  reply.smpp_options = std::string(smpp_options);
  return BuildSMSReply(reply);
}

}  // namespace vek::queue
