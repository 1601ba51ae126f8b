#include "fake_modem.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace vek::modem::testing {

std::string standardAnswer(const std::string& line) {
  auto is = [&](const char* p) { return line.rfind(p, 0) == 0; };
  if (line.empty()) return "";
  if (is("AT+CMGS=")) return "\r\n> ";
  if (!is("AT")) return "\r\n+CMGS: 7\r\n\r\nOK\r\n";  // a PDU at the prompt
  if (is("ATI0")) return "\r\nFakeModem 1.0\r\n\r\nOK\r\n";
  if (is("AT+CFUN?")) return "\r\n+CFUN: 1\r\n\r\nOK\r\n";
  if (is("AT+COPS?")) return "\r\n+COPS: 0,0,\"Operator\"\r\n\r\nOK\r\n";
  if (is("AT+CPMS=?"))
    return "\r\n+CPMS: (\"SM\",\"ME\"),(\"SM\",\"ME\"),(\"SM\",\"ME\")\r\n\r\nOK\r\n";
  if (is("AT+CPMS?")) return "\r\n+CPMS: \"SM\",0,30,\"SM\",0,30,\"SM\",0,30\r\n\r\nOK\r\n";
  if (is("AT+CSMS=1")) return "\r\n+CSMS: 1,1,1\r\n\r\nOK\r\n";
  if (is("AT+CNMI?")) return "\r\n+CNMI: 2,2,0,1,0\r\n\r\nOK\r\n";
  if (is("AT+CNUM")) return "\r\n+CNUM: \"Own\",\"46700000000\",145\r\n\r\nOK\r\n";
  if (is("AT+CMGL")) return "\r\nOK\r\n";
  return "\r\nOK\r\n";
}

platform::IoStatus FakePort::write(std::string_view data, int) {
  state_->written.append(data);
  for (char c : data) {
    if (c == '\r' || c == '\x1A') {
      state_->lines.push_back(line_);
      std::string answer = state_->responder ? state_->responder(line_) : standardAnswer(line_);
      state_->to_read += answer;
      state_->max_buffered = std::max(state_->max_buffered, state_->to_read.size());
      line_.clear();
    } else if (c == '\x1B') {
      line_.clear();
      state_->to_read += "\r\nOK\r\n";
    } else {
      line_.push_back(c);
    }
  }
  return platform::IoStatus::kOk;
}

platform::IoStatus FakePort::read(char* buf, size_t len, int timeout_ms, size_t* got) {
  *got = 0;
  if (state_->to_read.empty()) {
    if (state_->hang_up_when_drained) return platform::IoStatus::kClosed;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeout_ms, 2)));
    return platform::IoStatus::kTimeout;
  }
  const size_t n = std::min({len, state_->chunk, state_->to_read.size()});
  std::copy_n(state_->to_read.begin(), n, buf);
  state_->to_read.erase(0, n);
  *got = n;
  return platform::IoStatus::kOk;
}

}  // namespace vek::modem::testing
