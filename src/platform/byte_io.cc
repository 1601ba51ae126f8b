#include "platform/byte_io.h"

#include <cstring>

namespace vek::platform {

bool ByteReader::u8(uint8_t* v) {
  if (remaining() < 1) return false;
  *v = data_[pos_++];
  return true;
}

bool ByteReader::peek(uint8_t* v) const {
  if (remaining() < 1) return false;
  *v = data_[pos_];
  return true;
}

bool ByteReader::u16(uint16_t* v) {
  if (remaining() < 2) return false;
  *v = static_cast<uint16_t>((data_[pos_] << 8) | data_[pos_ + 1]);
  pos_ += 2;
  return true;
}

bool ByteReader::u32(uint32_t* v) {
  if (remaining() < 4) return false;
  *v = (uint32_t{data_[pos_]} << 24) | (uint32_t{data_[pos_ + 1]} << 16) |
       (uint32_t{data_[pos_ + 2]} << 8) | uint32_t{data_[pos_ + 3]};
  pos_ += 4;
  return true;
}

bool ByteReader::u16le(uint16_t* v) {
  if (remaining() < 2) return false;
  *v = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
  pos_ += 2;
  return true;
}

bool ByteReader::u32le(uint32_t* v) {
  if (remaining() < 4) return false;
  *v = uint32_t{data_[pos_]} | (uint32_t{data_[pos_ + 1]} << 8) |
       (uint32_t{data_[pos_ + 2]} << 16) | (uint32_t{data_[pos_ + 3]} << 24);
  pos_ += 4;
  return true;
}

bool ByteReader::uintvar(uint32_t* v) {
  uint32_t value = 0;
  for (size_t i = 0; i < 5 && pos_ + i < data_.size(); ++i) {
    uint8_t b = data_[pos_ + i];
    if (i == 4 && (value >> 25) != 0) return false;  // would overflow 32 bits
    value = (value << 7) | (b & 0x7F);
    if ((b & 0x80) == 0) {
      pos_ += i + 1;
      *v = value;
      return true;
    }
  }
  return false;
}

bool ByteReader::bytes(size_t n, std::string* out) {
  if (remaining() < n) return false;
  out->assign(reinterpret_cast<const char*>(data_.data() + pos_), n);
  pos_ += n;
  return true;
}

bool ByteReader::bytes(size_t n, std::vector<uint8_t>* out) {
  if (remaining() < n) return false;
  out->assign(data_.begin() + static_cast<std::ptrdiff_t>(pos_),
              data_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
  pos_ += n;
  return true;
}

bool ByteReader::skip(size_t n) {
  if (remaining() < n) return false;
  pos_ += n;
  return true;
}

bool ByteReader::cstring(std::string* out, size_t max_with_nul) {
  size_t limit = std::min(remaining(), max_with_nul);
  const uint8_t* start = data_.data() + pos_;
  const void* nul = limit ? std::memchr(start, 0, limit) : nullptr;
  if (nul == nullptr) return false;
  size_t len = static_cast<size_t>(static_cast<const uint8_t*>(nul) - start);
  out->assign(reinterpret_cast<const char*>(start), len);
  pos_ += len + 1;
  return true;
}

bool ByteReader::sub(size_t n, ByteReader* out) {
  if (remaining() < n) return false;
  *out = ByteReader(data_.subspan(pos_, n));
  pos_ += n;
  return true;
}

void ByteWriter::u16(uint16_t v) {
  buf_.push_back(static_cast<uint8_t>(v >> 8));
  buf_.push_back(static_cast<uint8_t>(v));
}

void ByteWriter::u32(uint32_t v) {
  buf_.push_back(static_cast<uint8_t>(v >> 24));
  buf_.push_back(static_cast<uint8_t>(v >> 16));
  buf_.push_back(static_cast<uint8_t>(v >> 8));
  buf_.push_back(static_cast<uint8_t>(v));
}

void ByteWriter::u16le(uint16_t v) {
  buf_.push_back(static_cast<uint8_t>(v));
  buf_.push_back(static_cast<uint8_t>(v >> 8));
}

void ByteWriter::u32le(uint32_t v) {
  buf_.push_back(static_cast<uint8_t>(v));
  buf_.push_back(static_cast<uint8_t>(v >> 8));
  buf_.push_back(static_cast<uint8_t>(v >> 16));
  buf_.push_back(static_cast<uint8_t>(v >> 24));
}

void ByteWriter::uintvar(uint32_t v) {
  uint8_t tmp[5];
  int n = 0;
  do {
    tmp[n++] = static_cast<uint8_t>(v & 0x7F);
    v >>= 7;
  } while (v != 0);
  while (n > 0) {
    --n;
    buf_.push_back(static_cast<uint8_t>(tmp[n] | (n > 0 ? 0x80 : 0)));
  }
}

void ByteWriter::cstring(std::string_view s, size_t max_with_nul) {
  if (max_with_nul == 0) return;
  if (s.size() > max_with_nul - 1) s = s.substr(0, max_with_nul - 1);
  bytes(s);
  buf_.push_back(0);
}

void ByteWriter::patchU32(size_t offset, uint32_t v) {
  buf_.at(offset + 3);  // bounds check once
  buf_[offset] = static_cast<uint8_t>(v >> 24);
  buf_[offset + 1] = static_cast<uint8_t>(v >> 16);
  buf_[offset + 2] = static_cast<uint8_t>(v >> 8);
  buf_[offset + 3] = static_cast<uint8_t>(v);
}

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

std::string toHex(std::span<const uint8_t> b) {
  std::string out;
  out.resize(b.size() * 2);
  for (size_t i = 0; i < b.size(); ++i) {
    out[2 * i] = kHexDigits[b[i] >> 4];
    out[2 * i + 1] = kHexDigits[b[i] & 15];
  }
  return out;
}

std::string toHex(std::string_view b) {
  return toHex(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(b.data()), b.size()));
}

bool fromHex(std::string_view hex, std::string* out) {
  if (hex.size() % 2 != 0) return false;
  std::string result;
  result.resize(hex.size() / 2);
  for (size_t i = 0; i < result.size(); ++i) {
    int hi = hexValue(hex[2 * i]);
    int lo = hexValue(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    result[i] = static_cast<char>((hi << 4) | lo);
  }
  *out = std::move(result);
  return true;
}

}  // namespace vek::platform
