// Line reading and MIME part copying over a text held in memory (a
// template, a request file, an uploaded multipart body). A TextCursor is
// the read position; readers advance it, copiers leave it at the boundary
// line that ends their part.
//
// The part copiers are binary-safe where it matters: the raw copier copies
// the part's bytes exactly, and the line break before a boundary line
// belongs to the boundary, not to the part.
//
// Pure functions over caller-owned text; thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace vek::encoding {

struct TextCursor {
  std::string_view text;
  size_t pos = 0;
  bool atEnd() const { return pos >= text.size(); }
};

// Reads one line of at most size - 1 (at most 4095) bytes. The line ends at
// "\r\n", "\n" or "\r"; in a "\r\r" pair the first "\r" becomes a space and
// the line continues; leading Ctrl-Z characters are removed. A line that
// fills the buffer is cut after its last space and the rest is returned as
// the next line (without a space, the whole block is returned). False at
// the end of the text.
bool readTextLine(TextCursor& cursor, std::string* line, size_t size = 4096);
// Same for at most 511 bytes, never cutting at a space.
bool readShortTextLine(TextCursor& cursor, std::string* line);

// A boundary line begins with `boundary` (as the caller gives it, normally
// "--" and the multipart boundary; ASCII case ignored) and holds nothing
// but blanks after it and an optional "--". The closing boundary has the
// "--".
bool isBoundaryLine(std::string_view line, std::string_view boundary);
bool isClosingBoundary(std::string_view line, std::string_view boundary);

// Copy the part from the cursor up to the next boundary line (or the end),
// append the result to *out, and leave the cursor at the start of that
// boundary line. True when a boundary line was found.
//  raw: the bytes exactly, without the line break that precedes the boundary;
//  quoted-printable: lines decoded, a line beginning ".." loses one dot, a
//    trailing "=" joins the line to the next, other line ends become CR LF;
//  Base64: each line's complete 4-character groups decoded, a remainder
//    carried over to the next line.
bool copyMimePartRaw(TextCursor& cursor, std::string_view boundary, std::string* out);
bool copyMimePartQuotedPrintable(TextCursor& cursor, std::string_view boundary, std::string* out);
bool copyMimePartBase64(TextCursor& cursor, std::string_view boundary, std::string* out);

}  // namespace vek::encoding
