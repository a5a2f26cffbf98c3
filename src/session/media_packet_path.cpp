#include "session/media_packet_path.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "asf/asf.h"
#include "asf/asf_scan.h"
#include "session/carry_over.h"
#include "session/save_file.h"
#include "session/session_input.h"
#include "session/session_port.h"
#include "support/helper.h"

namespace qor {

namespace {

constexpr uint32_t kMinPacketSize = 1;
constexpr uint32_t kMaxPacketSize = 1000000;
// How long a session started by a change of entry waits for the previous session to keep the
// entry's packets before its own first one.
constexpr auto kCarryWait = std::chrono::milliseconds(1500);
// A packet that cannot be read is shown by its first bytes.
constexpr size_t kDumpBytes = 64;

// 1234567 -> "1 234 567": counts a person reads in a log line.
std::string GroupedCount(uint64_t value) {
  std::string digits = std::to_string(value);
  for (int64_t at = static_cast<int64_t>(digits.size()) - 3; at > 0; at -= 3)
    digits.insert(static_cast<size_t>(at), " ");
  return digits;
}

std::string ClockText(uint32_t ms) {
  const uint32_t seconds = ms / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return text;
}

}  // namespace

MediaPacketPath::MediaPacketPath(SessionPort& port) : port_(port) {}

void MediaPacketPath::Begin(std::shared_ptr<TSaveFile> file, std::shared_ptr<CarryOver> previous,
                            std::shared_ptr<CarryOver> next) {
  Reset();
  file_ = std::move(file);
  previous_ = std::move(previous);
  next_ = std::move(next);
  checkpoints_.Begin();
}

void MediaPacketPath::Reset() {
  file_.reset();
  previous_.reset();
  next_.reset();
  header_.Clear();
  writer_.Reset();
  written_.Reset();
  left_out_.clear();
  have_first_ = false;
  first_location_ = 0;
  first_timecode_ = 0;
  last_time_ = 0;
  highest_location_ = 0;
  carry_checked_ = false;
  stopped_ = false;
  keep_written_ = false;
}

// ---- The header ----

HeaderCollector::Step MediaPacketPath::CollectHeader(const uint8_t* data, size_t length,
                                                     uint8_t flags) {
  const auto step = header_.Append(data, length, flags, file_.get(), port_.Config().Resuming());
  switch (step) {
    case HeaderCollector::Step::More:
      break;
    case HeaderCollector::Step::TooLarge:
      header_.Clear();
      port_.Post("- Header extraction failed, cannot continue", mcFatal);
      break;
    case HeaderCollector::Step::Malformed:
      port_.Post("Warning, the stream's header gives a size other than its own (" +
                     THelper::IntText(static_cast<int64_t>(header_.Length())) + " bytes came)",
                 mcWarning);
      header_.Clear();
      port_.Post("- Header extraction failed, cannot continue", mcFatal);
      break;
    case HeaderCollector::Step::WriteFailed:
      port_.Counters().HeaderLength = static_cast<uint32_t>(header_.Length());
      header_.Clear();
      port_.Post("Could not access local file to write header", mcFatal);
      break;
    case HeaderCollector::Step::Complete:
      port_.Counters().HeaderLength = static_cast<uint32_t>(header_.Length());
      break;
  }
  return step;
}

bool MediaPacketPath::ReadHeader() {
  port_.Post(port_.Config().Resuming() ? "- Header received but not saved, resuming session"
                                       : "- Header received and saving",
             mcNormal);
  port_.Post("- Extracting header object data...", mcNormal);
  if (!port_.Asf().ParseHeader(header_.Bytes(), header_.Length())) {
    header_.Clear();
    port_.Post("- Header extraction failed, cannot continue", mcFatal);
    return false;
  }
  if (!ChooseStreams(header_.Bytes(), header_.Length())) {
    header_.Clear();
    return false;
  }
  return true;
}

void MediaPacketPath::KeepHeader(uint32_t packetSize) {
  writer_.KeepHeader(header_.Bytes(), header_.Length());
  writer_.SetLayout(static_cast<uint32_t>(header_.Length()), packetSize);
  header_.Clear();
}

bool MediaPacketPath::AdoptHeader(bool chooseStreams) {
  TASF& next = port_.Asf();
  if (!next.ParseHeader(header_.Bytes(), header_.Length()) || next.PacketSize < kMinPacketSize ||
      next.PacketSize > kMaxPacketSize) {
    header_.Clear();
    port_.Post("- Header extraction failed, cannot continue", mcFatal);
    return false;
  }
  if (chooseStreams && !ChooseStreams(header_.Bytes(), header_.Length())) {
    header_.Clear();
    return false;
  }
  port_.Counters().PacketSize = next.PacketSize;
  KeepHeader(next.PacketSize);
  return true;
}

// ---- Resuming ----

bool MediaPacketPath::BeginResume(uint32_t& start, uint32_t& missing) {
  missing = 0;
  AsfResumePoint point;
  std::string why = "there is no save file";
  if (!file_ || !file_->FindResumePoint(point, why)) {
    port_.Post("Cannot resume: " + why, mcFatal);
    return false;
  }
  missing = HolesBefore(point.packets);
  if (missing > 0)
    port_.Post("Warning, the file lacks " + THelper::IntText(missing) +
                   " packets before the point it resumes from: they stay missing",
               mcWarning);
  writer_.BeginResume(point);
  start = point.lastSendTime + point.timeBase;
  const uint64_t total = port_.Asf().DataPacketsCount;
  std::string text =
      "- Resuming at " + ClockText(point.lastSendTime) + " (packet " + GroupedCount(point.packets);
  if (total > 0 && point.timeBase == 0) text += " of " + GroupedCount(total);
  text += ")";
  port_.Post(text, mcNormal);
  if (total > 0 && point.timeBase == 0 && point.packets >= total) {
    port_.Post("- The file already holds the whole clip: it is checked and left as it is",
               mcNormal);
    writer_.CheckOnly();
  }
  return true;
}

uint32_t MediaPacketPath::HolesBefore(uint64_t packets) const {
  TSaveFile* file = file_.get();
  AsfFileScan scan;
  std::string why;
  const AsfReadAt read = [file](uint64_t at, void* into, size_t count) {
    return file->ReadAt(static_cast<int64_t>(at), into, count);
  };
  const int64_t size = file->Size();
  if (size <= 0 || !ScanAsfFile(read, static_cast<uint64_t>(size), scan, why)) return 0;
  uint64_t missing = 0;
  for (const AsfHole& hole : scan.holes) {
    if (hole.first >= packets) break;
    missing += std::min(hole.count, packets - hole.first);
  }
  return static_cast<uint32_t>(std::min<uint64_t>(missing, UINT32_MAX));
}

// ---- Packets ----

MediaPacketPath::Outcome MediaPacketPath::Write(uint8_t* payload, size_t length, uint32_t location,
                                                uint32_t lateBy, const uint8_t* dump,
                                                size_t dumpLength) {
  if (stopped_) return Outcome::Stop;
  TASF& asf = port_.Asf();
  const SessionConfig& config = port_.Config();
  const bool resuming = config.Resuming();
  const auto postDump = [&] {
    port_.Post(THelper::HexDump(dump, static_cast<int32_t>(std::min(dumpLength, kDumpBytes))),
               mcMedia);
  };
  uint16_t duration = 0;
  bool keyFrame = false;
  if (!asf.ParsePacket(payload, length, last_time_, duration, 0, false, keyFrame)) {
    port_.Post("ASF timecode parse failure, continuing...", mcWarning);
    postDump();
  }
  if (!have_first_) {
    // The file is numbered from the first packet the server sent, so that the late ones find
    // their place when they come. A recorded clip played from its start needs no shift; when its
    // first packet is late, its time is not known yet, so the zero of the clip is kept.
    first_location_ = location - lateBy;
    const bool fromStart =
        config.OffsetMs == 0 && port_.Counters().StreamKind.load() == skPrerecorded;
    first_timecode_ = lateBy > 0 && fromStart ? 0 : last_time_;
    have_first_ = true;
  }
  // A resumed download shifts times as the file's first download did, and the writer places
  // the server's numbers where the file holds the same packets.
  if (!resuming) writer_.SetTimeBase(first_timecode_);
  // A packet that was resent after later ones arrived may be older than the first one seen.
  const uint32_t base = std::min(last_time_, writer_.TimeBase());
  const int64_t index =
      resuming ? int64_t{location} : static_cast<int64_t>(location) - first_location_;
  if (keep_written_ && written_.Has(index + (resuming ? writer_.IndexShift() : 0)))
    return Outcome::Dropped;
  const uint32_t sendTime = last_time_ - base;
  uint32_t shifted = 0;
  if (base != 0 && !asf.ParsePacket(payload, length, shifted, duration, static_cast<int32_t>(base),
                                    true, keyFrame)) {
    port_.Post("ASF timecode update failure, continuing...", mcWarning);
    postDump();
  }
  SessionCounters& counters = port_.Counters();
  counters.SendTime = sendTime;
  const auto outcome =
      writer_.Write(file_.get(), resuming, payload, length, index, sendTime,
                    [this](const std::string& text, uint32_t code) { port_.Post(text, code); });
  counters.PacketNumber = static_cast<int32_t>(writer_.LastIndex());
  switch (outcome) {
    case PacketWriter::Outcome::Written:
      written_.Mark(writer_.LastIndex());
      checkpoints_.PacketWritten(file_, writer_.LastIndex(), sendTime, writer_.PacketSize());
      highest_location_ = std::max(highest_location_, location);
      port_.Input().MarkMediaArrived();
      return Outcome::Written;
    case PacketWriter::Outcome::Checked:
      // The stream goes on as the file does: that is its arrival, though nothing is written.
      port_.Input().MarkMediaArrived();
      return Outcome::Dropped;
    case PacketWriter::Outcome::Dropped:
      return Outcome::Dropped;
    case PacketWriter::Outcome::Stop:
      break;
  }
  stopped_ = true;
  return Outcome::Stop;
}

bool MediaPacketPath::Flush() {
  if (!file_ || file_->Flush() != TSaveFile::WriteResult::Failed) return true;
  port_.Post("Could not access local file to write data packet", mcFatal);
  port_.Terminate();
  return false;
}

// ---- A change of play-list entry ----

bool MediaPacketPath::TakeCarried(uint32_t location, uint32_t& lost) {
  lost = 0;
  uint32_t previous = 0;
  const bool knowPrevious = previous_->PreviousLast(previous);
  if (knowPrevious && location <= previous) return false;
  if (carry_checked_) return true;
  carry_checked_ = true;
  std::vector<CarryOver::Packet> carried =
      previous_->TakeBefore(location, kCarryWait, [this] { return port_.Terminated(); });
  bool any = false;
  uint32_t last = 0;
  for (CarryOver::Packet& p : carried) {
    if (p.location >= location) break;  // from here on this connection brings them itself
    if ((knowPrevious && p.location <= previous) || p.bytes.empty()) continue;
    if (Write(p.bytes.data(), p.bytes.size(), p.location) == Outcome::Stop) return true;
    any = true;
    last = p.location;
  }
  if (any && location > last + 1) {
    // Sent while the old connection was closing and the new one joining: nobody received them.
    lost = location - last - 1;
    port_.Post("Warning, packets sent while reconnecting for the next entry are missing: " +
                   THelper::IntText(lost),
               mcWarning);
  }
  return true;
}

void MediaPacketPath::EntryEnded() {
  if (next_ && AnyWritten()) next_->SetPreviousLast(highest_location_);
}

void MediaPacketPath::KeepForNextEntry(uint32_t location, const uint8_t* data, size_t length) {
  if (next_) next_->Keep(location, data, length);
}

}  // namespace qor
