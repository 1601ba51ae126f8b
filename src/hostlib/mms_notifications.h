// The MMS notification duplicate filter: a notification (the receiving link
// and the content location) seen once is discarded when it comes again.
// One SQLite file "MMSNOTIFY.DB" in the private data directory; entries
// older than the SMPP data retention age are purged by purgeMMSNotifications().
// Thread-safe.
#pragma once

#include <string_view>

namespace vek::hostlib {

bool MMSNotificationExist(std::string_view link, std::string_view location);
bool MMSNotificationAdd(std::string_view link, std::string_view location);
// One atomic step: records the pair and returns true when it was new,
// false when it had been seen (or could not be recorded).
bool MMSNotificationAddIfNew(std::string_view link, std::string_view location);
void purgeMMSNotifications(int retain_days);
void closeMMSNotificationStore();

}  // namespace vek::hostlib
