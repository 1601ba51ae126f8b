#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/clock.h"
#include "platform/strings.h"

extern char** environ;

namespace vek::platform {
namespace {

// A look-again interval of at most `most` ms that never runs past `deadline`.
int sliceMs(SteadyTime deadline, int most) {
  int t = pollTimeoutMs(deadline);
  return (t < 0 || t > most) ? most : t;
}

struct Spawned {
  pid_t pid = -1;
  UniqueFd in, out, err;
};

bool isExecutable(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

Result<Spawned> spawnWithPipes(const ProcessOptions& o, bool pipe_in, bool pipe_out,
                               bool pipe_err) {
  if (o.argv.empty()) return Status::error("no program given", EINVAL);
  auto program = findProgram(o.argv[0]);
  if (!program) return Status::error(o.argv[0] + ": program not found", ENOENT);

  int in_pipe[2] = {-1, -1}, out_pipe[2] = {-1, -1}, err_pipe[2] = {-1, -1};
  auto closeAll = [&] {
    for (int* p : {in_pipe, out_pipe, err_pipe})
      for (int i = 0; i < 2; ++i)
        if (p[i] >= 0) ::close(p[i]);
  };
  if ((pipe_in && ::pipe2(in_pipe, O_CLOEXEC) != 0) ||
      (pipe_out && ::pipe2(out_pipe, O_CLOEXEC) != 0) ||
      (pipe_err && ::pipe2(err_pipe, O_CLOEXEC) != 0)) {
    Status st = Status::fromErrno("pipe", "");
    closeAll();
    return st;
  }

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (pipe_in) {
    posix_spawn_file_actions_adddup2(&fa, in_pipe[0], 0);
  } else if (!o.stdin_path.empty()) {
    posix_spawn_file_actions_addopen(&fa, 0, o.stdin_path.c_str(), O_RDONLY, 0);
  } else {
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  }
  if (!o.output_path.empty()) {
    posix_spawn_file_actions_addopen(&fa, 1, o.output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
  } else {
    if (pipe_out) posix_spawn_file_actions_adddup2(&fa, out_pipe[1], 1);
    if (pipe_err) {
      posix_spawn_file_actions_adddup2(&fa, err_pipe[1], 2);
    } else if (o.merge_stderr && pipe_out) {
      posix_spawn_file_actions_adddup2(&fa, out_pipe[1], 2);
    }
  }
  if (!o.working_dir.empty()) posix_spawn_file_actions_addchdir_np(&fa, o.working_dir.c_str());

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int s : {SIGPIPE, SIGINT, SIGTERM, SIGQUIT, SIGHUP}) sigaddset(&defaults, s);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setsigmask(&attr, &none);
  // Own process group: a time-out kills the whole group, grandchildren too.
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);

  std::vector<char*> argv;
  for (const auto& a : o.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> env_store;
  for (char** e = environ; e && *e; ++e) env_store.emplace_back(*e);
  for (const auto& e : o.extra_env) env_store.push_back(e);
  std::vector<char*> envp;
  for (auto& e : env_store) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = -1;
  int rc = posix_spawn(&pid, program->c_str(), &fa, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    closeAll();
    return Status::fromErrno(rc, "spawn", *program);
  }
  Spawned s;
  s.pid = pid;
  if (pipe_in) {
    ::close(in_pipe[0]);
    s.in.reset(in_pipe[1]);
    ::fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);
  }
  if (pipe_out) {
    ::close(out_pipe[1]);
    s.out.reset(out_pipe[0]);
  }
  if (pipe_err) {
    ::close(err_pipe[1]);
    s.err.reset(err_pipe[0]);
  }
  return s;
}

void killGroup(pid_t pid) {
  ::kill(-pid, SIGKILL);
  ::kill(pid, SIGKILL);
}

void decodeStatus(int status, ProcessResult* r) {
  if (WIFEXITED(status)) {
    r->exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    r->term_signal = WTERMSIG(status);
  }
}

}  // namespace

std::optional<std::string> findProgram(const std::string& program) {
  if (program.empty()) return std::nullopt;
  if (program.find('/') != std::string::npos) {
    if (isExecutable(program)) return program;
    return std::nullopt;
  }
  const char* path = ::getenv("PATH");
  for (const auto& dir : split(path ? path : "/usr/local/bin:/usr/bin:/bin", ":")) {
    std::string candidate = dir + "/" + program;
    if (isExecutable(candidate)) return candidate;
  }
  return std::nullopt;
}

ProcessResult runProcess(const ProcessOptions& o) {
  // The limit counts from the call, spawning included.
  const SteadyTime deadline = deadlineAfter(o.time_limit);
  ProcessResult r;
  bool pipe_out = o.output_path.empty();
  auto spawned = spawnWithPipes(o, o.stdin_data.has_value(), pipe_out, pipe_out && !o.merge_stderr);
  if (!spawned.ok()) {
    r.error = spawned.status();
    return r;
  }
  r.started = true;
  Spawned& s = *spawned;
  std::string_view to_write = o.stdin_data ? std::string_view(*o.stdin_data) : std::string_view();
  if (s.in && to_write.empty()) s.in.reset();

  int status = 0;
  bool reaped = false;
  while (true) {
    if (!reaped) {
      pid_t w = ::waitpid(s.pid, &status, WNOHANG);
      if (w == s.pid) reaped = true;
    }
    // Once the child is gone, drain what it left and stop: a grandchild
    // that keeps the pipe open must not hold us.
    std::vector<struct pollfd> fds;
    if (s.out) fds.push_back({s.out.get(), POLLIN, 0});
    if (s.err) fds.push_back({s.err.get(), POLLIN, 0});
    if (s.in) fds.push_back({s.in.get(), POLLOUT, 0});
    if (fds.empty() && reaped) break;
    SteadyTime now = monotonicNow();
    if (now >= deadline || (o.cancel && o.cancel->load())) {
      if (!reaped) {
        killGroup(s.pid);
        ::waitpid(s.pid, &status, 0);
        reaped = true;
        if (o.cancel && o.cancel->load() && now < deadline) {
          r.cancelled = true;
        } else {
          r.timed_out = true;
        }
      }
      // Collect whatever is readable right now, then stop.
      for (UniqueFd* fd : {&s.out, &s.err}) {
        if (!*fd) continue;
        ::fcntl(fd->get(), F_SETFL, O_NONBLOCK);
        char buf[8192];
        ssize_t n;
        std::string& dst = fd == &s.out ? r.output : r.error_output;
        while ((n = ::read(fd->get(), buf, sizeof buf)) > 0)
          if (dst.size() < o.max_output)
            dst.append(buf, std::min(static_cast<size_t>(n), o.max_output - dst.size()));
      }
      break;
    }
    // The child's exit is not an event we can poll: look again every 50 ms.
    int wait_ms = reaped ? 0 : sliceMs(deadline, 50);
    if (fds.empty()) {
      ::poll(nullptr, 0, sliceMs(deadline, 20));
      continue;
    }
    int pr = ::poll(fds.data(), fds.size(), wait_ms);
    if (pr < 0 && errno != EINTR) break;
    if (pr <= 0) {
      if (reaped) break;  // child gone and nothing more to read right now
      continue;
    }
    for (auto& p : fds) {
      if (p.revents == 0) continue;
      if (s.in && p.fd == s.in.get()) {
        ssize_t n = ::write(p.fd, to_write.data(), std::min<size_t>(to_write.size(), 65536));
        if (n > 0) to_write.remove_prefix(static_cast<size_t>(n));
        if (n < 0 && errno != EAGAIN && errno != EINTR) to_write = {};
        if (to_write.empty() || (p.revents & (POLLERR | POLLHUP))) s.in.reset();
        continue;
      }
      UniqueFd* src = (s.out && p.fd == s.out.get()) ? &s.out : &s.err;
      std::string& dst = src == &s.out ? r.output : r.error_output;
      char buf[8192];
      ssize_t n = ::read(p.fd, buf, sizeof buf);
      if (n > 0) {
        if (dst.size() < o.max_output)
          dst.append(buf, std::min(static_cast<size_t>(n), o.max_output - dst.size()));
      } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        src->reset();
      }
    }
  }
  if (!reaped) {
    // Output closed but the child lingers: wait out the rest of its time.
    while (true) {
      pid_t w = ::waitpid(s.pid, &status, WNOHANG);
      if (w == s.pid) break;
      SteadyTime now = monotonicNow();
      if (now >= deadline || (o.cancel && o.cancel->load())) {
        killGroup(s.pid);
        ::waitpid(s.pid, &status, 0);
        r.timed_out = now >= deadline;
        r.cancelled = !r.timed_out;
        break;
      }
      ::poll(nullptr, 0, sliceMs(deadline, 10));
    }
  }
  decodeStatus(status, &r);
  return r;
}

Result<ChildProcess> ChildProcess::spawn(const ProcessOptions& options) {
  auto s = spawnWithPipes(options, true, true, false);
  if (!s.ok()) return s.status();
  ChildProcess c;
  c.pid_ = s->pid;
  c.in_ = std::move(s->in);
  ::fcntl(c.in_.get(), F_SETFL, 0);  // blocking writes for a long-lived child
  c.out_ = std::move(s->out);
  return c;
}

ChildProcess::~ChildProcess() {
  kill();
}

ChildProcess::ChildProcess(ChildProcess&& o) noexcept
    : pid_(std::exchange(o.pid_, -1)), in_(std::move(o.in_)), out_(std::move(o.out_)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& o) noexcept {
  if (this != &o) {
    kill();
    pid_ = std::exchange(o.pid_, -1);
    in_ = std::move(o.in_);
    out_ = std::move(o.out_);
  }
  return *this;
}

bool ChildProcess::wait(std::chrono::milliseconds timeout, int* exit_code, int* term_signal) {
  if (pid_ <= 0) return true;
  const SteadyTime deadline = deadlineAfter(timeout);
  int status = 0;
  while (true) {
    pid_t w = ::waitpid(pid_, &status, WNOHANG);
    if (w == pid_) break;
    if (monotonicNow() >= deadline) return false;
    ::poll(nullptr, 0, sliceMs(deadline, 5));
  }
  pid_ = -1;
  if (exit_code) *exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (term_signal) *term_signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return true;
}

void ChildProcess::kill() {
  in_.reset();
  out_.reset();
  if (pid_ > 0) {
    killGroup(pid_);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
}

}  // namespace vek::platform
