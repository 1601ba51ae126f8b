// The link sender thread: one per link connection ("ThreadProcessModem").
//
// Argument: "marker,link,instance". The marker is a file the thread holds
// (flock on an open descriptor) for its whole life and removes when it
// ends, so others see that it runs; the service creates and locks it
// before starting the thread (so a link thread is never started twice) and
// hands the descriptor over; a thread started without one creates it.
// `link` is n of `Modem%u`; `instance` the connection number of an SMPP
// link, from 1 (0: none given).
//
// Life of the thread:
//   1. The link name from `Modem%u` (empty: end). A kind without a sender
//      implementation waits, doing nothing, until its link is removed.
//   2. Backup links (`BackupForRoute`): "Route <link> is a backup for
//      <primary>", wait (checking every 2 s) until the primary is down,
//      "Activating backup route <link> for <primary>"; the connection ends
//      again as soon as the primary is up.
//   3. Roles: an instance above the larger of `TransmitterCount` and
//      `ReceiverCount` ends ("Stopping transmitter"); the receive callback
//      is registered; `ReceiveSingleConnection` binds as transceiver;
//      otherwise an instance above `TransmitterCount` is receive-only
//      ("Receive only connection"), and one within `ReceiverCount` (or
//      none given) starts the separate receiver connection. With a window
//      and `AsyncReceiveMessages`, the asynchronous receive workers start;
//      with a window and `SmppSubmitAsyncHelperThread`, the result helpers.
//   4. Connect and log in. A failure goes to the message log ("System"),
//      the debug log and the link status file, and counts; the third
//      consecutive failure raises the link-down alert. A login clears the
//      status, raises the link-restored alert when the link-down alert was
//      raised, and resets the count. "<KIND> connection OK".
//   5. LinkSender runs passes until the connection ends; it then ends
//      orderly (unbind) unless it broke. A broken connection counts as
//      failure number 1; the next attempt waits for NextConnectTime
//      (retry_policy.h), checking the settings every second (a change ends
//      the wait) and shutdown at once. A settings change reconnects at once
//      with fresh settings; a removed or renamed link ends the thread.
//   6. At the end: the receiver connection, the receive workers and the
//      result helpers are told to stop and waited for (15 s each); the
//      marker goes.
#pragma once

#include <string>
#include <string_view>

#include "links/link_protocol.h"
#include "platform/unique_fd.h"

namespace vek::links {

void ThreadProcessModem(const std::string& argument, platform::UniqueFd marker);

struct ThreadArgument {
  std::string marker;
  unsigned link = 0;
  int instance = 0;
};
// "marker,link,instance" (the marker path may itself hold commas: the last
// two fields are taken from the right). False when malformed.
bool parseThreadArgument(std::string_view text, ThreadArgument* out);

// Step 3's decision for one connection.
struct RolePlan {
  bool stop = false;  // the instance is beyond the link's connection counts
  LinkRole role = LinkRole::kTransmitter;
  bool start_receiver = false;  // start the separate receiver connection
};
RolePlan planRole(const LinkKnobs& knobs, int instance);

}  // namespace vek::links
