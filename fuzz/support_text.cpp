// Arbitrary bytes through the location helpers, the hex dump and the Base64 coder: texts from
// web pages, redirector files and saved settings all reach them.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/base64.h"
#include "support/helper.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void Locations(const std::string& text) {
  using qor::THelper;
  const std::string host = THelper::HostOf(text);
  const std::string path = THelper::PathOf(text);
  Check(host.size() <= text.size() && path.size() <= text.size());
  const std::string name = THelper::FileNameOf(text);
  Check(name.size() <= text.size());
  Check(THelper::StripExtension(name).size() <= name.size());
  Check(THelper::StripQuery(text).size() <= text.size());
  const uint32_t flags = THelper::ClassifyLocation(text);
  Check(flags < 0x2000u);
  const std::string trimmed = THelper::Trim(text);
  Check(trimmed.empty() ||
        (static_cast<uint8_t>(trimmed.front()) > 32 && static_cast<uint8_t>(trimmed.back()) > 32));
  const int32_t length = THelper::Length(text);
  Check(THelper::Mid(text, length / 2, length).size() <= text.size());
  Check(THelper::Right(text, length / 3).size() <= text.size());
}

void Dump(const std::string& text) {
  const std::string dump = qor::THelper::HexDump(text.data(), static_cast<int32_t>(text.size()));
  Check(dump.size() == 14 + text.size() * 3 + (text.size() / 16) * 2);
}

void Base64(const std::vector<char>& bytes) {
  // Exactly sized copy: any read past the count lands outside the allocation.
  qor::Base64Coder coder;
  coder.Decode(bytes.empty() ? nullptr : bytes.data(), static_cast<uint32_t>(bytes.size()));
  Check(coder.DecodedLength() <= bytes.size());
  Check(coder.Decoded()[coder.DecodedLength()] == 0);

  qor::Base64Coder encoder;
  encoder.Encode(bytes.data(), static_cast<uint32_t>(bytes.size()));
  Check(encoder.EncodedLength() == (bytes.size() + 2) / 3 * 4);
  qor::Base64Coder back;
  back.Decode(encoder.Encoded(), encoder.EncodedLength());
  Check(back.DecodedLength() >= bytes.size());
  Check(bytes.empty() || std::memcmp(back.Decoded(), bytes.data(), bytes.size()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  Locations(text);
  Locations(qor::THelper::LowerCase(text));
  Dump(text);
  Base64(std::vector<char>(text.begin(), text.end()));
  return 0;
}
