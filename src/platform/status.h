// Status: the result of an operation that can fail, with the system error
// number captured at the failure and a one-line text naming the cause.
//
// A default-constructed Status is success. Statuses are plain values: copy
// them, compare code(), print message(). Thread-compatible.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace vek::platform {

class [[nodiscard]] Status {
 public:
  Status() = default;

  static Status success() { return Status(); }
  // A failure with `text` and an optional errno value.
  static Status error(std::string text, int code = -1) {
    return Status(code == 0 ? -1 : code, std::move(text));
  }
  // Captures errno now: "<op> <what>: <strerror>".
  static Status fromErrno(std::string_view op, std::string_view what);
  static Status fromErrno(int err, std::string_view op, std::string_view what);

  bool ok() const { return code_ == 0; }
  explicit operator bool() const { return ok(); }
  // errno of the failure, -1 for a failure without one, 0 for success.
  int code() const { return code_; }
  const std::string& message() const { return text_; }

 private:
  Status(int code, std::string text) : code_(code), text_(std::move(text)) {}
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
