#include "submit/sms_reply.h"

#include <vector>

#include "encoding/long_message.h"
#include "foundation/debug_log.h"
#include "queue/naming_counters.h"
#include "queue/queue_tree.h"
#include "queue/segment_set.h"
#include "queue/unique_id.h"
#include "submit/content.h"
#include "submit/request_file.h"

namespace vek::submit {
namespace {

constexpr const char* kTag = "BuildSMSReply";
constexpr std::string_view kReplyUser = "localsystem-2way";

Message replyMessage(const SMSReply& reply) {
  Message m;
  m.submitted_by = "Auto-response to " + reply.recipient;
  m.submit_user = std::string(kReplyUser);
  m.sender = reply.sender;
  m.recipients = {reply.recipient};
  m.content.text = reply.text;
  m.route = reply.route;
  m.smpp_options = reply.smpp_options;
  return m;
}

// The record the accounting report sees for one file.
queue::SMSMessage fileRecord(const Message& m, const Part& part) {
  queue::SMSMessage r;
  r.SubmittedBy = m.submitted_by;
  r.SubmitUser = m.submit_user;
  r.Sender = m.sender;
  r.PhoneNumber = m.recipients.front();
  r.SMPPOptions = m.smpp_options;
  r.SMSCRoute = m.route;
  r.Data = part.data;
  r.UDH = part.udh;
  r.dcs = part.dcs;
  r.Binary = part.binary;
  return r;
}

}  // namespace

int BuildSMSReply(const SMSReply& reply) {
  Message m = replyMessage(reply);
  EncodeOptions options;
  options.split = encoding::splitOptionsFromSettings();
  options.max_segments = encoding::kMaxSegments;
  options.cut_unsplit_ucs2 = true;
  options.log_tag = kTag;
  auto content = encodeMessage(m, options, [] { return uint16_t{queue::NextConcatReference()}; });
  if (!content.ok()) {
    foundation::DebugLog(kTag, content.error().text);
    return -1;
  }
  if (content->ucs2) foundation::DebugLog(kTag, reply.text);

  // The first route the report names applies to every file of the reply.
  if (reply.report) {
    for (const Part& part : content->parts) {
      std::string named = m.route;
      reply.report(fileRecord(m, part), &named);
      if (m.route.empty() && !named.empty()) m.route = named;
    }
  }
  const std::string directory = reply.queue_root.empty()
                                    ? queue::GetQueueDirectory(m.route)
                                    : queue::QueueDirectoryIn(reply.queue_root, m.route);
  const std::vector<Part>& parts = content->parts;
  if (parts.size() == 1) {
    auto path = queue::CreateQueueFile(
        directory, "req",
        requestFileText(m, parts.front(), m.route, reply.recipient, FileLayout::kReply));
    if (!path.ok()) {
      foundation::DebugLogf(kTag, "Unable to create reply file in %s: %s", directory.c_str(),
                            path.status().message().c_str());
      return -1;
    }
    return 1;
  }
  const uint32_t id = queue::NextUniqueMessageId();
  const unsigned total = static_cast<unsigned>(parts.size());
  std::vector<queue::SegmentFileText> set;
  set.reserve(parts.size());
  for (unsigned i = 0; i < total; ++i) {
    set.push_back({queue::segmentFileName(reply.recipient, id, total, i + 1, "req"),
                   requestFileText(m, parts[i], m.route, reply.recipient, FileLayout::kReply)});
  }
  auto paths = queue::PublishSegmentSet(directory, set);
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

}  // namespace vek::submit
