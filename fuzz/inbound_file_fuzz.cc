// The inbound file reader and the inbound thread on any bytes as an inbound
// file (up to 64 KB), with a data directory of its own: accounts "alice"
// (receives by RECV.FLG) and "bob", a routing table, a link that receives
// MMS, joining and two-way copies on.
//
// Checks, besides surviving:
//  - a loaded message written again for an account or the inbound
//    directory loads back with the same values (the data cut only where
//    the loader cuts) and never with a local user, route or retry block it
//    did not carry: no value writes a key of its own;
//  - one pass of the inbound thread over the file never leaves a file or
//    directory outside the data directory (the three directories above it
//    are watched), and the file is gone, set aside or still there whole.
// The inbound and account directories are emptied every 256 runs.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "foundation/settings.h"
#include "hostlib/accounts.h"
#include "hostlib/host.h"
#include "inbound/inbound_file.h"
#include "inbound/inbound_worker.h"
#include "platform/files.h"
#include "queue/request_file.h"
#include "queue/request_writer.h"
#include "queue/unique_id.h"

namespace {

namespace fs = std::filesystem;

struct Sandbox {
  fs::path base;    // watched: holds only "w1"
  fs::path level1;  // watched: holds only "w2"
  fs::path level2;  // watched: holds only "data"
  fs::path data;
  unsigned runs = 0;
};

void write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

Sandbox* setUp() {
  auto* s = new Sandbox;
  std::string tmpl = fs::is_directory("/dev/shm") ? "/dev/shm/veksms-inbound-fuzz-XXXXXX"
                                                  : "/tmp/veksms-inbound-fuzz-XXXXXX";
  if (!::mkdtemp(tmpl.data())) std::abort();
  s->base = tmpl.c_str();
  s->level1 = s->base / "w1";
  s->level2 = s->level1 / "w2";
  s->data = s->level2 / "data";
  if (!vek::hostlib::setDataDirectory(s->data.string() + "/").ok()) std::abort();
  write(s->data / "SMSGW.INI",
        "[SMSGW]\nReceiveSMS=Yes\nDuplicateUserMessagesFor2Way=Yes\n"
        "[Inbound SMS Routing]\nalice=44*,!4471*\nbob=service_type=WAP\n~SMSIN=*\n"
        "[SMPP - mms:1]\nReceiveMMS=Yes\n[Modem - 2Way]\nRetryDelay=0\n");
  vek::hostlib::SMSIniSetFilename((s->data / "SMSGW.INI").string());
  vek::hostlib::MMSCIniSetFilename((s->data / "MMSC.INI").string());
  if (!vek::hostlib::openAccountStore((s->data / "private" / "USERS.DB").string()).ok())
    std::abort();
  for (const char* name : {"alice", "bob"}) {
    vek::hostlib::Account a;
    a.name = name;
    (void)vek::hostlib::accountStore()->add(a);
  }
  write(s->data / "USERS" / "alice" / "RECV.FLG", "");
  vek::foundation::publishSettings(vek::foundation::Settings{});
  vek::queue::resetUniqueMessageIdsForTesting((s->data / "private" / "UID.DAT").string());
  return s;
}

std::set<std::string> names(const fs::path& dir) {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.insert(e.path().filename().string());
  return out;
}

void fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

void checkContained(const Sandbox& s) {
  if (names(s.base) != std::set<std::string>{"w1"} ||
      names(s.level1) != std::set<std::string>{"w2"} ||
      names(s.level2) != std::set<std::string>{"data"}) {
    fail("a file appeared outside the data directory");
  }
}

std::string noRoute(std::string_view) {
  return std::string();
}

// The routed copy keeps every value it writes and invents none.
void checkCopy(const vek::queue::SMSMessage& m, bool inbound) {
  const std::string text = vek::inbound::formatRoutedCopy(m, inbound);
  vek::queue::SMSMessage c;
  vek::queue::parseSMSMessage(text, &c, noRoute);
  if (c.Inbound != inbound) fail("copy: section");
  if (!c.RouteToLocalUser.empty() || !c.SMSCRoute.empty() || c.HasErrorDetail || c.RecombineFlag)
    fail("copy: a key appeared that was never written");
  if (c.Data != vek::inbound::cutData(m.Data, m.Binary, m.dcs).substr(0, c.Data.size()) ||
      vek::queue::escapeData(c.Data).size() > vek::queue::kLimitData)
    fail("copy: data");
  if (c.Binary != m.Binary || c.pid != m.pid || c.dcs != m.dcs ||
      c.DuplicateMessageFor2Way != m.DuplicateMessageFor2Way)
    fail("copy: flags");
  if ((c.MessageFlags & ~0x3Cu) != (m.MessageFlags & ~0x3Cu)) fail("copy: request flags");
  // Values without control characters come back unchanged.
  auto same = [](const std::string& a, const std::string& b) {
    for (char ch : a)
      if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) return true;
    return a == b;
  };
  if (!same(m.Sender, c.Sender) || !same(m.PhoneNumber, c.PhoneNumber) ||
      !same(m.ServiceType, c.ServiceType) || !same(m.SMPPOptions, c.SMPPOptions) ||
      !same(m.UDH, c.UDH))
    fail("copy: values");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Sandbox* sandbox = [] {
    Sandbox* s = setUp();
    static const fs::path base = s->base;
    std::atexit([] { fs::remove_all(base); });
    return s;
  }();
  if (size > (64u << 10)) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);

  vek::queue::SMSMessage m;
  vek::queue::parseSMSMessage(text, &m, noRoute);
  checkCopy(m, true);
  checkCopy(m, false);

  const fs::path inbound = sandbox->data / "SMS-IN";
  const std::string name = "FUZZ" + std::to_string(sandbox->runs) + ".in";
  fs::create_directories(inbound);
  if (!vek::platform::publishFile((inbound / name).string(), text).ok()) fail("drop");
  vek::inbound::InboundWorker(vek::inbound::kInboundMessagesAndJoining).runPass();
  checkContained(*sandbox);
  auto left = vek::platform::readFile((inbound / name).string());
  const std::string kept = text.substr(0, vek::queue::errorDetailOffset(text));
  if (left.ok() && left->compare(0, kept.size(), kept) != 0)
    fail("an inbound file was changed other than in its retry block");

  if (++sandbox->runs % 256 == 0) {
    fs::remove_all(inbound);
    fs::remove_all(sandbox->data / "USERS" / "alice" / "Q");
    fs::remove_all(sandbox->data / "USERS" / "bob" / "Q");
    fs::remove_all(sandbox->data / "Q");
  }
  return 0;
}
