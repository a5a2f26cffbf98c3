#pragma once
// What an RTSP server sends on its connection: answers to our requests, requests of its own
// (SET_PARAMETER with the end-of-stream notice, ANNOUNCE with the next entry's description), and
// "$"-framed interleaved RTP and RTCP mixed in between. FrameRtspUnit says where the unit at the
// start of the bytes ends (it runs on every block the connection brings, so it looks only at what
// it must); ParseRtspMessage reads a whole message's lines. Both read only inside the bytes given.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qor {

// A head longer than this, or a body longer than kMaxRtspBody, is no server's answer: the unit
// must also fit the session's input whole.
inline constexpr size_t kMaxRtspHead = 64 * 1024;
inline constexpr size_t kMaxRtspBody = 900 * 1024;

enum class RtspUnitKind {
  kNeedMore,     // the unit is not whole yet (consumed: blank lines before it, which are dropped)
  kMessage,      // an answer or a request of the server: [0, consumed) is its text
  kInterleaved,  // "$", channel, 16-bit length, payload
  kBad,          // no RTSP: the connection cannot be read any further
};

struct RtspUnit {
  RtspUnitKind kind = RtspUnitKind::kNeedMore;
  size_t consumed = 0;
  uint8_t channel = 0;  // interleaved: its channel, its payload at [4, consumed)
};

RtspUnit FrameRtspUnit(const uint8_t* data, size_t length);

struct RtspMessage {
  // An answer has a status (and its reason); a request of the server has a method and a URL.
  int status = 0;
  std::string reason;
  std::string method;
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;  // names as sent, values trimmed
  std::string body;

  bool IsAnswer() const { return status != 0; }
  // The first header of that name (any case), or empty.
  std::string Header(std::string_view name) const;
  bool Has(std::string_view name) const;
  // Every value of that name, in order (WWW-Authenticate may come several times).
  std::vector<std::string> All(std::string_view name) const;
  // CSeq as a number; -1 when it is missing or no number.
  int64_t CSeq() const;
};

// Reads a whole message (a kMessage unit's text). False when its start line is no RTSP answer or
// request, or its body is not as long as Content-Length says.
bool ParseRtspMessage(const uint8_t* data, size_t length, RtspMessage& out);

}  // namespace qor
