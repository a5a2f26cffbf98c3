#include "session/save_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "asf/asf.h"
#include "asf/asf_header_totals.h"

namespace qor {

namespace {

// Padding packets written in one call, and slots padded while the lock is held once: a long run
// of losses never holds up the writer for long.
constexpr size_t kPaddingBytesPerWrite = 256 * 1024;
constexpr size_t kPaddingSlotsPerHold = 256;

}  // namespace

TSaveFile::TSaveFile(FileHandle file) : file_(std::move(file)) {}

TSaveFile::~TSaveFile() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!finished_) FlushLocked();
  file_.Close();
}

bool TSaveFile::FlushLocked() {
  if (gathered_.empty()) return true;
  const bool written = file_.WriteAt(gathered_offset_, gathered_.data(), gathered_.size());
  if (written && hand_to_disk_) {
    // The recording goes to the disk as it grows rather than all at once at the end: closing a
    // file that replaced an older one's contents writes out everything still cached first (the
    // file system's guard for rewritten files), a long stall just when the download is done.
    const int64_t end = gathered_offset_ + static_cast<int64_t>(gathered_.size());
    if (end - writeback_from_ >= kWritebackBytes) {
      file_.StartWriteback(writeback_from_, end - writeback_from_);
      writeback_from_ = end;
    }
  }
  gathered_.clear();
  if (!written) write_failed_ = true;
  return written;
}

void TSaveFile::HandToDisk(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  hand_to_disk_ = on;
}

TSaveFile::WriteResult TSaveFile::Flush() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (finished_) return WriteResult::Dropped;
  return FlushLocked() ? WriteResult::Written : WriteResult::Failed;
}

std::shared_ptr<TSaveFile> TSaveFile::Open(const std::string& path, FileHandle::Mode mode,
                                           int* error) {
  FileHandle file;
  if (!file.Open(path, mode)) {
    if (error) *error = file.LastError();
    return nullptr;
  }
  if (error) *error = 0;
  return std::make_shared<TSaveFile>(std::move(file));
}

TSaveFile::WriteResult TSaveFile::WriteAt(int64_t offset, const void* data, size_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (finished_) return WriteResult::Dropped;
  if (!FlushLocked()) return WriteResult::Failed;
  if (file_.WriteAt(offset, data, count)) return WriteResult::Written;
  write_failed_ = true;
  return WriteResult::Failed;
}

TSaveFile::WriteResult TSaveFile::WriteHeader(const void* data, size_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (finished_) return WriteResult::Dropped;
  if (!FlushLocked()) return WriteResult::Failed;
  const auto* bytes = static_cast<const uint8_t*>(data);
  std::vector<uint8_t> header(bytes, bytes + count);
  AsfHeaderLayout layout;
  if (LocateAsfHeader(header.data(), header.size(), layout)) {
    // A header that places the packets elsewhere describes none of those written so far.
    if (layout.firstPacketAt != described_first_packet_) {
      described_count_ = 0;
      described_time_ = 0;
      described_first_packet_ = layout.firstPacketAt;
    }
    DescribeRecordingSoFar(header.data(), header.size(), static_cast<uint64_t>(described_count_),
                           described_time_);
  }
  if (file_.WriteAt(0, header.data(), header.size())) return WriteResult::Written;
  write_failed_ = true;
  return WriteResult::Failed;
}

TSaveFile::WriteResult TSaveFile::WritePacket(int64_t offset, const void* data, size_t count,
                                              int64_t index, uint32_t sendTime) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (finished_) return WriteResult::Dropped;
  const auto* bytes = static_cast<const uint8_t*>(data);
  const bool follows = !gathered_.empty() &&
                       offset == gathered_offset_ + static_cast<int64_t>(gathered_.size()) &&
                       gathered_.size() + count <= kGatherBytes;
  if (!follows) {
    // Anything else, a resent packet included, goes after what was gathered before it.
    if (!FlushLocked()) return WriteResult::Failed;
    gathered_offset_ = offset;
  }
  if (count >= kGatherBytes) {
    if (!file_.WriteAt(offset, data, count)) {
      write_failed_ = true;
      return WriteResult::Failed;
    }
  } else {
    gathered_.insert(gathered_.end(), bytes, bytes + count);
  }
  NoteWrittenLocked(index, sendTime);
  if (index >= highest_index_) {
    highest_index_ = index;
    highest_time_ = sendTime;
  }
  return WriteResult::Written;
}

void TSaveFile::NoteWrittenLocked(int64_t index, uint32_t sendTime) {
  if (index > highest_index_ + 1) {
    unwritten_.emplace(highest_index_ + 1, Unwritten{index, highest_time_});
    return;
  }
  if (index >= highest_index_ || unwritten_.empty()) return;
  auto run = unwritten_.upper_bound(index);
  if (run == unwritten_.begin()) return;
  --run;
  if (index >= run->second.end) return;
  // A late packet splits its run; the slots after it follow its time.
  const int64_t first = run->first;
  const Unwritten was = run->second;
  unwritten_.erase(run);
  if (first < index) unwritten_.emplace(first, Unwritten{index, was.timeBefore});
  if (index + 1 < was.end) unwritten_.emplace(index + 1, Unwritten{was.end, sendTime});
}

int64_t TSaveFile::PadUnwrittenLocked(uint64_t firstPacketAt, uint32_t packetSize, int64_t below,
                                      size_t maxSlots) {
  const size_t perWrite = std::max<size_t>(1, kPaddingBytesPerWrite / packetSize);
  std::vector<uint8_t> one(packetSize), packets;
  int64_t padded = 0;
  while (!unwritten_.empty() && unwritten_.begin()->first < below &&
         (maxSlots == 0 || static_cast<size_t>(padded) < maxSlots)) {
    const auto run = unwritten_.begin();
    const int64_t first = run->first;
    const Unwritten was = run->second;
    int64_t slots =
        std::min<int64_t>(std::min(was.end, below) - first, static_cast<int64_t>(perWrite));
    if (maxSlots > 0) slots = std::min<int64_t>(slots, static_cast<int64_t>(maxSlots) - padded);
    // Every padding packet of a run is the same: built once, repeated.
    if (!MakeAsfPaddingPacket(one.data(), one.size(), was.timeBefore)) return -1;
    packets.clear();
    for (int64_t k = 0; k < slots; ++k) packets.insert(packets.end(), one.begin(), one.end());
    if (!file_.WriteAt(static_cast<int64_t>(firstPacketAt) + first * packetSize, packets.data(),
                       packets.size()))
      return -1;
    unwritten_.erase(run);
    if (first + slots < was.end)
      unwritten_.emplace(first + slots, Unwritten{was.end, was.timeBefore});
    padded += slots;
  }
  return padded;
}

bool TSaveFile::ReadHeaderLocked(std::vector<uint8_t>& block, AsfHeaderLayout& layout) {
  uint8_t start[30];
  if (file_.ReadAt(0, start, sizeof start) != static_cast<int64_t>(sizeof start)) return false;
  uint64_t objectSize = 0;
  for (int i = 0; i < 8; ++i) objectSize |= static_cast<uint64_t>(start[16 + i]) << (8 * i);
  if (objectSize < sizeof start || objectSize > kMaxHeaderLength) return false;
  block.resize(static_cast<size_t>(objectSize + kDataObjectHeaderLength));
  return file_.ReadAt(0, block.data(), block.size()) == static_cast<int64_t>(block.size()) &&
         LocateAsfHeader(block.data(), block.size(), layout);
}

bool TSaveFile::Checkpoint() {
  int64_t count = 0;
  uint32_t lastTime = 0;
  AsfHeaderLayout before;
  int disk = -1;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    std::vector<uint8_t> header;
    if (finished_ || write_failed_ || highest_index_ < 0 || !FlushLocked() ||
        !ReadHeaderLocked(header, before))
      return false;
    // Every slot below the count is a packet or unwritten since before now: runs that open later
    // begin above it.
    count = highest_index_ + 1;
    lastTime = highest_time_;
    for (;;) {
      const int64_t padded =
          PadUnwrittenLocked(before.firstPacketAt, before.packetSize, count, kPaddingSlotsPerHold);
      if (padded < 0) return false;
      if (static_cast<size_t>(padded) < kPaddingSlotsPerHold) break;
      lock.unlock();
      lock.lock();
      if (finished_ || write_failed_) return false;
    }
    // Packets that filled slots meanwhile are below the count too.
    if (!FlushLocked()) return false;
    // A descriptor of its own, so that the file may be finished and closed meanwhile.
    disk = ::fcntl(file_.Descriptor(), F_DUPFD_CLOEXEC, 0);
    if (disk < 0) return false;
  }
  int synced;
  do {
    synced = ::fdatasync(disk);
  } while (synced != 0 && errno == EINTR);
  ::close(disk);
  if (synced != 0) return false;

  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<uint8_t> header;
  AsfHeaderLayout now;
  // The header may have been written again meanwhile; one that moved the packets is left alone.
  if (finished_ || write_failed_ || !ReadHeaderLocked(header, now) ||
      now.firstPacketAt != before.firstPacketAt || now.packetSize != before.packetSize ||
      !DescribeRecordingSoFar(header.data(), header.size(), static_cast<uint64_t>(count),
                              lastTime) ||
      !file_.WriteAt(0, header.data(), header.size()))
    return false;
  described_count_ = count;
  described_time_ = lastTime;
  described_first_packet_ = now.firstPacketAt;
  return true;
}

int64_t TSaveFile::ReadAt(int64_t offset, void* buffer, size_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (finished_) return 0;
  if (!FlushLocked()) return -1;
  return file_.ReadAt(offset, buffer, count);
}

int64_t TSaveFile::Size() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (finished_ || !FlushLocked()) return -1;
  return file_.Size();
}

bool TSaveFile::GetLastTimeCode(TASF& asf, uint32_t& timecode) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (finished_ || !FlushLocked()) return false;
  return asf.GetLastTimeCode(file_, timecode);
}

bool TSaveFile::TruncateTo(int64_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (finished_ || !FlushLocked()) return false;
  const int64_t size = file_.Size();
  return size >= 0 && (size <= length || file_.Truncate(length));
}

bool TSaveFile::FindResumePoint(AsfResumePoint& point, std::string& why) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int64_t size = finished_ || !FlushLocked() ? -1 : file_.Size();
  if (size < 0) {
    why = "the file cannot be read";
    return false;
  }
  const auto readAt = [this](uint64_t offset, void* buffer, size_t count) {
    return file_.ReadAt(static_cast<int64_t>(offset), buffer, count);
  };
  return FindAsfResumePoint(readAt, static_cast<uint64_t>(size), point, why);
}

void TSaveFile::NoteHeldPackets(int64_t highestIndex, uint32_t sendTime) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (highestIndex > highest_index_) {
    highest_index_ = highestIndex;
    highest_time_ = sendTime;
  }
}

TSaveFile::FinishResult TSaveFile::Finish(TASF& asf, bool runFixUps) {
  std::lock_guard<std::mutex> lock(mutex_);
  FinishResult result;
  if (finished_) {
    result.closed = true;
    return result;
  }
  finished_ = true;
  result.packetsWritten = FlushLocked() && !write_failed_;
  if (write_failed_) TrimToWholePacketsLocked(asf);
  if (runFixUps && highest_index_ >= 0) {
    result.fixedUp = true;
    // A resumed file may end in the index of an earlier finishing or in part of a packet a killed
    // download left: the packets end at the highest one, and one index follows them.
    const int64_t packetsEnd = static_cast<int64_t>(asf.FirstPacketOffset()) +
                               (highest_index_ + 1) * static_cast<int64_t>(asf.PacketSize);
    if (asf.PacketSize > 0 && asf.DataObjectOffset > 0 && file_.Size() > packetsEnd)
      file_.Truncate(packetsEnd);
    // The header counts every slot up to the highest packet: one that no packet reached becomes
    // a packet of padding, never zeros a reader takes for a broken packet. Padding that cannot
    // be written (a full disk) leaves the slot as it is.
    if (asf.PacketSize > 0 && asf.DataObjectOffset > 0)
      PadUnwrittenLocked(asf.FirstPacketOffset(), asf.PacketSize, highest_index_ + 1, 0);
    // Each step runs whatever the previous one gave.
    result.header =
        asf.FixHeaderOnCompleted(file_, static_cast<uint64_t>(highest_index_) + 1, highest_time_);
    result.timecode = asf.SetLastTimeCode(file_, highest_time_);
    result.index = asf.WriteIndexObject(file_);
    // An index that found no room would leave part of an object behind the packets.
    if (!result.index && data_end_ >= 0) file_.Truncate(data_end_);
  }
  result.closed = file_.Close();
  return result;
}

void TSaveFile::TrimToWholePacketsLocked(const TASF& asf) {
  const uint64_t first = asf.FirstPacketOffset();
  const uint32_t packetSize = asf.PacketSize;
  const int64_t size = file_.Size();
  if (packetSize == 0 || first <= kDataObjectHeaderLength || size < 0) return;
  const uint64_t whole =
      static_cast<uint64_t>(size) > first ? (static_cast<uint64_t>(size) - first) / packetSize : 0;
  data_end_ = static_cast<int64_t>(first + whole * packetSize);
  if (data_end_ < size) file_.Truncate(data_end_);
  const int64_t last = static_cast<int64_t>(whole) - 1;
  if (highest_index_ <= last) return;
  highest_index_ = last;
  highest_time_ = 0;
  if (last < 0) return;
  std::vector<uint8_t> packet(packetSize);
  AsfPacketTimes times;
  if (file_.ReadAt(static_cast<int64_t>(first) + last * packetSize, packet.data(), packetSize) ==
          static_cast<int64_t>(packetSize) &&
      ReadAsfPacketTimes(packet.data(), packet.size(), times))
    highest_time_ = times.sendTime;
}

bool TSaveFile::Finished() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_;
}

bool TSaveFile::AnyPacketWritten() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return highest_index_ >= 0;
}

bool TSaveFile::Unlinked() const {
  std::lock_guard<std::mutex> lock(mutex_);
  struct stat info {};
  return file_.IsOpen() && ::fstat(file_.Descriptor(), &info) == 0 && info.st_nlink == 0;
}

int64_t TSaveFile::HighestIndex() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return highest_index_;
}

uint32_t TSaveFile::HighestSendTime() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return highest_time_;
}

}  // namespace qor
