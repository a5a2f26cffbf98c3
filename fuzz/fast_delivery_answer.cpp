// A server's play answer as the fast delivery reads it: its lines, whatever they hold, searched
// for the Speed, AccelBW and AccelDuration tokens of its Pragma lines, its Server line read for a
// version, and the first two lines read as an RTSP answer's Speed and X-Accelerate-Streaming
// values. Nothing may read outside the text, and what is read must be a value the tokens
// can have.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "session/fast_delivery.h"
#include "session/http_response.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> lines = qor::SplitHeaderLines(text);
  const qor::FastDeliveryGrant grant = qor::ReadFastDeliveryGrant(lines);
  if (grant.speed && !(*grant.speed >= 0 && *grant.speed < 1e10)) __builtin_trap();
  (void)qor::FastDeliveryGrantText(grant);
  if (lines.size() >= 2) {
    const qor::FastDeliveryGrant rtsp = qor::ReadRtspFastDeliveryGrant(lines[0], lines[1]);
    if (rtsp.speed && !(*rtsp.speed >= 0 && *rtsp.speed < 1e10)) __builtin_trap();
    (void)qor::FastDeliveryGrantText(rtsp);
  }
  for (const std::string& line : lines) {
    const int version = qor::ServerMajorVersion(line);
    if (version < -1 || version > 9999) __builtin_trap();
  }
  return 0;
}
