// Fuzz target: the modem response reader. The first byte chooses the
// expectation (wait-for text, prompt mode, text mode) and the chunk size;
// the rest is fed as a port would deliver it, then fed again byte by byte
// to a second reader. Memory must stay within the reader's bounds, and how
// the bytes were cut must not change the outcome of the first response.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "modem/response_reader.h"

using namespace vek::modem;

namespace {

void checkBounds(ResponseReader& r) {
  if (r.text().size() > kMaxResponse + kMaxLine + 2) std::abort();
  if (r.setAside().size() > kMaxSetAside) std::abort();
  for (const auto& u : r.setAside())
    if (u.header.size() > kMaxLine || u.body.size() > kMaxLine) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  ResponseReader::Expect e;
  if (mode & 1) e.wait_for = "+CMGS:";
  e.prompt = (mode & 2) != 0;
  const bool text_mode = (mode & 4) != 0;
  const size_t chunk = 1 + (mode >> 3) * 16;

  ResponseReader a(text_mode), b(text_mode);
  a.start(e);
  b.start(e);
  for (size_t at = 0; at < bytes.size(); at += chunk) a.feed(bytes.substr(at, chunk));
  checkBounds(a);
  for (size_t at = 0; at < bytes.size(); ++at) b.feed(bytes.substr(at, 1));
  checkBounds(b);
  if (a.completion() != b.completion()) std::abort();
  if (a.completion() != Completion::kNone && a.text() != b.text()) std::abort();
  if (a.setAside().size() != b.setAside().size()) std::abort();

  // The next response starts from what was left; it stays bounded too.
  a.start({});
  checkBounds(a);
  a.takeNewMessageFlag();
  return 0;
}
