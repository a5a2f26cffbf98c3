#pragma once
// TMMS: one streaming session, one download. The window creates it suspended, fills the
// configuration fields and calls Start; Start opens the TCP connection and resumes the session
// thread, whose Execute runs the protocol loop (MMS over TCP/UDP, or MMS over HTTP).
//
// Threads: the transport handlers below run on the window thread (the transports hand their
// events over with Synchronize); Execute and everything it calls run on the session thread. The
// two sides meet in the ring (its own lock), in the atomics below and in the save-file object
// (its own lock). Everything the session has to say goes to the window's queue through Post,
// tagged with Source so the window can tell a stale session's pairs from the current one's.
//
// The MMS protocol (MmsProtocol) is a friend of TMMS and also uses the public protocol-side
// members below: Post, WaitForBytes, WriteRing, SendTcp, SendUdp, UdpLocalPort,
// StartUdpTransport, ResendTimer, Packets, Header, the configuration and the counters.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "asf/stream_selection.h"
#include "net/periodic_timer.h"
#include "platform/thread.h"
#include "session/header_collector.h"
#include "session/packet_writer.h"
#include "support/circular_buffer.h"
#include "support/error_codes.h"
#include "support/helper.h"
#include "support/message_queue.h"

namespace qor {

class TASF;
class CarryOver;
class TTCP;
class TUDP;
class TSaveFile;
class MmsProtocol;
class HttpProtocol;

// ProtocolFlags bits.
enum ProtocolFlagBits : uint32_t {
  pfHttp = 1,
  pfMmsTcp = 2,
  pfMmsUdp = 4,
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

// Posted (8) instead of completion when a stream ends before a single media packet was saved.
inline constexpr const char* kNothingReceived =
    "The stream ended before any data packet arrived: nothing was recorded";

// StreamKind values.
enum StreamKindValue : int32_t {
  skUnknown = 0,
  skLive = 2,
  skPrerecorded = 4,
  skProgressive = 8,
};

// The four texts of the MMS connected reply, kept together under one lock because the session
// thread writes them while the window may read them for the media information dialog.
struct MmsServerTexts {
  std::string ServerVersion;
  std::string ToolVersion;
  std::string UpdateUrl;
  std::string EncryptionType;
};

class TMMS : public TThread {
 public:
  static constexpr int32_t kRingSize = 1000000;
  static constexpr int32_t kTcpBufferSize = 256000;
  static constexpr int32_t kMaxResponseHeader = 256000;
  // How long a data handler waits for the protocol loop to make room in the ring.
  static constexpr int64_t kRingRoomWaitMs = 5000;
  // The longest the session waits for its UDP receiver to bind before announcing the port.
  static constexpr std::chrono::milliseconds kUdpBindWait{5000};
  // With media over UDP, a closed command connection ends the session once nothing has arrived
  // for this long.
  static constexpr int64_t kUdpCloseQuietMs = 1000;

  // ringSize: the bytes the network handlers may hold ahead of the protocol loop. Programs keep
  // kRingSize; a caller that feeds the handlers only a few kilobytes directly (the fuzz targets)
  // may give less, as the ring then never fills.
  explicit TMMS(int32_t ringSize = kRingSize);
  ~TMMS() override;

  // Every field to its initial value; a fresh ClientGuid.
  void InitFields();

  // ---- Configuration (set by the window before Start) ----
  TASF* Asf = nullptr;
  TMessageClass* Messages = nullptr;
  std::shared_ptr<TSaveFile> SaveFile;  // null: no file
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
  // The streams of the current header that choice leaves out (session thread).
  std::vector<uint8_t> LeftOutStreams;
  // Works out LeftOutStreams from a whole header and says in the log what is recorded; false
  // (with a fatal message) when the choice cannot be honoured.
  bool ChooseStreams(const uint8_t* header, size_t length);
  // Which session this is, posted with every pair (0 is the window's own).
  MessageSource Source = 0;
  SessionTimeouts Timeouts;
  // Live play lists: where this session keeps the next entry's first packets once it has
  // reported a change (made by InitFields), and, for a session started by a change, where the
  // previous session kept them (set by the window).
  std::shared_ptr<CarryOver> NextEntry;
  std::shared_ptr<CarryOver> PreviousEntry;
  // Shown instead of posting when there is no queue to post to (a modal message box in the GUI).
  std::function<void(const std::string& text)> ShowMessageBox;

  // ---- Values the session writes while it runs (the window reads them without a lock) ----
  std::atomic<int32_t> StreamKind{0};
  std::atomic<uint32_t> HeaderLength{0};
  std::atomic<uint32_t> PacketSize{0};
  std::atomic<int32_t> PacketNumber{0};
  std::atomic<uint32_t> SendTime{0};
  std::atomic<uint32_t> RecoveredPackets{0};
  std::atomic<uint32_t> LostPackets{0};
  std::atomic<uint32_t> Acknowledgements{0};
  std::atomic<uint32_t> ClientId{0};  // the 4 bytes of the funnel reply, little-endian
  std::atomic<uint32_t> MaxStreamRate{0};
  std::atomic<uint32_t> BytesSinceTick{0};
  std::atomic<uint32_t> ReceivesSinceTick{0};
  std::atomic<uint32_t> ProxyInUse{0};
  std::atomic<uint32_t> Progressive{0};
  std::atomic<int32_t> LocalPort{0};
  // Set when the server closed the connection, or stopped sending, after media had begun: the
  // failure ends a download whose file holds what arrived.
  std::atomic<bool> StreamCut{false};
  // Window thread only (written by the response header parse and TcpConnected).
  std::string ServerText;
  std::string ContentType;
  std::string LocalAddress;
  std::vector<std::string> HeaderLines;
  // Made once at construction and by InitFields; read-only while running.
  std::string ClientGuid;
  // MMS credentials exchange (window writes Credentials while the session thread waits).
  std::string ChallengeText;
  std::string Credentials;

  MmsServerTexts GetServerTexts() const;
  void SetServerTexts(const MmsServerTexts& texts);

  // ---- Control (window thread) ----
  void Start();
  void StartTcpTransport();  // also from the session thread (the next HTTP connection)
  void StartUdpTransport();
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

  // ---- Used by the protocol loops ----
  void Post(const std::string& text, uint32_t code) const;
  // Waits until the ring holds count bytes, writing the save file's gathered packets first when it
  // has to wait; false when termination was requested first (or those packets could not be
  // written).
  bool WaitForBytes(int32_t count);
  // Writes the save file's gathered packets; on failure posts the write failure (8), asks the
  // thread to end and returns false.
  bool FlushSaveFile();
  // Stores a whole block in the ring, waiting a bounded time for room; on failure posts the
  // ring-full message (8) and returns false. Without wakeReader the loop is not woken for this
  // block: the transport handlers store all the units of one handover and wake it once.
  bool WriteRing(const void* data, int32_t length, bool wakeReader = true);
  TCB& Ring() { return ring_; }
  // Session thread: the mark for WaitForRing, taken before the loop looks at what it waits for
  // besides the ring (the stop request, a closed connection, a redirection).
  uint64_t WakeMark() const { return ring_.Wakes(); }
  // Any thread: something the session thread may be waiting for besides the ring has changed.
  void WakeLoop() { ring_.Wake(); }
  // Session thread: waits until the ring holds count bytes (true), WakeLoop is called after mark
  // was taken, until has come, or a stage's time-out may have run out; false at once when Watch
  // ends the session first. Nothing wakes the thread on a period: an idle session sleeps until
  // its next deadline.
  bool WaitForRing(int32_t count, uint64_t mark, TCB::Deadline until = TCB::Deadline::max());
  // Sends on the current TCP connection (any thread); -1 when there is none.
  int32_t SendTcp(const void* data, int32_t length);
  // Sends a datagram through the UDP receiver (any thread); -1 when there is none.
  int32_t SendUdp(const void* data, int32_t length);
  // The UDP receiver's bound local port, 0 when there is none.
  int32_t UdpLocalPort() const;
  // The server as requests name it: Host, with ":port" when port is not the protocol's standard
  // one, so a proxy (and the server's own virtual hosts) reach the port the location gave.
  std::string HostText(int32_t port, int32_t standardPort) const;
  // Session thread, before the port is announced: waits (bounded) until the UDP receiver has bound
  // its port, has failed (its message is on its way) or the session is stopped.
  void WaitForUdpReceiver();
  TMMTimer& ResendTimer() { return resend_timer_; }
  // Session thread: datagrams are being asked for again; starts the resend tick, unless the
  // connection has ended or a failure stopped it.
  void ResendsPending();
  // Resend tick: nothing is asked for any more (pending() says so under the same lock that
  // ResendsPending takes); the tick stops itself, so an idle UDP session has no timer thread
  // waking it.
  void ResendsSettled(const std::function<bool()>& pending);
  bool Resuming() const { return ResumeSession != 0; }
  PacketWriter& Packets() { return packets_; }
  // Reads where the save file's packets end and prepares the writer to continue them; start is
  // the server time to ask for. Posts what it is about to do, or (fatal) why it cannot.
  bool BeginResume(uint32_t& start);
  HeaderCollector& Header() { return header_; }
  THelper& Helper() { return helper_; }
  TErrorCodeHandler& ErrorCodes() { return error_codes_; }
  MmsProtocol& Mms() { return *mms_; }
  HttpProtocol& Http() { return *http_; }
  // Stages the watch below measures; each only moves forward.
  void MarkHeaderComplete();
  void MarkMediaArrived();
  // The end of the stream or of the entry has been posted: nothing the connection does afterwards
  // is a failure.
  // Media has arrived on this session (it reached streaming).
  bool MediaArrived() const { return stage_.load() == kStreaming; }
  void MarkEndPosted() { end_posted_.store(true, std::memory_order_release); }
  bool EndPosted() const { return end_posted_.load(std::memory_order_acquire); }
  // The answer clock starts again (a password the user took time to type).
  void RestartStageClock();
  // Session thread, whenever it waits for the network: ends the session (posting why) when the
  // connection it reads from has closed without leaving what the loop waits for in the ring, or a
  // stage has run past its time-out. False when the session must end. needed: the bytes the loop
  // waits for, which a closed connection can no longer bring.
  bool Watch(int32_t needed = 1);
  // The current connection is about to be replaced (a redirection is followed): its end ends
  // nothing. Cleared when the next connection starts.
  void ExpectNewConnection() { connection_replaced_.store(true, std::memory_order_release); }
  // The save file's progressive download has reached the end of the connection.
  bool ProgressiveEnded() const { return progressive_ended_.load(std::memory_order_acquire); }

 protected:
  void Execute() override;
  void TerminateRequested() override;

 private:
  friend class MmsProtocol;
  friend class HttpProtocol;

  void StopResendTimer();
  // The earliest moment at which Watch could end the session by a time-out alone.
  TCB::Deadline WatchDeadline() const;
  std::shared_ptr<TTCP> CurrentTcp() const;
  std::shared_ptr<TUDP> CurrentUdp() const;
  // The response header of a new connection, collected across receives; returns how many bytes
  // of the block belonged to it.
  int32_t CollectResponseHeader(const uint8_t* block, int32_t length);

  THelper helper_;
  TCB ring_;
  TErrorCodeHandler error_codes_;
  TMMTimer resend_timer_;
  // Whether the resend tick may run (from the connection until a stop or a failure) and whether
  // it does; the session thread starts it, the tick stops itself, the window stops it for good.
  std::mutex resend_mutex_;
  bool resend_allowed_ = false;
  bool resend_ticking_ = false;
  PacketWriter packets_;
  HeaderCollector header_;
  std::unique_ptr<MmsProtocol> mms_;
  std::unique_ptr<HttpProtocol> http_;

  // Transport pointers are replaced on one thread while the other closes them: guarded.
  mutable std::mutex transport_mutex_;
  std::shared_ptr<TTCP> tcp_;
  std::shared_ptr<TUDP> udp_;
  // Connections replaced while another thread was sending on them. That thread may be running
  // one of the connection's own events, whose thread waits for it: the last reference must not
  // end there, so they are let go where connections are replaced (guarded).
  mutable std::vector<std::shared_ptr<TTCP>> retired_tcp_;
  mutable std::vector<std::shared_ptr<TUDP>> retired_udp_;
  // Gives up a reference taken from CurrentTcp/CurrentUdp without ever being its last holder.
  void Release(std::shared_ptr<TTCP>& tcp) const { Release(tcp, tcp_, retired_tcp_); }
  void Release(std::shared_ptr<TUDP>& udp) const { Release(udp, udp_, retired_udp_); }
  template <typename Transport>
  void Release(std::shared_ptr<Transport>& held, const std::shared_ptr<Transport>& current,
               std::vector<std::shared_ptr<Transport>>& retired) const {
    std::lock_guard<std::mutex> lock(transport_mutex_);
    if (held && held != current) retired.push_back(std::move(held));
    held.reset();  // still the current one: the session holds it too
  }
  bool stopped_ = false;  // after Stop nothing new is started (guarded by transport_mutex_)

  mutable std::mutex texts_mutex_;
  MmsServerTexts server_texts_;

  // Response header state of the current connection (window thread only).
  bool awaiting_response_header_ = true;
  std::string response_header_;
  std::atomic<bool> progressive_ended_{false};

  enum Stage : int32_t { kConnecting = 0, kAnswering = 1, kAwaitingData = 2, kStreaming = 3 };
  void EnterStage(Stage stage);
  // Ends the session with a failure; cut says the stream had begun.
  void EndWithFailure(const std::string& text);
  std::atomic<int32_t> stage_{kConnecting};
  std::atomic<int64_t> stage_since_ms_{0};
  std::atomic<int64_t> last_receive_ms_{0};
  // The current connection has closed (cleared when the next one starts).
  std::atomic<bool> connection_closed_{false};
  std::atomic<bool> connection_replaced_{false};
  std::atomic<bool> end_posted_{false};
};

}  // namespace qor
