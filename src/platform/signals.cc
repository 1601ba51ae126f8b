#include "platform/signals.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/clock.h"
#include "platform/shutdown.h"

namespace vek::platform {
namespace {

std::atomic<bool> g_stop{false};
std::atomic<bool> g_reload{false};
int g_pipe[2] = {-1, -1};

void wakePipe() {
  if (g_pipe[1] >= 0) {
    char b = 1;
    ssize_t ignored = ::write(g_pipe[1], &b, 1);
    (void)ignored;
  }
}

void onStopSignal(int) {
  int saved = errno;
  g_stop.store(true);
  wakePipe();
  errno = saved;
}

void onReloadSignal(int) {
  int saved = errno;
  g_reload.store(true);
  wakePipe();
  errno = saved;
}

struct AltStack {
  std::unique_ptr<char[]> memory;
  ~AltStack() {
    if (memory) {
      stack_t ss = {};
      ss.ss_flags = SS_DISABLE;
      sigaltstack(&ss, nullptr);
    }
  }
};

}  // namespace

void installServiceSignals() {
  if (g_pipe[0] < 0) {
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) g_pipe[0] = g_pipe[1] = -1;
  }
  struct sigaction sa = {};
  sigemptyset(&sa.sa_mask);
  sa.sa_handler = onStopSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGQUIT, &sa, nullptr);
  sa.sa_handler = onReloadSignal;
  sigaction(SIGHUP, &sa, nullptr);
  sa.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &sa, nullptr);
}

bool stopSignalReceived() {
  return g_stop.load();
}

bool takeReloadRequest() {
  return g_reload.exchange(false);
}

bool waitForSignal(std::chrono::milliseconds timeout) {
  const SteadyTime deadline = deadlineAfter(timeout);
  if (g_pipe[0] < 0) {
    (void)sleepFor(timeout);
    return false;
  }
  struct pollfd p = {g_pipe[0], POLLIN, 0};
  for (;;) {
    p.revents = 0;
    int r = ::poll(&p, 1, pollTimeoutMs(deadline));
    if (r > 0) break;
    if (r < 0 && errno != EINTR) return false;
    if (monotonicNow() >= deadline) return false;
  }
  char buf[64];
  while (::read(g_pipe[0], buf, sizeof buf) > 0) {
  }
  return true;
}

void installCrashHandler(CrashHandler handler) {
  struct sigaction sa = {};
  sigemptyset(&sa.sa_mask);
  sa.sa_handler = handler;
  sa.sa_flags = SA_ONSTACK | SA_RESETHAND;
  for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) sigaction(sig, &sa, nullptr);
  installAltStack();
}

void installAltStack() {
  thread_local AltStack alt;
  if (alt.memory) return;
  const size_t size = 64 * 1024;
  alt.memory.reset(new char[size]);
  stack_t ss = {};
  ss.ss_sp = alt.memory.get();
  ss.ss_size = size;
  if (sigaltstack(&ss, nullptr) != 0) alt.memory.reset();
}

}  // namespace vek::platform
