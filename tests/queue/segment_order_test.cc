#include "queue/segment_order.h"

#include "platform/files.h"
#include "queue/queue_env.h"
#include "queue/queue_tree.h"

namespace vek::queue {
namespace {

using vek::testing::writeText;

class SegmentOrderTest : public QueueTestBase {
 protected:
  void SetUp() override {
    QueueTestBase::SetUp();
    // Hyphens in the prefix and in the address must not shift the fields.
    settings([](foundation::Settings& s) { s.MessageIDPrefix = "GW-1-"; });
    ASSERT_TRUE(platform::makeDirectories(root_ + "sub/").ok());
  }
  // Queues segment `n` of long message `id` for `address` in `dir`.
  std::string queue(const std::string& dir, std::string_view address, uint32_t id, unsigned total,
                    unsigned n) {
    std::string name = segmentFileName(address, id, total, n, "req");
    writeText(dir + name, "[SMS]\r\n");
    return name;
  }
};

TEST(SegmentFileNameTest, NamesParseFromTheRight) {
  struct Case {
    const char* name;
    bool ok;
    const char* key;
    uint32_t id;
    unsigned total, number;
    const char* ext;
  } cases[] = {
      {"SAR-GW-1-+1-555-1f-3-2.req", true, "SAR-GW-1-+1-555", 0x1f, 3, 2, "req"},
      {"SAR-a.b-1F-3-2", true, "SAR-a.b", 0x1f, 3, 2, ""},
      {"SAR--1-2-3.REQ", true, "SAR-", 1, 2, 3, "REQ"},
      {"_____x-10000-20-3.SAR", true, "_____x", 0x10000, 20, 3, "SAR"},
      {"00001A2B.req", false, "", 0, 0, 0, ""},
      {"SAR-x-zz-3-2.req", false, "", 0, 0, 0, ""},
      {"SAR-x-1f-3-.req", false, "", 0, 0, 0, ""},
      {"SAR-x-123456789-1-1.req", false, "", 0, 0, 0, ""},
      {"-1f-3-2.req", false, "", 0, 0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SegmentFileName seg;
    ASSERT_EQ(parseSegmentFileName(c.name, &seg), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(seg.key, c.key);
    EXPECT_EQ(seg.id, c.id);
    EXPECT_EQ(seg.total, c.total);
    EXPECT_EQ(seg.number, c.number);
    EXPECT_EQ(seg.extension, c.ext);
  }
  EXPECT_EQ(segmentLockFileName("sub/SAR-GW-1-+1-555-1f-3-2.req"), "sub/SAR-GW-1-+1-555-1f.LCK");
  EXPECT_EQ(segmentLockFileName("00001A2B.req"), "");
}

TEST_F(SegmentOrderTest, ALaterSegmentWaitsWhileALowerOneIsQueued) {
  const std::string dir = root_ + "sub/";
  const std::string s1 = queue(dir, "+1-555", 0x1f, 3, 1);
  const std::string s2 = queue(dir, "+1-555", 0x1f, 3, 2);
  const std::string s3 = queue(dir, "+1-555", 0x1f, 3, 3);
  // Siblings of other messages never hold these back.
  queue(dir, "+1-555", 0x20, 3, 1);
  queue(dir, "+1-555", 0x1f, 4, 1);
  queue(dir, "+1-556", 0x1f, 3, 1);
  queue(root_, "+1-555", 0x1f, 3, 1);  // another directory

  EXPECT_TRUE(MayProcessSegmentFile(dir, s1));
  EXPECT_FALSE(MayProcessSegmentFile(dir, s2));
  EXPECT_FALSE(MayProcessSegmentFile(root_, "sub/" + s3)) << "a path relative to the root";
  EXPECT_TRUE(MayProcessSegmentFile(dir, "00001A2B.req"));

  ASSERT_TRUE(platform::removeFile(dir + s1).ok());
  EXPECT_TRUE(MayProcessSegmentFile(dir, s2));
  EXPECT_FALSE(MayProcessSegmentFile(dir, s3));
  // A sibling written with the upper-case extension still counts.
  ASSERT_TRUE(platform::renamePath(dir + s2, dir + s2.substr(0, s2.size() - 3) + "REQ").ok());
  EXPECT_FALSE(MayProcessSegmentFile(dir, s3));
}

TEST_F(SegmentOrderTest, TheNextSegmentIsTheNextHigherOneThatExists) {
  const std::string dir = root_ + "sub/";
  const std::string s1 = queue(dir, "+1-555", 0x1f, 4, 1);
  queue(dir, "+1-555", 0x1f, 5, 2);  // another total: another message
  const std::string s3 = queue(dir, "+1-555", 0x1f, 4, 3);
  const std::string s4 = queue(dir, "+1-555", 0x1f, 4, 4);

  std::string name = "sub/" + s1;
  ASSERT_TRUE(CheckAdditionalLongMessageSegments(root_, &name));
  EXPECT_EQ(name, "sub/" + s3) << "segment 2 is gone: 3 comes next";
  ASSERT_TRUE(platform::removeFile(dir + s3).ok());
  ASSERT_TRUE(CheckAdditionalLongMessageSegments(root_, &name));
  EXPECT_EQ(name, "sub/" + s4);
  EXPECT_FALSE(CheckAdditionalLongMessageSegments(root_, &name)) << "the last one";
  EXPECT_EQ(name, "sub/" + s4);
}

}  // namespace
}  // namespace vek::queue
