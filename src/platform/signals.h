// Signals as the service sees them: SIGINT, SIGTERM and SIGQUIT ask for a
// stop; SIGHUP asks for an immediate reload of settings and lists; SIGPIPE is
// ignored (sends use MSG_NOSIGNAL anyway). The handlers only set flags and
// write one byte to a pipe that the supervisor polls; they never log.
//
// The crash handler (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT) runs on an
// alternate stack, so that a stack overflow still reaches it; each thread
// that may crash calls installAltStack() once at its start.
#pragma once

#include <chrono>

namespace vek::platform {

void installServiceSignals();
// True once a stop signal arrived (the flag stays set).
bool stopSignalReceived();
// Returns and clears the reload request.
bool takeReloadRequest();
// Waits up to `timeout` for a signal to arrive; true when one did.
bool waitForSignal(std::chrono::milliseconds timeout);

using CrashHandler = void (*)(int signal_number);
void installCrashHandler(CrashHandler handler);
// Gives the calling thread an alternate signal stack (freed at thread exit).
void installAltStack();

}  // namespace vek::platform
