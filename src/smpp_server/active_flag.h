// The active-connection flag file: one empty file per bound client
// connection, "<private data>/SMPPData/ActiveUsers/<address>-<port>-<S|R|T>-
// <account>.FLG" (S transmitter, R receiver, T transceiver), so that other
// programs can see who is connected. The account part is the name as the
// account store spells it, not as the client typed it, and the whole name
// goes through the path-component sanitiser (an IPv6 address's colons
// become hyphens), so nothing a client sends can place the file elsewhere.
//
// The file is created (or opened, when a stale one is left over) at login,
// held open with a lock while the connection lives and deleted when it ends.
// Owned by the connection's thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status.h"
#include "platform/unique_fd.h"

namespace vek::smpp_server {

// The letter of a bind type: 2 -> 'S', 1 -> 'R', 9 -> 'T'.
char bindLetter(int bind_type);

// The file name for one connection (no directory).
std::string activeFlagName(std::string_view peer_address, uint16_t peer_port, int bind_type,
                           std::string_view account);

class ActiveFlag {
 public:
  ActiveFlag() = default;
  ActiveFlag(ActiveFlag&&) = default;
  ActiveFlag& operator=(ActiveFlag&&) = default;
  ~ActiveFlag() { remove(); }

  // Creates the file in `directory` (made when missing).
  platform::Status create(const std::string& directory, std::string_view peer_address,
                          uint16_t peer_port, int bind_type, std::string_view account);
  // Deletes the file now (idempotent).
  void remove();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  platform::UniqueFd fd_;
};

// "<private data>/SMPPData/ActiveUsers/".
std::string activeFlagDirectory();

}  // namespace vek::smpp_server
