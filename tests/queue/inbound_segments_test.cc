#include "queue/inbound_segments.h"

#include <filesystem>
#include <set>

#include "encoding/gsm_alphabet.h"
#include "encoding/septet_packing.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "queue/queue_env.h"
#include "queue/request_writer.h"

namespace vek::queue {
namespace {

using vek::testing::readText;
using vek::testing::writeText;

class InboundSegmentsTest : public QueueTestBase {
 protected:
  void SetUp() override {
    QueueTestBase::SetUp();
    in_ = dir_.path() + "SMS-IN/";
    options_.set_aside_directory = dir_.path() + "aside/";
    ASSERT_TRUE(platform::makeDirectories(in_).ok());
  }

  // Stores an inbound file with these keys; returns what the store did.
  SegmentStore store(const std::string& sender, const std::string& udh, const std::string& data,
                     bool binary = false, std::string* path = nullptr, bool two_way_copy = false) {
    RequestWriter w("[SMS-IN]");
    w.text("Sender", sender).text("PhoneNumber", "12345").textIfSet("UDH", udh).data(data);
    if (binary) w.text("Binary", "1");
    w.yes("DuplicateMessageFor2Way", two_way_copy);
    SMSMessage m;
    parseSMSMessage(w.str(), &m, noRoute);
    return StoreInboundSegment(in_, m, w.str(), usa_, path);
  }

  // The joined messages in the inbound directory.
  std::vector<SMSMessage> joined() {
    std::vector<SMSMessage> out;
    for (const platform::DirEntry& e : platform::listDirectory(in_, "*.in")) {
      out.emplace_back();
      parseSMSMessage(readText(in_ + e.name), &out.back(), noRoute);
    }
    return out;
  }

  RecombineResult recombineAt(std::chrono::seconds later) {
    platform::FakeClock clock(platform::clock().now() + later);
    platform::ScopedClock scoped(&clock);
    return RecombineSARMessages(in_, options_);
  }

  std::string in_;
  RecombineOptions options_;
  InboundSegmentOptions usa_;
};

TEST_F(InboundSegmentsTest, SegmentsArrivingOutOfOrderAreJoinedInNumberOrder) {
  ASSERT_EQ(store("+4479", "050003420202", "world"), SegmentStore::kStored);
  RecombineResult r = recombineAt(std::chrono::seconds(0));
  EXPECT_EQ(r.waiting, 1u);
  EXPECT_EQ(r.joined, 0u);
  ASSERT_EQ(store("+4479", "050003420201", "Hello "), SegmentStore::kStored);
  // Packed 7-bit segments of another message, with application ports.
  // The two-way copies of a message an account already got, with application ports.
  const std::string udh1 = "0B05040B8400000003070201", udh2 = "0B05040B8400000003070202";
  ASSERT_EQ(
      store("+4480", udh2, encoding::PackGSMSeptetsToHex(encoding::UTF8ToGSMString("[two]"), 12),
            true, nullptr, true),
      SegmentStore::kStored);
  ASSERT_EQ(
      store("+4480", udh1, encoding::PackGSMSeptetsToHex(encoding::UTF8ToGSMString("one@"), 12),
            true, nullptr, true),
      SegmentStore::kStored);

  r = recombineAt(std::chrono::seconds(0));
  EXPECT_EQ(r.joined, 2u);
  EXPECT_TRUE(platform::listDirectory(in_, "*.SAR").empty()) << "copies are deleted";
  std::vector<SMSMessage> out = joined();
  ASSERT_EQ(out.size(), 2u);
  if (out[0].Sender != "+4479") std::swap(out[0], out[1]);
  EXPECT_EQ(out[0].Data, "Hello world");
  EXPECT_TRUE(out[0].RecombineFlag);
  EXPECT_EQ(out[0].UDH, "") << "no ports: the header is dropped";
  EXPECT_EQ(out[0].PhoneNumber, "12345");
  EXPECT_FALSE(out[0].DuplicateMessageFor2Way);
  EXPECT_TRUE(out[1].DuplicateMessageFor2Way) << "a joined two-way copy is not routed again";
  EXPECT_EQ(out[1].Data, "one@[two]") << "packed septets turned into text";
  EXPECT_EQ(out[1].UDH, "0605040B840000");
  EXPECT_FALSE(out[1].Binary);
}

TEST_F(InboundSegmentsTest, AHostileSenderStaysInsideTheInboundDirectory) {
  const std::set<std::string> before = names(dir_.path());
  const std::string long_sender = std::string(60, 'n');
  for (const std::string& sender : {std::string("../../x"), std::string("a/b\\c:d\n-e"),
                                    std::string(".."), std::string(""), long_sender}) {
    SCOPED_TRACE(sender);
    std::string path;
    ASSERT_EQ(store(sender, "050003010101", "hi", false, &path), SegmentStore::kStored);
    EXPECT_EQ(platform::parentDirectory(path), in_);
    const std::string base = platform::baseName(path);
    EXPECT_NE(base[0], '.');
    EXPECT_EQ(base.find('/'), std::string::npos);
    EXPECT_EQ(base.find(".."), std::string::npos);
    EXPECT_LE(base.size(), 50u + std::string("-1-1-1.SAR").size());
  }
  EXPECT_EQ(names(dir_.path()), before) << "nothing written beside the inbound directory";
  EXPECT_EQ(names(in_).size(), 5u);
  EXPECT_EQ(recombineAt(std::chrono::seconds(0)).joined, 5u);
  for (const SMSMessage& m : joined()) EXPECT_EQ(m.Data, "hi");
}

TEST_F(InboundSegmentsTest, AnIncompleteSetIsFilledInAfterItsWait) {
  ASSERT_EQ(store("+1", "050003090301", "A"), SegmentStore::kStored);
  ASSERT_EQ(store("+1", "050003090303", "C"), SegmentStore::kStored);
  EXPECT_EQ(recombineAt(std::chrono::minutes(4)).waiting, 1u);
  EXPECT_TRUE(joined().empty());
  EXPECT_EQ(recombineAt(std::chrono::minutes(5) + std::chrono::seconds(5)).joined, 1u);
  ASSERT_EQ(joined().size(), 1u);
  EXPECT_EQ(joined()[0].Data, "AC");
  EXPECT_TRUE(platform::listDirectory(in_, "*.SAR").empty());
}

// USASegmentFix: 153-character texts without a usable header are numbered
// by arrival and joined a minute after they stop coming.
TEST_F(InboundSegmentsTest, USASegmentsAreNumberedAndJoinedAfterAMinute) {
  usa_.USASegmentFix = true;
  std::string all;
  for (char c : {'x', 'y', 'z'}) {
    const std::string text(153, c);
    std::string path;
    ASSERT_EQ(store("+1-212", "", text, false, &path), SegmentStore::kStored);
    EXPECT_EQ(platform::baseName(path),
              "+1_212-10000-20-" + std::to_string(all.size() / 153 + 1) + ".SAR");
    all += text;
  }
  EXPECT_EQ(store("+1-212", "", std::string(152, 'w')), SegmentStore::kNotASegment);
  EXPECT_EQ(recombineAt(std::chrono::seconds(30)).waiting, 1u);
  EXPECT_EQ(recombineAt(std::chrono::seconds(65)).joined, 1u);
  ASSERT_EQ(joined().size(), 1u);
  EXPECT_EQ(joined()[0].Data, all) << "segments 4-20 were filled in empty";
  EXPECT_TRUE(platform::listDirectory(in_, "*.SAR").empty());
}

TEST_F(InboundSegmentsTest, WhatCannotBeStoredOrJoinedIsNeverLost) {
  EXPECT_EQ(store("+1", "", "plain"), SegmentStore::kNotASegment);
  EXPECT_EQ(store("+1", "05000Z010101", "x"), SegmentStore::kBadHeader);
  // The inbound directory is gone: the copy fails, the caller keeps the file.
  const std::string real_in = in_;
  in_ = dir_.path() + "missing/";
  EXPECT_EQ(store("+1", "050003010201", "x"), SegmentStore::kFailed);
  in_ = real_in;

  for (const char* name : {"junk.SAR", "x-1-0-1.SAR", "x-1-2-3.SAR"}) writeText(in_ + name, "x");
  RecombineResult r = recombineAt(std::chrono::seconds(0));
  EXPECT_EQ(r.set_aside, 3u);
  EXPECT_EQ(names(options_.set_aside_directory),
            (std::set<std::string>{"junk.SMS", "x-1-0-1.SMS", "x-1-2-3.SMS"}));
}

}  // namespace
}  // namespace vek::queue
