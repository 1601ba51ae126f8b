#include "encoding/code_page.h"

#include <cerrno>
#include <utility>
#include <vector>

#include "encoding/utf8.h"
#include "encoding/windows1252.h"
#include "foundation/debug_log.h"
#include "platform/strings.h"

namespace vek::encoding {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
constexpr std::string_view kUtf8Replacement = "\xEF\xBF\xBD";

// Bytes of the UTF-8 character at the front of `in` (1 for a bad byte).
size_t utf8CharLength(std::string_view in) {
  size_t pos = 0;
  decodeUtf8Char(in, &pos);
  return pos;
}

}  // namespace

std::optional<IconvConverter> IconvConverter::open(const std::string& to, const std::string& from) {
  iconv_t cd = ::iconv_open(to.c_str(), from.c_str());
  if (cd == kNoConverter) return std::nullopt;
  return IconvConverter(cd, platform::equalsNoCase(from, "UTF-8"));
}

IconvConverter::~IconvConverter() {
  if (cd_ != kNoConverter) ::iconv_close(cd_);
}

IconvConverter::IconvConverter(IconvConverter&& other) noexcept
    : cd_(std::exchange(other.cd_, kNoConverter)), source_is_utf8_(other.source_is_utf8_) {}

IconvConverter& IconvConverter::operator=(IconvConverter&& other) noexcept {
  if (this != &other) {
    if (cd_ != kNoConverter) ::iconv_close(cd_);
    cd_ = std::exchange(other.cd_, kNoConverter);
    source_is_utf8_ = other.source_is_utf8_;
  }
  return *this;
}

bool IconvConverter::convert(std::string_view in, std::string* out, std::string_view substitute,
                             size_t max_out) {
  ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // initial shift state
  bool clean = true;
  const size_t limit = max_out == 0 ? SIZE_MAX : max_out;
  std::vector<char> buf(4096);
  char* src = const_cast<char*>(in.data());  // iconv does not write its input
  size_t src_left = in.size();
  bool flushing = false;
  while (true) {
    const size_t room = limit - out->size();
    if (room == 0) {
      if (src_left > 0) clean = false;
      break;
    }
    char* dst = buf.data();
    size_t dst_left = room < buf.size() ? room : buf.size();
    const size_t dst_size = dst_left;
    const size_t rc = flushing ? ::iconv(cd_, nullptr, nullptr, &dst, &dst_left)
                               : ::iconv(cd_, &src, &src_left, &dst, &dst_left);
    const int err = errno;
    out->append(buf.data(), dst_size - dst_left);
    if (rc != static_cast<size_t>(-1)) {
      if (flushing) break;
      flushing = true;  // write any closing shift sequence
      continue;
    }
    if (err == E2BIG) {
      if (dst_size - dst_left > 0) continue;  // the buffer was full: go on
      clean = false;                          // the next character does not fit
      break;
    }
    if (err == EILSEQ || err == EINVAL) {
      clean = false;
      const size_t skip = source_is_utf8_ ? utf8CharLength(std::string_view(src, src_left)) : 1;
      src += skip;
      src_left -= skip;
      if (out->size() + substitute.size() > limit) break;
      out->append(substitute);
      continue;
    }
    clean = false;
    break;
  }
  return clean;
}

std::string codePageName(unsigned code_page) {
  switch (code_page) {
    case 65001:
      return "UTF-8";
    case 1200:
      return "UTF-16LE";
    case 1201:
      return "UTF-16BE";
    case 12000:
      return "UTF-32LE";
    case 12001:
      return "UTF-32BE";
    case 20127:
      return "ASCII";
    case 20866:
      return "KOI8-R";
    case 21866:
      return "KOI8-U";
    case 20932:
    case 51932:
      return "EUC-JP";
    case 51936:
      return "GB2312";
    case 51949:
      return "EUC-KR";
    case 54936:
      return "GB18030";
    case 50220:
    case 50221:
    case 50222:
      return "ISO-2022-JP";
    case 50225:
      return "ISO-2022-KR";
    case 52936:
      return "HZ-GB-2312";
    case 28603:
      return "ISO-8859-13";
    case 28605:
      return "ISO-8859-15";
    default:
      break;
  }
  if (code_page >= 28591 && code_page <= 28599) {
    return platform::format("ISO-8859-%u", code_page - 28590);
  }
  return platform::format("CP%u", code_page);
}

std::string limitUtf8(std::string_view utf8, size_t max_units, size_t capacity) {
  const size_t stop = capacity == 0 ? SIZE_MAX : (capacity > 7 ? capacity - 7 : 0);
  const size_t unit_limit = max_units == 0 ? 0 : max_units - 1;
  size_t pos = 0;
  size_t units = 0;
  while (pos < utf8.size()) {
    if (pos >= stop) break;
    size_t next = pos;
    const char32_t cp = decodeUtf8Char(utf8, &next);
    units += cp >= 0x10000 ? 2 : 1;
    if (units > unit_limit) break;
    pos = next;
  }
  return std::string(utf8.substr(0, pos));
}

bool UTF8ToLocalString(std::string* text, unsigned code_page, size_t capacity) {
  // Normalise to well-formed UTF-8 (bad bytes read as Windows-1252) and
  // apply the per-code-page substitutions.
  std::string clean;
  clean.reserve(text->size());
  size_t pos = 0;
  while (pos < text->size() && (*text)[pos] != '\0') {
    char32_t cp = decodeUtf8Char(*text, &pos);
    if (code_page == 1256 && cp >= 0x0660 && cp <= 0x0669) cp = '0' + (cp - 0x0660);
    appendUtf8(&clean, cp);
  }
  const size_t max_out = capacity == 0 ? 0 : capacity - 1;
  if (code_page == 1252) {
    std::string out = UTF8ToWindows1252(clean);
    if (max_out != 0 && out.size() > max_out) out.resize(max_out);
    *text = std::move(out);
    return true;
  }
  const std::string name = codePageName(code_page);
  auto conv = IconvConverter::open(name, "UTF-8");
  if (!conv) {
    foundation::DebugLogf("UTF8ToLocalString", "Error %u from WideCharToMultiByte",
                          static_cast<unsigned>(errno));
    return false;
  }
  // The question mark as the code page writes it (two bytes in UTF-16).
  std::string substitute;
  if (auto q = IconvConverter::open(name, "UTF-8")) q->convert("?", &substitute, "");
  std::string out;
  conv->convert(clean, &out, substitute, max_out);
  *text = std::move(out);
  return true;
}

bool CodePageToUTF8(std::string* text, unsigned code_page, size_t capacity) {
  if (code_page == 1252) {
    *text = limitUtf8(Windows1252ToUTF8(*text, 8192), 8192, capacity);
    return true;
  }
  auto conv = IconvConverter::open("UTF-8", codePageName(code_page));
  if (!conv) return false;
  std::string out;
  conv->convert(*text, &out, kUtf8Replacement);
  *text = limitUtf8(out, 16384, capacity);
  return true;
}

}  // namespace vek::encoding
