// HTTP submission from outside: the gateway program on a fresh data
// directory, requests over a socket, the request files read back from its
// queue.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "gateway_process.h"
#include "hostlib/ini_file.h"
#include "platform/files.h"
#include "platform/socket.h"
#include "support/test_support.h"

namespace vek::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class SubmissionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (gatewayBinary().empty()) GTEST_SKIP() << "gateway program not built";
    data_ = dir_.path() + "d";
    ASSERT_TRUE(platform::makeDirectories(data_).ok());
    auto l = platform::listenTcp("127.0.0.1", 0);
    ASSERT_TRUE(l.ok());
    port_ = platform::localPort(l->get());
    l->reset();
    writeText(data_ + "/SMSGW.INI",
              "[SMSGW]\r\nWebPort=" + std::to_string(port_) + "\r\nIPAddress=127.0.0.1\r\n");
  }

  // One request on a new connection; the whole answer ("" on failure).
  std::string exchange(const std::string& request) {
    auto c = platform::connectTcp("127.0.0.1", port_, 5000, "");
    if (!c.ok()) return "";
    if (platform::sendAll(c->get(), request, 5000) != platform::IoStatus::kOk) return "";
    std::string out;
    char buf[4096];
    for (int i = 0; i < 1000; ++i) {
      size_t got = 0;
      if (platform::recvSome(c->get(), buf, sizeof buf, 5000, &got) != platform::IoStatus::kOk)
        break;
      out.append(buf, got);
    }
    return out;
  }

  std::vector<std::string> queued() {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(data_ + "/Q"))
      if (e.is_regular_file()) out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
  }

  TempDir dir_;
  std::string data_;
  uint16_t port_ = 0;
};

TEST_F(SubmissionTest, TextAndLongTextBecomeTheRequestFilesTheAnswerNames) {
  GatewayProcess g(data_);
  ASSERT_TRUE(g.start());
  ASSERT_TRUE(g.waitStarted()) << g.output();

  std::string answer =
      exchange("GET /?PhoneNumber=%2B4411,%2B4422&Text=Hi%0Athere&Sender=Shop HTTP/1.0\r\n\r\n");
  ASSERT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
  auto files = queued();
  ASSERT_EQ(files.size(), 2u);
  for (const std::string& f : files) {
    const std::string id = fs::path(f).stem().string();
    const std::string recipient = f == files[0] ? "+4411" : "+4422";
    EXPECT_NE(answer.find("MessageID=" + id + ", Recipient=" + recipient + "\r\n"),
              std::string::npos)
        << answer;
    EXPECT_EQ(readText(f),
              "[SMS]\r\nSubmittedBy=127.0.0.1\r\nSender=Shop\r\nData=Hi\\nthere\r\n"
              "pid=00\r\ndcs=00\r\nPhoneNumber=" +
                  recipient + "\r\n");
  }

  for (const std::string& f : files) fs::remove(f);
  answer =
      exchange("GET /?PhoneNumber=%2B4433&Text=" + std::string(170, 'x') + " HTTP/1.0\r\n\r\n");
  ASSERT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
  files = queued();
  ASSERT_EQ(files.size(), 2u);
  for (size_t n = 0; n < files.size(); ++n) {
    const std::string name = fs::path(files[n]).filename().string();
    EXPECT_EQ(name.rfind("SAR-+4433-", 0), 0u) << name;
    EXPECT_NE(answer.find("MessageID=" + fs::path(files[n]).stem().string()), std::string::npos);
    const std::string text = readText(files[n]);
    EXPECT_NE(text.find("\r\nUDH=050003"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\ndcs=00\r\nBinary=1\r\nPhoneNumber=+4433\r\n"), std::string::npos)
        << text;
  }

  answer = exchange("GET /?PhoneNumber=1&Text=x&SMSCRoute=none HTTP/1.0\r\n\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.0 400 Bad Request\r\n", 0), 0u) << answer;
  EXPECT_NE(answer.find("\r\nUnknown smscRoute=none\r\n"), std::string::npos) << answer;
  EXPECT_EQ(queued().size(), 2u);

  g.signal(SIGTERM);
  int code = -1;
  EXPECT_TRUE(g.waitExit(10s, &code));
}

}  // namespace
}  // namespace vek::testing
