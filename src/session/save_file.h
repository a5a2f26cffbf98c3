#pragma once
// TSaveFile: the one save file of a download, shared by the window (which opens and finishes it)
// and the session (which writes into it). Every write and the finishing take one lock, so a packet
// can never land while the header is being rewritten, nor after the close in whatever file reuses
// the descriptor. Once finished, writes are dropped. "No file" is the absence of this object.
//
// Packets that follow each other in the file are gathered and written in one call: a download
// writes tens of thousands of small packets a second, and a system call for each was the largest
// cost of a fast one. Gathered packets reach the file before anything else is written, read or
// finished, when the session goes idle (Flush), and at the latest every kGatherBytes.
//
// While a recording grows, its header is kept describing the packets already on the disk
// (Checkpoint), and a slot that no packet reached is filled with a packet of padding before the
// header counts it: a file cut at any moment is a valid file of what it holds.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file_handle.h"

namespace qor {

class TASF;
struct AsfResumePoint;
struct AsfHeaderLayout;

class TSaveFile {
 public:
  enum class WriteResult { Written, Dropped, Failed };
  static constexpr size_t kGatherBytes = 256 * 1024;

  explicit TSaveFile(FileHandle file);
  TSaveFile(const TSaveFile&) = delete;
  TSaveFile& operator=(const TSaveFile&) = delete;
  ~TSaveFile();

  // Opens a file with the given mode; null when it cannot be opened (errno kept in error).
  static std::shared_ptr<TSaveFile> Open(const std::string& path, FileHandle::Mode mode,
                                         int* error = nullptr);

  // Positional write of a whole block (progressive bytes, or a few bytes of the header).
  WriteResult WriteAt(int64_t offset, const void* data, size_t count);
  // Writes the server's header at the start of the file, describing the packets the last
  // checkpoint found on the disk (none before the first), so that the file is a valid one from
  // its first byte; a header whose objects cannot be found is written as it came.
  WriteResult WriteHeader(const void* data, size_t count);
  // Positional write of data packet `index`; remembers the highest index written and its time.
  // Failed also reports gathered packets before it that could not be written.
  WriteResult WritePacket(int64_t offset, const void* data, size_t count, int64_t index,
                          uint32_t sendTime);
  // Writes the gathered packets now (the session calls it before it waits for the network).
  WriteResult Flush();
  // Whether written data is handed to the disk as the file grows (the default), which may wait
  // for the disk, or left to the system until the file is closed.
  void HandToDisk(bool on);
  // Reads under the lock (0 bytes once finished).
  int64_t ReadAt(int64_t offset, void* buffer, size_t count);
  int64_t Size();
  // Cuts the file to length (after writing what is gathered); true when nothing was longer.
  bool TruncateTo(int64_t length);

  // Reads the resume timecode stored in the file through the ASF model.
  bool GetLastTimeCode(TASF& asf, uint32_t& timecode);
  // Where a resumed download continues: the file's last whole packet (see FindAsfResumePoint).
  bool FindResumePoint(AsfResumePoint& point, std::string& why);
  // A resumed download that continues the file: the packets it already holds count as written,
  // so that finishing describes them all even when the stream is cut before their end.
  void NoteHeldPackets(int64_t highestIndex, uint32_t sendTime);

  // Brings the header up to date with the packets written so far: writes what is gathered,
  // fills the slots below the highest packet that no packet reached with padding packets, hands
  // the data to the disk and only then rewrites the header to describe those packets, so that a
  // power cut can leave packets the header does not count, never a count without its packets.
  // Writers go on while the data goes to the disk (the lock is not held), but the call itself may
  // wait for the disk: never make it on a thread that must keep receiving. Does nothing once the
  // file is finished or a write failed. True when the header was rewritten.
  bool Checkpoint();

  struct FinishResult {
    bool fixedUp = false;  // the three fix-ups ran
    bool header = false;
    bool timecode = false;
    bool index = false;
    bool closed = false;
    bool packetsWritten = true;  // false when gathered packets could not be written
  };
  // Marks the file finished and, when runFixUps is set and a packet was written, fills the slots
  // no packet reached with padding packets, rewrites the header fields with the highest packet
  // index + 1 and its time, stores the end timecode and appends the seek index, in that order;
  // then closes. Later calls only report closed = true.
  FinishResult Finish(TASF& asf, bool runFixUps);

  bool Finished() const;
  bool AnyPacketWritten() const;
  // The file was removed from its folder while open (its last name is gone): whatever is written
  // now is lost when it closes.
  bool Unlinked() const;
  int64_t HighestIndex() const;  // -1 before the first packet
  uint32_t HighestSendTime() const;

 private:
  bool FlushLocked();
  // After a failed write (a full disk): cuts the file to the header and the whole packets it
  // holds, and takes the highest index and time from the last of them, so that the fix-ups
  // describe exactly what is there.
  void TrimToWholePacketsLocked(const TASF& asf);
  // Keeps the record of unwritten slots as packet `index` is written.
  void NoteWrittenLocked(int64_t index, uint32_t sendTime);
  // Writes padding packets into at most maxSlots unwritten slots below `below` (all when
  // maxSlots is 0); returns how many it wrote, or -1 when a write failed.
  int64_t PadUnwrittenLocked(uint64_t firstPacketAt, uint32_t packetSize, int64_t below,
                             size_t maxSlots);
  // The header block at the start of the file (the Header Object and the Data Object's own
  // header) and where it places the packets.
  bool ReadHeaderLocked(std::vector<uint8_t>& block, AsfHeaderLayout& layout);

  mutable std::mutex mutex_;
  FileHandle file_;
  std::vector<uint8_t> gathered_;
  int64_t gathered_offset_ = 0;
  // Written data is handed to the disk in steps of this size; writeback_from_ is where the next
  // step begins.
  static constexpr int64_t kWritebackBytes = 8 << 20;
  int64_t writeback_from_ = 0;
  bool hand_to_disk_ = true;
  bool finished_ = false;
  bool write_failed_ = false;
  int64_t data_end_ = -1;  // the end of the last whole packet once trimmed
  int64_t highest_index_ = -1;
  uint32_t highest_time_ = 0;
  // Runs of slots below the highest packet that no packet was written to, by their first slot:
  // where they end, and the send time of the packet before them (a padding packet there keeps
  // the file's times in order). A run leaves once it is padded; a packet that comes later still
  // takes its slot.
  struct Unwritten {
    int64_t end = 0;
    uint32_t timeBefore = 0;
  };
  std::map<int64_t, Unwritten> unwritten_;
  // What the header on the disk describes since the last checkpoint, for a header written again.
  int64_t described_count_ = 0;
  uint32_t described_time_ = 0;
  uint64_t described_first_packet_ = 0;
};

}  // namespace qor
