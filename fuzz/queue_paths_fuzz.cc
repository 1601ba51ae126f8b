// Queue paths from outside names: whatever the route, sub-directory,
// MessageIDPrefix or segment address, the directory stays one level below
// the queue root and a file name never holds a separator or a control
// character. Input: three parts separated by 0xFF (route, sub-directory,
// prefix/address), the first byte choosing the count.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/settings.h"
#include "queue/queue_tree.h"

namespace {

bool cleanName(std::string_view name) {
  if (name.empty() || name.front() == '.') return false;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '/' || u < 0x20 || u == 0x7F) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint64_t counts[] = {0, 9999, 10000, 10001, 0xFFFFFFFFFFull};
  uint64_t count = counts[data[0] % 5];
  std::string_view in(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<std::string_view> parts;
  while (parts.size() < 2) {
    size_t sep = in.find('\xFF');
    if (sep == std::string_view::npos) break;
    parts.push_back(in.substr(0, sep));
    in.remove_prefix(sep + 1);
  }
  parts.push_back(in);
  parts.resize(3);

  vek::foundation::Settings s;
  s.MessageIDPrefix = std::string(parts[2]);
  vek::foundation::publishSettings(s);

  const std::string root = "/q/";
  std::string dir = vek::queue::QueueDirectoryIn(root, parts[0], parts[1], count);
  if (dir.compare(0, root.size(), root) != 0) std::abort();
  std::string_view below = std::string_view(dir).substr(root.size());
  if (!below.empty()) {
    if (below.back() != '/') std::abort();
    below.remove_suffix(1);
    if (!cleanName(below) || below.size() > 255) std::abort();
  }
  std::string segment = vek::queue::segmentFileName(parts[0], 0x1f, 2, 1, "req");
  if (!cleanName(segment)) std::abort();
  std::string route;
  (void)vek::queue::routeOfPartition(parts[1], &route);
  (void)vek::queue::routePartitionOpenTo(parts[1], {std::string(parts[0])});
  return 0;
}
