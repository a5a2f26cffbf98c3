#pragma once
// TMMS: one streaming session, one download. The window creates it suspended, fills the
// configuration fields (SessionConfig's, by name, and the objects below) and calls Start. Start
// fixes a copy of the configuration, picks the protocol (MMS with TCP or UDP data, HTTP
// streaming, or RTSP with UDP or interleaved data), opens the TCP connection and resumes the
// session thread, whose Execute runs that protocol's receive loop.
//
// Threads: the transport handlers below run on the window thread (the transports hand their
// events over with Synchronize); Execute and everything it calls run on the session thread. The
// two sides meet in the session's input (the ring, its own lock), in the counters (atomics) and in
// the save-file object (its own lock). Everything the session has to say goes to the window's queue
// through Post, tagged with Source so the window can tell a stale session's pairs from the current
// one's. A protocol sees the session only through the SessionPort it is given.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/periodic_timer.h"
#include "platform/thread.h"
#include "session/response_header_collector.h"
#include "session/session_config.h"
#include "session/session_protocol.h"
#include "session/session_status.h"
#include "support/message_queue.h"

namespace qor {

class TASF;
class CarryOver;
class TTCP;
class TUDP;
class TSaveFile;
class SessionInput;
class SessionProtocol;
class MediaPacketPath;

class TMMS : public TThread, public SessionConfig {
 public:
  static constexpr int32_t kRingSize = 1000000;
  static constexpr int32_t kTcpBufferSize = 256000;
  static constexpr int32_t kMaxResponseHeader = 256000;
  // The longest the session waits for its UDP receiver to bind before announcing the port.
  static constexpr std::chrono::milliseconds kUdpBindWait{5000};

  // ringSize: the bytes the network handlers may hold ahead of the protocol loop. Programs keep
  // kRingSize; a caller that feeds the handlers only a few kilobytes directly (the fuzz targets)
  // may give less, as the ring then never fills.
  explicit TMMS(int32_t ringSize = kRingSize);
  ~TMMS() override;

  // Every field to its initial value; a fresh ClientGuid.
  void InitFields();

  // ---- Configuration (set by the window before Start, with SessionConfig's fields) ----
  TASF* Asf = nullptr;
  TMessageClass* Messages = nullptr;
  std::shared_ptr<TSaveFile> SaveFile;  // null: no file
  // Live play lists: where this session keeps the next entry's first packets once it has
  // reported a change (made by InitFields), and, for a session started by a change, where the
  // previous session kept them (set by the window).
  std::shared_ptr<CarryOver> NextEntry;
  std::shared_ptr<CarryOver> PreviousEntry;
  // Shown instead of posting when there is no queue to post to (a modal message box in the GUI).
  std::function<void(const std::string& text)> ShowMessageBox;

  // ---- What the window sees ----
  SessionStatus Status() const;
  bool MediaArrived() const;
  // The rate graph's figures since it last took them; they start again from 0.
  struct TickCounts {
    uint32_t bytes = 0;
    uint32_t receives = 0;
  };
  TickCounts TakeTickCounts();
  MmsServerTexts GetServerTexts() const;
  // Whether the resend tick of media over UDP was ever started (it starts at the first gap).
  bool ResendTickEverRan() const {
    return resend_timer_.TimerId() != 0 || resend_timer_.Resolution() != 0;
  }
  // The window has finished the file: the kind goes back to unknown, so that a later finish does
  // no fix-ups.
  void ForgetStreamKind() { counters_.StreamKind = skUnknown; }

  // ---- Control (window thread) ----
  void Start();
  void Stop();
  bool IsConnected() const;
  uint32_t GetProtocolFlags() const { return ProtocolFlags; }

  // ---- Transport handlers (window thread) ----
  void TcpConnecting(TTCP* sender);
  void TcpResolving(TTCP* sender);
  void TcpConnected(TTCP* sender);
  void TcpDataReceived(TTCP* sender, const uint8_t* block, int32_t length);
  void TransportMessage(TTCP* sender, const std::string& text, int32_t code);
  void TcpDisconnected(TTCP* sender);
  void UdpDataReceived(TUDP* sender, const uint8_t* block, int32_t length,
                       const std::string& address, uint16_t port);
  void UdpMessage(TUDP* sender, const std::string& text, uint32_t code);
  void UdpDataDelivered(TUDP* sender);

 protected:
  void Execute() override;
  void TerminateRequested() override;

 private:
  class Port;  // what the protocol is given of the session

  void Post(const std::string& text, uint32_t code) const;
  // Replaces the TCP connection by a new one to where (or to the proxy) and starts connecting;
  // also called from the session thread (the next HTTP connection).
  void StartTcpTransport(const std::string& host, int32_t port);
  // The media receiver, and for RTP its control companion on the next port.
  void StartUdpTransport();
  std::shared_ptr<TUDP> NewUdpReceiver(uint32_t localPort);
  std::shared_ptr<TTCP> CurrentTcp() const;
  std::shared_ptr<TUDP> CurrentUdp(bool control = false) const;
  int32_t SendTcp(const void* data, int32_t length);
  int32_t SendTcpNow(const void* data, int32_t length);
  int32_t SendUdp(const void* data, int32_t length);
  int32_t SendUdpTo(UdpOrigin from, int32_t port, const void* data, int32_t length);
  int32_t UdpLocalPort(bool control = false) const;
  void WaitForUdpReceiver();
  // The resend tick: started when datagrams are asked for again (ResendsPending), stopped by
  // itself when nothing is (ResendsSettled), and for good by a stop or a failure.
  void ResendsPending();
  void ResendsSettled(const std::function<bool()>& pending);
  void StopResendTimer();
  // The response header of a new connection, collected across receives; returns how many bytes
  // of the block belonged to it.
  int32_t CollectResponseHeader(const uint8_t* block, int32_t length);

  // What Start fixed of the configuration; all the protocol ever reads.
  SessionConfig config_;
  mutable SessionCounters counters_;
  std::unique_ptr<Port> port_;
  std::unique_ptr<SessionInput> input_;
  std::unique_ptr<MediaPacketPath> media_;
  std::unique_ptr<SessionProtocol> protocol_;
  TMMTimer resend_timer_;
  // Whether the resend tick may run (from the connection until a stop or a failure) and whether
  // it does; the session thread starts it, the tick stops itself, the window stops it for good.
  std::mutex resend_mutex_;
  bool resend_allowed_ = false;
  bool resend_ticking_ = false;

  // Transport pointers are replaced on one thread while the other closes them: guarded.
  mutable std::mutex transport_mutex_;
  std::shared_ptr<TTCP> tcp_;
  std::shared_ptr<TUDP> udp_;
  std::shared_ptr<TUDP> udp_control_;
  // Connections replaced while another thread was sending on them. That thread may be running
  // one of the connection's own events, whose thread waits for it: the last reference must not
  // end there, so they are let go where connections are replaced (guarded).
  mutable std::vector<std::shared_ptr<TTCP>> retired_tcp_;
  mutable std::vector<std::shared_ptr<TUDP>> retired_udp_;
  // Gives up a reference taken from CurrentTcp/CurrentUdp without ever being its last holder.
  void Release(std::shared_ptr<TTCP>& tcp) const { Release(tcp, {&tcp_}, retired_tcp_); }
  void Release(std::shared_ptr<TUDP>& udp) const {
    Release(udp, {&udp_, &udp_control_}, retired_udp_);
  }
  // current: where the session keeps its own references, looked at under the lock.
  template <typename Transport>
  void Release(std::shared_ptr<Transport>& held,
               std::initializer_list<const std::shared_ptr<Transport>*> current,
               std::vector<std::shared_ptr<Transport>>& retired) const {
    std::lock_guard<std::mutex> lock(transport_mutex_);
    const bool kept = std::any_of(current.begin(), current.end(),
                                  [&](const std::shared_ptr<Transport>* c) { return *c == held; });
    if (held && !kept) retired.push_back(std::move(held));
    held.reset();  // still a current one: the session holds it too
  }
  bool stopped_ = false;  // after Stop nothing new is started (guarded by transport_mutex_)

  // The current connection (window thread only).
  std::string local_address_;
  // The port the server's datagrams come from, to the media receiver and to its control
  // companion (0 until the first one).
  uint16_t udp_source_port_[2] = {0, 0};
  ResponseHeaderCollector response_header_;
};

}  // namespace qor
