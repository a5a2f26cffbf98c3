// Arbitrary bytes as RTP packets carrying ASF: the RTP header read, then the payload given to the
// assembler in pieces (the first byte says where the packets split), so fragments, several packets
// in one payload and both readings of the Length field are all met.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "session/rtp_asf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t step = 13 + data[0] * 4;
  qor::RtpAsfAssembler assembler(3200);
  std::vector<qor::AsfFromRtp> out;
  for (size_t at = 1; at < size; at += step) {
    const size_t n = size - at < step ? size - at : step;
    qor::RtpHeaderView view;
    if (qor::ReadRtpHeader(data + at, n, view)) {
      if (view.payloadOffset + view.payloadSize > n) __builtin_trap();
      assembler.Take(data + at + view.payloadOffset, view.payloadSize, view.marker, view.timestamp,
                     out);
    } else {
      assembler.Take(data + at, n, (data[at] & 1) != 0, 0, out);
    }
  }
  for (const auto& p : out)
    if (p.packet.size() > 3200) __builtin_trap();
  return 0;
}
