// Error: why the submission layer refused a message, as data: a kind that
// a front end maps onto its own answer (an HTTP status and error page, an
// SMPP command status) and the exact text the interface shows its client.
// Nothing here knows how it is rendered.
//
// Checked<T>: a value or the Error that explains why there is none (the
// platform::Result of this layer, for refusals a client must be told).
//
// Plain values; thread-compatible.
#pragma once

#include <string>
#include <utility>
#include <variant>

#include "platform/status.h"

namespace vek::submit {

enum class ErrorKind {
  kInvalidField,       // a one-line value holds a control character
  kNoRecipient,        // no usable recipient
  kTooManyRecipients,  // more recipients than one submission may name
  kUnknownRoute,       // SMSCRoute names no link and no link's route
  kInvalidHeader,      // UDH not hexadecimal octets, or its length octet is wrong
  kInvalidData,        // binary data not hexadecimal, or of odd length
  kCannotEncode,       // the content cannot be split into segments
  kOverQuota,          // the account has no room for the messages
  kAccountingRefused,  // the accounting callback refused the submission
};

struct Error {
  ErrorKind kind = ErrorKind::kInvalidField;
  std::string text;  // the client sees exactly this

  // The same refusal as a Status: kRefused for quota and accounting,
  // kInvalid otherwise.
  platform::Status status() const;
};

template <typename T>
class [[nodiscard]] Checked {
 public:
  Checked(T value) : v_(std::move(value)) {}      // NOLINT: implicit on purpose
  Checked(Error error) : v_(std::move(error)) {}  // NOLINT

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  const Error& error() const { return std::get<1>(v_); }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

 private:
  std::variant<T, Error> v_;
};

}  // namespace vek::submit
