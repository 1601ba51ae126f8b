// Local accounts as targets of received messages.
//
// A name that arrives with a message ("RouteToLocalUser=" from a link, a
// client or a file) or stands in the routing table is only ever used when
// it names an existing account of the account store; the account's own
// spelling is then used for its directories, so no name from outside
// becomes a path, and "../x" or "a/b" never names anything.
//
// The inbound directory itself is a target too: "~SMSIN" (an ".in" file)
// and "~SMSIN::<ext>" (that extension, one to eight letters or digits).
//
// Lookups go to the account store at most once per name every 15 seconds;
// the answers are cached for at most 4096 names (a flood of invented names
// empties the cache, it never grows without bound). Thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vek::inbound {

inline constexpr std::string_view kInboundDirectoryUser = "~SMSIN";

// The existing account `name` names (without regard to case), in the
// store's spelling; nullopt for anything else.
std::optional<std::string> existingAccount(std::string_view name);
// True when the account (an existing account's name) asked to receive the
// messages addressed to it: "RECV.FLG" in its directory.
bool receivesMessages(const std::string& account);

// "~SMSIN" or "~SMSIN::<ext>": true, with the extension ("in" for the
// plain form) in `*extension`. False for anything else, a bad extension
// included.
bool inboundDirectoryTarget(std::string_view user, std::string* extension = nullptr);

// Tests: forget the cached answers.
void forgetCachedAccounts();

}  // namespace vek::inbound
