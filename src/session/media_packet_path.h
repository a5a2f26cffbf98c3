#pragma once
// What every protocol does with the ASF header and the media packets once it has framed them out
// of its own units: the header is collected, written and read into the model, with the streams to
// ask for chosen from it; each packet's times are read once and shifted to the download's start,
// the packet is written at its place (gathered, padded, counted), and at a change of play-list
// entry the next entry's first packets pass from one session to the next. A protocol only says
// which bytes are a header piece and which a packet, and what number the server gave it. As the
// packets are written, the file's header is kept describing them (HeaderCheckpoints).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "session/header_checkpoints.h"
#include "session/header_collector.h"
#include "session/packet_ledger.h"
#include "session/packet_writer.h"

namespace qor {

class CarryOver;
class SessionPort;
class TSaveFile;

class MediaPacketPath {
 public:
  explicit MediaPacketPath(SessionPort& port);
  MediaPacketPath(const MediaPacketPath&) = delete;
  MediaPacketPath& operator=(const MediaPacketPath&) = delete;

  // A new download into file; previous: where the session before this one kept the next entry's
  // first packets (a session started by a change), next: where this one keeps them.
  void Begin(std::shared_ptr<TSaveFile> file, std::shared_ptr<CarryOver> previous,
             std::shared_ptr<CarryOver> next);
  // Everything back to nothing (no file).
  void Reset();
  TSaveFile* File() const { return file_.get(); }

  // ---- The header ----
  // Collects one piece. On the last, the header is written at the start of the file (unless
  // resuming); TooLarge and WriteFailed have been posted (8) and the pieces dropped.
  HeaderCollector::Step CollectHeader(const uint8_t* data, size_t length, uint8_t flags);
  const HeaderCollector& Header() const { return header_; }
  void DropHeader() { header_.Clear(); }
  // The whole header, read as the one this download records: says so in the log, parses it into
  // the model and chooses the streams to ask for. False, posted (8), when that cannot be done.
  bool ReadHeader();
  // Keeps the whole header as the server's (a resume compares the file's with it), drops the
  // pieces and places packets behind it.
  void KeepHeader(uint32_t packetSize);
  // A header that replaces the one of the file (the next entry's): parsed, kept, and the layout
  // follows it; with chooseStreams, the streams to ask for are chosen from it. False, posted (8),
  // when it cannot be read.
  bool AdoptHeader(bool chooseStreams = false);
  bool KeptHeaderIs(const HeaderCollector& header) const {
    return writer_.KeptHeaderIs(header.Bytes(), header.Length());
  }
  // The header came again (the play connection's): it is the one at the start of the file now.
  void RelayOut(uint32_t headerLength) { writer_.SetLayout(headerLength, writer_.PacketSize()); }
  uint32_t PacketSize() const { return writer_.PacketSize(); }
  // The streams of the current header that the choice leaves out.
  const std::vector<uint8_t>& LeftOutStreams() const { return left_out_; }

  // ---- Resuming ----
  // Reads where the file's packets end and prepares to continue them; start is the server time to
  // ask for. Posts what it is about to do, or (8) why it cannot. missing: the packets the file
  // lacks before that point (a stream cut short of them, or never recovered), which a resume
  // from its end cannot bring: they count as lost.
  bool BeginResume(uint32_t& start, uint32_t& missing);

  // ---- Packets ----
  enum class Outcome {
    Written,
    Dropped,  // not written (a warning was posted, or the file was already finished)
    Stop,     // a fatal text was posted: nothing more may be written
  };
  // One media packet with the server's number. lateBy: datagrams before this one that the
  // server sent and that are still being asked for (the download's first arrival over UDP may
  // not be its first packet). dump: what a packet that cannot be read is shown as.
  Outcome Write(uint8_t* payload, size_t length, uint32_t location, uint32_t lateBy,
                const uint8_t* dump, size_t dumpLength);
  Outcome Write(uint8_t* payload, size_t length, uint32_t location, uint32_t lateBy = 0) {
    return Write(payload, length, location, lateBy, payload, length);
  }
  // A slot that holds a packet is never written again (datagrams: a copy, late or forged, must
  // not replace a packet already saved).
  void KeepWrittenSlots(bool keep) { keep_written_ = keep; }
  // Writes the gathered packets; on failure posts the write failure (8), ends the session and
  // returns false.
  bool Flush();
  bool HasFirstPacket() const { return have_first_; }
  // The first packet's number (the file's packet 0 on a new download).
  uint32_t FirstLocation() const { return first_location_; }
  const PacketLedger& Written() const { return written_; }
  bool AnyWritten() const { return !written_.Empty(); }
  // Added to the server's number of a packet to give its place in the file (resuming).
  int64_t IndexShift() const { return writer_.IndexShift(); }

  // ---- A change of play-list entry ----
  // A session started by a change, at each packet of its own: false for a packet of the ended
  // entry (its connection joined before the change). Before its first own packet, writes the
  // packets the previous session kept; a gap between them and this one (sent while nobody was
  // connected) is posted and returned in lost.
  bool TakeCarried(uint32_t location, uint32_t& lost);
  bool StartedByChange() const { return previous_ != nullptr; }
  // The entry changed: the last location this file holds goes to the next session.
  void EntryEnded();
  // After the change: a packet of the next entry, kept for the next session.
  void KeepForNextEntry(uint32_t location, const uint8_t* data, size_t length);

 private:
  // Slots before packet `packets` that hold no media (never written, or lost and filled).
  uint32_t HolesBefore(uint64_t packets) const;
  // Works out left_out_ from the whole header and says in the log what is recorded.
  bool ChooseStreams(const uint8_t* header, size_t length);

  SessionPort& port_;
  std::shared_ptr<TSaveFile> file_;
  std::shared_ptr<CarryOver> previous_;
  std::shared_ptr<CarryOver> next_;
  HeaderCollector header_;
  PacketWriter writer_;
  PacketLedger written_;
  std::vector<uint8_t> left_out_;
  bool have_first_ = false;
  uint32_t first_location_ = 0;
  uint32_t first_timecode_ = 0;
  uint32_t last_time_ = 0;  // a packet whose time cannot be read keeps the one before
  uint32_t highest_location_ = 0;
  bool carry_checked_ = false;
  bool stopped_ = false;  // a write failed for good: nothing more is written
  bool keep_written_ = false;
  HeaderCheckpoints checkpoints_;
};

}  // namespace qor
