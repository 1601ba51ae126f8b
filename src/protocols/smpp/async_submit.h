// The SMPP entries' asynchronous submission context: the one every engine
// shares (protocols/async_submit.h). Results are SMPP command_status values
// or the local codes of status_codes.h.
#pragma once

#include "protocols/async_submit.h"

namespace vek::smpp {

using AsyncSubmit = protocols::AsyncSubmit;

}  // namespace vek::smpp
