#pragma once
// What the window tells a session before it starts: where to go, how, and what to ask for. TMMS
// carries these fields under their own names, so the window fills them as it always has; at Start
// the session fixes a copy, which is all its protocols ever read.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "asf/stream_selection.h"
#include "support/message_queue.h"

namespace qor {

// ProtocolFlags bits.
enum ProtocolFlagBits : uint32_t {
  pfHttp = 1,
  pfMmsTcp = 2,
  pfMmsUdp = 4,
  pfRtspUdp = 8,   // RTSP with RTP over UDP to a local port pair
  pfRtspTcp = 16,  // RTSP with RTP interleaved in its connection
};

// StreamKind values.
enum StreamKindValue : int32_t {
  skUnknown = 0,
  skLive = 2,
  skPrerecorded = 4,
  skProgressive = 8,
};

// How long a session waits at each stage before it gives up, in seconds (0: no bound). A server
// that accepts and never answers, or a stream that stops without closing, must not hold an
// unattended recording for good.
struct SessionTimeouts {
  int32_t ConnectSeconds = 20;    // from the start until the TCP connection is up
  int32_t AnswerSeconds = 20;     // from the connection until the stream's header is complete
  int32_t FirstDataSeconds = 30;  // from the header until the first media packet
  int32_t StallSeconds = 30;      // nothing received while streaming: the stream counts as cut
};

// Questions a protocol puts to the user; each runs on the window thread (a modal dialog in the
// desktop program, a prompt in qor-cli). Unset: the question is declined.
struct SessionPrompts {
  // An MMS server's password challenge for host: the encoded credentials, or nothing.
  std::function<std::optional<std::string>(const std::string& host, const std::string& challenge)>
      AskMmsCredentials;
  // The MMS server opened the file after credentials were sent: they were right.
  std::function<void()> MmsCredentialsAccepted;
  // An HTTP 401 for site ("host:port") and realm: user and password, or nothing.
  std::function<std::optional<std::pair<std::string, std::string>>(const std::string& site,
                                                                   const std::string& realm)>
      AskHttpCredentials;
  // The HTTP server answered the credentials given (true: it took them).
  std::function<void(bool accepted)> HttpCredentialsAnswered;
};

struct SessionConfig {
  uint32_t ResumeSession = 0;
  int32_t HttpPort = 0;
  int32_t ConnectPort = 0;
  int32_t UdpPort = 0;
  int32_t MaxUdpSize = 0;
  uint32_t ProtocolFlags = 0;
  uint32_t UseProxy = 0;
  int32_t ProxyPort = 0;
  std::string ProxyHost;
  uint32_t BypassDns = 0;
  std::string Host;
  std::string Path;
  uint32_t OffsetMs = 0;
  // Which streams to ask for (the rate setting, the command line's choices); by default every
  // stream of the header.
  StreamRequest Streams;
  // Ask the server to send an on-demand clip as fast as it allows (never asked of a live stream).
  bool FastDelivery = false;
  // Which session this is, posted with every pair (0 is the window's own).
  MessageSource Source = 0;
  SessionTimeouts Timeouts;
  SessionPrompts Prompts;
  // Made at construction and by InitFields: the id requests carry.
  std::string ClientGuid;

  bool Resuming() const { return ResumeSession != 0; }
  bool MediaOverUdp() const { return (ProtocolFlags & (pfMmsUdp | pfRtspUdp)) != 0; }
  bool Rtsp() const { return (ProtocolFlags & (pfRtspUdp | pfRtspTcp)) != 0; }
  // The server as requests name it: Host, with ":port" when port is not the protocol's standard
  // one, so a proxy (and the server's own virtual hosts) reach the port the location gave.
  std::string HostText(int32_t port, int32_t standardPort) const {
    if (port <= 0 || port == standardPort) return Host;
    return Host + ":" + std::to_string(port);
  }
};

}  // namespace qor
