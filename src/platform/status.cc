#include "platform/status.h"

#include <cerrno>
#include <cstring>

namespace vek::platform {

Status Status::fromErrno(std::string_view op, std::string_view what) {
  return fromErrno(errno, op, what);
}

Status Status::fromErrno(int err, std::string_view op, std::string_view what) {
  std::string text(op);
  if (!what.empty()) {
    text += ' ';
    text += what;
  }
  text += ": ";
  char buf[128];
  // GNU strerror_r returns the text, which may or may not live in buf.
  text += strerror_r(err, buf, sizeof buf);
  return Status(StatusKind::kIo, err == 0 ? -1 : err, std::move(text));
}

}  // namespace vek::platform
