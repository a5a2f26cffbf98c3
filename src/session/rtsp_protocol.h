#pragma once
// RTSP in the Windows Media dialect for one session: OPTIONS, DESCRIBE (the ASF header comes in
// the description), SETUP of the chosen streams, PLAY, keep-alive, TEARDOWN; the media as RTP,
// over UDP to a local port pair (with receiver reports and NACKs for lost packets) or interleaved
// in the connection.
//   Connected, TcpData (window thread)   frame the connection's messages and "$" frames into
//   UdpDatagram (window thread)          the session's input, with the datagrams of the pair
//   Run (session thread)                 the requests, the answers, the media into the file
//   ResendTick (the resend timer)        asks again for RTP packets still missing
//   Stopping (window thread)             TEARDOWN, without waiting, before the connection closes
//
// The loop is in one State at a time, changed only by Enter.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "session/http_sign_in.h"
#include "session/rtp_receiver.h"
#include "session/rtsp_message.h"
#include "session/rtsp_requests.h"
#include "session/rtsp_sdp.h"
#include "session/session_port.h"
#include "session/session_protocol.h"
#include "session/window_answer.h"
#include "support/circular_buffer.h"
#include "support/http_auth.h"

namespace qor {

class RtspProtocol final : public SessionProtocol {
 public:
  enum class State {
    kOptions,       // OPTIONS sent on a new connection
    kDescribe,      // DESCRIBE sent: the description with the ASF header is awaited
    kSetup,         // the chosen streams are set up, one SETUP at a time
    kPlay,          // PLAY sent: packets may come before its answer
    kStreaming,     // packets go into the file
    kHeaderAgain,   // started by a change, this session joined the ended entry: the next
                    // description's header replaces the one in the file
    kTail,          // UDP: the end came; resends still on their way are waited for
    kTrackChanged,  // the entry ended: the next entry's packets are kept for the next session
    kEnded,         // nothing more is written; the loop waits for the stop
  };

  explicit RtspProtocol(SessionPort& port);
  ~RtspProtocol() override;
  RtspProtocol(const RtspProtocol&) = delete;
  RtspProtocol& operator=(const RtspProtocol&) = delete;

  void Connected() override;
  void ResponseHeader(const std::string& header) override;
  void TcpData(const uint8_t* data, int32_t length) override;
  void UdpDatagram(const uint8_t* data, int32_t length, UdpOrigin origin) override;
  void Run() override;
  void WakeWaits() override;
  void ResendTick() override;
  void Stopping() override;

  State CurrentState() const { return state_.load(); }

 private:
  using Clock = std::chrono::steady_clock;
  // What the input holds, unit by unit: a kind, a channel (interleaved) or the server's port (a
  // datagram), a length, then the bytes.
  enum UnitKind : uint8_t { kMessageUnit = 'M', kFrameUnit = '$', kRtpUnit = 'R', kRtcpUnit = 'C' };
  static constexpr int32_t kUnitHead = 8;
  // A stream set up: where its RTP comes from.
  struct SetUpStream {
    std::string url;
    int streamNumber = -1;
    uint8_t channel = 0;  // interleaved: RTP on it, RTCP on the next
    uint32_t ssrc = 0;
    bool haveSsrc = false;
    bool retransmission = false;
  };

  // ---- The input (rtsp_protocol.cpp) ----
  void StoreUnit(UnitKind kind, uint16_t channelOrPort, const uint8_t* data, size_t length);
  // A datagram from the server's port for it, once SETUP has named that port.
  bool FromServerPort(bool control, uint16_t port) const;
  // Frames what the connection brought; returns how much of it was used.
  size_t FrameConnection(const uint8_t* data, size_t length);
  bool MediaOverUdp() const { return port_.Config().MediaOverUdp(); }

  // ---- The loop (rtsp_protocol.cpp) ----
  void Enter(State next);
  bool Ended() const;
  // Waits for the next unit, doing what is due meanwhile; false when the loop must end.
  bool WaitForUnit();
  bool TakeUnit();
  // Keep-alive and receiver reports when due; the earliest moment something is due next.
  void DoTimedWork();
  Clock::time_point NextTimedWork() const;
  // After the end or a change: answers the server and keeps the next entry's packets until the
  // stop.
  void IdleUntilStopped();

  // ---- Requests and answers (rtsp_exchange.cpp) ----
  bool Send(const std::string& request);
  RtspRequestContext NextContext(const char* method, const std::string& url);
  std::string Url() const;
  void SendOptions();
  void SendDescribe();
  void SendNextSetup();
  void SendPlay();
  // The PLAY request's fast delivery lines for an on-demand clip from start (empty: not asked).
  std::string FastDeliveryLines(uint32_t start);
  void SendKeepAlive();
  // The end, or a stop: TEARDOWN once. now: without waiting (a stop).
  void SendTeardown(bool now);
  bool TakeMessage(const uint8_t* text, size_t length);
  bool TakeAnswer(const RtspMessage& answer);
  bool TakeOptionsAnswer(const RtspMessage& answer);
  bool TakeDescribeAnswer(const RtspMessage& answer);
  bool TakeSetupAnswer(const RtspMessage& answer);
  bool TakePlayAnswer(const RtspMessage& answer);
  // The status line of a refusal, as the log shows it, ending the session.
  bool Refused(const RtspMessage& answer, const std::string& what);

  // ---- Sign-in and redirection (rtsp_signin.cpp) ----
  bool SignIn(const RtspMessage& answer);
  std::string Authorization(const char* method, const std::string& url);
  // A 3xx with a Location: the next connection goes there. False when it cannot be followed.
  bool Redirect(const RtspMessage& answer);

  // ---- The description and the header (rtsp_description.cpp) ----
  bool TakeDescription(const std::string& body, bool first);
  bool ReadFirstHeader();
  // The streams to set up, from the description and the stream choice.
  bool ChooseSetups();
  bool TakeServerRequest(const RtspMessage& request);
  bool TakeEndNotice(const RtspMessage& request);
  bool TakeAnnounce(const RtspMessage& request);

  // ---- Media (rtsp_media.cpp) ----
  bool TakeRtp(const uint8_t* data, size_t length);
  void TakeRtcp(const uint8_t* data, size_t length);
  bool WritePackets(std::vector<AsfFromRtp>& packets);
  bool WritePacket(AsfFromRtp& packet);
  // A live stream over UDP: its packets wait a moment before they are written, so that the
  // end-of-entry notice (over the connection) can overtake the next entry's first datagrams.
  bool HoldsPackets() const;
  // Writes the held packets that came before cutoff, or from before the RTP number next.
  bool WriteHeld(Clock::time_point cutoff);
  bool WriteHeldBefore(uint16_t next);
  Clock::time_point HeldDeadline() const;
  // Once the streams are set up: where the reports and NACKs go and the CNAME they carry (the
  // resend tick reads them too).
  void NoteReportTarget();
  void SendNacks(std::vector<RtpAsfReceiver::Nack>& nacks);
  void SendReceiverReport();
  // The end of the stream (code: completion) or of the entry (new track).
  void EndOfStream(uint32_t code, std::optional<uint16_t> nextSequence);
  void EndIfTailDone();
  Clock::time_point TailDeadline() const;
  void PostEnd(uint32_t code);
  void ReportUnnoticedLosses();

  SessionPort& port_;
  std::atomic<State> state_{State::kOptions};

  // Window thread: the connection's bytes not yet a whole unit.
  std::vector<uint8_t> pending_;
  bool framing_failed_ = false;
  int32_t server_rtp_port_ = 0;  // from the SETUP answers (session thread)
  int32_t server_rtcp_port_ = 0;
  // Counts the connections that came up; the loop opens each with OPTIONS.
  std::atomic<uint32_t> connections_{0};
  uint32_t connections_seen_ = 0;

  // Session thread: the exchange.
  std::atomic<uint32_t> cseq_{0};
  int64_t awaited_cseq_ = -1;
  Endpoint target_;
  std::string path_;
  int redirections_ = 0;
  std::string base_url_;  // where relative control URLs point
  std::string playlist_gen_id_;
  SdpDescription description_;
  std::vector<SetUpStream> setups_;
  size_t next_setup_ = 0;
  bool server_takes_notices_ = false;
  bool server_fast_cache_ = false;  // it lists com.microsoft.wm.fastcache: Speed is permitted
  bool fast_asked_ = false;
  int64_t keep_alive_ms_ = 30000;
  Clock::time_point last_request_at_{};
  Clock::time_point next_report_at_{};
  uint32_t own_ssrc_ = 0;

  // Shared with the window thread (a stop's TEARDOWN).
  mutable std::mutex session_mutex_;
  std::string session_id_;
  std::string teardown_url_;
  std::atomic<bool> teardown_sent_{false};
  int32_t report_port_ = 0;  // 0: no reports (TCP, or no port named)
  bool resends_offered_ = false;
  std::string cname_;

  HttpSignIn sign_in_;

  // Media.
  RtpAsfReceiver receiver_;
  std::vector<uint8_t> buffer_;
  std::vector<AsfFromRtp> packets_;
  std::vector<RtpAsfReceiver::Nack> nacks_;
  uint32_t next_location_ = 0;  // for servers that send no location ids
  bool location_ids_ = false;   // the server numbers its packets
  // Losses found outside the RTP numbers (a resumed file's holes, a gap at a change of entry);
  // the resend tick adds them to its count.
  std::atomic<uint32_t> reported_lost_{0};
  bool warned_not_rtp_ = false;
  bool entry_ended_ = false;  // the end-of-entry notice came (its ANNOUNCE follows)
  struct Held {
    AsfFromRtp packet;
    Clock::time_point at;
  };
  std::deque<Held> held_;
  // The end over UDP, waiting for the last packets.
  uint32_t tail_code_ = 0;
  std::optional<uint16_t> tail_next_;  // the server's next RTP number, from the notice
  // Once an entry has ended: the next entry's first RTP number (from the notice). A datagram
  // numbered before it that comes later belongs to the ended entry, never to the next one's file.
  std::optional<uint16_t> next_entry_from_;
  bool tail_requested_ = false;
  Clock::time_point tail_since_{};
  Clock::time_point last_media_at_{};
};

}  // namespace qor
