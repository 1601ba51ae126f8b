// Many parameter lookups on one request: the first-occurrence reader of
// params.h behind a presence test. The request is lower-cased once; a name
// whose "name=" occurs nowhere in it cannot be found by the reader, so
// most of the thirty-odd names the send path asks for cost one substring
// search instead of a full scan of the request line and body each.
// Results are exactly requestParameter's. A request larger than
// kCopyLimit is not copied (a large upload would otherwise take its size
// again, beyond the body memory budget): its presence tests search the
// request itself, ignoring case.
//
// A plain value over the caller's request text, which must outlive it;
// one thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vek::http {

class ParamLookup {
 public:
  static constexpr size_t kCopyLimit = 64u << 10;

  explicit ParamLookup(std::string_view msg);

  // requestParameter(msg, name, size).
  std::optional<std::string> get(std::string_view name, size_t size = 8192) const;
  // The message holds "name=" somewhere (ASCII case ignored).
  bool mayHave(std::string_view name) const;
  // The message holds `text` somewhere (ASCII case ignored).
  bool contains(std::string_view text) const;
  std::string_view message() const { return msg_; }

 private:
  std::string_view msg_;
  std::string lower_;  // empty for a request over kCopyLimit
  bool copied_ = false;
};

}  // namespace vek::http
