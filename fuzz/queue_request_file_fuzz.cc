// LoadSMSMessage's in-memory entry point on any bytes up to 1 MB. Besides
// surviving, a loaded record written back with the record writer must load
// to the same record whenever it fits the loader's limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "queue/request_file.h"
#include "queue/request_writer.h"

namespace {

std::string routeOf(std::string_view name) {
  return "R" + std::string(name);
}

bool hasDel(const std::string& s) {
  return s.find('\x7f') != std::string::npos;
}

bool roundTripApplies(const vek::queue::SMSMessage& m) {
  for (const std::string* s :
       {&m.PhoneNumber, &m.Sender, &m.Data, &m.UDH, &m.SubmittedBy, &m.SubmitUser, &m.ServiceType,
        &m.RouteToLocalUser, &m.SMSCRoute, &m.ModemName, &m.SMPPOptions, &m.ReceivedSMSC,
        &m.Validity, &m.BillingInfo, &m.AcctInfo, &m.ReceiptMessageId}) {
    if (hasDel(*s)) return false;  // the writer blanks DEL, the loader keeps it
  }
  if (!m.ModemName.empty() && !m.SMSCRoute.empty()) return false;  // one of the two is written
  return vek::queue::escapeData(m.Data).size() <= vek::queue::kLimitData;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  vek::queue::SMSMessage m;
  vek::queue::parseSMSMessage(text, &m, routeOf);
  if (m.PhoneNumber.size() > vek::queue::kLimitPhoneNumber ||
      m.Data.size() > vek::queue::kLimitData || m.ModemRoute.size() > vek::queue::kLimitModemRoute)
    std::abort();

  if (roundTripApplies(m)) {
    vek::queue::SMSMessage expected = m;
    expected.HasErrorDetail = false;
    expected.RetryCount = 0;
    expected.LastRetryTime = {};
    expected.FirstAttemptTime = {};
    vek::queue::SMSMessage again;
    vek::queue::parseSMSMessage(vek::queue::formatSMSMessage(m), &again, routeOf);
    if (!(again == expected)) std::abort();
  }

  vek::queue::ErrorDetail d;
  d.RetryCount = 7;
  std::string with = vek::queue::withErrorDetail(text, d);
  if (with.size() < vek::queue::errorDetailOffset(text)) std::abort();
  return 0;
}
