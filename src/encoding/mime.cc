#include "encoding/mime.h"

#include "encoding/base64.h"
#include "encoding/quoted_printable.h"
#include "platform/strings.h"

namespace vek::encoding {
namespace {

constexpr char kCtrlZ = 26;

bool readLine(TextCursor& c, std::string* line, size_t size, bool cut_at_space) {
  line->clear();
  if (c.atEnd()) return false;
  // At least one byte a call, so that a reader always advances.
  size_t max = size > 4096 ? 4095 : (size > 2 ? size - 1 : 1);
  std::string_view t = c.text;
  size_t p = c.pos;
  while (p < t.size() && t[p] == kCtrlZ) ++p;
  bool ended = false;
  while (p < t.size() && line->size() < max) {
    char ch = t[p];
    if (ch == '\n') {
      ++p;
      ended = true;
      break;
    }
    if (ch == '\r') {
      if (p + 1 < t.size() && t[p + 1] == '\r') {
        line->push_back(' ');
        ++p;
        continue;
      }
      p += (p + 1 < t.size() && t[p + 1] == '\n') ? 2 : 1;
      ended = true;
      break;
    }
    line->push_back(ch);
    ++p;
  }
  if (!ended && p < t.size() && line->size() == max) {
    // A line exactly as long as the buffer: its break still belongs to it.
    if (t[p] == '\n') {
      ++p;
      ended = true;
    } else if (t[p] == '\r' && !(p + 1 < t.size() && t[p + 1] == '\r')) {
      p += (p + 1 < t.size() && t[p + 1] == '\n') ? 2 : 1;
      ended = true;
    }
  }
  if (!ended && cut_at_space && p < t.size() && line->size() == max) {
    size_t space = line->rfind(' ');
    if (space != std::string::npos && space + 1 < line->size()) {
      // Give back what follows the last space: it starts the next line.
      p -= line->size() - (space + 1);
      line->resize(space + 1);
    }
  }
  c.pos = p;
  return true;
}

struct Line {
  size_t start;
  size_t content_end;  // before the line break
  size_t next;         // after the line break
};

Line nextLine(std::string_view t, size_t start) {
  size_t e = t.find_first_of("\r\n", start);
  if (e == std::string_view::npos) return {start, t.size(), t.size()};
  size_t next = e + ((t[e] == '\r' && e + 1 < t.size() && t[e + 1] == '\n') ? 2 : 1);
  return {start, e, next};
}

// Walks the lines of the part; calls `each(content, has_break)` for every
// line before the boundary. Leaves the cursor at the boundary line.
template <typename Fn>
bool walkPart(TextCursor& c, std::string_view boundary, Fn each) {
  std::string_view t = c.text;
  size_t pos = c.pos;
  while (pos < t.size()) {
    Line l = nextLine(t, pos);
    std::string_view content = t.substr(l.start, l.content_end - l.start);
    if (isBoundaryLine(content, boundary)) {
      c.pos = l.start;
      return true;
    }
    each(content, l.next > l.content_end);
    pos = l.next;
  }
  c.pos = t.size();
  return false;
}

}  // namespace

bool readTextLine(TextCursor& cursor, std::string* line, size_t size) {
  return readLine(cursor, line, size, true);
}

bool readShortTextLine(TextCursor& cursor, std::string* line) {
  return readLine(cursor, line, 512, false);
}

bool isBoundaryLine(std::string_view line, std::string_view boundary) {
  if (boundary.empty() || !platform::startsWithNoCase(line, boundary)) return false;
  std::string_view rest = line.substr(boundary.size());
  if (rest.substr(0, 2) == "--") rest.remove_prefix(2);
  for (char ch : rest)
    if (static_cast<unsigned char>(ch) > ' ') return false;
  return true;
}

bool isClosingBoundary(std::string_view line, std::string_view boundary) {
  return isBoundaryLine(line, boundary) && line.substr(boundary.size(), 2) == "--";
}

bool copyMimePartRaw(TextCursor& cursor, std::string_view boundary, std::string* out) {
  size_t start = cursor.pos;
  size_t end = start;  // end of the last line's content before the boundary
  bool found = walkPart(cursor, boundary, [&](std::string_view content, bool) {
    end = static_cast<size_t>(content.data() + content.size() - cursor.text.data());
  });
  if (!found) end = cursor.text.size();
  // Between lines the breaks are content; the break before the boundary is not.
  if (end > start) out->append(cursor.text.substr(start, end - start));
  return found;
}

bool copyMimePartQuotedPrintable(TextCursor& cursor, std::string_view boundary, std::string* out) {
  bool pending_break = false;
  return walkPart(cursor, boundary, [&](std::string_view content, bool) {
    if (pending_break) out->append("\r\n");
    if (content.substr(0, 2) == "..") content.remove_prefix(1);
    bool soft = !content.empty() && content.back() == '=';
    if (soft) content.remove_suffix(1);
    out->append(quotedPrintableDecode(content));
    pending_break = !soft;
  });
}

bool copyMimePartBase64(TextCursor& cursor, std::string_view boundary, std::string* out) {
  std::string carry;
  return walkPart(cursor, boundary, [&](std::string_view content, bool) {
    for (char ch : content)
      if (static_cast<unsigned char>(ch) > ' ') carry.push_back(ch);
    size_t whole = carry.size() / 4 * 4;
    out->append(base64Decode(std::string_view(carry).substr(0, whole)));
    carry.erase(0, whole);
  });
}

}  // namespace vek::encoding
