// Named interface events: wake-ups between the link threads and the SMPP
// server ("SmppSubmitAsync" / "SmppReceiveAsync" families, one event per
// link or account name). In-process; names compare without regard to case.
// Thread-safe; events live until the process ends.
#pragma once

#include <memory>
#include <string_view>

#include "platform/event.h"

namespace vek::hostlib {

// The event of (family, name), created (auto-reset, not set) when missing.
std::shared_ptr<platform::Event> CreateEventForInterface(std::string_view family,
                                                         std::string_view name);
// The existing event, or null.
std::shared_ptr<platform::Event> OpenEventForInterface(std::string_view family,
                                                       std::string_view name);
// Sets the event when it exists; true when it did.
bool SetEventForInterface(std::string_view family, std::string_view name);

}  // namespace vek::hostlib
