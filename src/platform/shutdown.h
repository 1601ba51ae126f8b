// The process-wide shutdown flag. Every thread polls it; nothing clears it
// once set (except tests, between cases). Every blocking wait in the gateway
// is bounded and checks it, and sleeps go through sleepFor() so that a stop
// request wakes them at once. Thread-safe; shutdownRequested() is lock-free.
#pragma once

#include <atomic>
#include <chrono>

namespace vek::platform {

void requestShutdown();
bool shutdownRequested();
// The flag itself, for code that polls it in a tight loop.
const std::atomic<bool>& shutdownFlag();
// Sleeps `d`; returns false (early) when shutdown was requested.
bool sleepFor(std::chrono::milliseconds d);
// Tests only: clears the flag.
void resetShutdownForTesting();

}  // namespace vek::platform
