#pragma once
// One way of talking to a server (MMS with TCP or UDP data, HTTP streaming, RTSP with RTP over
// UDP or interleaved in its connection). The session picks
// one at Start and calls it from its transport handlers (window thread), its own thread and the
// resend tick; the protocol reaches the session only through the SessionPort it was made with.

#include <cstdint>
#include <string>

namespace qor {

// Where a datagram came: to the media receiver or to its control companion (RTCP, on the port
// after it), from which port of the server.
struct UdpOrigin {
  bool control = false;
  uint16_t port = 0;
};

class SessionProtocol {
 public:
  virtual ~SessionProtocol() = default;

  // ---- Window thread (transport handlers) ----
  // The TCP connection is up: sends what opens the exchange.
  virtual void Connected() = 0;
  // A whole HTTP response header (up to and including its blank line) at the start of a
  // connection.
  virtual void ResponseHeader(const std::string& header) = 0;
  // Bytes of the TCP connection (after any response header).
  virtual void TcpData(const uint8_t* data, int32_t length) = 0;
  // One datagram from the server (media over UDP only).
  virtual void UdpDatagram(const uint8_t*, int32_t, UdpOrigin) {}
  // The current connection is one the server closes when it has answered (HTTP streaming's
  // describe request): its end is no news unless the answer was cut short.
  virtual bool EndsWhenAnswered() const { return false; }

  // ---- Session thread ----
  // The receive loop: returns when the session ends.
  virtual void Run() = 0;

  // ---- Other threads ----
  // A stop was asked for: wakes a wait that the incoming bytes do not end (an answer from the
  // user), so it looks at the stop request.
  virtual void WakeWaits() {}
  // The resend tick (media over UDP).
  virtual void ResendTick() {}
  // The session is being stopped (an abort, Ctrl-C, or the window ending it): the last word to
  // the server, sent without waiting, before the connections close.
  virtual void Stopping() {}
};

}  // namespace qor
