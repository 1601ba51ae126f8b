#include "encoding/septet_packing.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "encoding/gsm_alphabet.h"
#include "encoding/hex_text.h"

namespace vek::encoding {
namespace {

TEST(SeptetPackingTest, KnownVectors) {
  struct Case {
    std::string septets;
    size_t offset;
    const char* hex;
  };
  const Case cases[] = {
      {"hello", 0, "E8329BFD06"},
      {"hello", 6, "D06536FB0D"},
      {"hello", 7, "E8329BFD06"},
      {std::string(7, '\x31'), 0, "B1582C168BC500"},
      {"", 0, ""},
      {"A", 1, "4010"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.septets + " @" + std::to_string(c.offset));
    EXPECT_EQ(PackGSMSeptetsToHex(c.septets, c.offset), c.hex);
    EXPECT_EQ(UnpackHexToGSMSeptets(c.hex, c.offset), c.septets);
    const std::vector<uint8_t> octets = hexToOctets(c.hex);
    EXPECT_EQ(UnpackGSMSeptets(std::string(octets.begin(), octets.end()), c.offset), c.septets);
  }
}

TEST(SeptetPackingTest, RoundTripAtEveryPhase) {
  std::mt19937 rng(7);
  for (size_t offset = 0; offset < 14; ++offset) {
    for (size_t n = 0; n < 40; ++n) {
      std::string septets;
      for (size_t i = 0; i < n; ++i) septets.push_back(static_cast<char>(1 + rng() % 127));
      SCOPED_TRACE(std::to_string(offset) + "/" + std::to_string(n));
      EXPECT_EQ(UnpackHexToGSMSeptets(PackGSMSeptetsToHex(septets, offset), offset), septets);
    }
  }
}

TEST(SeptetPackingTest, UnpackStopsAtBadHexAndCapacity) {
  EXPECT_EQ(UnpackHexToGSMSeptets("E8329BZZFD06", 0), "hel");
  EXPECT_EQ(UnpackHexToGSMSeptets("E8329BFD0", 0), "hell");  // odd digit ignored
  EXPECT_EQ(UnpackHexToGSMSeptets("E8329BFD06", 0, 2), "he");
  EXPECT_EQ(GSMHexToLatin1String("D06536FB0D", 6), "hello");
}

}  // namespace
}  // namespace vek::encoding
