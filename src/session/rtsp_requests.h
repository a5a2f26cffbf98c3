#pragma once
// The requests of the Windows Media dialect of RTSP, built as whole texts (CR LF lines, a blank
// line last), and the answer to a request of the server. Every request names what the client
// takes (the end-of-stream notice and stream switching, which the dialect requires of a client,
// and location ids, which number the packets).

#include <cstdint>
#include <optional>
#include <string>

namespace qor {

// What every request of one session carries.
struct RtspRequestContext {
  uint32_t cseq = 0;
  std::string clientGuid;     // "{...}" as the session makes it
  std::string session;        // the server's session id, once SETUP has answered
  std::string authorization;  // the Authorization line's value, when signed in
};

// Where SETUP asks the media to go: a UDP port pair, or two interleaved channels.
struct RtspTransportRequest {
  bool interleaved = false;
  int32_t first = 0;   // RTP port or channel
  int32_t second = 0;  // RTCP port or channel
};

std::string BuildRtspOptions(const std::string& url, const RtspRequestContext& context);
std::string BuildRtspDescribe(const std::string& url, const RtspRequestContext& context);
std::string BuildRtspSetup(const std::string& url, const RtspRequestContext& context,
                           const RtspTransportRequest& transport);
// startMs: a Range from that moment on; none plays on from where the session is (or from the
// start, or live). playlistGenId: the description's X-Playlist-Gen-Id, quoted back when known.
// extraLines: further header lines (fast delivery), each ending in CR LF.
std::string BuildRtspPlay(const std::string& url, const RtspRequestContext& context,
                          std::optional<uint32_t> startMs, const std::string& playlistGenId,
                          const std::string& extraLines = std::string());
std::string BuildRtspGetParameter(const std::string& url, const RtspRequestContext& context);
std::string BuildRtspTeardown(const std::string& url, const RtspRequestContext& context);
// "200 OK" to a request the server sent (its end-of-stream notice, its new description).
std::string BuildRtspAnswer(int64_t cseq, const std::string& session);

// "npt=12.345-" for a start in milliseconds.
std::string NptFrom(uint32_t startMs);

}  // namespace qor
