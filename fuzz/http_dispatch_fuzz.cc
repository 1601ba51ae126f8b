// Feeds whole HTTP requests to the request dispatcher, as the connection
// loop hands them over, with a data directory of its own: a program
// directory with page templates, a distribution list, one configured link,
// national shift tables, an extra argument and bulk blocks of 3 recipients,
// so that the send path, bulk jobs, receipts, lists, menu pages and form
// unpacking all run. Authentication stays off (its failure delay would
// only slow the fuzzer down).
//
// Checks: no crash, and no file or directory appears outside the data
// directory: the three directories above it are watched after every run.
// The queue, inbound, bulk and list directories are emptied every 256 runs.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "foundation/service_state.h"
#include "foundation/settings.h"
#include "hostlib/host.h"
#include "http/server/connection.h"
#include "http/server/dispatch.h"
#include "protocols/http/message.h"
#include "queue/unique_id.h"

namespace {

namespace fs = std::filesystem;

// Answers go nowhere; a held-back answer (the failed-login delay) stays
// with the connection.
class Discard final : public vek::http::ResponseSink {
 public:
  bool write(std::string_view) override { return true; }
};

struct Sandbox {
  fs::path base;    // watched: holds only "w1"
  fs::path level1;  // watched: holds only "w2"
  fs::path level2;  // watched: holds only "data" and "program"
  fs::path data;
  unsigned runs = 0;
};

void write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

void writeLists(const Sandbox& s) {
  write(s.data / "DLists" / "team.TXT", "+111 Al\r\n+222\r\n");
}

Sandbox* setUp() {
  auto* s = new Sandbox;
  // A memory file system when there is one: the runs create and delete
  // files by the hundred thousand.
  std::string tmpl = fs::is_directory("/dev/shm") ? "/dev/shm/veksms-dispatch-fuzz-XXXXXX"
                                                  : "/tmp/veksms-dispatch-fuzz-XXXXXX";
  if (!::mkdtemp(tmpl.data())) std::abort();
  s->base = tmpl.c_str();
  s->level1 = s->base / "w1";
  s->level2 = s->level1 / "w2";
  s->data = s->level2 / "data";
  const fs::path program = s->level2 / "program";
  write(program / "HTML" / "default.htm",
        "menu<!@@StartBlockAdvanced@@>adv<!@@EndBlockAdvanced@@><!@@StartBlockAdmin@@>x"
        "<!@@EndBlockAdmin@@><!@@StartBlockAvailableCredits@@>@@AvailableCredits@@");
  write(program / "HTML" / "SUBMITOK.HTM", "@@ContinueURL@@\n<li>@@SubmitInfo@@\n");
  write(program / "HTML" / "DList Members.htm", "@@DListName@@ @@DListMembers@@");
  ::setenv("VEKSMS_PROGRAM_DIR", program.c_str(), 1);
  if (!vek::hostlib::setDataDirectory(s->data.string() + "/").ok()) std::abort();
  write(s->data / "SMSGW.INI",
        "[SMSGW]\nModem1=SMPP - a:1\nShiftTables=1,2\nExtraHttpArgList=Ref\n"
        "[SMPP - a:1]\nRouteName=r1\n");
  vek::hostlib::SMSIniSetFilename((s->data / "SMSGW.INI").string());
  vek::hostlib::MMSCIniSetFilename((s->data / "MMSC.INI").string());
  vek::foundation::setExtraHttpArgs({"Ref"});
  vek::foundation::Settings settings;
  settings.MaxQDirEntries = 3;
  vek::foundation::publishSettings(settings);
  vek::queue::resetUniqueMessageIdsForTesting((s->data / "private" / "UID.DAT").string());
  writeLists(*s);
  return s;
}

std::set<std::string> names(const fs::path& dir) {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.insert(e.path().filename().string());
  return out;
}

void checkContained(const Sandbox& s) {
  if (names(s.base) != std::set<std::string>{"w1"} ||
      names(s.level1) != std::set<std::string>{"w2"} ||
      names(s.level2) != std::set<std::string>{"data", "program"}) {
    std::fprintf(stderr, "a file appeared outside the data directory %s\n", s.data.c_str());
    std::abort();
  }
}

void emptyQueues(const Sandbox& s) {
  for (const char* dir : {"Q", "SMS-IN", "BULKQ", "DLists", "USERS"}) fs::remove_all(s.data / dir);
  fs::remove_all(s.data / "private" / "TEMP");
  writeLists(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Sandbox* sandbox = [] {
    Sandbox* s = setUp();
    static const fs::path base = s->base;
    std::atexit([] { fs::remove_all(base); });
    return s;
  }();
  if (size < 1) return 0;
  vek::http::Request request;
  request.message.assign(reinterpret_cast<const char*>(data + 1), size - 1);
  size_t body = vek::httpwire::bodyOffset(request.message);
  request.body_offset = body == 0 ? request.message.size() : body;

  Discard sink;
  vek::http::Connection conn(sink, false);
  conn.remote_address = (data[0] & 1) ? "127.0.0.1" : "192.0.2.7";
  conn.http11 = true;
  conn.keep_alive = true;
  conn.browser = (data[0] & 2) != 0;
  vek::http::DispatchRequest(conn, request);

  checkContained(*sandbox);
  if (++sandbox->runs % 256 == 0) emptyQueues(*sandbox);
  return 0;
}
