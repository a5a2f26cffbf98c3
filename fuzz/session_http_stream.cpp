// A server's bytes as the session's TCP handler sees them: the response header collected across
// receives cut wherever the input says, then parsed; and the padding fields of a data packet
// restored on arbitrary packet bytes.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "session/packet_writer.h"
#include "session/session.h"
#include "support/message_queue.h"

namespace {

constexpr int32_t kRingBytes = 64 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A larger input would fill the small ring, and a full ring waits seconds for a reader.
  if (size < 3 || size >= kRingBytes) return 0;
  // Three leading bytes choose the cuts and the mode; the server's bytes follow them, so a real
  // response can be read in either mode.
  const uint8_t flags = data[2];
  const uint8_t* body = data + 3;
  const size_t length = size - 3;
  // Cuts anywhere in the input, in proportion to the two bytes.
  const size_t a = data[0] * length / 255;
  const size_t b = a + data[1] * (length - a) / 255;
  qor::TMessageClass queue;
  {
    // The ring holds whatever passes the header here, and that is at most the input: a small one
    // keeps each run from mapping and poisoning the megabyte a recording needs.
    qor::TMMS session(kRingBytes);
    session.Messages = &queue;
    session.ProtocolFlags = (flags & 1) ? qor::pfHttp : qor::pfMmsTcp;
    session.TcpDataReceived(nullptr, body, static_cast<int32_t>(a));
    session.TcpDataReceived(nullptr, body + a, static_cast<int32_t>(b - a));
    session.TcpDataReceived(nullptr, body + b, static_cast<int32_t>(length - b));
    session.TcpDisconnected(nullptr);
  }
  std::vector<uint8_t> packet(data + 3, data + size);
  qor::PacketWriter::RestorePaddingFields(packet.data(), packet.size(), flags, 0x10000u + flags);
  return 0;
}
