// Bulk job parsing and expansion.
//
// Every input is read as a recipient list, split into pieces whose sizes
// come from the input itself, and each line parsed: an accepted line must
// give usable output names for every template number and a request text
// whose recipient and route stay on their own lines.
//
// An input starting with 'J' is also written as a whole job into a
// sandbox and expanded by one bulk queue pass: the rest of the input, split
// at NUL bytes, is an extra file name for the job (a flag file, say), the
// template M1.REQ, and recipient lists R0000001.BLK onwards. Checks: no
// crash, nothing appears outside the sandbox's data directory (the two
// directories above it are watched), every file in the queue lies in a
// partition under a usable name, and no staging directory is left behind.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/settings.h"
#include "queue/bulk_list.h"
#include "queue/bulk_queue.h"
#include "queue/unique_id.h"

namespace {

namespace fs = std::filesystem;
using namespace vek::queue;

struct Sandbox {
  fs::path base;    // watched: holds only "w"
  fs::path level1;  // watched: holds only "data"
  fs::path data;
};

void write(const fs::path& path, std::string_view text) {
  std::ofstream(path, std::ios::binary)
      .write(text.data(), static_cast<std::streamsize>(text.size()));
}

const Sandbox& sandbox() {
  static Sandbox* s = [] {
    auto* sb = new Sandbox;
    std::string tmpl = fs::is_directory("/dev/shm") ? "/dev/shm/veksms-bulk-fuzz-XXXXXX"
                                                    : "/tmp/veksms-bulk-fuzz-XXXXXX";
    if (!::mkdtemp(tmpl.data())) std::abort();
    sb->base = tmpl.c_str();
    sb->level1 = sb->base / "w";
    sb->data = sb->level1 / "data";
    fs::create_directories(sb->data);
    resetUniqueMessageIdsForTesting((sb->data / "UID.DAT").string());
    vek::foundation::publishSettings(vek::foundation::Settings{});
    return sb;
  }();
  return *s;
}

void check(bool ok) {
  if (!ok) std::abort();
}

void parseAsList(std::string_view input) {
  const unsigned templates = input.empty() ? 1 : 1 + static_cast<unsigned char>(input[0]) % 99;
  LineSplitter splitter;
  LineSplitter::Visit visit = [&](const LineSplitter::Line& line) {
    check(line.text.size() <= kMaxRecipientLine);
    check(line.text.find_first_of("\r\n") == std::string_view::npos);
    RecipientLine r;
    LineVerdict v =
        line.too_long ? LineVerdict::kTooLong : parseRecipientLine(line.text, templates, &r);
    (void)lineVerdictText(v);
    if (v != LineVerdict::kOk) return;
    for (unsigned k : {1u, templates / 2 + 1, templates}) {
      std::string name = requestFileName(r.name, k);
      check(isUsableRequestName(name));
      check(name.find('/') == std::string::npos && name != "." && name != "..");
    }
    std::string text = bulkRequestText("[SMS]\r\n", r.recipient, r.route);
    size_t lines = 0;
    for (char c : text) lines += c == '\n';
    check(lines == (r.route.empty() ? 2u : 3u));
  };
  // Piece sizes from the input: 1 to 64 bytes.
  size_t pos = 0, i = 0;
  while (pos < input.size()) {
    size_t n = 1 + static_cast<unsigned char>(input[i++ % input.size()]) % 64;
    splitter.feed(input.substr(pos, n), visit);
    pos += std::min(n, input.size() - pos);
  }
  splitter.finish(visit);
  (void)parseDelayFlagName(input);
}

void expandAsJob(std::string_view input) {
  const Sandbox& s = sandbox();
  const fs::path queue = s.data / "Q";
  const fs::path bulk = s.data / "BULKQ";
  const fs::path job = bulk / "J";
  fs::remove_all(queue);
  fs::remove_all(bulk);
  fs::create_directories(job);
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i <= input.size(); ++i) {
    if (i == input.size() || input[i] == '\0') {
      parts.push_back(input.substr(start, i - start));
      start = i + 1;
    }
  }
  if (!parts[0].empty() && parts[0].find('/') == std::string_view::npos && parts[0] != "." &&
      parts[0] != "..")
    write(job / std::string(parts[0]), "x");
  if (parts.size() > 1) write(job / "M1.REQ", parts[1]);
  for (size_t i = 2; i < parts.size() && i < 12; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "R%07zu.BLK", i - 1);
    write(job / name, parts[i]);
  }

  BulkQueueConfig c;
  c.bulk_directory = bulk.string() + "/";
  c.queue_directory = queue.string() + "/";
  c.max_dir_entries = 4;
  c.pace = false;
  (void)processBulkQueue(c);

  for (const fs::path& watched : {s.base, s.level1}) {
    size_t entries = 0;
    for (const auto& e : fs::directory_iterator(watched)) {
      (void)e;
      ++entries;
    }
    check(entries == 1);
  }
  std::error_code ec;
  for (const auto& p : fs::directory_iterator(queue, ec)) {
    const std::string name = p.path().filename().string();
    check(name.rfind("####", 0) == 0 && p.is_directory());
    for (const auto& f : fs::directory_iterator(p.path())) {
      check(isUsableRequestName(f.path().filename().string()));
      check(f.is_regular_file());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  parseAsList(input);
  if (!input.empty() && input[0] == 'J') expandAsJob(input.substr(1));
  return 0;
}
