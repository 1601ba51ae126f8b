// The protocol debug switches of the message-centre engines (SMPPSetDebugMode,
// UCPSetDebugMode, CIMDSetDebugMode) and the one form in which a text frame
// goes to the debug log.
//
// A switch only opens the door: lines are written when the debug log itself
// is on. Thread-safe (atomics).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vek::protocols {

enum class Engine { kSmpp, kUcp, kCimd };

void setProtocolDebug(Engine engine, bool on);
// The engine's switch is on and the debug log writes.
bool protocolDebug(Engine engine);

// A frame as one printable log line: control characters as <STX>, <ETX>,
// <TAB> or <hh>, bytes from 0x7F as <hh>, cut after `max` input bytes with
// "...(n bytes)".
std::string printableFrame(std::string_view frame, size_t max = 2048);

}  // namespace vek::protocols
