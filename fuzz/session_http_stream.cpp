// A server's bytes as a session's connection brings them: the response header collected across
// receives cut wherever the input says, then read by the protocol; over HTTP the loop then takes
// the chunks (or a plain file's bytes) to the end of the connection. And the padding fields of a
// data packet restored on arbitrary packet bytes.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "session/http_protocol.h"
#include "session/mms_protocol.h"
#include "session/packet_writer.h"
#include "session/scripted_port.h"

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
  {
    qor::SessionConfig config;
    config.ProtocolFlags = (flags & 1) ? qor::pfHttp : qor::pfMmsTcp;
    config.Host = "fuzz";
    config.HttpPort = 80;
    config.ConnectPort = 1755;
    // The ring holds whatever passes the header here, and that is at most the input: a small one
    // keeps each run from mapping and poisoning the megabyte a recording needs.
    qor::testing::ScriptedPort port(config, std::string(), kRingBytes);
    std::unique_ptr<qor::SessionProtocol> protocol;
    if (flags & 1) {
      protocol = std::make_unique<qor::HttpProtocol>(port);
    } else {
      protocol = std::make_unique<qor::MmsProtocol>(port);
    }
    port.Attach(*protocol);
    port.Receive(body, a);
    port.Receive(body + a, b - a);
    port.Receive(body + b, length - b);
    port.Close();
    // The MMS loop's end over UDP waits for stragglers in real time; its units are fuzzed apart.
    if (flags & 1) port.Run();
  }
  std::vector<uint8_t> packet(data + 3, data + size);
  qor::PacketWriter::RestorePaddingFields(packet.data(), packet.size(), flags, 0x10000u + flags);
  return 0;
}
