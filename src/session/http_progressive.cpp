// A plain file over HTTP (a web server's .wmv, or a resumed one's rest): told from a stream by
// its first bytes when its content type cannot tell, then written as it comes.

#include <algorithm>

#include "session/http_protocol.h"
#include "session/media_packet_path.h"
#include "session/save_file.h"
#include "session/session_input.h"

namespace qor {

namespace {

// The body of a chunked stream starts with a chunk ('$' or a burst's 0xA4, then H, D, E or C);
// a plain ASF file with the header object's GUID.
bool IsChunkHead(const uint8_t* head) {
  return (head[0] == 0x24 || head[0] == 0xA4) &&
         (head[1] == 'H' || head[1] == 'D' || head[1] == 'E' || head[1] == 'C');
}
bool IsAsfHeaderStart(const uint8_t* head) {
  return head[0] == 0x30 && head[1] == 0x26 && head[2] == 0xB2 && head[3] == 0x75;
}

// A play list served where media was asked for: its ASX element opens the text, after any
// byte-order mark and blanks (UTF-16 too: its zero bytes are passed over).
bool StartsPlayList(const uint8_t* data, size_t count) {
  size_t at = 0;
  if (count >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
    at = 3;
  } else if (count >= 2 &&
             ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF))) {
    at = 2;
  }
  std::string start;
  for (; at < count && start.size() < 4; ++at) {
    const uint8_t c = data[at];
    if (c == 0 || (start.empty() && (c == ' ' || c == '\t' || c == '\r' || c == '\n'))) continue;
    start += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return start == "<asx";
}

constexpr const char* kPlayListText =
    "HTTP: this location is a play list, not media: open it to download its entries";
// Bytes enough to tell a play list from a plain file.
constexpr int32_t kPlayListProbe = 16;
constexpr const char* kWriteFailed = "Could not access local file to write data packet";

}  // namespace

void HttpProtocol::StartProgressive() {
  SessionCounters& counters = port_.Counters();
  counters.Progressive = 1;
  counters.StreamKind = skProgressive;
  // The file's bytes are the media: the answer has come, and from now on only a stall counts.
  port_.Input().MarkMediaArrived();
  port_.Post("", mcStarted);
  port_.Post("HTTP: Media is simple progressive http downloading...", mcNotice);
}

HttpProtocol::Sniff HttpProtocol::SniffBody() {
  SessionInput& input = port_.Input();
  TCB& ring = input.Ring();
  // The end mark first: every byte of the connection is in the ring before it is set.
  const bool ended = input.ProgressiveEnded();
  if (ring.Available() < 4 && !ended) return Sniff::Wait;
  uint8_t head[4] = {};
  int32_t count = 4;
  ring.Read(head, count);
  if (count == 4 && IsChunkHead(head)) {
    port_.Counters().StreamKind = skUnknown;
    std::copy(head, head + 4, sniffed_head_);
    has_sniffed_head_ = true;
    Enter(State::kChunks);
    return Sniff::Decided;
  }
  if (count == 4 && IsAsfHeaderStart(head)) {
    StartProgressive();
    Enter(State::kProgressive);
    return WriteProgressive(head, count) ? Sniff::Decided : Sniff::Fail;
  }
  uint8_t probe[4 + kPlayListProbe] = {};
  std::copy(head, head + count, probe);
  int32_t more = std::min(ring.Available(), kPlayListProbe);
  if (more > 0) ring.Read(probe + count, more);
  if (StartsPlayList(probe, static_cast<size_t>(count + std::max(more, 0)))) {
    port_.Post(kPlayListText, mcFatal);
  } else {
    port_.Post("HTTP: Unknnown content type: " + content_type_, mcFatal);
  }
  port_.Terminate();
  return Sniff::Fail;
}

bool HttpProtocol::RunProgressive(uint64_t mark) {
  SessionInput& input = port_.Input();
  // Read the end mark first: every block of the connection is in the ring before it is set.
  const bool ended = input.ProgressiveEnded();
  TCB& ring = input.Ring();
  const bool first = progressive_position_ == 0;
  if (first && !ended && ring.Available() < kPlayListProbe) {
    // The first bytes decide whether this is a file at all.
    return input.WaitForRing(kPlayListProbe, mark) || input.Watch(kPlayListProbe);
  }
  while (ring.Available() > 0 && !port_.Terminated()) {
    if (buffer_.size() < static_cast<size_t>(SessionInput::kRingSize))
      buffer_.resize(SessionInput::kRingSize);
    int32_t count = ring.Available();
    ring.Read(buffer_.data(), count);
    if (count <= 0) break;
    if (progressive_position_ == 0 && StartsPlayList(buffer_.data(), static_cast<size_t>(count))) {
      // Its text saved as media would play nowhere, and the entries are what was meant.
      port_.Post(kPlayListText, mcFatal);
      port_.Terminate();
      return false;
    }
    if (!WriteProgressive(buffer_.data(), count)) return false;
  }
  if (ended && ring.Available() == 0 && !port_.Terminated()) {
    // A resumed file the server sent again from its start ends where the answer ended.
    TSaveFile* file = port_.Media().File();
    if (file && !file->TruncateTo(progressive_position_)) {
      port_.Post(kWriteFailed, mcFatal);
      port_.Terminate();
      return false;
    }
    input.MarkEndPosted();
    port_.Post("", mcCompleted);
    Enter(State::kEnded);
    DrainUntilStopped();
    return false;
  }
  return true;
}

bool HttpProtocol::WriteProgressive(const uint8_t* data, int32_t count) {
  TSaveFile* file = port_.Media().File();
  const auto result = file ? file->WriteAt(progressive_position_, data, static_cast<size_t>(count))
                           : TSaveFile::WriteResult::Failed;
  if (result == TSaveFile::WriteResult::Failed) {
    port_.Post(kWriteFailed, mcFatal);
    port_.Terminate();
    return false;
  }
  progressive_position_ += count;
  port_.Input().NoteProgress();
  return true;
}

}  // namespace qor
