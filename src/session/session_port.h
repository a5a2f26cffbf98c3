#pragma once
// What a protocol may use of the session it runs in, and nothing more: the fixed configuration,
// the counters the window shows, the log, the incoming bytes and their watch, the media path, and
// the connection. TMMS is the real one; a test can build one over scripted bytes and drive a
// protocol with no socket and no thread.

#include <cstdint>
#include <functional>
#include <string>

#include "session/session_config.h"
#include "session/session_protocol.h"
#include "session/session_status.h"

namespace qor {

class TASF;
class SessionInput;
class MediaPacketPath;

// Posted (8) instead of completion when a stream ends before a single media packet was saved.
inline constexpr const char* kNothingReceived =
    "The stream ended before any data packet arrived: nothing was recorded";

// Where a TCP connection goes.
struct Endpoint {
  std::string host;
  int32_t port = 0;
};

class SessionPort {
 public:
  virtual ~SessionPort() = default;

  virtual const SessionConfig& Config() const = 0;
  virtual SessionCounters& Counters() = 0;
  virtual void Post(const std::string& text, uint32_t code) = 0;
  virtual TASF& Asf() = 0;
  virtual SessionInput& Input() = 0;
  virtual MediaPacketPath& Media() = 0;

  // The session's life: Terminate ends its loop (the window stops the rest on the fatal text
  // posted before); StopAll ends the connections too, at once.
  virtual bool Terminated() const = 0;
  virtual void Terminate() = 0;
  virtual void StopAll() = 0;

  // ---- The connection ----
  // Sends on the current TCP connection (any thread); -1 when there is none.
  virtual int32_t SendTcp(const void* data, int32_t length) = 0;
  // Sends a datagram through the UDP receiver (any thread); -1 when there is none.
  virtual int32_t SendUdp(const void* data, int32_t length) = 0;
  // Sends a datagram from the media receiver or its control companion to the server's port
  // (any thread); -1 when there is no such receiver.
  virtual int32_t SendUdpTo(UdpOrigin from, int32_t port, const void* data, int32_t length) = 0;
  // Sends on the current TCP connection only if that does not wait (another send in progress, a
  // full socket); returns what was sent, -1 when nothing could be. For a last word at a stop.
  virtual int32_t SendTcpNow(const void* data, int32_t length) = 0;
  // A new TCP connection to where replaces the current one (through the proxy when one is set).
  virtual void Connect(const Endpoint& where) = 0;
  // This end of the current connection.
  virtual std::string LocalAddress() const = 0;
  virtual int32_t LocalPort() const = 0;
  // The UDP receiver's bound local port, 0 when there is none; and its control companion's.
  virtual int32_t UdpLocalPort() const = 0;
  virtual int32_t UdpControlPort() const = 0;
  // Before the port is announced: waits (bounded) until the UDP receiver has bound its port, has
  // failed (its message is on its way) or the session is stopped.
  virtual void WaitForUdpReceiver() = 0;
  // Datagrams are being asked for again: the resend tick runs, unless the connection has ended
  // or a failure stopped it.
  virtual void ResendsPending() = 0;
  // From the resend tick: nothing is asked for any more (pending() says so under the lock that
  // ResendsPending takes); the tick stops itself, so an idle session has no timer waking it.
  virtual void ResendsSettled(const std::function<bool()>& pending) = 0;
};

}  // namespace qor
