// The gateway's directory layout. Every function returns a path ending in
// '/'. A configured key is used as given (relative values are taken below
// the program data directory); otherwise the default name below its base.
// Functions marked "created" make the directory when it is missing; the
// others leave creation to the first file written into them.
//
// A name from outside (account, route, source) becomes one path component
// through platform::safePathComponent: the hyphen rule for ':', '/' and '\',
// no control characters, no leading '.', so it never leaves its parent.
// Thread-safe (configuration is read through the host library's cache).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vek::foundation {

std::string queueDirectory();                              // QDir, "Q"
std::string bulkQueueDirectory();                          // BulkQDir, "BULKQ" (created)
std::string inboundDirectory();                            // SmsInDir, "SMS-IN"
std::string inboundMMSDirectory();                         // MMSDir, "MMS-IN" (created)
std::string usersDirectory();                              // UsersDir, "USERS"
std::string userDirectory(std::string_view account);       // usersDirectory() + account
std::string userQueueDirectory(std::string_view account);  // (UsersQDir or users) + account + "Q"
std::string userLogDirectory(std::string_view account);    // (UsersLogDir or users) + account
std::string userMMSQueueDirectory(std::string_view account);  // users + account + "MMSQ"
std::string phpDirectory();                                   // PHPDir, "PHP"
std::string mmscDataDirectory();                              // MMSC DataDir, "MMSCDATA" (created)
std::string vaspQueueDirectory();                             // MMSC VASPQDir, "VASPQ" (created)
std::string mmscUsersDirectory();          // MMSC MMSCUsersDir, "MMSCUSERS" (created)
std::string messageIdTrackingDirectory();  // MessageIDTrackingDir, "SMPPData" (created)
std::string statsDirectory();              // private "STATS" (created)
// Private "MMSINQ", or its sub-directory for `source` (created; the parent
// when the sub-directory cannot be made).
std::string inboundMMSWorkDirectory(std::string_view source = {});

// Where a new inbound file goes: the inbound directory while `waiting`
// (inbound messages plus receipts) is not above MaxQDirEntries; otherwise,
// with EnableBulkSmsIn on (default), a "%08X" batch sub-directory whose
// stamp advances by one every MaxQDirEntries files.
std::string inboundBatchDirectory(uint64_t waiting);
// Where a message routed to a local account goes: its queue, and with
// EnableBulkSmsIn on (default off here) a "%08X" batch sub-directory.
std::string accountQueueBatchDirectory(std::string_view account);
// Where a given-up inbound file is set aside: inbound + today's date, plus
// "%02u" of the day's count divided by MaxQDirEntries when not 0 (created).
std::string setAsideDirectory();

// The address listening sockets bind to: `IPAddress` when it is one of this
// host's own addresses (its interfaces, plus 127.0.0.0/8), else "" (any).
std::string listenAddress();

// The hyphen rule plus the sanitising of path components.
std::string pathName(std::string_view name);

}  // namespace vek::foundation
