#include "encoding/shift_tables.h"

#include <gtest/gtest.h>

#include <string>

#include "encoding/septet_packing.h"
#include "encoding/utf8.h"

namespace vek::encoding {
namespace {

std::string utf8Of(char32_t cp) {
  std::string s;
  appendUtf8(&s, cp);
  return s;
}

bool holds(const ShiftTable* table, char32_t cp) {
  if (table == nullptr) return false;
  for (int code = 0; code < 128; ++code) {
    if (code != 0x1B && (*table)[code] != 0 && (*table)[code] == cp) return true;
  }
  return false;
}

// The header UTF8ToShiftTableString's bits ask for, as Part of a submission
// would build it.
std::string headerFor(int bits, int language) {
  char ie[8];
  std::string elements;
  if (bits & kSingleShiftUsed) {
    snprintf(ie, sizeof ie, "2401%02X", language);
    elements += ie;
  }
  if (bits & kLockingShiftUsed) {
    snprintf(ie, sizeof ie, "2501%02X", language);
    elements += ie;
  }
  char len[3];
  snprintf(len, sizeof len, "%02X", static_cast<int>(elements.size() / 2));
  return len + elements;
}

// Encodes with the language, packs behind the header the bits announce and
// reads it back the way an inbound message is read.
std::string roundTrip(int language, const std::string& text, int* bits) {
  std::string septets;
  *bits = UTF8ToShiftTableString(language, text, &septets);
  if (*bits == 0) return "<not encodable>";
  const std::string udh = headerFor(*bits, language);
  return GSM7ToUTF8String(udh, PackGSMSeptetsToHex(septets, udh.size() / 2));
}

TEST(ShiftTablesTest, EveryCharacterOfEveryTableRoundTrips) {
  const ShiftTable* standard = lockingShiftTable(0);
  for (int lang = 1; lang <= kNationalLanguageCount; ++lang) {
    const ShiftTable* locking = lockingShiftTable(lang);
    const ShiftTable* single = singleShiftTable(lang);
    ASSERT_NE(single, nullptr);
    EXPECT_EQ(locking == nullptr, lang == 2);  // Spanish has no locking table
    std::string whole;
    for (const ShiftTable* table : {locking, single}) {
      if (table == nullptr) continue;
      for (int code = 0; code < 128; ++code) {
        const char32_t cp = (*table)[code];
        if (code == 0x1B || cp == 0) continue;
        SCOPED_TRACE(testing::Message() << "language " << lang << " code " << code << " U+"
                                        << std::hex << static_cast<unsigned>(cp));
        int bits = 0;
        const std::string text = utf8Of(cp);
        EXPECT_EQ(roundTrip(lang, text, &bits), text);
        const bool in_default = holds(standard, cp);
        if (!in_default && !holds(single, cp)) {
          EXPECT_EQ(bits, kLockingShiftUsed);
        }
        if (!in_default && !holds(locking, cp)) {
          EXPECT_EQ(bits, kSingleShiftUsed);
        }
        whole += text;
      }
    }
    SCOPED_TRACE(testing::Message() << "language " << lang << " whole tables");
    int bits = 0;
    EXPECT_EQ(roundTrip(lang, whole, &bits), whole);
    EXPECT_NE(bits, 0);
  }
}

TEST(ShiftTablesTest, EntriesOfTheStandard) {
  struct Case {
    int language;
    bool locking;
    int code;
    char32_t cp;  // 0: undefined
  };
  const Case cases[] = {
      {1, true, 0x07, 0x0131},   {1, true, 0x1C, 0x015E},  {1, true, 0x40, 0x0130},
      {1, true, 0x60, 0x00E7},   {1, false, 0x47, 0x011E}, {1, false, 0x65, 0x20AC},
      {2, false, 0x09, 0x00E7},  {2, false, 0x41, 0x00C1}, {2, false, 0x75, 0x00FA},
      {3, true, 0x12, 0x00AA},   {3, true, 0x15, 0x221E},  {3, true, 0x60, 0x007E},
      {3, false, 0x7F, 0x00E2},  {4, true, 0x00, 0x0981},  {4, true, 0x7F, 0x09F1},
      {4, true, 0x0C, 0},        {4, false, 0x19, 0x09E6}, {4, false, 0x0D, 0},
      {5, true, 0x7F, 0x0AF1},   {6, true, 0x2C, 0x002C},  {6, true, 0x3C, 0x0929},
      {6, false, 0x3A, 0x0971},  {7, true, 0x24, 0x0CAA},  {7, true, 0x3D, 0x0CAA},
      {7, true, 0x00, 0},        {8, false, 0x30, 0x0D7B}, {8, true, 0x7F, 0x0D79},
      {9, true, 0x60, 0x0B56},   {10, true, 0x09, 0},      {10, false, 0x2D, 0x0A75},
      {11, true, 0x40, 0},       {11, true, 0x7F, 0x0BF9}, {11, false, 0x2E, 0x0BFA},
      {12, false, 0x65, 0},      {12, false, 0x19, 0},     {12, true, 0x60, 0x0C55},
      {13, true, 0x00, 0x0627},  {13, true, 0x7F, 0x0670}, {13, false, 0x3F, 0x06D4},
      {13, false, 0x19, 0x0600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.language << (c.locking ? " locking " : " single ") << c.code);
    const ShiftTable* table =
        c.locking ? lockingShiftTable(c.language) : singleShiftTable(c.language);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(static_cast<char32_t>((*table)[c.code]), c.cp);
  }
}

TEST(ShiftTablesTest, ChoosesTheTablesTheTextNeeds) {
  std::string septets;
  // Turkish letters are cheaper through the locking table.
  EXPECT_EQ(UTF8ToShiftTableString(1, "\xC5\x9F\xC4\x9F", &septets), kLockingShiftUsed);
  EXPECT_EQ(septets, "\x1D\x0C");
  // Spanish has only a single-shift table.
  EXPECT_EQ(UTF8ToShiftTableString(2, "\xC3\xA1", &septets), kSingleShiftUsed);
  EXPECT_EQ(septets, "\x1B\x61");
  // Hindi letters and a Devanagari digit need both tables.
  EXPECT_EQ(UTF8ToShiftTableString(6, "\xE0\xA4\x95\xE0\xA5\xA7", &septets),
            kLockingShiftUsed | kSingleShiftUsed);
  EXPECT_EQ(septets, "\x15\x1B\x1D");
  // Cyrillic fits no table; unknown identifiers are refused.
  EXPECT_EQ(UTF8ToShiftTableString(1, "\xD0\x96", &septets), 0);
  EXPECT_TRUE(septets.empty());
  EXPECT_EQ(UTF8ToShiftTableString(0, "a", &septets), 0);
  EXPECT_EQ(UTF8ToShiftTableString(14, "a", &septets), 0);
  EXPECT_EQ(UTF8ToShiftTableString(255, "a", &septets), 0);
  // More septets than the capacity cannot be carried.
  EXPECT_EQ(UTF8ToShiftTableString(1, std::string(10, 'a'), &septets, 9), 0);
}

TEST(ShiftTablesTest, Gsm7ToUtf8ReadsTheHeader) {
  struct Case {
    const char* udh;
    const char* data;
    const char* text;
  };
  const Case cases[] = {
      {"", "E8329BFD06", "hello"},
      {"050003010201", "D06536FB0D", "hello"},
      {"050003010201", "050003010201D06536FB0D", "hello"},  // header kept in front
      {"", "1B", "-"},                                      // a trailing escape
      {"03250101", "", ""},
      {"ZZ", "E8329BFD06", "hello"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.udh) + "/" + c.data);
    EXPECT_EQ(GSM7ToUTF8String(c.udh, c.data), c.text);
  }
  // Headers that select no national table: Spanish locking (not defined),
  // an unknown language, an element cut short. Four header octets: fill
  // offset 4.
  const std::string hello4 = PackGSMSeptetsToHex("hello", 4);
  for (const char* udh : {"03250102", "0325010E", "03250701"}) {
    EXPECT_EQ(GSM7ToUTF8String(udh, hello4), "hello") << udh;
  }
  const std::string turkish = PackGSMSeptetsToHex("\x07\x1C", 4);
  EXPECT_EQ(GSM7ToUTF8String("03250101", turkish), "\xC4\xB1\xC5\x9E");
  // Single shift only: the default alphabet keeps its Greek capitals.
  const std::string spanish = PackGSMSeptetsToHex("\x10\x1B\x41\x1B\x44", 4);
  EXPECT_EQ(GSM7ToUTF8String("03240102", spanish),
            "\xCE\x94\xC3\x81"
            "D");
}

TEST(ShiftTablesTest, NationalDecodingOfOddSequences) {
  // Escape escape: a space; trailing escape: a hyphen; undefined entries.
  EXPECT_EQ(shiftTableSeptetsToUTF8("\x1B\x1B"
                                    "a\x1B",
                                    4, 4),
            " a-");
  EXPECT_EQ(shiftTableSeptetsToUTF8("\x0C", 4, 4), "-");
  EXPECT_EQ(shiftTableSeptetsToUTF8("\x1B\x65", 12, 12), "e");  // no euro in Telugu
}

}  // namespace
}  // namespace vek::encoding
