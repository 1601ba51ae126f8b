#include "encoding/dcs.h"

namespace vek::encoding {
namespace {

constexpr uint8_t kCompressed = 0x20;

// Alphabet bits of the general data coding groups (0x00-0x7F), or -1 for
// compressed data and other groups.
int generalAlphabet(uint8_t dcs) {
  if (dcs >= 0x80 || (dcs & kCompressed)) return -1;
  return (dcs >> 2) & 0x3;
}

}  // namespace

bool DCSIsGSM7Bit(uint8_t dcs) {
  if (dcs < 0x80) {
    const int alphabet = generalAlphabet(dcs);
    return alphabet == 0 || alphabet == 3;
  }
  if (dcs >= 0xC0 && dcs <= 0xDF) return true;
  if (dcs >= 0xF0) return (dcs & 0x04) == 0;
  return false;
}

bool DCSIsUCS2(uint8_t dcs) {
  if (dcs < 0x80) return generalAlphabet(dcs) == 2;
  return dcs >= 0xE0 && dcs <= 0xEF;
}

}  // namespace vek::encoding
