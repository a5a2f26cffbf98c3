#pragma once
// The bytes a session's connections bring, on their way from the transport handlers (window
// thread) to the protocol loop (session thread), and the watch over them: which stage the session
// has reached, whether the connection has closed, and whether a stage has run past its time-out.
// Every wait of the loop for the network goes through here, so a session always ends by itself:
// on the bytes it waits for, a stop, a closed connection, or a time-out.

#include <atomic>
#include <cstdint>
#include <string>

#include "support/circular_buffer.h"

namespace qor {

class SessionPort;

class SessionInput {
 public:
  using Deadline = TCB::Deadline;
  // The bytes the network handlers may hold ahead of the protocol loop.
  static constexpr int32_t kRingSize = 1000000;
  // With media over UDP, a closed command connection ends the session once nothing has arrived
  // for this long.
  static constexpr int64_t kUdpCloseQuietMs = 1000;
  // How long a data handler waits for the protocol loop to make room in the ring.
  static constexpr int64_t kRingRoomWaitMs = 5000;

  SessionInput(SessionPort& port, int32_t ringSize);
  SessionInput(const SessionInput&) = delete;
  SessionInput& operator=(const SessionInput&) = delete;

  // A new download: empty, connecting.
  void Reset();
  TCB& Ring() { return ring_; }

  // ---- Transport side (window thread) ----
  // Stores a whole block, waiting a bounded time for room; on failure posts the ring-full message
  // (8) and returns false. Without wakeReader the loop is not woken for this block: the handlers
  // store all the units of one handover and wake it once (WakeReaders).
  bool Write(const void* data, int32_t length, bool wakeReader = true);
  void WakeReaders() { ring_.WakeReaders(); }
  // Something arrived (bytes or a datagram): datagrams still on their way after the command
  // connection closed are waited for from here.
  void NoteReceive();
  // A whole unit of the stream arrived (a media packet, a header piece, a chunk; a plain file's
  // bytes): the stall clock starts again. A server that trickles bytes without ever completing a
  // unit is not streaming.
  void NoteProgress();
  // A connection is starting: what the previous one left is dropped.
  void NewConnection();
  void ConnectionUp();
  // The current connection closed; progressive: it was a plain file's, whose end is its end.
  // quiet: its end is said ("Disconnected") only if the session fails for it.
  void ConnectionClosed(bool progressive, bool quiet = false);
  // The current connection is about to be replaced (a redirection is followed): its end ends
  // nothing. Cleared when the next connection starts.
  void ExpectNewConnection() { connection_replaced_.store(true, std::memory_order_release); }
  bool ConnectionReplaced() const { return connection_replaced_.load(std::memory_order_acquire); }

  // ---- Protocol loop (session thread) ----
  // The mark for WaitForRing, taken before the loop looks at what it waits for besides the ring
  // (the stop request, a closed connection, a redirection).
  uint64_t WakeMark() const { return ring_.Wakes(); }
  // Any thread: something the loop may be waiting for besides the ring has changed.
  void WakeLoop() { ring_.Wake(); }
  // Waits until the ring holds count bytes (true), WakeLoop is called after mark was taken, until
  // has come, or a stage's time-out may have run out; false at once when Watch ends the session
  // first. Nothing wakes the thread on a period: an idle session sleeps until its next deadline.
  bool WaitForRing(int32_t count, uint64_t mark, Deadline until = Deadline::max());
  // Waits until the ring holds count bytes, writing the save file's gathered packets first when
  // it has to wait; false when the session must end first.
  bool WaitForBytes(int32_t count);
  // Ends the session (posting why) when the connection it reads from has closed without leaving
  // the needed bytes in the ring, or a stage has run past its time-out. False when it must end.
  bool Watch(int32_t needed = 1);
  // The end of a plain file's connection (every byte of it is in the ring before this is set).
  bool ProgressiveEnded() const { return progressive_ended_.load(std::memory_order_acquire); }

  // ---- Stages; each only moves forward ----
  void MarkHeaderComplete() { EnterStage(kAwaitingData); }
  void MarkMediaArrived() { EnterStage(kStreaming); }
  bool MediaArrived() const { return stage_.load() == kStreaming; }
  // The end of the stream or of the entry has been posted: nothing the connection does afterwards
  // is a failure.
  void MarkEndPosted() { end_posted_.store(true, std::memory_order_release); }
  bool EndPosted() const { return end_posted_.load(std::memory_order_acquire); }
  // The answer clock starts again (a password the user took time to type).
  void RestartStageClock();

 private:
  enum Stage : int32_t { kConnecting = 0, kAnswering = 1, kAwaitingData = 2, kStreaming = 3 };
  void EnterStage(Stage stage);
  // Ends the session with a failure; after media it counts as a cut stream.
  void EndWithFailure(const std::string& text);
  // The earliest moment at which Watch could end the session by a time-out alone.
  Deadline WatchDeadline() const;
  bool MediaOverUdp() const;

  SessionPort& port_;
  TCB ring_;
  std::atomic<int32_t> stage_{kConnecting};
  std::atomic<int64_t> stage_since_ms_{0};
  std::atomic<int64_t> last_receive_ms_{0};
  std::atomic<int64_t> last_progress_ms_{0};
  std::atomic<bool> connection_closed_{false};
  std::atomic<bool> connection_replaced_{false};
  std::atomic<bool> end_unsaid_{false};
  std::atomic<bool> progressive_ended_{false};
  std::atomic<bool> end_posted_{false};
};

}  // namespace qor
