// The UCP/EMI frame and its codec.
//
//   STX TRN "/" LEN "/" O|R "/" OT "/" field "/" ... field "/" CK ETX
//
// TRN is the transaction reference (00-99) that an answer carries back, LEN
// the number of characters from TRN to the checksum inclusive (5 digits),
// O an operation and R its result, OT the operation type (51 submit, 52
// deliver, 53 notification, 60 session management, 31 alert, ...), CK the
// sum of the characters from TRN up to the last "/" modulo 256 as two
// upper-case hex digits. Fields are printable ASCII; texts and passwords
// travel as hex ("IRA encoded"), so no field holds a "/".
//
// Results: an operation of the 5x series is answered "A/MVP/SM" or
// "N/EC/SM", the others "A/SM" or "N/EC/SM"; EC is a decimal error code.
// Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vek::ucp {

// The longest frame accepted, STX and ETX included: far above the largest
// legitimate operation (a 51 with 140 octets in hex and a full XSer stays
// under 2 KB), far below what LEN could claim.
inline constexpr size_t kMaxFrame = 16 * 1024;
// The largest frame LEN can describe.
inline constexpr size_t kMaxLen = 99999;

namespace ot {
inline constexpr int kCallInput = 1;
inline constexpr int kAlert = 31;
inline constexpr int kSubmit = 51;
inline constexpr int kDeliver = 52;
inline constexpr int kNotification = 53;
inline constexpr int kSession = 60;
}  // namespace ot

// Field counts of the operations the engine reads and writes.
inline constexpr size_t kFields5x = 33;
inline constexpr size_t kFields60 = 12;
inline constexpr size_t kFields31 = 2;
// Number of fields an operation of type `ot` must have; 0 when any count is taken.
size_t fieldCount(int ot);

struct Frame {
  int trn = -1;                     // -1 until readable
  bool result = false;              // R (true) or O
  int ot = -1;                      // -1 until readable
  std::vector<std::string> fields;  // between OT and CK
};

enum class FrameFault { kNone, kSyntax, kChecksum, kLength };

// Parses the bytes between STX and ETX. trn, result and ot are filled as
// soon as the header reads, so a faulty operation can still be answered.
FrameFault parseFrame(std::string_view inner, Frame* frame);
const char* faultText(FrameFault fault);

// Two upper-case hex digits: the sum of `text`'s characters modulo 256.
std::string checksum(std::string_view text);

// A whole frame, STX to ETX.
std::string buildFrame(int trn, bool result, int ot, const std::vector<std::string>& fields);
// The positive and negative results for operation `ot`.
std::string buildAck(int trn, int ot, std::string_view sm = {});
std::string buildNack(int trn, int ot, int ec, std::string_view sm = {});

// Field values: text as hex of its octets and back ("IRA encoded").
std::string ira(std::string_view octets);
bool fromIra(std::string_view hex, std::string* octets);

}  // namespace vek::ucp
