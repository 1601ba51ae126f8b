// Two-way MMS posts: header files as the inbound MMS side writes them,
// posted to a loopback server; what the server answers decides whether
// the files go, stay for another try, or are set aside.
#include "inbound/two_way_mms.h"

#include <gtest/gtest.h>

#include "inbound/inbound_env.h"
#include "support/http_sink.h"

namespace vek::inbound {
namespace {

using vek::testing::HttpSink;
using vek::testing::readText;
using vek::testing::writeText;

class TwoWayMmsTest : public InboundTest {
 protected:
  void SetUp() override {
    InboundTest::SetUp();
    mms_ = data_ + "MMS-IN/";
    parts();
  }
  void parts() {
    ASSERT_TRUE(platform::makeDirectories(mms_ + "0000A1B2").ok());
    writeText(mms_ + "0000A1B2/text.txt", "hello");
    writeText(mms_ + "0000A1B2/pic.jpg", std::string("\xFF\xD8\x00\x01", 4));
  }
  void header(const std::string& extra_parts = "") {
    writeText(mms_ + "0000A1B2.HDR",
              "X-VekMMS-RCPT-TO: +447700900123/TYPE=PLMN\r\nMessage-Type: m-retrieve-conf\r\n"
              "From: +447700900456/TYPE=PLMN\r\nTo: 1234\r\nSubject: Holiday\r\n"
              "Message-ID: abc-1\r\nX-VekMMS-Content-Location: 0000A1B2/text.txt;text/plain\r\n"
              "X-VekMMS-Content-Location: 0000A1B2\\pic.jpg\r\n" +
                  extra_parts);
  }
  std::string mms_;
  TwoWayMmsWorker worker_;
};

TEST_F(TwoWayMmsTest, HeaderFieldsAndPartsMakeTheMultipartBody) {
  const MmsHeader h = parseMmsHeader(
      "Message-Type: m-delivery-ind\r\nTo: +4477/TYPE=PLMN\r\nX-Mms-Read-Status: Read\r\n"
      "Subject: " +
      std::string(400, 's') + "\r\n");
  EXPECT_EQ(h.sender, "+4477");  // a delivery report's "To:" is its sender
  EXPECT_EQ(h.phone_number, "");
  EXPECT_EQ(h.status, "Read");
  EXPECT_EQ(h.subject.size(), 250u);

  header();
  const MmsHeader full = parseMmsHeader(readText(mms_ + "0000A1B2.HDR"));
  std::string body, error;
  ASSERT_TRUE(buildMmsPostBody(full, mms_, &body, &error)) << error;
  const std::string b = "--" + std::string(kMmsBoundary) + "\r\n";
  EXPECT_EQ(body.find("MMSMessageType"), std::string::npos);  // not for m-retrieve-conf
  EXPECT_NE(body.find(b + "Content-Disposition: form-data; name=\"MMSFrom\"\r\n\r\n"
                          "+447700900456\r\n"),
            std::string::npos);
  EXPECT_NE(body.find(b + "Content-Disposition: form-data; name=\"PhoneNumber\"\r\n\r\n"
                          "+447700900123\r\n"),
            std::string::npos);
  EXPECT_NE(body.find("name=\"MMSFile[]\"; filename=\"text.txt\"\r\nContent-Type: text/plain\r\n"
                      "Content-Length: 5\r\n\r\nhello\r\n"),
            std::string::npos);
  EXPECT_NE(body.find("filename=\"pic.jpg\"\r\nContent-Type: application/octet-stream\r\n"
                      "Content-Length: 4\r\n\r\n" +
                      std::string("\xFF\xD8\x00\x01", 4)),
            std::string::npos);
  EXPECT_EQ(body.substr(body.size() - b.size() - 2), "--" + std::string(kMmsBoundary) + "--\r\n");
}

TEST_F(TwoWayMmsTest, PartPathsNeverLeaveTheMmsDirectory) {
  writeText(dir_.file("secret"), "secret");
  ASSERT_EQ(::symlink(dir_.file("secret").c_str(), (mms_ + "0000A1B2/link").c_str()), 0);
  for (const char* part : {"../../secret", "/etc/passwd", "0000A1B2/../../../secret",
                           "%2e%2e/secret", "0000A1B2/link", "0000A1B2/missing"}) {
    MmsHeader h;
    h.sender = "+1";
    h.parts.push_back({part, "text/plain"});
    std::string body, error;
    EXPECT_FALSE(buildMmsPostBody(h, mms_, &body, &error)) << part;
    EXPECT_EQ(body.find("secret\r\n"), std::string::npos) << part;
  }
}

TEST_F(TwoWayMmsTest, TheServersAnswerDecidesWhatBecomesOfTheFiles) {
  struct Case {
    int status;
    bool header_kept, set_aside, parts_kept;
  } cases[] = {
      {200, false, false, false}, {503, true, false, true}, {429, true, false, true},
      {408, true, false, true},   {404, false, true, true},
  };
  for (const Case& c : cases) {
    header();
    HttpSink sink([&](const HttpSink::Request&, int) {
      HttpSink::Reply r;
      r.status = c.status;
      r.close = true;
      return r;
    });
    TwoWayMmsWorker worker;
    worker.runPass(sink.url("/mms/in"), mms_);
    ASSERT_EQ(sink.count(), 1) << c.status;
    const auto req = sink.requests()[0];
    EXPECT_EQ(req.target(), "/mms/in");
    EXPECT_NE(req.head.find("Content-Type: multipart/form-data; boundary=\"" +
                            std::string(kMmsBoundary) + "\""),
              std::string::npos);
    EXPECT_NE(req.body.find("Holiday"), std::string::npos);
    EXPECT_EQ(platform::pathExists(mms_ + "0000A1B2.HDR"), c.header_kept) << c.status;
    EXPECT_EQ(platform::pathExists(mms_ + "0000A1B2.BAD"), c.set_aside) << c.status;
    EXPECT_EQ(platform::pathExists(mms_ + "0000A1B2/text.txt"), c.parts_kept) << c.status;
    if (c.header_kept) {
      // Kept for another try, but not at once.
      worker.runPass(sink.url("/mms/in"), mms_);
      EXPECT_EQ(sink.count(), 1) << c.status;
    }
    (void)platform::removeFile(mms_ + "0000A1B2.BAD");
    if (!c.parts_kept) parts();
  }
}

TEST_F(TwoWayMmsTest, NoServerKeepsTheMessageAndNothingToPostIsSetAside) {
  uint16_t closed_port;
  {
    HttpSink gone([](const HttpSink::Request&, int) { return HttpSink::Reply{}; });
    closed_port = gone.port();
  }
  header();
  worker_.runPass("http://127.0.0.1:" + std::to_string(closed_port) + "/", mms_);
  EXPECT_TRUE(platform::pathExists(mms_ + "0000A1B2.HDR"));

  writeText(mms_ + "0000BBBB.HDR", "Message-Type: m-notification-ind\r\n");
  writeText(mms_ + "0000CCCC.HDR",
            "From: +1\r\nX-VekMMS-Content-Location: ../../etc/passwd;text/plain\r\n");
  TwoWayMmsWorker fresh;
  fresh.runPass("http://127.0.0.1:" + std::to_string(closed_port) + "/", mms_);
  EXPECT_TRUE(platform::pathExists(mms_ + "0000BBBB.BAD"));
  EXPECT_TRUE(platform::pathExists(mms_ + "0000CCCC.BAD"));
}

}  // namespace
}  // namespace vek::inbound
