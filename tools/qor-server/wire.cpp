#include "wire.h"

#include <cstring>

namespace qor::server {

void PutDouble(Bytes& out, double v) {
  uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  PutU64(out, bits);
}

void PutUtf16(Bytes& out, const std::string& text, bool terminate) {
  for (unsigned char c : text) PutU16(out, c);
  if (terminate) PutU16(out, 0);
}

uint16_t Reader::U16(size_t pos) const {
  if (!Has(pos, 2)) return 0;
  return static_cast<uint16_t>(data_[pos] | (data_[pos + 1] << 8));
}

uint32_t Reader::U32(size_t pos) const {
  if (!Has(pos, 4)) return 0;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | data_[pos + static_cast<size_t>(i)];
  return v;
}

uint64_t Reader::U64(size_t pos) const {
  if (!Has(pos, 8)) return 0;
  return static_cast<uint64_t>(U32(pos)) | (static_cast<uint64_t>(U32(pos + 4)) << 32);
}

double Reader::Double(size_t pos) const {
  const uint64_t bits = U64(pos);
  double v = 0;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

std::string Reader::Utf16(size_t pos) const {
  std::string text;
  for (size_t p = pos; Has(p, 2); p += 2) {
    const uint16_t c = U16(p);
    if (c == 0) break;
    text.push_back(static_cast<char>(c & 0xFF));
  }
  return text;
}

}  // namespace qor::server
