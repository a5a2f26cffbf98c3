#pragma once
// TTCP: one outgoing TCP connection with its own receiving thread. The owner sets the target and
// the events, calls Connect, sends from its own threads and calls Close to end it. The thread
// resolves, connects and hands every received block over; it never posts messages itself.
//
// Every event runs on the window thread (through Synchronize), one at a time, while the TTCP
// thread waits; the block given to OnData is valid only during the call. Order of events:
//   OnConnecting                      always first, from Connect
//   OnMessage                         when Connect refuses the target; nothing follows
//   OnResolving                       first thing on the thread
//   OnMessage                         lookup, socket, connect or local-address failure; nothing
//                                     follows (no OnDisconnected)
//   OnConnected, OnData..., [OnMessage], OnDisconnected
// A Close before the connection is up ends the thread without any further event.
//
// OnConnecting and a refusal by Connect are handed over too, so Connect called off the window
// thread waits until the window thread has run them. Destroying a TTCP waits for its thread,
// which may be handing over an event: never destroy it from inside one of its own handlers.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <sys/socket.h>

#include "net/socket_slot.h"
#include "platform/thread.h"

namespace qor {

class TTCP : public TThread {
 public:
  static constexpr int32_t kDefaultBufferSize = 256000;
  static constexpr int32_t kFailureCode = 8;

  TTCP();
  ~TTCP() override;

  // Configuration: set before Connect, not changed afterwards.
  int32_t BufferSize = kDefaultBufferSize;  // below 1 means the default
  // Name to resolve, or an address (an IPv6 one with or without brackets); empty: use
  // RemoteAddress as is. A name is looked up in both families and its addresses tried in turn.
  std::string RemoteHost;
  int32_t RemotePort = 0;
  // Filled by the thread on the window thread (so window-side handlers may read them freely):
  // RemoteAddress after a lookup (its first address) and again, with LocalAddress and LocalPort,
  // just before OnConnected (the address that answered). Written as a location writes them:
  // dotted IPv4, or IPv6 in brackets ("[::1]").
  std::string RemoteAddress;  // may be set instead of RemoteHost
  std::string LocalAddress;
  int32_t LocalPort = 0;
  // The last failure report, written just before OnMessage runs.
  std::string MessageText;
  int32_t MessageCode = 0;

  std::function<void(TTCP* sender)> OnConnecting;
  std::function<void(TTCP* sender)> OnResolving;
  std::function<void(TTCP* sender)> OnConnected;
  std::function<void(TTCP* sender, const uint8_t* block, int32_t length)> OnData;
  std::function<void(TTCP* sender, const std::string& text, int32_t code)> OnMessage;
  std::function<void(TTCP* sender)> OnDisconnected;

  // Raises OnConnecting, checks the target and starts the thread. Call once.
  void Connect();
  // Sends the whole block on the connection; returns the bytes sent, or -1 when it is not
  // connected or the send failed. Any thread; blocks sent from two threads never interleave.
  int32_t Send(const void* data, int32_t length);
  // Sends what the socket takes at once, unless another thread is sending: never waits. Returns
  // the bytes sent (possibly fewer), or -1. For a last word before Close.
  int32_t SendNow(const void* data, int32_t length);
  // Ends the connection from any thread: a blocked lookup result, connect or receive returns and
  // the thread ends. Never waits.
  void Close();
  // True while nobody has asked the connection to end.
  bool IsActive() const { return !Terminated(); }

 protected:
  void Execute() override;

 private:
  void Fail(const std::string& text);
  bool Resolve(std::vector<sockaddr_storage>& addresses);
  bool OpenAndConnect(const std::vector<sockaddr_storage>& addresses);
  void ReceiveLoop();
  void Raise(const std::function<void(TTCP*)>& event);

  SocketSlot socket_;
  std::mutex send_mutex_;  // one block goes out whole before the next starts
};

}  // namespace qor
