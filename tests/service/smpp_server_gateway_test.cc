// The SMPP server from outside: the gateway program on a data directory of
// its own, driven by independent SMPP clients (the node test client, Kannel's
// bearerbox with an SMPP link fed by its smsbox) and by a raw client where an
// answer must be chosen; what the gateway wrote, kept or deleted is read
// back from its directories.
//
// Sizes: VEKSMS_SMPP_CLIENT_COUNT messages from the node client (default
// 300) and VEKSMS_SMPP_IDLE connections that never bind (default 200);
// VEKSMS_SMPP_REAL_BACKOFF=1 also waits out three real wrong-password
// rejections. scripts/outside/smpp-server runs 20,000 messages, 2,000 idle
// connections and the real back-off.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "gateway_process.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "platform/strings.h"
#include "protocols/smpp/client.h"
#include "protocols/smpp/pdu.h"
#include "queue/request_file.h"
#include "support/test_support.h"

namespace vek::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace status = smpp::status;

uint16_t freePort() {
  auto l = platform::listenTcp("127.0.0.1", 0);
  return l.ok() ? platform::localPort(l->get()) : 0;
}

int envCount(const char* name, int def) {
  const char* v = ::getenv(name);
  return v && std::atoi(v) > 0 ? std::atoi(v) : def;
}

// The number after "key": in a JSON text (-1 when absent).
long long jsonNumber(const std::string& json, const std::string& key) {
  size_t at = json.find("\"" + key + "\":");
  if (at == std::string::npos) return -1;
  return std::atoll(json.c_str() + at + key.size() + 3);
}

queue::SMSMessage load(const std::string& path) {
  queue::SMSMessage m;
  queue::parseSMSMessage(readText(path), &m, [](std::string_view) { return std::string(); });
  return m;
}

std::vector<std::string> files(const std::string& dir, const std::string& pattern = "*.req") {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file() && platform::globMatchNoCase(pattern, it->path().filename().string()))
      out.push_back(it->path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Open descriptors and resident memory (kB) of a process.
size_t openDescriptors(pid_t pid) {
  std::error_code ec;
  size_t n = 0;
  for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
       it != fs::directory_iterator(); it.increment(ec))
    ++n;
  return n;
}
long long statusKb(pid_t pid, const char* key) {
  std::string s = readText("/proc/" + std::to_string(pid) + "/status");
  size_t at = s.find(key);
  return at == std::string::npos ? -1 : std::atoll(s.c_str() + at + std::strlen(key) + 1);
}

// A transmitter bind followed by `count` submit_sm, as one block of bytes
// (a client that sends without waiting for answers).
std::string bindAndSubmits(uint32_t count, const std::string& recipient) {
  platform::ByteWriter w;
  smpp::Pdu p;
  p.command_id = smpp::cmd::kBindTransmitter;
  p.sequence = 1;
  p.system_id = "test";
  p.password = "test";
  smpp::encodePdu(p, &w);
  smpp::Pdu sm;
  sm.command_id = smpp::cmd::kSubmitSm;
  sm.destination.addr = recipient;
  sm.short_message = "unanswered window";
  for (uint32_t i = 0; i < count; ++i) {
    sm.sequence = 2 + i;
    smpp::encodePdu(sm, &w);
  }
  return w.str();
}

class SmppServerGatewayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (gatewayBinary().empty()) GTEST_SKIP() << "gateway program not built";
    data_ = dir_.path() + "d";
    ASSERT_TRUE(platform::makeDirectories(data_).ok());
    smpp_port_ = freePort();
    web_port_ = freePort();
    ASSERT_TRUE(runGateway({"--data-dir", data_, "user", "add", "test", "--password", "test",
                            "--smpp", "yes"})
                    .exitedWith(0));
  }
  void TearDown() override {
    for (auto& c : children_) c.kill();
  }

  void configure(const std::string& extra) {
    writeText(data_ + "/SMSGW.INI",
              "[SMSGW]\r\nIPAddress=127.0.0.1\r\nWebPort=" + std::to_string(web_port_) +
                  "\r\nSMPPPort=" + std::to_string(smpp_port_) +
                  "\r\nRetryDelayAfterAttempts=0\r\nRetryDelay=600\r\n" + extra);
  }
  bool start(const std::string& extra = "") {
    configure(extra);
    gw_ = std::make_unique<GatewayProcess>(data_);
    return gw_->start() && gw_->waitStarted();
  }
  std::vector<std::string> nodeArgs(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"node",        oraclesDir() + "/node/smpp-client.js",
                                     "--port",      std::to_string(smpp_port_),
                                     "--system-id", "test",
                                     "--password",  "test"};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
  // Runs the node client to its end; its JSON summary, and its exit code in *code.
  std::string node(const std::vector<std::string>& args, int* code = nullptr,
                   std::chrono::milliseconds limit = 300s) {
    platform::ProcessOptions o;
    o.argv = nodeArgs(args);
    o.merge_stderr = false;
    o.time_limit = limit;
    auto r = platform::runProcess(o);
    if (code) *code = r.exit_code;
    return r.output;
  }
  // The node client in the background (bounded by its own --max-seconds).
  platform::ChildProcess& nodeInBackground(const std::vector<std::string>& args) {
    platform::ProcessOptions o;
    o.argv = nodeArgs(args);
    auto c = platform::ChildProcess::spawn(o);
    EXPECT_TRUE(c.ok());
    children_.push_back(std::move(*c));
    return children_.back();
  }
  std::string queued() const { return data_ + "/Q/"; }
  std::string accountQueue() const { return data_ + "/USERS/test/Q/"; }
  std::string flags() const { return data_ + "/private/SMPPData/ActiveUsers/"; }
  std::string queueForAccount(const std::string& text) {
    EXPECT_TRUE(platform::makeDirectories(accountQueue()).ok());
    const std::string path = accountQueue() + "0000" + std::to_string(++n_) + "AB.req";
    writeText(path, "[SMS]\r\nSender=+4470\r\nPhoneNumber=4411\r\nData=" + text +
                        "\r\npid=00\r\ndcs=00\r\n");
    return path;
  }

  TempDir dir_;
  std::string data_;
  uint16_t smpp_port_ = 0, web_port_ = 0;
  std::unique_ptr<GatewayProcess> gw_;
  std::vector<platform::ChildProcess> children_;
  int n_ = 0;
};

TEST_F(SmppServerGatewayTest, NodeClientSubmissionsBecomeRequestFilesWithTheirKeys) {
  VEK_REQUIRE_ORACLES();
  ASSERT_TRUE(start()) << gw_->output();
  const int count = envCount("VEKSMS_SMPP_CLIENT_COUNT", 300);
  std::string out = node({"--count", std::to_string(count), "--window", "100", "--to-range", "1000",
                          "--max-seconds", "280"});
  EXPECT_EQ(jsonNumber(out, "resp_ok"), count) << out;
  auto got = files(queued());
  ASSERT_EQ(got.size(), static_cast<size_t>(count));
  std::set<std::string> ids;
  for (const std::string& f : got) {
    queue::SMSMessage m = load(f);
    EXPECT_EQ(m.Data, "Hello from smpp-client") << f;
    EXPECT_EQ(m.SubmitUser, "test");
    EXPECT_EQ(m.SubmittedBy, "127.0.0.1");
    ids.insert(m.ReceiptMessageId);
  }
  EXPECT_EQ(ids.size(), got.size());  // one id of its own per message
  for (const std::string& f : got) fs::remove(f);

  // UCS-2, client-made segments with their headers, receipts asked for.
  EXPECT_EQ(jsonNumber(node({"--count", "3", "--ucs2", "--dlr"}), "resp_ok"), 3);
  EXPECT_EQ(jsonNumber(node({"--count", "2", "--long"}), "resp_ok"), 6);
  got = files(queued());
  ASSERT_EQ(got.size(), 9u);
  int ucs2 = 0, segments = 0;
  for (const std::string& f : got) {
    queue::SMSMessage m = load(f);
    EXPECT_TRUE(m.Binary) << f;
    if (m.dcs == 8) {
      ++ucs2;
      EXPECT_EQ(m.Data.rfind("005500430053002D0032", 0), 0u) << m.Data;  // "UCS-2"
      EXPECT_TRUE(m.MessageFlags & queue::kFlagReceiptRequested) << f;
    } else {
      ++segments;
      EXPECT_EQ(m.UDH.substr(0, 6), "050003") << f;
      EXPECT_EQ(m.UDH.substr(8, 2), "03") << f;  // three parts
      EXPECT_FALSE(m.MessageFlags & queue::kFlagReceiptRequested) << f;
    }
  }
  EXPECT_EQ(ucs2, 3);
  EXPECT_EQ(segments, 6);
  for (const std::string& f : got) fs::remove(f);

  // Each submit_sm_resp carries the id written into its file.
  smpp::Connection conn;
  ASSERT_EQ(smpp::SMPPConnect(conn, tls::Stream(), "out", "127.0.0.1", smpp_port_), status::kOk);
  ASSERT_EQ(smpp::SMPPBind(conn, 0x34, smpp::kBindTypeTransmitter, "test", "test", ""),
            status::kOk);
  std::set<std::string> answered;
  for (int i = 0; i < 20; ++i) {
    std::string id;
    ASSERT_EQ(smpp::SMPPSubmitMessage(conn, 0x34, "1234", "+4470" + std::to_string(i), 0, 0, "",
                                      "id check", 0, false, &id, "", ""),
              status::kOk);
    answered.insert(id);
  }
  smpp::SMPPUnbind(conn, 0x34);
  std::set<std::string> written;
  for (const std::string& f : files(queued())) written.insert(load(f).ReceiptMessageId);
  EXPECT_EQ(answered, written);
  EXPECT_EQ(answered.size(), 20u);
}

TEST_F(SmppServerGatewayTest, KannelBearerboxSendsThroughTheGatewayAsItsCentre) {
  VEK_REQUIRE_ORACLES();
  if (!platform::findProgram("bearerbox") || !platform::findProgram("smsbox"))
    GTEST_SKIP() << "Kannel is not installed";
  ASSERT_TRUE(runGateway({"--data-dir", data_, "user", "add", "kannel", "--password", "kannel",
                          "--smpp", "yes"})
                  .exitedWith(0));
  ASSERT_TRUE(start()) << gw_->output();
  const uint16_t admin = freePort(), box = freePort(), sendsms = freePort();
  const std::string k = dir_.path() + "kannel/";
  ASSERT_TRUE(platform::makeDirectories(k).ok());
  writeText(k + "kannel.conf",
            "group = core\nadmin-port = " + std::to_string(admin) +
                "\nadmin-interface = 127.0.0.1\nadmin-password = t\nstatus-password = t\n"
                "admin-allow-ip = \"127.0.0.1\"\nsmsbox-port = " +
                std::to_string(box) +
                "\nsmsbox-interface = 127.0.0.1\nbox-allow-ip = \"127.0.0.1\"\n"
                "log-file = \"" +
                k + "bearerbox.log\"\nlog-level = 1\nstore-type = file\nstore-location = \"" + k +
                "kannel.store\"\ndlr-storage = internal\n\n"
                "group = smsc\nsmsc = smpp\nsmsc-id = veksms\nhost = 127.0.0.1\nport = " +
                std::to_string(smpp_port_) +
                "\ntransceiver-mode = true\nsmsc-username = kannel\nsmsc-password = kannel\n"
                "system-type = \"\"\ninterface-version = 34\nmax-pending-submits = 20\n"
                "enquire-link-interval = 30\nreconnect-delay = 2\n\n"
                "group = smsbox\nbearerbox-host = 127.0.0.1\nbearerbox-port = " +
                std::to_string(box) + "\nsendsms-port = " + std::to_string(sendsms) +
                "\nsendsms-interface = 127.0.0.1\nlog-file = \"" + k +
                "smsbox.log\"\nlog-level = 1\n\n"
                "group = sendsms-user\nusername = u\npassword = p\nmax-messages = 10\n"
                "concatenation = true\n\n"
                "group = sms-service\nkeyword = default\ntext = \"none\"\n");
  for (const char* program : {"bearerbox", "smsbox"}) {
    platform::ProcessOptions o;
    o.argv = {program, "-v", "4", k + "kannel.conf"};
    o.output_path = k + program + ".out";
    auto c = platform::ChildProcess::spawn(o);
    ASSERT_TRUE(c.ok());
    children_.push_back(std::move(*c));
    // bearerbox's SMPP link binds to the gateway before smsbox starts.
    if (std::string(program) == "bearerbox") {
      ASSERT_TRUE(waitUntil([&] { return files(flags(), "*-T-kannel.FLG").size() == 1; }, 20s))
          << readText(k + "bearerbox.log");
    }
  }
  constexpr int kMessages = 20;
  int accepted = 0;
  for (int i = 0; i < kMessages; ++i) {
    platform::ProcessOptions o;
    o.argv = {"curl",
              "-s",
              "--max-time",
              "5",
              "--retry",
              "10",
              "--retry-connrefused",
              "--retry-delay",
              "1",
              "http://127.0.0.1:" + std::to_string(sendsms) +
                  "/cgi-bin/sendsms?username=u&password=p&from=1234&to=4670" + std::to_string(i) +
                  "&text=Kannel+message+" + std::to_string(i)};
    o.time_limit = 30s;
    if (platform::runProcess(o).output.find("Accepted") != std::string::npos) ++accepted;
  }
  EXPECT_EQ(accepted, kMessages);
  ASSERT_TRUE(waitUntil([&] { return files(queued()).size() == kMessages; }, 30s))
      << files(queued()).size() << "\n"
      << readText(k + "bearerbox.log");
  std::set<std::string> texts;
  for (const std::string& f : files(queued())) {
    queue::SMSMessage m = load(f);
    EXPECT_EQ(m.SubmitUser, "kannel");
    EXPECT_EQ(m.Sender, "1234");
    texts.insert(m.Data);
  }
  EXPECT_EQ(texts.size(), static_cast<size_t>(kMessages));
  EXPECT_EQ(texts.count("Kannel message 7"), 1u);
}

TEST_F(SmppServerGatewayTest, CapDeliveriesBindTypesAndRevocation) {
  VEK_REQUIRE_ORACLES();
  ASSERT_TRUE(start("SMPPServerValidateUserInterval=2\r\n")) << gw_->output();

  // Four receivers hold the default maximum; a fifth bind is refused.
  for (int i = 0; i < 4; ++i)
    nodeInBackground({"--bind", "rx", "--wait-seconds", "60", "--max-seconds", "60"});
  ASSERT_TRUE(waitUntil([&] { return files(flags(), "*.FLG").size() == 4; }, 15s));
  int code = -1;
  std::string out = node({"--bind", "tx", "--count", "1", "--max-seconds", "30"}, &code, 40s);
  EXPECT_EQ(code, 1) << out;  // bind failed
  EXPECT_TRUE(files(queued()).empty());
  for (auto& c : children_) c.kill();
  children_.clear();
  ASSERT_TRUE(waitUntil([&] { return files(flags(), "*.FLG").empty(); }, 15s));

  // A transmitter never receives; a transceiver gets the message and
  // answers 0: the file goes.
  const std::string waiting = queueForAccount("queued for test");
  out = node({"--bind", "tx", "--count", "1", "--wait-seconds", "2"});
  EXPECT_EQ(jsonNumber(out, "deliver_sm"), 0) << out;
  EXPECT_TRUE(platform::pathExists(waiting));
  out = node({"--bind", "trx", "--count", "0", "--wait-seconds", "2"});
  EXPECT_EQ(jsonNumber(out, "deliver_sm"), 1) << out;
  EXPECT_NE(out.find("queued for test"), std::string::npos) << out;
  EXPECT_TRUE(waitUntil([&] { return !platform::pathExists(waiting); }, 5s));

  // Answered 0x58: kept with a retry record.
  const std::string throttled = queueForAccount("throttle me");
  {
    auto fd = platform::connectTcp("127.0.0.1", smpp_port_, 2000);
    ASSERT_TRUE(fd.ok());
    auto sendPdu = [&](const smpp::Pdu& p) {
      platform::ByteWriter w;
      smpp::encodePdu(p, &w);
      return platform::sendAll(fd->get(), w.str(), 2000) == platform::IoStatus::kOk;
    };
    auto readPdu = [&](smpp::Pdu* p) {
      uint8_t head[4];
      if (platform::recvExact(fd->get(), head, 4, 5000) != platform::IoStatus::kOk) return false;
      uint32_t len = (uint32_t{head[0]} << 24) | (uint32_t{head[1]} << 16) |
                     (uint32_t{head[2]} << 8) | head[3];
      if (len < 16 || len > 4096) return false;
      std::string buf(len, '\0');
      std::memcpy(buf.data(), head, 4);
      if (platform::recvExact(fd->get(), buf.data() + 4, len - 4, 5000) != platform::IoStatus::kOk)
        return false;
      return smpp::decodePdu(
                 std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(buf.data()), buf.size()),
                 p) == status::kOk;
    };
    smpp::Pdu bind;
    bind.command_id = smpp::cmd::kBindTransceiver;
    bind.sequence = 1;
    bind.system_id = "test";
    bind.password = "test";
    bind.interface_version = 0x34;
    ASSERT_TRUE(sendPdu(bind));
    smpp::Pdu p;
    ASSERT_TRUE(readPdu(&p));
    ASSERT_EQ(p.command_status, status::kOk);
    ASSERT_TRUE(readPdu(&p));
    ASSERT_EQ(p.command_id, smpp::cmd::kDeliverSm);
    EXPECT_EQ(p.short_message, "throttle me");
    ASSERT_TRUE(sendPdu(smpp::makeResponse(p, status::kThrottled)));
    ASSERT_TRUE(waitUntil([&] { return load(throttled).RetryCount == 1; }, 5s));
  }
  EXPECT_TRUE(load(throttled).HasErrorDetail);
  fs::remove(throttled);

  // Revoking SMPP access ends the session within the validation interval.
  ASSERT_TRUE(waitUntil([&] { return files(flags(), "*.FLG").empty(); }, 15s));
  auto& rx = nodeInBackground({"--bind", "rx", "--wait-seconds", "60", "--max-seconds", "60"});
  ASSERT_TRUE(waitUntil([&] { return files(flags(), "*.FLG").size() == 1; }, 15s));
  const auto revoked = std::chrono::steady_clock::now();
  ASSERT_TRUE(
      runGateway({"--data-dir", data_, "user", "set", "test", "--smpp", "no"}).exitedWith(0));
  EXPECT_TRUE(rx.wait(10s, &code));
  EXPECT_LT(std::chrono::steady_clock::now() - revoked, 2s + 5s);  // interval plus a slice
  EXPECT_TRUE(waitUntil([&] { return files(flags(), "*.FLG").empty(); }, 5s));
}

TEST_F(SmppServerGatewayTest, IdleConnectionsAreBoundedAndOthersAreServed) {
  VEK_REQUIRE_ORACLES();
  ASSERT_TRUE(start()) << gw_->output();
  const pid_t pid = gw_->pid();
  const size_t fds_before = openDescriptors(pid);
  const long long rss_before = statusKb(pid, "VmRSS");

  // Connections that never bind: half from one address (its cap, 32, is
  // held), half from a hundred others (until the total cap, 512).
  const int idle = envCount("VEKSMS_SMPP_IDLE", 200);
  std::vector<platform::UniqueFd> held;
  for (int i = 0; i < idle; ++i) {
    const std::string from = i % 2 ? "127.0.0.2" : "127.0.1." + std::to_string(2 + (i / 2) % 100);
    auto fd = platform::connectTcp("127.0.0.1", smpp_port_, 2000, from);
    if (fd.ok()) held.push_back(std::move(*fd));
  }
  EXPECT_EQ(held.size(), static_cast<size_t>(idle));
  // A client that submits without ever reading its answers.
  auto flooder = platform::connectTcp("127.0.0.1", smpp_port_, 2000);
  ASSERT_TRUE(flooder.ok());
  // No recipient: each is refused (answers, no files).
  (void)platform::sendAll(flooder->get(), bindAndSubmits(20000, ""), 3000);
  // Clients that disconnect mid-window: a window of submissions sent, the
  // connection gone before the answers are read. What was accepted stays.
  const int dropped = envCount("VEKSMS_SMPP_DROPPED", 20);
  // (From fifty addresses of their own, so that they meet the cap per
  // address no sooner than real clients would.)
  for (int i = 0; i < dropped; ++i) {
    auto fd = platform::connectTcp("127.0.0.1", smpp_port_, 2000,
                                   "127.0.2." + std::to_string(2 + i % 50));
    ASSERT_TRUE(fd.ok());
    (void)platform::sendAll(fd->get(), bindAndSubmits(100, "+4470" + std::to_string(i)), 3000);
  }

  // Everyone else is still served while the idle ones wait.
  std::string out = node({"--count", "200", "--window", "100"});
  EXPECT_EQ(jsonNumber(out, "resp_ok"), 200) << out;
  // Every file is whole: the node client's and whatever the dropped
  // clients' submissions got in before their connections ended.
  const auto written = files(queued());
  EXPECT_GE(written.size(), 200u);
  EXPECT_LE(written.size(), 200u + 100u * dropped);
  size_t mine = 0;
  for (const std::string& f : written) {
    const queue::SMSMessage m = load(f);
    EXPECT_FALSE(m.ReceiptMessageId.empty()) << f;
    if (m.Data == "Hello from smpp-client")
      ++mine;
    else
      EXPECT_EQ(m.Data, "unanswered window") << f;
  }
  EXPECT_EQ(mine, 200u);
  const size_t fds = openDescriptors(pid);
  const long long rss = statusKb(pid, "VmRSS");
  // No more than the caps are held, however many came (the dropped
  // clients' connections may not all be noticed as closed yet).
  const size_t cap = std::min<size_t>(512, std::min(idle / 2, 32) + (idle + 1) / 2);
  EXPECT_LE(fds, fds_before + cap + dropped + 16) << fds_before << " -> " << fds;
  EXPECT_LT(rss, rss_before + 200 * 1024) << rss_before << " -> " << rss << " kB";
  std::printf(
      "idle connections %d, dropped mid-window %d: descriptors %zu -> %zu, resident %lld -> %lld "
      "kB\n",
      idle, dropped, fds_before, fds, rss_before, rss);
  held.clear();
  flooder->reset();
  EXPECT_TRUE(waitUntil([&] { return openDescriptors(pid) <= fds_before + 4; }, 20s))
      << openDescriptors(pid);
}

// The whole road: a client submits over SMPP asking for receipts, the link
// sender passes the messages over an SMPP link to a centre that sends
// receipts back, the receive side and the receipt thread turn them into
// receipts under the gateway's ids in the account's queue, and the client
// gets each as a deliver_sm with esm_class 0x04 and the id its submit_sm_resp
// carried. VEKSMS_SMPP_RECEIPTS messages (default 20).
TEST_F(SmppServerGatewayTest, ReceiptsFromALinkReachTheSubmittingClient) {
  VEK_REQUIRE_ORACLES();
  ASSERT_TRUE(
      runGateway({"--data-dir", data_, "user", "set", "test", "--receive", "yes"}).exitedWith(0));
  const uint16_t smsc_port = freePort();
  platform::ProcessOptions sim;
  sim.argv = {"node",
              oraclesDir() + "/node/smsc-sim.js",
              "--port",
              std::to_string(smsc_port),
              "--dlr",
              "--log",
              dir_.path() + "smsc.jsonl",
              "--max-seconds",
              "280"};
  sim.output_path = dir_.path() + "smsc.out";
  auto smsc = platform::ChildProcess::spawn(sim);
  ASSERT_TRUE(smsc.ok());
  children_.push_back(std::move(*smsc));
  ASSERT_TRUE(
      waitUntil([&] { return platform::connectTcp("127.0.0.1", smsc_port, 200).ok(); }, 10s));
  const std::string link = "SMPP - 127.0.0.1:" + std::to_string(smsc_port);
  ASSERT_TRUE(start("ReceiveSMS=Yes\r\nModem1=" + link + "\r\n[" + link +
                    "]\r\nUserName=gw\r\nPassword=pw\r\nReceiveSingleConnection=Yes\r\n"))
      << gw_->output();

  const int count = envCount("VEKSMS_SMPP_RECEIPTS", 20);
  int code = -1;
  const std::string out = node({"--count", std::to_string(count), "--window", "10", "--to-range",
                                "100", "--dlr", "--expect-dlr", "--keep", std::to_string(count),
                                "--wait-seconds", "120", "--max-seconds", "150"},
                               &code, 170s);
  EXPECT_EQ(code, 0) << out;
  EXPECT_EQ(jsonNumber(out, "resp_ok"), count) << out;
  EXPECT_EQ(jsonNumber(out, "dlr"), count) << out;
  EXPECT_EQ(jsonNumber(out, "dlr_matched"), count) << out;  // the ids the answers gave
  EXPECT_EQ(jsonNumber(out, "mo"), 0) << out;
  size_t receipts = 0;
  for (size_t at = out.find("\"dlr\": true"); at != std::string::npos;
       at = out.find("\"dlr\": true", at + 1)) {
    ++receipts;
    EXPECT_EQ(jsonNumber(out.substr(at), "esm"), 4) << out.substr(at, 200);
  }
  EXPECT_EQ(receipts, static_cast<size_t>(count)) << out;
  // Answered 0: nothing is left in the account's queue.
  EXPECT_TRUE(waitUntil([&] { return files(accountQueue()).empty(); }, 10s))
      << files(accountQueue()).size();
}

TEST_F(SmppServerGatewayTest, ThreeWrongPasswordsHoldTheThirdRejectionAboutEightSeconds) {
  if (envCount("VEKSMS_SMPP_REAL_BACKOFF", 0) == 0)
    GTEST_SKIP() << "real back-off waits only in scripts/outside/smpp-server (unit-tested)";
  ASSERT_TRUE(start()) << gw_->output();
  std::vector<double> seconds;
  for (int i = 0; i < 3; ++i) {
    smpp::Connection conn;
    conn.setCommandTimeout(30s);
    ASSERT_EQ(smpp::SMPPConnect(conn, tls::Stream(), "out", "127.0.0.1", smpp_port_), status::kOk);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(smpp::SMPPBind(conn, 0x34, smpp::kBindTypeTransmitter, "test", "wrong", ""),
              status::kInvPaswd);
    seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  std::printf("rejections answered after %.2f, %.2f, %.2f s\n", seconds[0], seconds[1], seconds[2]);
  EXPECT_NEAR(seconds[2], 8.0, 0.8);
  EXPECT_NEAR(seconds[0], 6.0, 0.8);
}

}  // namespace
}  // namespace vek::testing
