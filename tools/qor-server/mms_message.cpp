#include "mms_message.h"

#include <algorithm>

namespace qor::server {

Bytes BuildServerCommand(uint16_t id, uint32_t hr, uint32_t secondWord, const Bytes& fields,
                         uint16_t sequence) {
  Bytes body;  // from offset 32: chunk length, id, direction, hr, second word, fields
  PutU32(body, 0);
  PutU16(body, id);
  PutU16(body, 0x0004);
  PutU32(body, hr);
  PutU32(body, secondWord);
  body.insert(body.end(), fields.begin(), fields.end());
  while (body.size() % 8 != 0) body.push_back(0);
  StoreU32(body.data(), static_cast<uint32_t>(body.size() / 8));

  Bytes message;
  message.reserve(32 + body.size());
  PutU32(message, 1);
  PutU32(message, mms::kSignature);
  const uint32_t fromSixteen = static_cast<uint32_t>(16 + body.size());
  PutU32(message, fromSixteen);
  message.insert(message.end(), {'M', 'M', 'S', ' '});
  PutU32(message, fromSixteen / 8);
  PutU16(message, sequence);
  PutU16(message, 0);
  PutU64(message, 0);  // time sent
  message.insert(message.end(), body.begin(), body.end());
  return message;
}

void CommandSplitter::Feed(const uint8_t* data, size_t size) {
  buffer_.insert(buffer_.end(), data, data + size);
}

CommandSplitter::Result CommandSplitter::Next(ClientCommand& out, std::string& reason) {
  if (buffer_.size() < 16) return Result::kNeedMore;
  const Reader reader(buffer_);
  if (reader.U32(4) != mms::kSignature) {
    reason = "no command signature";
    return Result::kGarbage;
  }
  const uint32_t fromSixteen = reader.U32(8);
  if (fromSixteen < 24 || fromSixteen > mms::kMaxCommandLength) {
    reason = "command length " + std::to_string(fromSixteen) + " out of range";
    return Result::kGarbage;
  }
  const size_t total = 16 + static_cast<size_t>(fromSixteen);
  if (buffer_.size() < total) return Result::kNeedMore;
  out.message.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(total));
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(total));
  return Result::kCommand;
}

}  // namespace qor::server
