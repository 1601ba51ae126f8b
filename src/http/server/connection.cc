#include "http/server/connection.h"

#include "http/server/send.h"
#include "platform/strings.h"

namespace vek::http {

bool StreamSink::write(std::string_view data) {
  return sendData(stream_, data);
}

bool Connection::send(std::string_view data) {
  if (held_) {
    held_answer_.append(data);
    return true;
  }
  return sink_.write(data);
}

bool Connection::sendResponse(std::string_view status, std::string_view headers,
                              std::string_view body) {
  std::string out = platform::format("%s %.*s\r\n%s", protocol(), static_cast<int>(status.size()),
                                     status.data(), connectionLine());
  out.append(headers);
  out += platform::format("Content-Length: %zu\r\n\r\n", body.size());
  out.append(body);
  return send(out);
}

void Connection::answerAfter(std::chrono::milliseconds delay, std::string response) {
  if (held_) {
    held_answer_.append(response);
    return;
  }
  held_ = true;
  held_delay_ = delay;
  held_answer_ = std::move(response);
}

}  // namespace vek::http
