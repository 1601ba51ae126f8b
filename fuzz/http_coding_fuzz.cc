// Feeds any bytes to Base64, quoted-printable, the MIME part copiers and the
// line reader. Checks: no crash, encodings round-trip, quoted-printable lines
// stay within 76 characters, copiers never move backwards or past the end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "encoding/base64.h"
#include "encoding/mime.h"
#include "encoding/quoted_printable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);

  if (vek::encoding::base64Decode(vek::encoding::base64Encode(text)) != text) std::abort();
  (void)vek::encoding::base64Decode(text);
  (void)vek::encoding::base64DecodeSkippingBlanks(text);

  std::string qp = vek::encoding::quotedPrintableEncode(text);
  if (vek::encoding::quotedPrintableDecode(qp) != text) std::abort();
  size_t line = 0;
  for (char c : qp) {
    line = c == '\n' ? 0 : line + 1;
    if (line > 77) std::abort();  // 76 plus the CR
  }
  (void)vek::encoding::quotedPrintableDecode(text);

  for (int kind = 0; kind < 3; ++kind) {
    vek::encoding::TextCursor cursor{text};
    std::string out;
    for (int part = 0; part < 64 && !cursor.atEnd(); ++part) {
      size_t before = cursor.pos;
      bool found = kind == 0   ? vek::encoding::copyMimePartRaw(cursor, "--b", &out)
                   : kind == 1 ? vek::encoding::copyMimePartQuotedPrintable(cursor, "--b", &out)
                               : vek::encoding::copyMimePartBase64(cursor, "--b", &out);
      if (cursor.pos < before || cursor.pos > text.size()) std::abort();
      if (!found) break;
      std::string boundary;
      if (!vek::encoding::readTextLine(cursor, &boundary))
        std::abort();  // step over the boundary line
    }
  }
  vek::encoding::TextCursor lines{text};
  std::string l;
  size_t last = 0;
  while (vek::encoding::readTextLine(lines, &l, 1 + size % 64)) {
    if (lines.pos <= last || l.size() > 63) std::abort();
    last = lines.pos;
  }
  return 0;
}
