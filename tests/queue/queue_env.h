// Test fixture for the queue store: a fresh queue root and private "UID.DAT"
// per test, settings published directly, TZ fixed to UTC.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <set>
#include <string>
#include <string_view>

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

  // Every name in `dir`, hidden ones included.
  static std::set<std::string> names(const std::string& dir) {
    std::set<std::string> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
      out.insert(e.path().filename().string());
    return out;
  }

  vek::testing::TempDir dir_;
  std::string root_;
};

// A route resolver for parseSMSMessage that knows no link.
inline std::string noRoute(std::string_view) {
  return std::string();
}

}  // namespace vek::queue
