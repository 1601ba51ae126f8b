// The last-chance handler: what happens when a thread of the gateway
// crashes (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT) or std::terminate is
// called.
//
// The first crash appends to "EXCEPT.LOG" in the private data directory:
//   Exception occurred in thread #<n>
//   Thread Description:  <the registry's description>
//   <long local date> @ <short local time>
//   -------
// and writes "Exception occurred in thread #<n>" to the debug log under
// "UnhandledExceptionFilter". Every crash then runs the registered hooks
// (closing stores, ending script processes) and ends the process with
// _exit(45233), which the service controller sees as status 177 and
// answers with a restart. The handler never returns to the failing thread.
//
// Everything the handler does is async-signal-safe: the paths are fixed at
// installation, the text is built in a stack buffer, the time uses the UTC
// offset remembered from ordinary code (signal_safe.h).
#pragma once

#include <string>

namespace vek::foundation {

constexpr int kExceptionExitCode = 45233;

// Installs the handler for the whole process (signals and std::terminate)
// and gives the calling thread its alternate signal stack. `private_dir` is
// where "EXCEPT.LOG" goes. Call once at start-up, before other threads run;
// calling again only changes the directory.
void installLastChanceHandler(const std::string& private_dir);

// A cleanup step run before the exit, in registration order. It must be
// async-signal-safe itself (kill, close, write). At most 8; false when full.
using LastChanceHook = void (*)();
bool addLastChanceHook(LastChanceHook hook);

// The handler's body: log (first call only), hooks, _exit(45233).
[[noreturn]] void lastChanceExit();

}  // namespace vek::foundation
