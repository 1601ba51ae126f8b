#include "submit/message.h"

#include "platform/strings.h"

namespace vek::submit {

std::string Message::delayText() const {
  if (!delay_until) return {};
  const platform::CalendarTime& t = *delay_until;
  return platform::format("%04d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute);
}

}  // namespace vek::submit
