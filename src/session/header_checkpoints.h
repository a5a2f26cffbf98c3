#pragma once
// Keeps a recording's header describing what is on the disk while the download runs: every
// kMediaMs of media, and at least every kBytes, the save file is asked for a checkpoint
// (TSaveFile::Checkpoint); sooner while the recording is young (kFirstMediaMs after its first
// packet, then each time its media has doubled), so that a file cut in its first seconds does
// not leave most of what it holds uncounted. The checkpoint hands the file's data to the disk
// before it rewrites the header, which can wait for the disk for a long time; it runs on a
// thread of its own, so the receive loop never waits for it (a loop that waits for the disk
// loses datagrams over UDP). A request while a checkpoint runs is taken up when it ends, once,
// with the newest packets.
//
// Handing the data to the disk is most of what a checkpoint costs (the system would otherwise
// do it later, on its own time): about 0.2 ms of CPU on a small stream. Every five seconds that
// is within a few per cent of what recording a slow live stream costs at all.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace qor {

class TSaveFile;

class HeaderCheckpoints {
 public:
  // Between two checkpoints a cut file holds at most this much that its header does not count.
  static constexpr uint32_t kMediaMs = 5000;
  static constexpr uint32_t kFirstMediaMs = 500;
  static constexpr uint64_t kBytes = 8ull << 20;

  HeaderCheckpoints() = default;
  HeaderCheckpoints(const HeaderCheckpoints&) = delete;
  HeaderCheckpoints& operator=(const HeaderCheckpoints&) = delete;
  // Waits for a checkpoint that is running; one only asked for is dropped (the file is being
  // finished, which describes it anyway).
  ~HeaderCheckpoints();

  // A new download (whose header describes no packet yet).
  void Begin();
  // After packet `index` (sent at sendTime, of packetSize bytes) was written to file: asks for
  // a checkpoint when one is due. Cheap when none is; never waits for the disk.
  void PacketWritten(const std::shared_ptr<TSaveFile>& file, int64_t index, uint32_t sendTime,
                     uint32_t packetSize);

 private:
  void Request(const std::shared_ptr<TSaveFile>& file);
  void Run();

  // Session thread only.
  bool started_ = false;
  uint32_t first_time_ = 0;
  int64_t next_index_ = 0;
  uint32_t next_time_ = 0;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::shared_ptr<TSaveFile> pending_;
  bool stopping_ = false;
  std::thread thread_;  // started at the first request
};

}  // namespace qor
