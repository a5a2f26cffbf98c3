// Whatever a client sends the reference server: HTTP request heads, MMS command streams cut at
// every split, UDP resend requests, chunk framing and fault queries. Nothing may read outside the
// bytes given or loop.

#include <cstddef>
#include <cstdint>
#include <string>

#include "data_units.h"
#include "delivery_pace.h"
#include "faults.h"
#include "http_request.h"
#include "mms_message.h"
#include "stream_filter.h"

using namespace qor::server;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  // A stream-switch entry line, and the bytes as a data packet to take apart and build again.
  (void)ParseStreamSwitchEntries(text);
  {
    const Bytes packet(data, data + size);
    PacketParts parts;
    if (SplitPacket(packet.data(), packet.size(), parts) && !parts.payloads.empty()) {
      (void)BuildPacket(parts.ecc, parts.propertyFlags, parts.times, {&parts.payloads[0]}, 3200);
      (void)BuildSinglePayloadPacket(parts.ecc, parts.propertyFlags, parts.times, parts.payloads[0],
                                     3200);
    }
  }

  HttpRequest request;
  size_t consumed = 0;
  if (ParseHttpRequest(text, request, consumed) == HeadParse::kDone) {
    if (consumed > text.size()) __builtin_trap();
    (void)request.Pragmas();
    (void)request.StreamTimeMs();
    (void)request.PlayRequest();
    if (!(request.PragmaNumber("Speed") >= 0)) __builtin_trap();
  }
  // An RTSP X-Accelerate-Streaming value.
  (void)ReadAccelerateHeader(text);

  // The same bytes as an MMS command stream, fed whole and in two pieces.
  for (size_t cut : {size, size / 2}) {
    CommandSplitter splitter;
    splitter.Feed(data, cut);
    splitter.Feed(data + cut, size - cut);
    ClientCommand command;
    std::string reason;
    for (int i = 0; i < 1000; ++i) {
      auto result = splitter.Next(command, reason);
      if (result != CommandSplitter::Result::kCommand) break;
      (void)command.Id();
      (void)command.Text(48);
    }
  }

  ResendRequest resend;
  if (ParseResendRequest(data, size, resend) && resend.sequences.size() > kMaxResendEntries)
    __builtin_trap();

  size_t offset = 0;
  while (offset < size) {
    ChunkView chunk;
    if (ParseChunk(data + offset, size - offset, chunk) != ChunkParse::kChunk) break;
    if (chunk.total == 0 || chunk.total > size - offset) __builtin_trap();
    offset += chunk.total;
  }

  Faults faults;
  std::string error;
  (void)ParseFaults(text, faults, error);
  return 0;
}
