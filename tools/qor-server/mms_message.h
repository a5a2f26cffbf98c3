#pragma once
// MMS command messages: the server's replies are built here, the client's commands are cut out of
// the TCP byte stream and read here. Every read stays inside the message it was given.

#include <cstddef>
#include <cstdint>
#include <string>

#include "wire.h"

namespace qor::server {

namespace mms {
inline constexpr uint32_t kSignature = 0xB00BFACE;
inline constexpr uint32_t kHeaderLength = 40;  // framing up to and including the direction
// Largest command a client may send; anything longer is garbage.
inline constexpr uint32_t kMaxCommandLength = 64 * 1024;

// Client to server.
enum ClientId : uint16_t {
  kConnect = 0x01,
  kTransportSelect = 0x02,
  kOpenFile = 0x05,
  kStartPlay = 0x07,
  kStopPlay = 0x09,
  kCloseFile = 0x0D,
  kHeaderRequest = 0x15,
  kTimingRequest = 0x18,
  kPasswordResponse = 0x1A,
  kPong = 0x1B,
  kStreamSelection = 0x33,
};

// Server to client.
enum ServerId : uint16_t {
  kReportConnected = 0x01,
  kReportConnectedFunnel = 0x02,
  kReportDisconnectedFunnel = 0x03,
  kReportStartedPlaying = 0x05,
  kReportOpenFile = 0x06,
  kReportReadBlock = 0x11,
  kReportFunnelInfo = 0x15,
  kSecurityChallenge = 0x1A,
  kPing = 0x1B,
  kReportEndOfStream = 0x1E,
  kReportStreamChange = 0x20,
  kReportStreamSwitch = 0x21,
};

inline constexpr uint32_t kTimingSupported = 0xF0F0F0F0;
inline constexpr uint32_t kTimingUnsupported = 0xF0F0F0EF;
inline constexpr uint32_t kTcpPacketPair = 0xF0F0F0F1;
inline constexpr uint32_t kUdpPacketPair = 0xF0F0F901;
}  // namespace mms

// One server-to-client message: framing, id, direction 0x0004, hr, second word, then fields,
// padded to a multiple of 8 bytes.
Bytes BuildServerCommand(uint16_t id, uint32_t hr, uint32_t secondWord, const Bytes& fields,
                         uint16_t sequence);

// A client command as received: the whole message, read through bounded accessors.
struct ClientCommand {
  Bytes message;
  uint16_t Id() const { return Reader(message).U16(36); }
  uint16_t Direction() const { return Reader(message).U16(38); }
  uint16_t Sequence() const { return Reader(message).U16(20); }
  uint32_t Word(size_t offset) const { return Reader(message).U32(offset); }
  double Double(size_t offset) const { return Reader(message).Double(offset); }
  std::string Text(size_t offset) const { return Reader(message).Utf16(offset); }
};

// Cuts client commands out of a TCP byte stream, whatever the split of the receives.
class CommandSplitter {
 public:
  enum class Result { kNeedMore, kCommand, kGarbage };
  void Feed(const uint8_t* data, size_t size);
  // kGarbage (with a reason) when the stream does not hold a command where one must start; the
  // connection cannot be resynchronised after that.
  Result Next(ClientCommand& out, std::string& reason);
  size_t Buffered() const { return buffer_.size(); }

 private:
  Bytes buffer_;
};

}  // namespace qor::server
