// A server's bytes as the session's TCP handler sees them: the response header collected across
// receives cut wherever the input says, then parsed; and the padding fields of a data packet
// restored on arbitrary packet bytes.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "session/packet_writer.h"
#include "session/session.h"
#include "support/message_queue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t cut1 = data[0] % (size - 2) + 2;
  const size_t cut2 = cut1 + (data[1] % (size - cut1 + 1));
  const uint8_t flags = data[2];
  qor::TMessageClass queue;
  {
    qor::TMMS session;
    session.Messages = &queue;
    session.ProtocolFlags = (flags & 1) ? qor::pfHttp : qor::pfMmsTcp;
    const uint8_t* body = data + 2;
    const size_t length = size - 2;
    const size_t a = cut1 - 2, b = cut2 - 2;
    session.TcpDataReceived(nullptr, body, static_cast<int32_t>(a));
    session.TcpDataReceived(nullptr, body + a, static_cast<int32_t>(b - a));
    session.TcpDataReceived(nullptr, body + b, static_cast<int32_t>(length - b));
    session.TcpDisconnected(nullptr);
  }
  std::vector<uint8_t> packet(data + 3, data + size);
  qor::PacketWriter::RestorePaddingFields(packet.data(), packet.size(), flags, 0x10000u + flags);
  return 0;
}
