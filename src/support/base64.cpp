#include "support/base64.h"

#include <array>
#include <cstring>
#include <stdexcept>

namespace qor {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kUnknown = 254;  // decodes as 62 once reduced to six bits
constexpr uint8_t kPad = 255;

// Byte value to alphabet index. Characters with the top bit set decode like their 7-bit twins,
// which is what texts saved through an 8-bit code page conversion rely on.
constexpr std::array<uint8_t, 256> MakeReverseTable() {
  std::array<uint8_t, 256> table{};
  for (auto& entry : table) entry = kUnknown;
  for (uint8_t i = 0; i < 64; ++i) {
    const auto ch = static_cast<uint8_t>(kAlphabet[i]);
    table[ch] = i;
    table[ch | 0x80] = i;
  }
  table['='] = kPad;
  table['=' | 0x80] = kPad;
  return table;
}

constexpr std::array<uint8_t, 256> kReverse = MakeReverseTable();

// Buffers grow in whole pages, one page beyond the request, so a decoded or encoded text always
// has a NUL after it.
size_t GrownCapacity(uint32_t size) {
  return (static_cast<size_t>(size) / 4096) * 4096 + 4096;
}

// Above this, twice the input no longer fits the 32-bit sizes the coder keeps.
constexpr uint32_t kMaxEncodeInput = 0x7FFFF000;

const uint8_t kEmpty[1] = {0};

}  // namespace

void Base64Coder::ReserveText(uint32_t size) {
  if (size > text_.size()) {
    text_.assign(GrownCapacity(size), 0);
  } else if (!text_.empty()) {
    std::memset(text_.data(), 0, text_.size());
  }
  text_length_ = 0;
}

void Base64Coder::ReserveRaw(uint32_t size) {
  if (size > raw_.size()) {
    raw_.assign(GrownCapacity(size), 0);
  } else if (!raw_.empty()) {
    std::memset(raw_.data(), 0, raw_.size());
  }
  raw_length_ = 0;
}

void Base64Coder::TakeText(const char* text, uint32_t count) {
  ReserveText(count);
  if (text == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    if (!IsSpace(static_cast<uint8_t>(text[i]))) text_[text_length_++] = text[i];
  }
}

void Base64Coder::TakeRaw(const void* data, uint32_t count) {
  ReserveRaw(count);
  if (data == nullptr || count == 0) return;
  std::memcpy(raw_.data(), data, count);
  raw_length_ = count;
}

void Base64Coder::SplitGroup(uint8_t out[4], const uint8_t bytes[3]) const {
  out[0] = static_cast<uint8_t>(bytes[0] >> 2);
  out[1] = static_cast<uint8_t>(((bytes[0] & 0x03) << 4) | (bytes[1] >> 4));
  out[2] = static_cast<uint8_t>(((bytes[1] & 0x0F) << 2) | (bytes[2] >> 6));
  out[3] = static_cast<uint8_t>(bytes[2] & 0x3F);
}

void Base64Coder::JoinGroup(uint8_t out[3], const uint8_t values[4]) const {
  const uint8_t v0 = values[0] & 0x3F;
  const uint8_t v1 = values[1] & 0x3F;
  const uint8_t v2 = values[2] & 0x3F;
  const uint8_t v3 = values[3] & 0x3F;
  out[0] = static_cast<uint8_t>((v0 << 2) | (v1 >> 4));
  out[1] = static_cast<uint8_t>(((v1 & 0x0F) << 4) | (v2 >> 2));
  out[2] = static_cast<uint8_t>(((v2 & 0x03) << 6) | v3);
}

void Base64Coder::EncodeGroup(const uint8_t group[3], uint32_t realBytes, char out[4]) const {
  uint8_t values[4];
  SplitGroup(values, group);
  for (int i = 0; i < 4; ++i) out[i] = kAlphabet[values[i]];
  if (realBytes < 3) out[3] = '=';
  if (realBytes < 2) out[2] = '=';
}

void Base64Coder::DecodeGroup(const uint8_t values[4], uint8_t out[3]) const {
  JoinGroup(out, values);
}

bool Base64Coder::IsSpace(uint8_t ch) const {
  return (ch >= 7 && ch <= 13) || ch == 32;
}

void Base64Coder::Encode(const void* data, uint32_t count) {
  if (count > kMaxEncodeInput) throw std::length_error("Base64Coder: input too large");
  TakeRaw(data, count);
  ReserveText(2 * raw_length_);
  const uint32_t whole = raw_length_ / 3;
  for (uint32_t g = 0; g < whole; ++g) {
    EncodeGroup(&raw_[g * 3], 3, &text_[text_length_]);
    text_length_ += 4;
  }
  const uint32_t rest = raw_length_ % 3;
  if (rest != 0) {
    uint8_t group[3] = {0, 0, 0};
    std::memcpy(group, &raw_[whole * 3], rest);
    EncodeGroup(group, rest, &text_[text_length_]);
    text_length_ += 4;
  }
}

void Base64Coder::Decode(const char* text, uint32_t count) {
  TakeText(text, count);
  ReserveRaw(count);
  const uint32_t whole = text_length_ / 4;
  for (uint32_t g = 0; g < whole; ++g) {
    uint8_t values[4];
    for (int i = 0; i < 4; ++i) values[i] = kReverse[static_cast<uint8_t>(text_[g * 4 + i])];
    if (values[2] == kPad) values[2] = 0;
    if (values[3] == kPad) values[3] = 0;
    DecodeGroup(values, &raw_[raw_length_]);
    raw_length_ += 3;
  }
  const uint32_t rest = text_length_ % 4;
  if (rest != 0) {
    // A partial group yields only the bytes its characters fully cover; the rest of the buffer
    // stays zero, so the text read from it ends right after them.
    uint8_t values[4] = {0, 0, 0, 0};
    for (uint32_t i = 0; i < rest; ++i) {
      const uint8_t value = kReverse[static_cast<uint8_t>(text_[whole * 4 + i])];
      values[i] = value == kPad ? 0 : value;
    }
    uint8_t bytes[3];
    DecodeGroup(values, bytes);
    const uint32_t covered = rest * 6 / 8;
    std::memcpy(&raw_[raw_length_], bytes, covered);
    raw_length_ += covered;
  }
}

void Base64Coder::EncodeText(const char* text) {
  if (text != nullptr) Encode(text, static_cast<uint32_t>(std::strlen(text)));
}

void Base64Coder::DecodeText(const char* text) {
  if (text != nullptr) Decode(text, static_cast<uint32_t>(std::strlen(text)));
}

const uint8_t* Base64Coder::Decoded() const {
  return raw_.empty() ? kEmpty : raw_.data();
}

const char* Base64Coder::Encoded() const {
  return text_.empty() ? reinterpret_cast<const char*>(kEmpty) : text_.data();
}

std::string Base64Coder::EncodeString(const std::string& plain) {
  if (plain.size() > kMaxEncodeInput) throw std::length_error("Base64Coder: input too large");
  Base64Coder coder;
  coder.Encode(plain.data(), static_cast<uint32_t>(plain.size()));
  return std::string(coder.Encoded(), coder.EncodedLength());
}

std::string Base64Coder::DecodeString(const std::string& text) {
  if (text.size() > UINT32_MAX) throw std::length_error("Base64Coder: input too large");
  Base64Coder coder;
  coder.Decode(text.data(), static_cast<uint32_t>(text.size()));
  const auto* bytes = reinterpret_cast<const char*>(coder.Decoded());
  const void* nul = std::memchr(bytes, 0, coder.DecodedLength());
  const size_t length =
      nul ? static_cast<size_t>(static_cast<const char*>(nul) - bytes) : coder.DecodedLength();
  return std::string(bytes, length);
}

}  // namespace qor
