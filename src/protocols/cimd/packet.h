// The CIMD2 packet and its codec.
//
//   STX ZZ ":" NNN TAB { PPP ":" value TAB } [CC] ETX
//
// ZZ is the operation code (01 login, 02 logout, 03 submit, 20 deliver
// message, 23 deliver status report, 40 alive, ...; the response to
// operation ZZ is ZZ + 50, 98 a negative acknowledgement of a packet that
// did not read, 99 a general error), NNN the packet number that the
// response carries back (odd 001-255 from the application, even 000-254
// from the message centre), PPP a three-digit parameter code. CC, the sum
// of the bytes from STX up to the last TAB modulo 256 as two upper-case hex
// digits, is optional on input (checked when present) and always written.
// A value is any bytes but TAB; errors come as parameter 900 (decimal code)
// with 901 (text).
//
// Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vek::cimd {

// The longest packet accepted, STX and ETX included: far above the largest
// legitimate operation, which stays under 1 KB.
inline constexpr size_t kMaxFrame = 16 * 1024;

namespace op {
inline constexpr int kLogin = 1;
inline constexpr int kLogout = 2;
inline constexpr int kSubmit = 3;
inline constexpr int kDeliverMessage = 20;
inline constexpr int kDeliverStatusReport = 23;
inline constexpr int kAlive = 40;
inline constexpr int kResponse = 50;  // added to an operation code
inline constexpr int kNack = 98;
inline constexpr int kGeneralError = 99;
}  // namespace op

namespace param {
inline constexpr int kUserIdentity = 10;
inline constexpr int kPassword = 11;
inline constexpr int kDestination = 21;
inline constexpr int kOriginator = 23;
inline constexpr int kAlphaOriginator = 27;
inline constexpr int kDcs = 30;
inline constexpr int kUdh = 32;
inline constexpr int kUserData = 33;
inline constexpr int kUserDataBinary = 34;
inline constexpr int kValidityRelative = 50;
inline constexpr int kValidityAbsolute = 51;
inline constexpr int kPid = 52;
inline constexpr int kReplyPath = 55;
inline constexpr int kStatusReportRequest = 56;
inline constexpr int kScts = 60;
inline constexpr int kStatusCode = 61;
inline constexpr int kStatusErrorCode = 62;
inline constexpr int kDischargeTime = 63;
inline constexpr int kErrorCode = 900;
inline constexpr int kErrorText = 901;
}  // namespace param

using Params = std::vector<std::pair<int, std::string>>;

struct Packet {
  int op = -1;      // -1 until readable
  int number = -1;  // -1 until readable
  Params params;
  bool has_checksum = false;
  // The first value of `code`, or null.
  const std::string* get(int code) const;
  size_t count(int code) const;
};

enum class PacketFault { kNone, kSyntax, kChecksum };

// Parses the bytes between STX and ETX; op and number are filled as soon
// as the header reads, so a faulty packet can still be answered.
PacketFault parsePacket(std::string_view inner, Packet* packet);

// Two upper-case hex digits: the sum of the bytes modulo 256.
std::string checksum(std::string_view bytes);

// A whole packet, STX to ETX, checksum included. Values may not hold TAB,
// STX or ETX (the callers' field rules keep them out).
std::string buildPacket(int op, int number, const Params& params);

}  // namespace vek::cimd
