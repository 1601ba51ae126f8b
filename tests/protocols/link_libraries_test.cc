#include "protocols/libraries/link_libraries.h"

#include <gtest/gtest.h>

namespace vek::protocols {
namespace {

TEST(LinkLibrariesTest, OnlyCompleteTablesArePresent) {
  EXPECT_TRUE(libraryPresent(LinkLibrary::kSmpp));
  EXPECT_TRUE(libraryPresent(LinkLibrary::kUcp));
  EXPECT_TRUE(libraryPresent(LinkLibrary::kCimd));
  EXPECT_STREQ(libraryFailureText(LinkLibrary::kUcp),
               "UCP Failure -- Support DLL LINKUCP.DLL did not initialize");
  // A table missing a required entry is absent; the optional ones may be null.
  UcpLibrary ucp = ucpLibrary();
  ucp.UCPSubmitMessageAsync = nullptr;
  ucp.UCPServeConnection = nullptr;
  EXPECT_TRUE(ucp.complete());
  ucp.UCPEnquireLink = nullptr;
  EXPECT_FALSE(ucp.complete());
  CimdLibrary cimd = cimdLibrary();
  cimd.CIMDSetReceiveMessageCallbackEx = nullptr;
  EXPECT_FALSE(cimd.complete());
  EXPECT_EQ(bindLinkLibraries(false), 7u);
}

}  // namespace
}  // namespace vek::protocols
