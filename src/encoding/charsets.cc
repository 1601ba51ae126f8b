#include "encoding/charsets.h"

#include <cstdint>

#include "encoding/code_page.h"
#include "encoding/windows1252.h"
#include "platform/strings.h"

namespace vek::encoding {
namespace {

struct MibEntry {
  int number;
  std::string_view name;
};
constexpr MibEntry kMibEnums[] = {
    {3, "us-ascii"},           {4, "iso-8859-1"},  {5, "iso-8859-2"}, {6, "iso-8859-3"},
    {7, "iso-8859-4"},         {8, "iso-8859-5"},  {9, "iso-8859-6"}, {10, "iso-8859-7"},
    {11, "iso-8859-8"},        {12, "iso-8859-9"}, {17, "shift_JIS"}, {106, "utf-8"},
    {1000, "iso-10646-ucs-2"}, {2025, "gb2312"},   {2026, "big5"},
};

// The built-in "[Charset]" section, as INI text so that it reads the way a
// configured table would.
constexpr std::string_view kCharsetSection =
    "[Charset]\n"
    "iso-8859-1=1252\n"
    "us-ascii=1252\n"
    "big5=950\n"
    "big-5=950\n"
    "gbk=936\n"
    "gb2312=936\n"
    "gb2312-80=936\n"
    "shift-jis=932\n"
    "shift_jis=932\n"
    "iso-8859-2=1250\n"
    "iso-8859-4=1257\n"
    "iso-8859-5=1251\n"
    "iso-8859-6=1256\n"
    "iso-8859-7=1253\n"
    "iso-8859-8=1255\n"
    "iso-8859-9=1254\n";

// The fixed list CharsetToUTF8 consults before the general lookup.
struct FixedPage {
  std::string_view name;
  unsigned code_page;
};
constexpr FixedPage kFixedPages[] = {
    {"us-ascii", 1252},   {"iso-8859-1", 1252}, {"iso-8859-2", 1250}, {"iso-8859-4", 1257},
    {"iso-8859-5", 1251}, {"iso-8859-6", 1256}, {"iso-8859-7", 1253}, {"iso-8859-8", 1255},
    {"iso-8859-9", 1254}, {"big5", 950},        {"big-5", 950},       {"gbk", 936},
    {"gb2312", 936},      {"gb2312-80", 936},   {"shift-jis", 932},   {"shift_jis", 932},
};

// Well-known charset names and aliases, standing in for the platform's
// MIME database.
constexpr FixedPage kKnownCharsets[] = {
    {"utf-8", 65001},       {"utf8", 65001},
    {"utf-16", 1200},       {"utf-16le", 1200},
    {"utf-16be", 1201},     {"unicode", 1200},
    {"unicodefffe", 1201},  {"iso-8859-3", 28593},
    {"iso-8859-10", 28600}, {"iso-8859-13", 28603},
    {"iso-8859-15", 28605}, {"latin1", 1252},
    {"windows-1250", 1250}, {"windows-1251", 1251},
    {"windows-1252", 1252}, {"windows-1253", 1253},
    {"windows-1254", 1254}, {"windows-1255", 1255},
    {"windows-1256", 1256}, {"windows-1257", 1257},
    {"windows-1258", 1258}, {"windows-874", 874},
    {"tis-620", 874},       {"koi8-r", 20866},
    {"koi8-u", 21866},      {"ibm866", 866},
    {"cp866", 866},         {"ibm850", 850},
    {"cp850", 850},         {"ibm437", 437},
    {"cp437", 437},         {"euc-jp", 51932},
    {"iso-2022-jp", 50220}, {"csiso2022jp", 50221},
    {"euc-kr", 51949},      {"ks_c_5601-1987", 949},
    {"ks_c_5601", 949},     {"iso-2022-kr", 50225},
    {"gb18030", 54936},     {"hz-gb-2312", 52936},
    {"x-sjis", 932},        {"sjis", 932},
    {"ms_kanji", 932},      {"cp936", 936},
    {"cp932", 932},         {"cp949", 949},
    {"cp950", 950},         {"big5-hkscs", 950},
    {"ascii", 20127},       {"ansi_x3.4-1968", 20127},
};

unsigned lookUp(const FixedPage* table, size_t n, std::string_view name) {
  for (size_t i = 0; i < n; ++i) {
    if (platform::equalsNoCase(table[i].name, name)) return table[i].code_page;
  }
  return 0;
}

// The value of `key` in the built-in "[Charset]" section, read as decimal
// digits after optional blanks; 0 when absent.
unsigned builtInCharsetValue(std::string_view key) {
  for (const std::string& line : platform::split(kCharsetSection, "\n")) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (!platform::equalsNoCase(platform::trim(std::string_view(line).substr(0, eq)), key)) {
      continue;
    }
    const int64_t v = platform::parseLeadingInt(std::string_view(line).substr(eq + 1));
    return v > 0 ? static_cast<unsigned>(v) : 0;
  }
  return 0;
}

// "windows-125x", "cp125x", "iso-8859-x", "x-cp125x": the number in the name.
unsigned codePageFromPattern(std::string_view name) {
  std::string_view rest;
  if (platform::startsWithNoCase(name, "windows-")) {
    rest = name.substr(8);
  } else if (platform::startsWithNoCase(name, "x-cp")) {
    rest = name.substr(4);
  } else if (platform::startsWithNoCase(name, "cp")) {
    rest = name.substr(2);
  } else if (platform::startsWithNoCase(name, "iso-8859-")) {
    rest = name.substr(9);
    if (!platform::isAllDigits(rest)) return 0;
    const int64_t part = platform::parseLeadingInt(rest);
    return part >= 1 && part <= 16 ? static_cast<unsigned>(28590 + part) : 0;
  } else {
    return 0;
  }
  if (!platform::isAllDigits(rest) || rest.size() > 5) return 0;
  return static_cast<unsigned>(platform::parseLeadingInt(rest));
}

}  // namespace

std::string_view MIBenumToCharset(int mib_enum) {
  for (const auto& e : kMibEnums) {
    if (e.number == mib_enum) return e.name;
  }
  return "unknown";
}

int CharsetToMIBenum(std::string_view name) {
  for (const auto& e : kMibEnums) {
    if (platform::equalsNoCase(e.name, name)) return e.number;
  }
  return 0;
}

unsigned CharsetToCodePage(std::string_view name) {
  if (name.empty()) return 0;
  if (const unsigned v = builtInCharsetValue(name); v != 0) return v;
  if (const unsigned v = lookUp(kKnownCharsets, std::size(kKnownCharsets), name); v != 0) return v;
  return codePageFromPattern(name);
}

bool ISO2022JPToShiftJIS(std::string_view text, std::string* out) {
  out->clear();
  out->reserve(text.size());
  bool seen = false;
  bool double_byte = false;
  for (size_t i = 0; i < text.size();) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    if (c == 0x1B && i + 2 < text.size()) {
      const char a = text[i + 1], b = text[i + 2];
      if (a == '(' && (b == 'B' || b == 'J')) {
        double_byte = false;
        seen = true;
        i += 3;
        continue;
      }
      if (a == '$' && (b == '@' || b == 'B')) {
        double_byte = true;
        seen = true;
        i += 3;
        continue;
      }
    }
    // Pairs of JIS bytes; anything else (line ends, a lone last byte)
    // passes through.
    if (double_byte && c >= 0x21 && c <= 0x7E && i + 1 < text.size() &&
        static_cast<uint8_t>(text[i + 1]) >= 0x21 && static_cast<uint8_t>(text[i + 1]) <= 0x7E) {
      const unsigned j1 = c;
      const unsigned j2 = static_cast<uint8_t>(text[i + 1]);
      const unsigned s1 = (j1 + 1) / 2 + (j1 > 94 ? 176 : 112);
      const unsigned s2 = j2 + ((j1 & 1) ? (j2 >= 96 ? 32 : 31) : 126);
      out->push_back(static_cast<char>(s1 & 0xFF));
      out->push_back(static_cast<char>(s2 & 0xFF));
      i += 2;
      continue;
    }
    out->push_back(static_cast<char>(c));
    ++i;
  }
  return seen;
}

bool CharsetToUTF8(std::string* charset, std::string* text) {
  if (text->empty()) return false;
  if (platform::equalsNoCase(*charset, "ISO-2022-JP")) {
    std::string sjis;
    if (ISO2022JPToShiftJIS(*text, &sjis)) {
      *text = std::move(sjis);
      *charset = "shift-jis";
    }
  }
  unsigned code_page = lookUp(kFixedPages, std::size(kFixedPages), *charset);
  if (code_page == 0 && !charset->empty() && !platform::equalsNoCase(*charset, "utf-8")) {
    code_page = CharsetToCodePage(*charset);
  }
  if (code_page == 0 || code_page == 65001) return false;
  std::string converted = *text;
  if (code_page == 1252) {
    *text = limitUtf8(Windows1252ToUTF8(converted, 4096), 4096, 0);
    return true;
  }
  if (!CodePageToUTF8(&converted, code_page)) return false;
  *text = limitUtf8(converted, 4096, 0);
  return true;
}

}  // namespace vek::encoding
