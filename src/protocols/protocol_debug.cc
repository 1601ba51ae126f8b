#include "protocols/protocol_debug.h"

#include <atomic>

#include "foundation/debug_log.h"
#include "platform/strings.h"

namespace vek::protocols {

namespace {

std::atomic<bool> g_switch[3];

std::atomic<bool>& switchOf(Engine e) {
  return g_switch[static_cast<int>(e)];
}

}  // namespace

void setProtocolDebug(Engine engine, bool on) {
  switchOf(engine).store(on, std::memory_order_relaxed);
}

bool protocolDebug(Engine engine) {
  return switchOf(engine).load(std::memory_order_relaxed) && foundation::debugEnabled();
}

std::string printableFrame(std::string_view frame, size_t max) {
  std::string out;
  size_t n = std::min(frame.size(), max);
  out.reserve(n + 16);
  for (size_t i = 0; i < n; ++i) {
    auto c = static_cast<unsigned char>(frame[i]);
    if (c == 0x02)
      out += "<STX>";
    else if (c == 0x03)
      out += "<ETX>";
    else if (c == '\t')
      out += "<TAB>";
    else if (c < 0x20 || c >= 0x7F)
      out += platform::format("<%02X>", c);
    else
      out.push_back(static_cast<char>(c));
  }
  if (n < frame.size()) out += platform::format("...(%zu bytes)", frame.size());
  return out;
}

}  // namespace vek::protocols
