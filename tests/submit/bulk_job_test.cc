#include "submit/bulk_job.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "hostlib/host.h"
#include "queue/unique_id.h"
#include "support/test_support.h"

namespace vek::submit {
namespace {

namespace fs = std::filesystem;

TEST(BulkJobTest, ABulkJobIsVisibleWholeOrNotAtAll) {
  vek::testing::TempDir dir;
  ASSERT_TRUE(hostlib::setDataDirectory(dir.path()).ok());
  // The stored id 0x100 makes the next id 0x100 + 1000: the job's name.
  vek::testing::writeText(dir.file("UID.DAT"), std::string("\x00\x01\x00\x00", 4));
  queue::resetUniqueMessageIdsForTesting(dir.file("UID.DAT"));
  Message m;
  m.recipients = {"1", "2", "3"};
  EncodedMessage content;
  content.parts.push_back(Part{"hi", "", 0, false});
  BulkJobPlan plan;
  plan.directory = dir.file("bulk/");
  plan.recipients_per_block = 2;
  // The second recipient list cannot be published.
  fs::create_directories(plan.directory + ".000004E8/R0000002.BLK/x");
  EXPECT_FALSE(writeBulkJob(m, content, plan).ok());
  for (const auto& e : fs::directory_iterator(plan.directory))
    EXPECT_EQ(e.path().filename().string().front(), '.') << e.path();
  EXPECT_FALSE(fs::exists(plan.directory + ".000004E8/R0000001.BLK"));

  platform::CalendarTime at;
  at.year = 2099;
  at.month = at.day = at.hour = at.minute = 1;
  m.delay_until = at;
  auto files = writeBulkJob(m, content, plan);
  ASSERT_TRUE(files.ok()) << files.status().message();
  EXPECT_EQ(files->size(), 3u);
  for (const QueuedFile& f : *files) EXPECT_TRUE(f.delayed && f.bulk);
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(plan.directory))
    if (e.path().filename().string().front() != '.') names.push_back(e.path().filename().string());
  ASSERT_EQ(names.size(), 1u);
  EXPECT_TRUE(fs::exists(plan.directory + names[0] + "/QDelay-209901010101.FLG"));
  EXPECT_TRUE(fs::exists(plan.directory + names[0] + "/R0000002.BLK"));
  EXPECT_FALSE(fs::exists(plan.directory + names[0] + "/BUILD.LCK"));
}

}  // namespace
}  // namespace vek::submit
