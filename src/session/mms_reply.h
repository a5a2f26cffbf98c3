#pragma once
// Readers for the fields of a command message received from an MMS server. Every read stays
// inside the message: a field beyond its end reads 0 and a text running past the end is cut.

#include <cstddef>
#include <cstdint>
#include <string>

namespace qor::mms {

// Server-to-client command ids.
enum ReplyId : uint8_t {
  kReplyConnected = 0x01,
  kReplyTransportAccepted = 0x02,
  kReplyTransportRefused = 0x03,
  kReplyStartedPlaying = 0x05,
  kReplyFileOpened = 0x06,
  kReplyHeaderNotification = 0x11,
  kReplyFunnelInfo = 0x15,
  kReplyPasswordRequired = 0x1A,
  kReplyPing = 0x1B,
  kReplyEndOfStream = 0x1E,
  kReplyStreamChange = 0x20,
  kReplyStreamSelectionAccepted = 0x21,
};

constexpr uint32_t kNoTimingTests = 0xF0F0F0F1;
// What servers actually send when they cannot run a timing test.
constexpr uint32_t kNoTimingTestsAlt = 0xF0F0F0EF;
constexpr uint32_t kLiveAttribute = 0x02000000;
// Challenges longer than this many bytes are cut.
constexpr size_t kChallengeLimit = 100;

class ReplyView {
 public:
  ReplyView(const uint8_t* data, size_t length) : data_(data), length_(length) {}

  uint8_t U8(size_t offset) const { return offset < length_ ? data_[offset] : 0; }
  uint32_t U32(size_t offset) const;
  // count UTF-16LE characters from offset as UTF-8; cut at the message end.
  std::string NarrowText(size_t offset, uint64_t count) const;

  uint8_t CommandId() const { return U8(36); }
  uint32_t ResultCode() const { return U32(40); }
  bool Failed() const { return (ResultCode() & 0x80000000u) != 0; }
  uint32_t SecondWord() const { return U32(44); }
  size_t Length() const { return length_; }

 private:
  const uint8_t* data_;
  size_t length_;
};

struct ServerTexts {
  std::string ServerVersion, ToolVersion, UpdateUrl, EncryptionType;
};
// The four texts of the connected reply, trimmed of blanks.
ServerTexts ReadServerTexts(const ReplyView& reply);
bool ServerRunsNoTimingTests(const ReplyView& connected);

struct OpenFileFields {
  uint32_t attributes = 0;
  uint32_t packetSize = 0;
  uint32_t maxStreamRate = 0;
  uint32_t headerLength = 0;
  bool Live() const { return (attributes & kLiveAttribute) != 0; }
};
OpenFileFields ReadOpenFile(const ReplyView& reply);

// The challenge text (its first kChallengeLimit bytes at most).
std::string ReadChallenge(const ReplyView& reply);
// The 4 bytes of the funnel reply that resend requests quote.
void ReadClientId(const ReplyView& reply, uint8_t clientId[4]);

}  // namespace qor::mms
