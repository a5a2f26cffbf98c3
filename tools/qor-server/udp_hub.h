#pragma once
// The server's UDP side: media datagrams go out from the socket bound to the MMS port, and resend
// requests that arrive on it are answered from each client's window of recent datagrams.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <netinet/in.h>

#include "socket_io.h"
#include "wire.h"

namespace qor::server {

class RequestLog;

// One client's UDP stream.
class UdpStream {
 public:
  // Datagrams kept for resends. The client asks only once it has read what its socket buffer
  // (several megabytes) held before the gap, and an unpaced stream sends thousands meanwhile.
  static constexpr size_t kWindow = 16384;
  UdpStream(uint64_t connection, uint32_t clientId, const sockaddr_storage& to, bool answerResends)
      : connection_(connection), clientId_(clientId), to_(to), answerResends_(answerResends) {}
  uint64_t Connection() const { return connection_; }
  uint32_t ClientId() const { return clientId_; }
  const sockaddr_storage& Destination() const { return to_; }
  bool AnswersResends() const { return answerResends_; }
  // Builds datagram number sequence with build(Bytes&) where it is kept for resends (the last
  // kWindow of them, by sequence, in reused storage) and gives it back to be sent. Only the
  // stream's own session writes the slots, so it may read what it built outside the lock.
  template <class Build>
  const Bytes& Keep(uint32_t sequence, const Build& build) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot& slot = SlotFor(sequence);
    build(slot.datagram);
    return slot.datagram;
  }
  bool Find(uint32_t sequence, Bytes& datagram) const;
  uint64_t ResendsAnswered() const { return answered_.load(); }
  void CountAnswered() { answered_.fetch_add(1); }

 private:
  uint64_t connection_;
  uint32_t clientId_;
  sockaddr_storage to_;
  bool answerResends_;
  struct Slot {
    bool used = false;
    uint32_t sequence = 0;
    Bytes datagram;
  };
  // Made empty for the datagram numbered sequence (mutex_ held).
  Slot& SlotFor(uint32_t sequence);
  mutable std::mutex mutex_;
  std::vector<Slot> window_;  // by sequence modulo kWindow, made at the first datagram
  std::atomic<uint64_t> answered_{0};
};

class UdpHub {
 public:
  ~UdpHub() { Stop(); }
  bool Start(const std::string& host, uint16_t port, RequestLog& log, std::string& error);
  // A second socket, of the other family, for the clients that come that way.
  bool Add(const std::string& host, uint16_t port, std::string& error);
  void Stop();
  bool Running() const { return socket_.Valid(); }
  void Register(const std::shared_ptr<UdpStream>& stream);
  void Unregister(uint32_t clientId);
  bool Send(const sockaddr_storage& to, const Bytes& datagram);

 private:
  void ReceiveLoop(const Socket& socket);
  Socket socket_;
  Socket other_;  // of the other family, when added
  std::thread other_thread_;
  RequestLog* log_ = nullptr;
  std::unique_ptr<StopSignal> stop_;
  std::thread thread_;
  std::mutex mutex_;
  std::map<uint32_t, std::shared_ptr<UdpStream>> streams_;
};

}  // namespace qor::server
