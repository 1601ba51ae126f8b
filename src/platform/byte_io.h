// ByteReader / ByteWriter: the one way binary wire formats (SMPP, WSP, MMS,
// WBXML, SMS PDUs, counter files) are read and written.
//
// The reader checks the length before touching a byte: every getter returns
// false and leaves the output untouched when the input is too short, so a
// parser reports a truncated or hostile PDU instead of reading past it.
// Multi-byte numbers are big-endian (network order) unless the name ends in
// "le". Neither class is thread-safe; use one per thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vek::platform {

class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> data) : data_(data) {}
  explicit ByteReader(std::string_view data)
      : data_(reinterpret_cast<const uint8_t*>(data.data()), data.size()) {}

  size_t remaining() const { return data_.size() - pos_; }
  size_t offset() const { return pos_; }
  bool empty() const { return remaining() == 0; }
  std::span<const uint8_t> rest() const { return data_.subspan(pos_); }

  bool u8(uint8_t* v);
  bool u16(uint16_t* v);
  bool u32(uint32_t* v);
  bool u16le(uint16_t* v);
  bool u32le(uint32_t* v);
  bool peek(uint8_t* v) const;
  // WSP/MMS variable-length unsigned integer: 7 bits per octet, high bit set
  // on every octet but the last; at most 5 octets and 32 bits.
  bool uintvar(uint32_t* v);
  // `n` raw bytes.
  bool bytes(size_t n, std::string* out);
  bool bytes(size_t n, std::vector<uint8_t>* out);
  bool skip(size_t n);
  // A NUL-terminated string of at most `max_with_nul` bytes including the NUL.
  // Fails (consuming nothing) when no NUL lies within that bound.
  bool cstring(std::string* out, size_t max_with_nul);
  // A sub-reader over the next `n` bytes, which are consumed.
  bool sub(size_t n, ByteReader* out);

 private:
  std::span<const uint8_t> data_;
  size_t pos_ = 0;
};

class ByteWriter {
 public:
  ByteWriter() = default;

  void u8(uint8_t v) { buf_.push_back(v); }
  void u16(uint16_t v);
  void u32(uint32_t v);
  void u16le(uint16_t v);
  void u32le(uint32_t v);
  void uintvar(uint32_t v);
  void bytes(std::span<const uint8_t> b) { buf_.insert(buf_.end(), b.begin(), b.end()); }
  void bytes(std::string_view b) { buf_.insert(buf_.end(), b.begin(), b.end()); }
  // Writes `s` cut to max_with_nul - 1 bytes, then a NUL.
  void cstring(std::string_view s, size_t max_with_nul);
  // Overwrites 4 bytes at `offset` (which must already be written).
  void patchU32(size_t offset, uint32_t v);
  void patchU8(size_t offset, uint8_t v) { buf_.at(offset) = v; }

  size_t size() const { return buf_.size(); }
  const std::vector<uint8_t>& data() const { return buf_; }
  std::vector<uint8_t> take() { return std::move(buf_); }
  std::string str() const { return std::string(buf_.begin(), buf_.end()); }
  void clear() { buf_.clear(); }

 private:
  std::vector<uint8_t> buf_;
};

// Upper-case hexadecimal text of bytes ("%02X" each), and back. fromHex
// ignores nothing: any non-hex character or an odd length fails.
std::string toHex(std::span<const uint8_t> b);
std::string toHex(std::string_view b);
bool fromHex(std::string_view hex, std::string* out);

}  // namespace vek::platform
