// Link threads: one sender thread per configured link thread. Links are the
// keys "Modem1", "Modem2", ... of section SMSGW; each names the link's own
// section, whose TransmitterCount / ReceiverCount give its thread count.
//
// Each thread j of link i holds the lock file "ROUTE-i-j.LCK" in the STATS
// directory (flock on an open descriptor) for its whole life and removes it
// when it ends; a held lock means the thread runs and is not started again.
// Thread-safe; called by the supervisor only.
#pragma once

#include <string>

namespace vek::service {

// initial = true: scan links 1..201 whatever the gaps, then stop at the first
// gap; initial = false: stop at the first gap. Returns the threads started.
int StartLinkThreads(bool initial);

// The thread count of a link (its `Modem%u` value): the larger of
// TransmitterCount and ReceiverCount in the link's settings section (the
// link-name rule: "Modem - " before a local modem's name), each 1 when empty
// or not starting with a digit.
int linkThreadCount(const std::string& link_name);

}  // namespace vek::service
