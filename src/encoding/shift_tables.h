// National language shift tables of 3GPP TS 23.038 (annex A) and the two
// host-library conversions that use them.
//
// Each of the 13 national languages (1 Turkish, 2 Spanish, 3 Portuguese,
// 4 Bengali, 5 Gujarati, 6 Hindi, 7 Kannada, 8 Malayalam, 9 Oriya,
// 10 Punjabi, 11 Tamil, 12 Telugu, 13 Urdu) has a single-shift table (it
// replaces the extension table reached through the escape 0x1B) and all
// but Spanish have a locking-shift table (it replaces the default
// alphabet for the whole message). A message announces them in its user
// data header: information element 0x24 (single shift) and 0x25 (locking
// shift), one octet holding the language.
//
// The tables are the standard's, entry for entry, including its two
// oddities: the Kannada locking-shift table holds U+0CAA (PA) at both 0x24
// and 0x3D, and the Telugu single-shift table has no euro sign. A code
// point a table holds twice is written with its later code.
//
// Pure functions over read-only tables (the reverse indexes are built
// once, thread-safely, on first use).
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace vek::encoding {

inline constexpr int kNationalLanguageCount = 13;
// UTF8ToShiftTableString result bits.
inline constexpr int kLockingShiftUsed = 1;
inline constexpr int kSingleShiftUsed = 2;
// Septet capacity the callers pass.
inline constexpr size_t kShiftTableSeptetCapacity = 8191;
// Information element identifiers in the user data header.
inline constexpr uint8_t kSingleShiftIei = 0x24;
inline constexpr uint8_t kLockingShiftIei = 0x25;

// 128 code points indexed by septet; 0 marks an entry the table leaves
// undefined (and the escape position 0x1B).
using ShiftTable = std::array<char16_t, 128>;

// Language 0 is the default alphabet and its extension table; 1-13 the
// national tables. nullptr for other identifiers and for the Spanish
// locking-shift table, which the standard does not define.
const ShiftTable* lockingShiftTable(int language);
const ShiftTable* singleShiftTable(int language);

// Encodes `utf8` with the tables of national language `language` (1-13)
// into unpacked septets (`*septets`, at most `capacity`). It picks the
// cheapest of: the default alphabet with the language's single-shift
// table; the language's locking-shift table with the default extension
// table; both of the language's tables. Returns 0 when no choice carries
// the text exactly (or it needs more than `capacity` septets, or the
// identifier is not 1-13), otherwise kSingleShiftUsed and/or
// kLockingShiftUsed: the information elements the header must announce.
int UTF8ToShiftTableString(int language, std::string_view utf8, std::string* septets,
                           size_t capacity = kShiftTableSeptetCapacity);

// Turns 7-bit user data into UTF-8. `udh_hex` is the message's user data
// header in hexadecimal (may be empty); its length in octets is the fill
// offset, and its shift elements select the national tables. `text_hex`
// is the packed septets in hexadecimal, with or without the header in
// front. Without a national table the gateway's default-alphabet
// conversion (GSMToUTF8String) applies.
std::string GSM7ToUTF8String(std::string_view udh_hex, std::string_view text_hex);

// The national languages a user data header announces (the last element
// of each kind counts); 0 where it announces none, or a language without
// that table.
struct ShiftLanguages {
  int locking = 0;
  int single = 0;
};
// `udh` is the header as octets, its length octet first (may be empty).
// Elements are read up to the header's own length; one that runs past it
// ends the walk.
ShiftLanguages shiftLanguagesOf(std::string_view udh);

// Unpacked septets to UTF-8: through the national tables of `languages`
// (shiftTableSeptetsToUTF8), or, when there are none, the gateway's
// default-alphabet conversion (GSMToUTF8String).
std::string nationalSeptetsToUTF8(std::string_view septets, ShiftLanguages languages);

// Unpacked septets to UTF-8 through the tables of a locking-shift and a
// single-shift language (0 or an unknown identifier: the default tables).
// An escape to an undefined single-shift entry shows the locking table's
// character at that code; two escapes show a space; an undefined entry or
// a trailing escape shows a hyphen.
std::string shiftTableSeptetsToUTF8(std::string_view septets, int locking_language,
                                    int single_shift_language);

}  // namespace vek::encoding
