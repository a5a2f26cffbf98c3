// One command message from an MMS server read field by field, the way the session reads each
// reply it acts on, and its texts read at offsets and lengths the input picks: every read stays
// inside the message and no text grows past what its bytes can encode.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "session/mms_reply.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// UTF-16 units become at most three UTF-8 bytes each (a pair of four).
void CheckText(const std::string& text, size_t sourceBytes) {
  Check(text.size() <= sourceBytes / 2 * 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  uint16_t offset = 0;
  uint32_t count = 0;
  std::memcpy(&offset, data, 2);
  std::memcpy(&count, data + 2, 4);
  const uint16_t fieldAt = static_cast<uint16_t>(data[6] | (data[7] << 8));
  data += 8;
  size -= 8;
  // An exact-size copy, so a read one byte past the message is caught.
  const std::vector<uint8_t> message(data, data + size);
  const qor::mms::ReplyView reply(message.data(), message.size());

  const std::string text = reply.NarrowText(offset, count);
  CheckText(text, offset < size ? std::min<uint64_t>(size - offset, uint64_t{count} * 2) : 0);
  Check(fieldAt + 4u <= size || fieldAt >= size ||
        reply.U32(fieldAt) >> (8 * (size - fieldAt)) == 0);
  Check(fieldAt < size || reply.U8(fieldAt) == 0);

  (void)reply.Failed();
  (void)qor::mms::ServerRunsNoTimingTests(reply);
  const auto texts = qor::mms::ReadServerTexts(reply);
  const size_t textRoom = size > 96 ? size - 96 : 0;
  CheckText(texts.ServerVersion, textRoom);
  CheckText(texts.ToolVersion, textRoom);
  CheckText(texts.UpdateUrl, textRoom);
  CheckText(texts.EncryptionType, textRoom);
  const std::string challenge = qor::mms::ReadChallenge(reply);
  CheckText(challenge, qor::mms::kChallengeLimit);
  const auto open = qor::mms::ReadOpenFile(reply);
  Check(open.Live() == ((open.attributes & qor::mms::kLiveAttribute) != 0));
  uint8_t id[4];
  qor::mms::ReadClientId(reply, id);
  for (size_t i = 0; i < 4; ++i) Check(60 + i < size ? id[i] == message[60 + i] : id[i] == 0);
  return 0;
}
