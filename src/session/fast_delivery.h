#pragma once
// Asking a server to send an on-demand clip faster than it plays, and reading what it grants.
// Windows Media servers offer two things: the whole clip at a multiple of its rate (over HTTP
// streaming and RTSP), and an accelerated start (also over MMS). A live stream cannot run ahead
// of what is happening, so nothing is asked for one.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qor {

class TASF;

struct FastDeliveryAsk {
  // The link's bandwidth is not known here: as the protocols write "no limit we know of".
  uint32_t linkBandwidth = 2147483647;
  uint32_t accelBandwidth = 2147483647;  // bits per second of the accelerated start
  uint32_t accelDurationMs = 0;          // media milliseconds of it (0: the tokens are left out)
  // Times the clip's rate for the whole clip. Far above what servers allow (Windows Media
  // Services allow five by default), so the server's own limit decides.
  double speed = 100;
};

// What a recording from startMs asks for: the accelerated start covers the rest of the clip.
FastDeliveryAsk FastDeliveryFor(const TASF& asf, uint32_t startMs);

// The major version a server names: "Cougar/9.01.01.3814" (a Server header's value) or
// "9.01.01.3814" (the MMS connect reply's) give 9; -1 when the text names none.
int ServerMajorVersion(const std::string& text);

// The play request's lines for the ask, each ending in CR LF.
std::string FastDeliveryPragmas(const FastDeliveryAsk& ask);
// "up to 100 times the clip's rate, the first 60.000 s at up to 2147483647 bit/s".
std::string FastDeliveryAskText(const FastDeliveryAsk& ask, bool speedAsked);

// What a play answer's Pragma lines say the server does; unset: not said.
struct FastDeliveryGrant {
  std::optional<double> speed;
  std::optional<uint32_t> accelBandwidth;
  std::optional<uint32_t> accelDurationMs;
  bool Said() const { return speed || accelBandwidth || accelDurationMs; }
};
// Reads the Speed, AccelBW and AccelDuration tokens of every "Pragma:" line (any letter case);
// a token whose value is no number is passed over.
FastDeliveryGrant ReadFastDeliveryGrant(const std::vector<std::string>& headerLines);
// RTSP says the same in headers of its own: the PLAY request's "Speed: 100.000" and
// "X-Accelerate-Streaming: AccelDuration=N;AccelBandwidth=B" lines (CR LF ended), and the answer's
// Speed and X-Accelerate-Streaming values read back.
std::string FastDeliveryRtspHeaders(const FastDeliveryAsk& ask);
FastDeliveryGrant ReadRtspFastDeliveryGrant(const std::string& speed,
                                            const std::string& accelerateStreaming);
// The log's words for a grant the server said.
std::string FastDeliveryGrantText(const FastDeliveryGrant& grant);

}  // namespace qor
