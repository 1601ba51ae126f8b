// Status: the result of an operation that can fail: a kind that says what
// the caller can do about it, the system error number captured at the
// failure, and a one-line text naming the cause.
//
// A default-constructed Status is success. Statuses are plain values: copy
// them, branch on kind(), print message(). Thread-compatible.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace vek::platform {

// What a failure means to the caller. Every layer uses the kinds the same
// way; a layer that must tell its client more (a protocol's own error
// codes) keeps its own reason beside the Status, never instead of it.
enum class StatusKind {
  kOk,
  kInvalid,   // the input is wrong: the same input will fail again
  kNotFound,  // what was named does not exist
  kRefused,   // a rule or a policy said no (rights, quota, accounting)
  kTryLater,  // not now: busy, full, throttled, timed out
  kIo,        // a system call failed; code() holds its errno
  kCorrupt,   // stored or received bytes cannot be read
  kFailed,    // any other failure
};

class [[nodiscard]] Status {
 public:
  Status() = default;

  static Status success() { return Status(); }
  // A failure with `text` and an optional errno value: kind kIo with an
  // errno, kFailed without.
  static Status error(std::string text, int code = -1) {
    return Status(code > 0 ? StatusKind::kIo : StatusKind::kFailed, code == 0 ? -1 : code,
                  std::move(text));
  }
  static Status make(StatusKind kind, std::string text) {
    return Status(kind == StatusKind::kOk ? StatusKind::kFailed : kind, -1, std::move(text));
  }
  static Status invalid(std::string text) { return make(StatusKind::kInvalid, std::move(text)); }
  static Status notFound(std::string text) { return make(StatusKind::kNotFound, std::move(text)); }
  static Status refused(std::string text) { return make(StatusKind::kRefused, std::move(text)); }
  static Status tryLater(std::string text) { return make(StatusKind::kTryLater, std::move(text)); }
  static Status corrupt(std::string text) { return make(StatusKind::kCorrupt, std::move(text)); }
  // Captures errno now: "<op> <what>: <strerror>", kind kIo.
  static Status fromErrno(std::string_view op, std::string_view what);
  static Status fromErrno(int err, std::string_view op, std::string_view what);

  bool ok() const { return code_ == 0; }
  explicit operator bool() const { return ok(); }
  StatusKind kind() const { return kind_; }
  // errno of the failure, -1 for a failure without one, 0 for success.
  int code() const { return code_; }
  const std::string& message() const { return text_; }

 private:
  Status(StatusKind kind, int code, std::string text)
      : kind_(kind), code_(code), text_(std::move(text)) {}
  StatusKind kind_ = StatusKind::kOk;
  int code_ = 0;
  std::string text_;
};

// A value or the Status that explains why there is none.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)), has_(true) {}  // NOLINT: implicit on purpose
  Result(Status status) : status_(std::move(status)) {       // NOLINT
    if (status_.ok()) status_ = Status::error("no value");
  }

  bool ok() const { return has_; }
  explicit operator bool() const { return has_; }
  const Status& status() const { return status_; }
  T& value() & { return value_; }
  const T& value() const& { return value_; }
  T&& value() && { return std::move(value_); }
  T* operator->() { return &value_; }
  const T* operator->() const { return &value_; }
  T& operator*() & { return value_; }
  const T& operator*() const& { return value_; }

 private:
  T value_{};
  Status status_;
  bool has_ = false;
};

}  // namespace vek::platform
