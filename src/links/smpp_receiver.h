// The receive side of an SMPP link: the separate receiver connection and
// the asynchronous receive workers, started and stopped by the link's
// sender thread (through links/hand_off.h).
//
// Receiver connection (one thread per sender instance that asks for it,
// "SMPP receiver <link> #<instance>"): connects to the remote part of
// `ReceiverPort` or else the link name's port, binds locally to `BindIP`
// and the local part of `ReceiverPort`, binds as receiver (type 1) with the
// sender's credentials and failure texts, then yields to the connection a
// second at a time, delivering the link's asynchronously queued messages
// too. Every `KeepAlive` seconds it sends enquire_link (no answer ends the
// connection) and checks the settings: a `ReceiverCount` below its instance
// ends it ("Stopping receiver"), any other change that needs a new
// connection reconnects at once. A failed or lost connection is tried again
// after the link's reconnect wait (NextConnectTime), checking the settings
// every second.
//
// Asynchronous receive workers (`AsyncReceiveMessages` with a window):
// each takes the link's queued messages (smpp::SMPPReceiveFromAsyncQ),
// stores them through the receive callback and leaves the answers for the
// connection's thread to send, so that a message is acknowledged only once
// it is on disk. A shared count of running workers lets the starter wait
// until they are ready and the stopper until they are gone. While a link
// has workers, its connections queue what they receive instead of storing
// it on the connection's own thread (asyncReceiveWorkersRunning).
//
// Thread-safe: any thread may start or stop; each receiver and worker runs
// on a worker thread of its own (foundation/thread_registry).
#pragma once

#include <chrono>
#include <string_view>

namespace vek::links {

// Starts the receiver connection of `link` for sender instance `instance`
// (`link_number` is n of `Modem%u`, for the settings check). A receiver
// already running for the same link and instance is left alone.
void startSmppReceiver(std::string_view link, unsigned link_number, int instance);

// Starts `count` receive workers for `link` (and `instance`) and waits up
// to `ready_bound` until all run. True when they do.
bool startSmppReceiveWorkers(std::string_view link, int instance, int count,
                             std::chrono::milliseconds ready_bound);

// Whether receive workers run for `link` (any instance).
bool smppReceiveWorkersRunning(std::string_view link);

// Tells the receiver connection and the workers of `link` and `instance` to
// stop and waits up to `bound` for each group. True when all ended in time.
bool stopSmppReceivers(std::string_view link, int instance, std::chrono::milliseconds bound);

}  // namespace vek::links
