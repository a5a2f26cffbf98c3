// An RTSP server's bytes as a session's connection brings them, cut wherever the input says:
// the protocol frames them, answers, reads the description and the ASF header, sets up, and takes
// the interleaved media to the end of the connection.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "session/rtsp_protocol.h"
#include "session/scripted_port.h"

namespace {

constexpr int32_t kRingBytes = 64 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A larger input would fill the small ring, and a full ring waits seconds for a reader.
  if (size < 2 || size >= kRingBytes / 2) return 0;
  const uint8_t* body = data + 2;
  const size_t length = size - 2;
  const size_t a = data[0] * length / 255;
  const size_t b = a + data[1] * (length - a) / 255;
  qor::SessionConfig config;
  config.ProtocolFlags = qor::pfRtspTcp;
  config.Host = "fuzz";
  config.ConnectPort = 554;
  config.Path = "clip.wmv";
  qor::testing::ScriptedPort port(config, std::string(), kRingBytes);
  qor::RtspProtocol rtsp(port);
  port.Attach(rtsp);
  port.Connect();
  port.Receive(body, a);
  port.Receive(body + a, b - a);
  port.Receive(body + b, length - b);
  port.Close();
  port.Run();
  return 0;
}
