#pragma once
// A TCP relay between one client and the real server that can change what the server says: every
// unit the server sends passes through a hook that may alter it, drop it, add units after it, or
// cut the connection in the middle of it. What the client sends goes through unchanged and its
// command ids are recorded.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qor::testing {

class MmsRelay {
 public:
  using Unit = std::vector<uint8_t>;
  struct Action {
    std::vector<Unit> send;  // what goes to the client instead of the unit (in order)
    // When set, only this many bytes of `send` (joined) go out, then both connections close.
    long cutAfter = -1;
  };
  using Hook = std::function<Action(const Unit& unit)>;

  MmsRelay(int serverPort, Hook hook);
  ~MmsRelay();
  MmsRelay(const MmsRelay&) = delete;
  MmsRelay& operator=(const MmsRelay&) = delete;

  int Port() const { return port_; }
  // Command ids the client sent, in order.
  std::vector<uint16_t> ClientCommands() const;

  static bool IsCommand(const Unit& unit);
  static uint8_t CommandId(const Unit& unit) { return unit.size() > 36 ? unit[36] : 0; }
  static bool IsMedia(const Unit& unit) {
    return !IsCommand(unit) && unit.size() > 4 && unit[4] == 0x04;
  }
  static void StoreU32(Unit& unit, size_t at, uint32_t value);

 private:
  void Run();
  void ClientToServer(int client, int server);

  int listener_ = -1;
  int port_ = 0;
  int server_port_;
  Hook hook_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<uint16_t> client_commands_;
};

}  // namespace qor::testing
