// Test fixture for inbound processing: a fresh data directory per test with
// its own SMSGW.INI, account store and "UID.DAT", TZ fixed to UTC, and
// helpers to write configurations, accounts and inbound files.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <string>
#include <vector>

#include "foundation/service_state.h"
#include "foundation/settings.h"
#include "hostlib/accounts.h"
#include "hostlib/host.h"
#include "inbound/inbound_routing.h"
#include "inbound/local_accounts.h"
#include "platform/files.h"
#include "platform/shutdown.h"
#include "platform/strings.h"
#include "queue/request_file.h"
#include "queue/unique_id.h"
#include "support/test_support.h"

namespace vek::inbound {

class InboundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    platform::resetShutdownForTesting();
    data_ = dir_.path() + "data/";
    ASSERT_TRUE(hostlib::setDataDirectory(data_).ok());
    hostlib::SMSIniSetFilename(data_ + "SMSGW.INI");
    hostlib::MMSCIniSetFilename(data_ + "MMSC.INI");
    ASSERT_TRUE(hostlib::openAccountStore(dir_.file("USERS.DB")).ok());
    queue::resetUniqueMessageIdsForTesting(dir_.file("UID.DAT"));
    foundation::publishSettings(foundation::Settings{});
    forgetCachedAccounts();
    configure("");
    foundation::inboundEventA().reset();
    foundation::inboundEventB().reset();
  }
  void TearDown() override { platform::resetShutdownForTesting(); }

  // SMSGW.INI: `smsgw` lines in section SMSGW (ReceiveSMS on unless given),
  // then `more` sections.
  void configure(const std::string& smsgw, const std::string& more = "") {
    std::string text = "[SMSGW]\r\n";
    if (smsgw.find("ReceiveSMS=") == std::string::npos) text += "ReceiveSMS=Yes\r\n";
    text += smsgw + "\r\n" + more;
    vek::testing::writeText(data_ + "SMSGW.INI", text);
    hostlib::smsIni().invalidate();
    reloadInboundRoutingTable();
  }
  // An account; with `receive`, "RECV.FLG" in its directory.
  void account(const std::string& name, bool receive = false) {
    hostlib::Account a;
    a.name = name;
    a.receive = receive;
    ASSERT_TRUE(hostlib::accountStore()->add(a).ok());
    if (!receive) return;
    ASSERT_TRUE(platform::makeDirectories(data_ + "USERS/" + name).ok());
    vek::testing::writeText(data_ + "USERS/" + name + "/RECV.FLG", "");
  }

  std::string inboundDir() const { return data_ + "SMS-IN/"; }
  std::string queueOf(const std::string& account) const {
    return data_ + "USERS/" + account + "/Q/";
  }

  // Paths of the files under `dir` (recursively) matching `pattern`, sorted.
  static std::vector<std::string> files(const std::string& dir, const std::string& pattern = "*") {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_regular_file() &&
          platform::globMatchNoCase(pattern, it->path().filename().string()))
        out.push_back(it->path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  static queue::SMSMessage load(const std::string& path) {
    queue::SMSMessage m;
    queue::parseSMSMessage(vek::testing::readText(path), &m,
                           [](std::string_view) { return std::string(); });
    return m;
  }
  // Every file under the test's directory but the store and counter files
  // the fixture keeps beside the data directory.
  std::vector<std::string> everything() const {
    std::vector<std::string> out;
    for (std::string& f : files(dir_.path())) {
      if (f.rfind(dir_.path() + "USERS.DB", 0) != 0 && f != dir_.file("UID.DAT")) out.push_back(f);
    }
    return out;
  }

  vek::testing::TempDir dir_;
  std::string data_;
};

}  // namespace vek::inbound
