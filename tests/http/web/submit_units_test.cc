#include <gtest/gtest.h>

#include <filesystem>

#include "foundation/settings.h"
#include "hostlib/accounts.h"
#include "hostlib/host.h"
#include "http/server/form_data.h"
#include "http/web/menu_pages.h"
#include "http/web/web_auth.h"
#include "platform/clock.h"
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

}  // namespace
}  // namespace vek::http
