#pragma once
// The MMS command protocol of a session (TCP control connection, media over TCP or UDP). TMMS owns
// one and calls it from its handlers and its thread:
//   TcpConnected (window thread, MMS mode)     SendConnect
//   TcpDataReceived (window thread, MMS mode)  OnTcpData: writes whole units into the ring
//   UdpDataReceived (window thread)            OnUdpDatagram: true when the datagram goes into
//                                              the ring (TMMS then writes it)
//   the resend timer's tick                    ResendScan
//   Execute (session thread, MMS mode)         RunReceiveLoop

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "session/mms_commands.h"
#include "session/mms_unit_framer.h"
#include "session/packet_ledger.h"
#include "session/udp_resend_tracker.h"
#include "session/window_answer.h"
#include "support/circular_buffer.h"

namespace qor {

class TMMS;

class MmsProtocol {
 public:
  // Shows the server's password challenge to the user on the window thread (a modal dialog in
  // the desktop program, the command line's prompt in qor-cli) and returns the encoded
  // credentials, or nothing when the user declined. Without one, a challenge is declined.
  using CredentialsPrompt = std::function<std::optional<std::string>(const std::string& host,
                                                                     const std::string& challenge)>;

  explicit MmsProtocol(TMMS& session);
  ~MmsProtocol();
  MmsProtocol(const MmsProtocol&) = delete;
  MmsProtocol& operator=(const MmsProtocol&) = delete;

  // Set by the window before the session starts.
  CredentialsPrompt AskCredentials;
  // Runs on the window thread once the server has opened the file after credentials were
  // sent: they were right (a wrong password gets another challenge or a failure instead).
  std::function<void()> CredentialsAccepted;

  // Protocol state back to its starting values (called by TMMS::InitFields).
  void InitFields();
  void SendConnect();
  void RunReceiveLoop();
  void ResendScan();
  // Any thread: wakes a wait of the session thread that the ring does not end (the answer to a
  // password challenge), so it looks at the stop request.
  void WakeWaits();
  void OnTcpData(const uint8_t* data, int32_t length);
  bool OnUdpDatagram(const uint8_t* data, int32_t length);

  // Session thread, from the media step: loss detection for one UDP media packet.
  void UdpLossCheck(uint8_t sequence);

  // Values of the exchange, for the window and for tests.
  uint32_t CommandSequence() const { return command_sequence_.load(); }
  uint32_t FileNumber() const { return file_number_.load(); }
  int32_t TimingState() const { return timing_state_.load(); }
  uint32_t ServerIncarnation() const { return server_incarnation_.load(); }

 private:
  WindowAnswer<std::optional<std::string>> credentials_answer_;  // of a password challenge
  enum class Next { Continue, Leave };

  // The command sequence moves on once the message has been handed over, sent or not.
  void Send(const mms::Bytes& message);
  void SendTransportSelect();
  void SendOpenFile();
  void SendStartPlay(uint32_t positionMs);
  void SendHeaderRequest();
  void SendTimingRequest();
  void SendPasswordResponse(const std::string& credentials);
  void SendPong();
  void SendStreamSelection();
  void SendResendRequest(uint32_t sequence);

  Next HandleCommand(uint32_t total);
  void HandleConnected(uint32_t total);
  void HandleFileOpened(uint32_t total);
  void HandleFunnelInfo(uint32_t total);
  void HandlePasswordRequired(uint32_t total);
  void HandleStreamSelectionAccepted();
  void HandleHeaderPiece(uint32_t length, uint8_t flags);
  void HandleMediaPacket(uint32_t sequence, uint32_t length, uint8_t flags);
  // Over UDP: false (with a warning) for a packet number the stream cannot have. A recorded file
  // has as many packets as its header says; a live stream moves on at its bit rate, so a number
  // far ahead of the last one taken is forged or garbled and would only make a file of holes.
  bool PlausibleDatagramNumber(uint32_t sequence);
  // own: the packet came on this session's connection (not carried over from the previous one).
  void WriteMediaPacket(uint8_t* payload, uint32_t length, uint32_t sequence, uint8_t flags,
                        bool own);
  // A session started by a change of entry: false for a packet of the ended entry (the new
  // connection joined before the change); before the first packet of its own, writes the next
  // entry's packets the previous session kept.
  bool TakeCarriedPackets(uint32_t sequence);
  // A change reported in a session started by a change, before any packet of its own: it joined
  // the ended entry's tail, and the entry it is for only begins now.
  bool JoinedBeforeTheChange() const;
  // Waits, serving nothing, for the window thread's answer; nothing when declined or stopped.
  std::optional<std::string> WaitForCredentials(const std::string& challenge);
  void PostFailedUnit(const uint8_t* unit, size_t length);
  void PostHexDump(const uint8_t* data, size_t length, uint32_t code);
  void Ended();
  // Posts the end of the stream (or the change of track) at once over TCP; with UDP data the end
  // of the stream waits until the datagrams still on their way have arrived or been given up
  // (EndIfUdpTailDone).
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

  TMMS& session_;
  std::atomic<uint32_t> command_sequence_{0};
  std::atomic<uint32_t> file_number_{1};
  std::atomic<uint32_t> server_incarnation_{0};
  std::atomic<int32_t> timing_state_{0};

  // Polls the ring like TMMS::WaitForBytes, and also ends the wait (false) once the TCP stream
  // could not be framed and every unit framed before the fault has been taken.
  bool WaitForUnitBytes(int32_t count);
  // When the end over UDP may next be declared, while it waits for the last datagrams.
  TCB::Deadline TailDeadline() const;

  // Window thread only.
  mms::MmsUnitFramer framer_;
  // Set by the window thread after the last whole unit went into the ring; the loop reports the
  // fault when it gets there, so every packet before it is still saved.
  std::atomic<bool> framing_failed_{false};

  // Session thread only.
  std::vector<uint8_t> buffer_;
  uint32_t timing_replies_ = 0;
  uint32_t timing_packets_ = 0;
  bool credentials_sent_ = false;
  bool have_first_media_ = false;
  uint32_t first_sequence_ = 0;
  uint32_t first_timecode_ = 0;
  // After the end of the stream or a change of track: nothing more is written or parsed.
  bool ended_ = false;
  // The end reached us on the control connection ahead of the last datagrams: its code, and when
  // the loop last took a unit.
  uint32_t deferred_end_ = 0;
  std::chrono::steady_clock::time_point deferred_since_{};
  // The packet sequence the server's datagram 0 carried (UDP), known once media arrives.
  bool have_datagram_base_ = false;
  uint32_t datagram_base_ = 0;
  bool tail_requested_ = false;
  // After a change of entry was reported: the next entry's packets go to the carry-over.
  bool track_changed_ = false;
  bool carry_checked_ = false;
  // The header that follows an ignored change replaces the one in the file.
  bool replacing_header_ = false;
  uint32_t highest_sequence_ = 0;
  // A header is taken only between the header request and its last piece. With UDP data the next
  // play-list entry's header can overtake the change of track that announces it; once such a
  // header has been seen, nothing after it belongs to this file.
  bool header_expected_ = false;
  bool next_entry_seen_ = false;
  std::chrono::steady_clock::time_point last_unit_{};
  PacketLedger written_;
  // The highest media packet number taken over UDP, when it came, and how many were refused.
  bool have_highest_datagram_ = false;
  uint32_t highest_datagram_ = 0;
  std::chrono::steady_clock::time_point highest_datagram_at_{};
  uint32_t implausible_datagrams_ = 0;

  // Session thread and the resend timer.
  mms::UdpResendTracker tracker_;
};

}  // namespace qor
