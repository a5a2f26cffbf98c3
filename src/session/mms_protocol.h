#pragma once
// The MMS command protocol of a session: a TCP control connection, media over TCP or UDP.
//   Connected (window thread)      sends the connect command
//   TcpData (window thread)        frames whole units into the session's input
//   UdpDatagram (window thread)    takes a media datagram into the input
//   Run (session thread)           the receive loop: commands, header pieces, media packets
//   ResendTick (the resend timer)  asks again for datagrams still missing
//
// The loop is in one State at a time, changed only by Enter; the state says what each unit means
// (a header piece asked for or not, a packet of this file or of the next entry).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "session/mms_commands.h"
#include "session/mms_unit_framer.h"
#include "session/session_protocol.h"
#include "session/udp_resend_tracker.h"
#include "session/window_answer.h"
#include "support/circular_buffer.h"
#include "support/error_codes.h"

namespace qor {

class SessionPort;

class MmsProtocol final : public SessionProtocol {
 public:
  enum class State {
    kHandshake,      // commands until the header is asked for
    kHeader,         // the header's pieces, asked for
    kHeaderAgain,    // the next entry's header, while already playing (a session started by a
                     // change that joined the ended entry's tail)
    kStreaming,      // media packets go into the file
    kForeignHeader,  // a header arrived unasked: what follows belongs to another header
    kTail,           // UDP: the end arrived; datagrams still on their way are taken
    kTrackChanged,   // the entry changed: its successor's packets are kept for the next session
    kEnded,          // nothing more is written or parsed; pings are still answered
  };

  explicit MmsProtocol(SessionPort& port);
  ~MmsProtocol() override;
  MmsProtocol(const MmsProtocol&) = delete;
  MmsProtocol& operator=(const MmsProtocol&) = delete;

  void Connected() override;
  void ResponseHeader(const std::string& header) override;
  void TcpData(const uint8_t* data, int32_t length) override;
  void UdpDatagram(const uint8_t* data, int32_t length, UdpOrigin origin) override;
  void Run() override;
  void WakeWaits() override;
  void ResendTick() override;

  // Values of the exchange, for tests.
  State CurrentState() const { return state_.load(); }
  uint32_t CommandSequence() const { return command_sequence_.load(); }
  uint32_t FileNumber() const { return file_number_.load(); }
  int32_t TimingState() const { return timing_state_.load(); }

 private:
  // ---- The loop (mms_protocol.cpp) ----
  void Enter(State next);
  bool Ended() const;
  // Waits for count bytes like SessionInput::WaitForBytes, and also ends the wait (false) once
  // the TCP stream could not be framed and every unit framed before the fault has been taken, or
  // when the end over UDP has waited long enough for the last datagrams.
  bool WaitForUnitBytes(int32_t count);
  // Reads the rest of a unit (count bytes) into the buffer at offset; false when the loop ends.
  bool ReadUnitBytes(size_t offset, uint32_t count);
  // One command unit whose first 8 bytes are in the buffer; false when the loop must end.
  bool TakeCommand();
  // One data unit (header piece, media packet, timing packet); false when the loop must end.
  bool TakeDataUnit(uint32_t sequence, uint8_t tag, uint8_t flags, uint32_t length);
  void TakeHeaderPiece(uint32_t length, uint8_t flags);
  void HeaderComplete();
  void TakeMediaPacket(uint32_t sequence, uint32_t length, uint8_t flags);
  void WriteMediaPacket(uint32_t sequence, uint32_t length, uint8_t flags);
  void PostFailedUnit(const uint8_t* unit, size_t length);
  void PostHexDump(const uint8_t* data, size_t length, uint32_t code);

  // ---- Commands (mms_handshake.cpp) ----
  // The command sequence moves on once the message has been handed over, sent or not.
  void Send(const mms::Bytes& message);
  void SendTransportSelect();
  void SendOpenFile();
  void SendStartPlay(uint32_t positionMs);
  // The accelerated start a fast delivery asks of the clip from positionMs, when the server can
  // be asked for one.
  std::optional<FastDeliveryAsk> FastStartFor(uint32_t positionMs);
  void SendHeaderRequest();
  void SendTimingRequest();
  void SendPong();
  void SendStreamSelection();
  void HandleCommand(uint32_t total);
  void HandleConnected(uint32_t total);
  void HandleFileOpened(uint32_t total);
  void HandleFunnelInfo(uint32_t total);
  void HandlePasswordRequired(uint32_t total);
  void HandleStreamSelectionAccepted();
  void HandleStreamChange();
  // Waits, serving nothing, for the window thread's answer; nothing when declined or stopped.
  std::optional<std::string> WaitForCredentials(const std::string& challenge);

  // ---- UDP data, resends and the end (mms_udp.cpp) ----
  // Over UDP: false (with a warning) for a packet number the stream cannot have. A recorded file
  // has as many packets as its header says; a live stream moves on at its bit rate, so a number
  // far ahead of the last one taken is forged or garbled and would only make a file of holes.
  bool PlausibleDatagramNumber(uint32_t sequence);
  // Loss detection for one UDP media packet, by its 8-bit datagram sequence.
  void UdpLossCheck(uint8_t sequence);
  void SendResendRequest(uint32_t sequence);
  // The end of the stream (or the change of track): posted at once over TCP; with UDP data the
  // end of the stream waits until the datagrams still on their way have arrived or been given up.
  void EndOfStream(uint32_t code);
  void EndIfUdpTailDone();
  // Posts the end (completion, or the failure of a stream that saved nothing) and stops writing.
  void PostEnd(uint32_t code);
  // Over UDP: tells of packets that never arrived although no resend was ever asked for them.
  void ReportUnnoticedLosses();
  // The index after the last packet the header promises (a whole recorded file), else -1.
  int64_t PromisedEnd() const;
  // Every promised packet is in the file and none is being asked for again.
  bool AllPromisedPacketsIn() const;
  // Whether the header's packet count is what the server sends (not so with streams left out).
  bool HeaderCountIsTheStreams() const;
  // At the end over UDP: asks again for the datagrams after the last one seen that the header's
  // packet count says exist. True when any was asked for.
  bool RequestMissingTail();
  // When the end over UDP may next be declared, while it waits for the last datagrams.
  TCB::Deadline TailDeadline() const;
  bool MediaOverUdp() const;

  SessionPort& port_;
  TErrorCodeHandler error_codes_;
  std::atomic<State> state_{State::kHandshake};
  std::atomic<uint32_t> command_sequence_{0};
  std::atomic<uint32_t> file_number_{1};
  std::atomic<uint32_t> server_incarnation_{0};
  std::atomic<int32_t> timing_state_{0};
  WindowAnswer<std::optional<std::string>> credentials_answer_;  // of a password challenge

  // Window thread only.
  mms::MmsUnitFramer framer_;
  // Set by the window thread after the last whole unit went into the input; the loop reports the
  // fault when it gets there, so every packet before it is still saved.
  std::atomic<bool> framing_failed_{false};

  // Session thread only.
  std::vector<uint8_t> buffer_;
  std::string challenge_text_;
  uint32_t timing_replies_ = 0;
  uint32_t timing_packets_ = 0;
  bool credentials_sent_ = false;
  // The end that waits for the last datagrams (kTail): its code, since when, and when the loop
  // last took a unit.
  uint32_t tail_code_ = 0;
  std::chrono::steady_clock::time_point tail_since_{};
  std::chrono::steady_clock::time_point last_unit_{};
  bool tail_requested_ = false;
  // The packet sequence the server's datagram 0 carried (UDP), known once media arrives.
  bool have_datagram_base_ = false;
  uint32_t datagram_base_ = 0;
  // The highest media packet number taken over UDP, when it came, and how many were refused.
  bool have_highest_datagram_ = false;
  uint32_t highest_datagram_ = 0;
  std::chrono::steady_clock::time_point highest_datagram_at_{};
  uint32_t implausible_datagrams_ = 0;

  // Session thread and the resend timer.
  mms::UdpResendTracker tracker_;
};

}  // namespace qor
