#pragma once
// TUDP: the thread that owns a UDP socket, hands every datagram it receives to its owner and sends
// datagrams to one fixed remote address from any thread.
//
// Both events run on the window thread (through Synchronize) while the receiver waits, so the
// data pointer and the sender fields stay valid for the length of the OnData call. Datagrams that
// arrived together are handed over together: one handover runs OnData once for each, in order,
// then OnDataDone once. While datagrams come in quick succession the receiver lets a short
// moment's worth gather before it hands them over (see kGather), so a fast stream costs a handover
// per batch rather than per datagram; a slow one is handed over as each datagram arrives.
// Configuration failures and start-up failures give one OnMessage each and end the thread; a
// datagram larger than MaxPacketSize gives OnMessage and ends it; Stop ends it silently. An empty
// datagram is skipped. Destroying a TUDP waits for its thread, which may be handing over an event:
// never destroy it from inside one of its own handlers.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include <sys/socket.h>

#include "net/socket_slot.h"
#include "platform/thread.h"

struct mmsghdr;

namespace qor {

class TUDP : public TThread {
 public:
  static constexpr uint32_t kDefaultMaxPacketSize = 32000;
  static constexpr uint32_t kLargestMaxPacketSize = 65535;
  static constexpr uint32_t kFailureCode = 8;

  TUDP();
  ~TUDP() override;

  // Configuration: set before Start, not changed afterwards.
  uint32_t MaxPacketSize = kDefaultMaxPacketSize;  // receive buffer; accepted 1 to 65 535
  uint32_t LocalPort = 0;
  // A numeric address (IPv6 with or without brackets); the empty text binds every local address
  // of the remote address's family.
  std::optional<std::string> LocalHost;
  uint32_t RemotePort = 0;
  // The numeric address Send sends to (IPv4, or IPv6 with or without brackets); the socket
  // works in its family. Senders are reported as addresses are written in locations: dotted
  // IPv4 or "[v6]".
  std::optional<std::string> RemoteHost;
  // When LocalPort is taken (another recording holds it), bind a free port instead of failing.
  bool FallBackToFreePort = false;

  // The last failure report, written on the window thread just before OnMessage runs.
  std::string ErrorText;
  uint32_t ErrorCode = 0;

  std::function<void(TUDP* sender, const uint8_t* data, int32_t length,
                     const std::string& senderAddress, uint16_t senderPort)>
      OnData;
  // After the OnData calls of one handover, in the same handover (optional).
  std::function<void(TUDP* sender)> OnDataDone;
  std::function<void(TUDP* sender, const std::string& text, uint32_t code)> OnMessage;

  // Sends one datagram to the remote address; returns the bytes sent, or -1 before the socket is
  // bound, after it is closed, when the remote host is no numeric address of the socket's
  // family, or on a send error.
  // Safe from several threads at once.
  int32_t Send(const void* data, int32_t length);
  // The same to another port of the remote host (RTCP goes to the port after the media's).
  int32_t SendToPort(const void* data, int32_t length, uint16_t port);
  // Waits at most timeout until the port is bound, so that datagrams sent to it from now on are
  // kept; false when the receiver failed or ended first, or the time ran out. A sender must not
  // be told the port before this: a thread that starts late would miss what it sends. Any thread.
  bool WaitUntilBound(std::chrono::milliseconds timeout);
  // The port the socket is bound to (LocalPort, or the free one taken instead); 0 before it is
  // bound. Any thread.
  uint32_t BoundPort() const { return bound_port_.load(std::memory_order_acquire); }
  // What the kernel gave the socket for datagrams not yet taken (bytes, as the system counts them);
  // 0 until the socket exists.
  int ReceiveBufferBytes() const { return receive_buffer_bytes_.load(); }
  // Ends the receiver from any thread: a pending receive returns and the loop ends without a
  // message. Never waits.
  void Stop();

 protected:
  void Execute() override;

 private:
  void Fail(const std::string& text);
  bool CheckConfiguration();
  bool OpenAndBind();
  std::atomic<uint32_t> bound_port_{0};
  void ReceiveLoop();
  // Hands a batch of received datagrams to OnData in one handover.
  void Deliver(const uint8_t* buffer, const mmsghdr* headers, size_t count);
  void EnlargeReceiveBuffer(int fd);

  // A batch holds at most this many datagrams and this many bytes of buffer.
  static constexpr size_t kLargestBatch = 64;
  static constexpr size_t kBatchBytes = 1 << 20;
  // What the receiver asks of the kernel for datagrams not yet taken: a burst from a fast server
  // waits here while the window thread is busy.
  static constexpr int kReceiveBufferBytes = 8 << 20;
  // A datagram that arrives within kBusyGap of the previous one starts a batch that gathers for
  // kGather before it is handed over; the socket buffer holds far more than that much.
  static constexpr std::chrono::microseconds kBusyGap{2000};
  static constexpr std::chrono::microseconds kGather{1000};

  SocketSlot socket_;
  std::atomic<bool> remote_valid_{false};
  sockaddr_storage remote_address_{};  // published through remote_valid_
  std::atomic<int> receive_buffer_bytes_{0};
  enum class BindState { Pending, Bound, Gone };
  void SetBindState(BindState state);
  std::mutex bind_mutex_;
  std::condition_variable bind_changed_;
  BindState bind_state_ = BindState::Pending;
};

}  // namespace qor
