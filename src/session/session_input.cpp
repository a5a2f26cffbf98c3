#include "session/session_input.h"

#include <algorithm>
#include <chrono>

#include "session/media_packet_path.h"
#include "session/session_port.h"
#include "support/helper.h"

namespace qor {

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

SessionInput::SessionInput(SessionPort& port, int32_t ringSize) : port_(port) {
  ring_.Allocate(ringSize);
  Reset();
}

void SessionInput::Reset() {
  progressive_ended_ = false;
  stage_ = kConnecting;
  RestartStageClock();
  connection_closed_ = false;
  end_posted_ = false;
}

bool SessionInput::MediaOverUdp() const {
  return port_.Config().MediaOverUdp();
}

// ---- Transport side ----

bool SessionInput::Write(const void* data, int32_t length, bool wakeReader) {
  if (wakeReader ? ring_.Write(data, length) : ring_.WriteQuietly(data, length)) return true;
  // The loop has to be awake to make room, whatever this block's quiet writes put off.
  ring_.WakeReaders();
  if (length < ring_.Size()) {
    // The loop is behind: give it a bounded time to make room.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kRingRoomWaitMs);
    for (;;) {
      const uint64_t mark = WakeMark();  // a stop wakes the wait
      if (port_.Terminated() || std::chrono::steady_clock::now() >= deadline) break;
      ring_.WaitForRoom(length, deadline, mark);
      if (ring_.Write(data, length)) return true;
    }
  }
  // A stopped session has nobody left to tell.
  if (!port_.Terminated()) port_.Post("The circular buffer has reached its size limit !", mcFatal);
  return false;
}

void SessionInput::NoteReceive() {
  last_receive_ms_ = NowMs();
}

void SessionInput::NoteProgress() {
  last_progress_ms_ = NowMs();
}

void SessionInput::NewConnection() {
  ring_.Clear();
  connection_closed_ = false;
  connection_replaced_ = false;
  end_unsaid_ = false;
}

void SessionInput::ConnectionUp() {
  EnterStage(kAnswering);
  NoteReceive();
  NoteProgress();
}

void SessionInput::ConnectionClosed(bool progressive, bool quiet) {
  end_unsaid_ = quiet;
  if (progressive) {
    // The loop reports completion once it has written everything the ring still holds.
    progressive_ended_.store(true, std::memory_order_release);
  } else {
    // The loop ends the session once it has used what the ring still holds (unless the end of
    // the stream was among it).
    connection_closed_.store(true, std::memory_order_release);
  }
  WakeLoop();
}

// ---- Stages ----

void SessionInput::EnterStage(Stage stage) {
  int32_t current = stage_.load();
  while (current < stage) {
    if (stage_.compare_exchange_weak(current, stage)) {
      stage_since_ms_ = NowMs();
      // The new stage has its own time-out, which a wait with none so far must learn of.
      WakeLoop();
      return;
    }
  }
}

void SessionInput::RestartStageClock() {
  const int64_t now = NowMs();
  stage_since_ms_ = now;
  last_receive_ms_ = now;
  last_progress_ms_ = now;
}

void SessionInput::EndWithFailure(const std::string& text) {
  end_posted_ = true;
  if (stage_.load() == kStreaming) port_.Counters().StreamCut = true;
  port_.Post(text, mcFatal);
  port_.Terminate();
}

// ---- The loop's waits ----

bool SessionInput::Watch(int32_t needed) {
  if (port_.Terminated()) return false;
  if (EndPosted()) return true;
  const int32_t stage = stage_.load();
  const int64_t now = NowMs();
  // Datagrams sent before the command connection closed may still be on their way.
  const bool udpQuiet = !MediaOverUdp() || now - last_receive_ms_ >= kUdpCloseQuietMs;
  if (connection_closed_.load() && ring_.Available() < needed && udpQuiet) {
    if (end_unsaid_.exchange(false)) port_.Post("Disconnected", mcNotice);
    EndWithFailure(stage == kStreaming
                       ? "The server closed the connection before the end of the stream"
                       : "The server closed the connection before the stream began");
    return false;
  }
  const auto past = [now](int64_t since, int32_t seconds) {
    return seconds > 0 && now - since >= int64_t{seconds} * 1000;
  };
  const SessionTimeouts& timeouts = port_.Config().Timeouts;
  const std::string after = " seconds";
  switch (stage) {
    case kConnecting:
      if (!past(stage_since_ms_, timeouts.ConnectSeconds)) return true;
      EndWithFailure("No connection to the server within " +
                     THelper::IntText(timeouts.ConnectSeconds) + after);
      return false;
    case kAnswering:
      if (!past(stage_since_ms_, timeouts.AnswerSeconds)) return true;
      EndWithFailure("The server did not answer within " +
                     THelper::IntText(timeouts.AnswerSeconds) + after);
      return false;
    case kAwaitingData:
      if (!past(stage_since_ms_, timeouts.FirstDataSeconds)) return true;
      EndWithFailure("No stream data arrived within " +
                     THelper::IntText(timeouts.FirstDataSeconds) + after);
      return false;
    default:
      if (!past(last_progress_ms_, timeouts.StallSeconds)) return true;
      EndWithFailure("The stream sent nothing for " + THelper::IntText(timeouts.StallSeconds) +
                     after + " and is treated as cut");
      return false;
  }
}

SessionInput::Deadline SessionInput::WatchDeadline() const {
  if (EndPosted()) return Deadline::max();
  const auto at = [](int64_t ms) {
    return Deadline(std::chrono::duration_cast<Deadline::duration>(std::chrono::milliseconds(ms)));
  };
  Deadline deadline = Deadline::max();
  const auto bound = [&](int64_t since, int32_t seconds) {
    if (seconds > 0) deadline = std::min(deadline, at(since + int64_t{seconds} * 1000));
  };
  const SessionTimeouts& timeouts = port_.Config().Timeouts;
  switch (stage_.load()) {
    case kConnecting:
      bound(stage_since_ms_, timeouts.ConnectSeconds);
      break;
    case kAnswering:
      bound(stage_since_ms_, timeouts.AnswerSeconds);
      break;
    case kAwaitingData:
      bound(stage_since_ms_, timeouts.FirstDataSeconds);
      break;
    default:
      bound(last_progress_ms_, timeouts.StallSeconds);
      break;
  }
  if (connection_closed_.load() && MediaOverUdp())
    deadline = std::min(deadline, at(last_receive_ms_ + kUdpCloseQuietMs));
  return deadline;
}

bool SessionInput::WaitForRing(int32_t count, uint64_t mark, Deadline until) {
  if (ring_.Available() >= count) return true;
  // The connection may have closed, or a stage run out, before the mark was taken: nothing
  // would wake the wait for that.
  if (port_.Terminated() || !Watch(count)) return false;
  return ring_.WaitForAvailable(count, std::min(until, WatchDeadline()), mark);
}

bool SessionInput::WaitForBytes(int32_t count) {
  if (ring_.Available() < count && !port_.Media().Flush()) return false;
  // Woken by the handler's write, by a stop or a closed connection (WakeLoop), or when a
  // time-out may have run out.
  for (;;) {
    const uint64_t mark = WakeMark();
    if (ring_.Available() >= count) return true;
    if (port_.Terminated() || !Watch(count)) return false;
    if (WaitForRing(count, mark)) return true;
  }
}

}  // namespace qor
