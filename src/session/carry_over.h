#pragma once
// The first packets of the next play-list entry. A live server sends them on the connection that
// announced the change, while the window is still finishing the old file and connecting again; a
// new connection joins the broadcast where it is by then, past the entry's first packet (its key
// frame). The old session keeps those packets here, and the session that records the next entry
// takes them and starts its file with them.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace qor {

class CarryOver {
 public:
  // Bounds what is kept while nobody takes it.
  static constexpr size_t kMaxPackets = 1024;
  static constexpr size_t kMaxBytes = 16 * 1024 * 1024;

  struct Packet {
    uint32_t location = 0;  // the server's location id (packet sequence)
    std::vector<uint8_t> bytes;
  };

  // Old session, when it reports the change: the last location id the ended entry wrote.
  void SetPreviousLast(uint32_t location);
  // Old session: keeps a packet of the next entry; false once taken or full.
  bool Keep(uint32_t location, const uint8_t* data, size_t length);
  // New session: takes what was kept; nothing is kept afterwards.
  std::vector<Packet> Take();
  // New session, at its own first packet (location first): the old connection delivers the same
  // broadcast, and its session may not have kept the packets just before first yet. Waits until
  // it has (or can keep no more), at most bound, ending early when stopped() says so; then takes.
  std::vector<Packet> TakeBefore(uint32_t first, std::chrono::milliseconds bound,
                                 const std::function<bool()>& stopped);
  // Wakes a TakeBefore in progress so it looks at its stop condition again (any thread).
  void Interrupt();
  bool Taken() const;
  // The previous entry's last location id, when known: packets up to it are not the next
  // entry's.
  bool PreviousLast(uint32_t& location) const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable kept_;
  std::vector<Packet> packets_;
  size_t bytes_ = 0;
  bool taken_ = false;
  bool have_previous_ = false;
  uint32_t previous_last_ = 0;
};

}  // namespace qor
