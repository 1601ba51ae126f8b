#include "protocols/link_libraries.h"

#include <gtest/gtest.h>

namespace vek::protocols {
namespace {

TEST(LinkLibrariesTest, OnlyCompleteTablesArePresent) {
  EXPECT_TRUE(libraryPresent(LinkLibrary::kSmpp));
  // No UCP or CIMD2 engine yet: their links report the failure text.
  EXPECT_FALSE(libraryPresent(LinkLibrary::kUcp));
  EXPECT_FALSE(libraryPresent(LinkLibrary::kCimd));
  EXPECT_STREQ(libraryFailureText(LinkLibrary::kUcp),
               "UCP Failure -- Support DLL LINKUCP.DLL did not initialize");
  UcpLibrary partial{};
  partial.UCPErrorText = [](uint32_t) { return std::string(); };
  EXPECT_FALSE(partial.complete());
  EXPECT_EQ(bindLinkLibraries(false), 1u << static_cast<unsigned>(LinkLibrary::kSmpp));
}

}  // namespace
}  // namespace vek::protocols
