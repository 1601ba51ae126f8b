#include "http/server/form_data.h"

#include "encoding/mime.h"
#include "hostlib/host.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "queue/naming_counters.h"
#include "queue/queue_tree.h"

namespace vek::http {
namespace {

struct PartHeader {
  std::string name;
  std::string filename;
  bool has_filename = false;
  std::string encoding;
};

PartHeader readPartHeader(encoding::TextCursor& cursor) {
  PartHeader h;
  std::string line;
  while (encoding::readShortTextLine(cursor, &line)) {
    if (platform::trim(line).empty()) break;
    if (platform::startsWithNoCase(line, "Content-Disposition:")) {
      std::string_view v = std::string_view(line).substr(20);
      h.name = headerParameter(v, "name");
      h.has_filename = platform::findNoCase(v, "filename=") != std::string_view::npos;
      h.filename = headerParameter(v, "filename");
    } else if (platform::startsWithNoCase(line, "Content-Transfer-Encoding:")) {
      h.encoding = std::string(platform::trim(std::string_view(line).substr(26)));
    }
  }
  return h;
}

bool copyPart(encoding::TextCursor& cursor, std::string_view boundary, const std::string& encoding,
              std::string* out) {
  if (platform::equalsNoCase(encoding, "base64"))
    return encoding::copyMimePartBase64(cursor, boundary, out);
  if (platform::equalsNoCase(encoding, "quoted-printable"))
    return encoding::copyMimePartQuotedPrintable(cursor, boundary, out);
  return encoding::copyMimePartRaw(cursor, boundary, out);
}

platform::Result<std::string> saveUpload(const PartHeader& h, std::string_view content) {
  std::string ext;
  size_t dot = h.filename.rfind('.');
  if (dot != std::string::npos) ext = queue::cleanNamePart(h.filename.substr(dot + 1), 8);
  for (char& c : ext)
    if (c == '.' || c == ' ') c = '_';
  return queue::CreateTemporaryFile(hostlib::GetPrivateDataDirectory() + "TEMP/",
                                    ext.empty() ? "TMP" : ext, content);
}

// The header lines of the request without those that describe its body.
std::string headersWithoutBody(std::string_view headers) {
  std::string out;
  size_t pos = 0;
  while (pos < headers.size()) {
    size_t end = headers.find('\n', pos);
    size_t next = end == std::string_view::npos ? headers.size() : end + 1;
    std::string_view line = headers.substr(pos, next - pos);
    pos = next;
    std::string_view content = platform::trim(line);
    if (content.empty()) continue;  // the blank line that ended the header
    if (platform::startsWithNoCase(content, "Content-Type:") ||
        platform::startsWithNoCase(content, "Content-Length:") ||
        platform::startsWithNoCase(content, "Transfer-Encoding:"))
      continue;
    out.append(content);
    out.append("\r\n");
  }
  return out;
}

}  // namespace

bool isMultipartForm(const Request& request) {
  return platform::findNoCase(request.header("Content-Type:"), "multipart/form-data") !=
         std::string::npos;
}

std::string percentEncode(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(value.size() * 3);
  for (char c : value) {
    unsigned char u = static_cast<unsigned char>(c);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    }
  }
  return out;
}

std::string headerParameter(std::string_view header, std::string_view name) {
  size_t pos = 0;
  while (true) {
    pos = platform::findNoCase(header, name, pos);
    if (pos == std::string_view::npos) return std::string();
    size_t after = pos + name.size();
    bool starts =
        pos == 0 || header[pos - 1] == ';' || header[pos - 1] == ' ' || header[pos - 1] == '\t';
    if (!starts || after >= header.size() || header[after] != '=') {
      pos = after;
      continue;
    }
    std::string_view v = header.substr(after + 1);
    if (!v.empty() && v.front() == '"') {
      size_t close = v.find('"', 1);
      return std::string(v.substr(1, close == std::string_view::npos ? v.size() - 1 : close - 1));
    }
    size_t end = v.find_first_of("; \t");
    return std::string(v.substr(0, end));
  }
}

platform::Result<Request> unpackMultipartForm(const Request& request,
                                              std::vector<std::string>* uploads) {
  const std::string type = request.header("Content-Type:");
  const std::string boundary_value = headerParameter(type, "boundary");
  if (boundary_value.empty()) return platform::Status::error("multipart form without a boundary");
  const std::string boundary = "--" + boundary_value;

  encoding::TextCursor cursor{request.body(), 0};
  std::string line;
  bool found = false;
  while (encoding::readTextLine(cursor, &line)) {
    if (encoding::isBoundaryLine(line, boundary)) {
      found = !encoding::isClosingBoundary(line, boundary);
      break;
    }
  }
  if (!found) return platform::Status::error("multipart form without a first boundary");

  std::string body;
  for (size_t parts = 0; parts < kMaxFormParts; ++parts) {
    PartHeader h = readPartHeader(cursor);
    std::string content;
    bool more = copyPart(cursor, boundary, h.encoding, &content);
    if (!h.name.empty()) {
      std::string value = content;
      if (h.has_filename) {
        auto path = saveUpload(h, content);
        if (!path.ok()) return path.status();
        uploads->push_back(*path);
        value = *path;
      }
      if (!body.empty()) body += '&';
      body += percentEncode(h.name) + "=" + percentEncode(value);
    }
    if (!more || !encoding::readTextLine(cursor, &line) ||
        encoding::isClosingBoundary(line, boundary))
      break;
  }

  Request out;
  out.message = std::string(request.requestLine()) + "\r\n";
  std::string_view headers = request.headers();
  size_t first_line_end = headers.find('\n');
  out.message += headersWithoutBody(first_line_end == std::string_view::npos
                                        ? std::string_view()
                                        : headers.substr(first_line_end + 1));
  out.message += "Content-Type: application/x-www-form-urlencoded\r\n";
  out.message += platform::format("Content-Length: %zu\r\n\r\n", body.size());
  out.body_offset = out.message.size();
  out.message += body;
  return out;
}

}  // namespace vek::http
