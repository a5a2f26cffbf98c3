#pragma once
// What an RTSP client sends on the control connection, read tolerantly: requests (CR LF or bare
// LF line ends, a body after Content-Length), "$"-framed interleaved data (RTCP from a client that
// takes its media in the connection), and the answers to the server's own requests.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qor::server {

inline constexpr size_t kMaxRtspHead = 16 * 1024;
inline constexpr size_t kMaxRtspBody = 64 * 1024;

struct RtspRequest {
  std::string method, url, version;
  int status = 0;  // an answer to a request of ours: its status code (method empty)
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // First header of that name (case-insensitive), or empty.
  std::string Header(const std::string& name) const;
  bool Has(const std::string& name) const;
  // CSeq as a number, -1 when missing or not a number.
  long CSeq() const;
  // The request URL's path without its query ("clip.wmv/stream=1"); the query apart.
  void SplitUrl(std::string& path, std::string& query) const;
  // A token listed in the Supported header.
  bool Supports(const std::string& token) const;
};

enum class RtspUnit { kNeedMore, kMessage, kInterleaved, kBad };
// The unit at the start of buffer: a message (request or answer) or an interleaved frame
// (channel, payload). consumed is how much of buffer it took.
RtspUnit TakeRtspUnit(const std::string& buffer, size_t& consumed, RtspRequest& message,
                      uint8_t& channel, std::string& frame);

const char* RtspReason(int status);

// A whole answer: status line, CSeq (when the request had one), the extra header lines (each
// ending in CR LF), Content-Length when there is a body, the body.
std::string BuildRtspResponse(int status, long cseq, const std::string& headers,
                              const std::string& body = "");

}  // namespace qor::server
