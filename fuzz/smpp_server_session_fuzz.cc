// Fuzz target: a whole SMPP server session, as a hostile client would drive
// it. The bytes arrive through a local socket pair (the client's side is
// closed after them) and a ClientSession serves them on a test data
// directory: the bind decision against real accounts, submissions that
// become request files, deliveries from the account's queue with a window
// of two (answers in the input match them by sequence number), re-reads of
// the settings, unbind. Whatever the bytes, the session must end without a
// crash, overrun or hang, and nothing may be written outside the data
// directory.
#include <stdlib.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "foundation/settings.h"
#include "hostlib/accounts.h"
#include "hostlib/host.h"
#include "platform/files.h"
#include "platform/socket.h"
#include "platform/socket_pair.h"
#include "queue/unique_id.h"
#include "smpp_server/client_session.h"

using namespace vek;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::string g_root;  // holds only the data directory
std::string g_data;

void removeRoot() {
  std::error_code ec;
  if (!g_root.empty()) fs::remove_all(g_root, ec);
}

void writeFile(const std::string& path, std::string_view text) {
  (void)platform::makeDirectories(platform::parentDirectory(path));
  (void)platform::writeFileAtomic(path, text);
}

void addAccount(const char* name, bool admin, const char* senders) {
  hostlib::Account a;
  a.name = name;
  a.password = "pw";
  a.smpp_login = true;
  a.admin = admin;
  a.senders = senders;
  (void)hostlib::accountStore()->add(a);
}

bool setUp() {
  // Memory-backed when there is one: every run writes and deletes files.
  std::string pattern = platform::isDirectory("/dev/shm") ? "/dev/shm/smpp-server-fuzz.XXXXXX"
                                                          : "/tmp/smpp-server-fuzz.XXXXXX";
  if (!::mkdtemp(pattern.data())) return false;
  g_root = std::string(pattern) + "/";
  g_data = g_root + "data/";
  std::atexit(removeRoot);
  (void)platform::makeDirectories(g_data);
  (void)hostlib::setDataDirectory(g_data);
  hostlib::SMSIniSetFilename(g_data + "SMSGW.INI");
  hostlib::MMSCIniSetFilename(g_data + "MMSC.INI");
  writeFile(g_data + "SMSGW.INI",
            "[SMSGW]\r\nModem1=SMPP - centre\r\nSMPPServerAsyncWindowSize=2\r\n"
            "RetryDelayAfterAttempts=0\r\nRetryDelay=600\r\n"
            "[SMPPServerAsyncWindowSize]\r\nbob=0\r\n"
            "[SMPPOptions]\r\nuser_message_reference=Yes\r\nRouteToLocalUser=0x1400,string\r\n");
  hostlib::smsIni().invalidate();
  if (!hostlib::openAccountStore(g_data + "private/USERS.DB").ok()) return false;
  queue::resetUniqueMessageIdsForTesting(g_data + "private/UID.DAT");
  foundation::publishSettings(foundation::Settings{});
  addAccount("alice", false, "");
  addAccount("bob", false, "Shop,Info");
  addAccount("root", true, "");
  smpp_server::installServerCallbacks();
  return true;
}

// Two messages waiting for each account that receives, afresh each run
// (a kept file's retry record is written over, anything else removed).
void fillQueues() {
  for (const char* name : {"alice", "bob"}) {
    const std::string q = g_data + "USERS/" + name + "/Q/";
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(q, ec)) {
      const std::string file = e.path().filename().string();
      if (file != "00000001.req" && file != "00000002.req") fs::remove_all(e.path(), ec);
    }
    writeFile(q + "00000001.req",
              "[SMS]\r\nSender=+4470\r\nPhoneNumber=123\r\nData=first\r\npid=00\r\ndcs=00\r\n");
    writeFile(q + "00000002.req",
              "[SMS]\r\nSender=+4470\r\nPhoneNumber=123\r\nData=id:0A stat:DELIVRD\r\n"
              "ReceiptDelivered=Yes\r\nReceiptMessageId=0A\r\nSMPPOptions=SMPPOption_"
              "user_message_reference=5\r\n");
  }
}

// Only the data directory may exist under the root.
void checkContained() {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(g_root, ec)) {
    if (e.path().filename() != "data") __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = setUp();
  if (!ready) return 0;
  fillQueues();
  auto pair = platform::socketPair();
  if (!pair) return 0;
  auto& [client, server] = *pair;
  if (platform::sendAll(client.get(), std::string_view(reinterpret_cast<const char*>(data), size),
                        100) != platform::IoStatus::kOk)
    return 0;
  ::shutdown(client.get(), SHUT_WR);

  static smpp_server::ServerState state;
  smpp_server::SessionHooks hooks;
  hooks.backoff_wait = [](std::chrono::seconds) { return true; };
  hooks.pacing_wait = [](platform::SteadyTime) { return true; };
  hooks.bind_timeout = 20ms;
  hooks.command_timeout = 20ms;
  hooks.slice = 20ms;
  hooks.delivery_pause = 1ms;
  hooks.finish_bound = 0ms;
  {
    smpp_server::ClientSession session(state, tls::Stream(std::move(server)), "10.0.0.1", 40000,
                                       state.unbound.admit("10.0.0.1", 100, 100), hooks);
    session.run();
  }
  std::error_code ec;
  fs::remove_all(g_data + "Q", ec);
  checkContained();
  return 0;
}
