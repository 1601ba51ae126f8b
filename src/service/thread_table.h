// The start-up thread table: which worker threads the service starts, in
// which order, under which condition and with which argument. It is data:
// a component adds its thread with one row.
//
// Rows of phase kBeforeReport start before the two-second pause and the
// start-up report; rows of kAfterReport after it, followed by the link
// threads (link_threads.h). The first row is vital: when it cannot be
// started the service ends.
#pragma once

#include <span>

#include "foundation/service_state.h"

namespace vek::service {

struct StartupContext {
  foundation::StartupFacts facts;
  bool smpp_library = false;  // the SMPP engine's entry table is complete
};

enum class Phase { kBeforeReport, kAfterReport };

struct ThreadRow {
  const char* name;  // thread description in the registry and debug log
  Phase phase;
  bool (*condition)(const StartupContext&);  // null: always
  void (*body)(int argument);
  int argument;
  // How many copies to start (null: one). Copies get the same argument.
  int (*copies)(const StartupContext&);
  // Called before the thread starts; false means "do not start" (for rows
  // that first have to claim a resource, such as a UDP port).
  bool (*prepare)(const StartupContext&);
};

std::span<const ThreadRow> threadTable();

}  // namespace vek::service
