#pragma once
// Base64Coder: the RFC 4648 coder behind saved passwords and HTTP Basic authorisation.
// Encode never breaks lines; Decode skips space characters, maps unknown characters to 62 and
// zero-fills a trailing partial group.

#include <cstdint>
#include <string>
#include <vector>

namespace qor {

class Base64Coder {
 public:
  virtual ~Base64Coder() = default;

  virtual void Encode(const void* data, uint32_t count);
  virtual void Decode(const char* text, uint32_t count);
  virtual void EncodeText(const char* text);  // nothing for null
  virtual void DecodeText(const char* text);  // nothing for null
  // The raw buffer (NUL-terminated as the buffers are zero-filled) and its length.
  virtual const uint8_t* Decoded() const;
  uint32_t DecodedLength() const { return raw_length_; }
  // The Base64 text.
  virtual const char* Encoded() const;
  uint32_t EncodedLength() const { return text_length_; }

  // Conveniences for callers holding std::string.
  static std::string EncodeString(const std::string& plain);
  // The decoded bytes read as a NUL-terminated text, as the dialogs read them.
  static std::string DecodeString(const std::string& text);

 protected:
  virtual void ReserveText(uint32_t size);
  virtual void ReserveRaw(uint32_t size);
  virtual void TakeText(const char* text, uint32_t count);
  virtual void TakeRaw(const void* data, uint32_t count);
  virtual void EncodeGroup(const uint8_t group[3], uint32_t realBytes, char out[4]) const;
  virtual void DecodeGroup(const uint8_t values[4], uint8_t out[3]) const;
  virtual void SplitGroup(uint8_t out[4], const uint8_t bytes[3]) const;
  virtual void JoinGroup(uint8_t out[3], const uint8_t values[4]) const;
  virtual bool IsSpace(uint8_t ch) const;

 private:
  std::vector<uint8_t> raw_;
  std::vector<char> text_;
  uint32_t raw_length_ = 0;
  uint32_t text_length_ = 0;
};

}  // namespace qor
