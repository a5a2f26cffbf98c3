#include "session/mms_reply.h"

#include <algorithm>

#include "support/helper.h"
#include "support/unicode_text.h"

namespace qor::mms {

uint32_t ReplyView::U32(size_t offset) const {
  if (offset > length_ || length_ - offset < 4) return 0;
  const uint8_t* p = data_ + offset;
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::string ReplyView::NarrowText(size_t offset, uint64_t count) const {
  std::string text;
  if (offset >= length_) return text;
  const uint64_t present = (length_ - offset) / 2;
  const size_t take = static_cast<size_t>(std::min(count, present));
  return Utf16LeToUtf8(data_ + offset, 2 * take, false);
}

ServerTexts ReadServerTexts(const ReplyView& reply) {
  uint64_t counts[4];
  for (int i = 0; i < 4; ++i) counts[i] = reply.U32(80 + 4 * i);
  std::string* targets[4];
  ServerTexts texts;
  targets[0] = &texts.ServerVersion;
  targets[1] = &texts.ToolVersion;
  targets[2] = &texts.UpdateUrl;
  targets[3] = &texts.EncryptionType;
  uint64_t offset = 96;
  for (int i = 0; i < 4; ++i) {
    if (offset < reply.Length())
      *targets[i] = THelper::Trim(reply.NarrowText(static_cast<size_t>(offset), counts[i]));
    offset += counts[i] * 2;
  }
  return texts;
}

bool ServerRunsNoTimingTests(const ReplyView& connected) {
  const uint32_t word = connected.SecondWord();
  return word == kNoTimingTests || word == kNoTimingTestsAlt;
}

OpenFileFields ReadOpenFile(const ReplyView& reply) {
  OpenFileFields fields;
  fields.attributes = reply.U32(60);
  fields.packetSize = reply.U32(92);
  fields.maxStreamRate = reply.U32(104);
  fields.headerLength = reply.U32(108);
  return fields;
}

std::string ReadChallenge(const ReplyView& reply) {
  const uint64_t bytes = std::min<uint64_t>(reply.U32(48), kChallengeLimit);
  return reply.NarrowText(52, bytes / 2);
}

void ReadClientId(const ReplyView& reply, uint8_t clientId[4]) {
  for (size_t i = 0; i < 4; ++i) clientId[i] = reply.U8(60 + i);
}

}  // namespace qor::mms
