#pragma once
// Little-endian building and bounded reading of the server's wire units.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qor::server {

using Bytes = std::vector<uint8_t>;

inline void PutU8(Bytes& out, uint8_t v) {
  out.push_back(v);
}
inline void PutU16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void PutU32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void PutU64(Bytes& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutDouble(Bytes& out, double v);
// Each byte of text widened to a 16-bit character, then one NUL character when terminate is set.
void PutUtf16(Bytes& out, const std::string& text, bool terminate);

inline void StoreU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void StoreU64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A read-only window on received bytes: fields beyond its end read as 0, never past the end.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit Reader(const Bytes& bytes) : data_(bytes.data()), size_(bytes.size()) {}
  size_t Size() const { return size_; }
  bool Has(size_t pos, size_t count) const { return pos <= size_ && count <= size_ - pos; }
  uint8_t U8(size_t pos) const { return Has(pos, 1) ? data_[pos] : 0; }
  uint16_t U16(size_t pos) const;
  uint32_t U32(size_t pos) const;
  uint64_t U64(size_t pos) const;
  double Double(size_t pos) const;
  // Low bytes of the 16-bit characters from pos up to a NUL character or the end.
  std::string Utf16(size_t pos) const;

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace qor::server
