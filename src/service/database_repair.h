// CheckDatabaseIntegrity: tests the message-id databases and rebuilds a
// corrupt one. A corrupt file is moved aside as "<path><stamp>.damaged",
// dumped with the sqlite3 program and re-imported under its own name. A file
// the message-id store holds open is never renamed under it.
#pragma once

namespace vek::service {

// today_only: only today's "%04u%02u%02u.DB"; else every "*.DB" file of the
// tracking directory and its direct sub-directories. Returns the number of
// files found corrupt.
int CheckDatabaseIntegrity(bool today_only);

}  // namespace vek::service
