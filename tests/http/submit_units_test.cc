#include <gtest/gtest.h>

#include <filesystem>

#include "foundation/settings.h"
#include "hostlib/accounts.h"
#include "hostlib/host.h"
#include "http/bulk_job.h"
#include "http/form_data.h"
#include "http/menu_pages.h"
#include "http/request_text.h"
#include "http/web_auth.h"
#include "platform/clock.h"
#include "queue/unique_id.h"
#include "support/test_support.h"

namespace vek::http {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(SubmitUnitsTest, AccountCopiesAreReadAgainAfter59Seconds) {
  vek::testing::TempDir dir;
  ASSERT_TRUE(hostlib::openAccountStore(dir.file("USERS.DB")).ok());
  hostlib::Account a;
  a.name = "carol";
  a.password = "one";
  ASSERT_TRUE(hostlib::accountStore()->add(a).ok());
  platform::FakeClock clock(platform::fromUnix(1800000000));
  platform::ScopedClock scoped(&clock);
  AccountCache cache;
  EXPECT_EQ(cache.find("CAROL")->password, "one");
  ASSERT_TRUE(hostlib::accountStore()->update("carol", {{"password", "two"}}).ok());
  clock.advance(59s);
  EXPECT_EQ(cache.find("carol")->password, "one");  // still the cached copy
  clock.advance(1s);
  EXPECT_EQ(cache.find("carol")->password, "two");
  ASSERT_TRUE(hostlib::accountStore()->remove("carol").ok());
  clock.advance(60s);
  EXPECT_FALSE(cache.find("carol").has_value());
}

TEST(SubmitUnitsTest, SenderListsForceTheFirstEntry) {
  hostlib::Account a;
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"", "Any", "Any"},
      {"Shop, Other", "other", "other"},
      {"Shop, Other", "Evil", "Shop"},
      {" ,Other", "Evil", "Evil"},  // an empty first entry forces nothing
  };
  for (auto [list, requested, want] : cases) {
    a.senders = list;
    EXPECT_EQ(allowedSender(a, requested), want) << list << " / " << requested;
  }
}

TEST(SubmitUnitsTest, MenuBlocksFollowTheAccount) {
  const std::string page =
      "<!@@StartBlockTextSMS@@>t<!@@EndBlockTextSMS@@>"
      "<!@@StartBlockMMS@@>m<!@@EndBlockMMS@@><!@@StartBlockWAPMM@@>w<!@@EndBlockWAPMM@@>"
      "<!@@StartBlockAdvanced@@>a<!@@EndBlockAdvanced@@><!@@StartBlockAdmin@@>A<!@@EndBlockAdmin@@>"
      "<!@@StartBlockEnableInbox@@>i<!@@EndBlockEnableInbox@@>"
      "<!@@StartBlockAvailableCredits@@>c=@@AvailableCredits@@<!@@EndBlockAvailableCredits@@>"
      "<!@@StartBlockAdvanced@@>a2<!@@EndBlockAdvanced@@>";
  struct Case {
    MenuBlockState state;
    const char* want;
  };
  MenuBlockState admin;
  admin.web_menu = 177;
  admin.admin = true;
  admin.inbox = true;
  admin.credits = "1.5";
  const Case cases[] = {
      {MenuBlockState{}, "tmwaa2"},
      {MenuBlockState{176, false, false, std::nullopt}, "tmwaa2"},
      {MenuBlockState{177, false, false, std::nullopt}, "t"},
      {MenuBlockState{178, false, false, std::nullopt}, "tm"},
      {MenuBlockState{179, false, false, std::nullopt}, "tw"},
      {MenuBlockState{180, false, false, std::nullopt}, "tmw"},
      {admin, "tAic=1.5"},
  };
  for (const Case& c : cases) EXPECT_EQ(applyMenuBlocks(page, c.state), c.want) << c.state.web_menu;
  EXPECT_EQ(applyMenuBlocks("x<!@@StartBlockAdmin@@>never closed", MenuBlockState{}), "x");
}

TEST(SubmitUnitsTest, MenuPathsStayBelowTheirFolder) {
  const std::pair<const char*, const char*> cases[] = {
      {"/", ""},
      {"/a/b.htm", "a/b.htm"},
      {"/../../etc/passwd", "etc/passwd"},
      {"/%2e%2e/%2E%2E/x", "x"},
      {"/....//x", nullptr},
      {"/a\\..\\b", "a/b"},
      {"/.hidden", nullptr},
      {"/a%00b", nullptr},
  };
  for (auto [path, want] : cases) {
    auto got = menuRelativePath(path);
    if (want == nullptr) {
      EXPECT_FALSE(got.has_value()) << path;
    } else {
      ASSERT_TRUE(got.has_value()) << path;
      EXPECT_EQ(*got, want) << path;
    }
  }
}

TEST(SubmitUnitsTest, MultipartPartsAreDecoded) {
  vek::testing::TempDir dir;
  ASSERT_TRUE(hostlib::setDataDirectory(dir.path()).ok());
  Request r;
  r.message =
      "POST /?Text=fromquery HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=\"b 1\"\r\n"
      "Content-Length: 999\r\n\r\npreamble\r\n--b 1\r\n"
      "Content-Disposition: form-data; name=\"Data\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      "aGk/Jj0=\r\n--b 1\r\nContent-Disposition: form-data; name=\"Text\"\r\n\r\nbody\r\n"
      "--b 1\r\nContent-Disposition: form-data; name=\"File\"; filename=\"../../x.txt\"\r\n\r\n"
      "content\r\n--b 1--\r\n";
  r.body_offset = r.message.find("\r\n\r\n") + 4;
  std::vector<std::string> uploads;
  auto out = unpackMultipartForm(r, &uploads);
  ASSERT_TRUE(out.ok()) << out.status().message();
  EXPECT_NE(out->message.find("Content-Type: application/x-www-form-urlencoded\r\n"),
            std::string::npos);
  EXPECT_EQ(out->body().substr(0, 34), "Data=hi%3F%26%3D&Text=body&File=%2");
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(fs::path(uploads[0]).parent_path().string() + "/", dir.file("private/TEMP/"));
  EXPECT_EQ(vek::testing::readText(uploads[0]), "content");

  r.message = "POST / HTTP/1.1\r\nContent-Type: multipart/form-data\r\n\r\n--x\r\n";
  r.body_offset = r.message.size() - 5;
  EXPECT_FALSE(unpackMultipartForm(r, &uploads).ok());
  EXPECT_EQ(headerParameter("form-data; name=\"a;b\"; filename=f.txt", "name"), "a;b");
  EXPECT_EQ(headerParameter("form-data; filename=f.txt", "name"), "");
}

TEST(SubmitUnitsTest, InjectedInboundNamesItsLinkInModemName) {
  RequestKeys k;
  k.inbound = true;
  k.sender = "+1";
  k.route_to_local_user = "bob";
  ContentPart part{"0102", "050003010201", 0xF5, true};
  EXPECT_EQ(requestFileText(requestFileHead(k, part, "SMPP - a"), "+2"),
            "[SMS-IN]\r\nSender=+1\r\nRouteToLocalUser=bob\r\nModemName=SMPP - a\r\nData=0102\r\n"
            "UDH=050003010201\r\npid=00\r\ndcs=F5\r\nBinary=1\r\nPhoneNumber=+2\r\n");
}

TEST(SubmitUnitsTest, ABulkJobIsVisibleWholeOrNotAtAll) {
  vek::testing::TempDir dir;
  ASSERT_TRUE(hostlib::setDataDirectory(dir.path()).ok());
  // The stored id 0x100 makes the next id 0x100 + 1000: the job's name.
  vek::testing::writeText(dir.file("UID.DAT"), std::string("\x00\x01\x00\x00", 4));
  queue::resetUniqueMessageIdsForTesting(dir.file("UID.DAT"));
  Submission s;
  s.recipients = {"1", "2", "3"};
  s.content.parts.push_back(ContentPart{"hi", "", 0, false});
  BulkJobPlan plan;
  plan.directory = dir.file("bulk/");
  plan.recipients_per_block = 2;
  // The second recipient list cannot be published.
  fs::create_directories(plan.directory + ".000004E8/R0000002.BLK/x");
  EXPECT_FALSE(writeBulkJob(s, plan).ok());
  for (const auto& e : fs::directory_iterator(plan.directory))
    EXPECT_EQ(e.path().filename().string().front(), '.') << e.path();
  EXPECT_FALSE(fs::exists(plan.directory + ".000004E8/R0000001.BLK"));

  s.delay_text = "209901010101";
  s.delay = platform::CalendarTime{};
  auto files = writeBulkJob(s, plan);
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
}  // namespace vek::http
