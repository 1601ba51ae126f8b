#include "reporting/message_log.h"

namespace vek::reporting {

void writeWebLog(const WebLogEntry& entry) {
  (void)entry;
}

void writeUserLog(const UserLogEntry& entry) {
  (void)entry;
}

}  // namespace vek::reporting
