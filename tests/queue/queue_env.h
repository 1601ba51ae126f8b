// Test fixture for the queue store: a fresh queue root and private "UID.DAT"
// per test, settings published directly, TZ fixed to UTC.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <string>

#include "foundation/settings.h"
#include "queue/unique_id.h"
#include "support/test_support.h"

namespace vek::queue {

class QueueTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    root_ = dir_.path() + "Q/";
    resetUniqueMessageIdsForTesting(dir_.file("UID.DAT"));
    foundation::publishSettings(foundation::Settings{});
  }
  void TearDown() override { foundation::publishSettings(foundation::Settings{}); }
  // Publishes the defaults changed by `edit`.
  template <typename F>
  void settings(F edit) {
    foundation::Settings s;
    edit(s);
    foundation::publishSettings(s);
  }

  vek::testing::TempDir dir_;
  std::string root_;
};

}  // namespace vek::queue
