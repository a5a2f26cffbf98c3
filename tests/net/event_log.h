#pragma once
// Records transport events in the order they arrive and whether each ran on the window thread.
// Handlers run on the window thread and the test reads on it too, so no lock is needed; a
// handler run elsewhere is both flagged here and a data race the thread sanitizer reports.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "net/tcp_client.h"
#include "net/udp_receiver.h"
#include "platform/window_thread.h"

namespace qor::test {

struct EventLog {
  explicit EventLog(WindowThread& windowThread) : window(windowThread) {}

  void Add(const std::string& event) {
    if (!window.IsWindowThread()) offWindowThread = true;
    events.push_back(event);
  }
  bool Has(const std::string& event) const {
    return std::find(events.begin(), events.end(), event) != events.end();
  }
  size_t Count(const std::string& event) const {
    return static_cast<size_t>(std::count(events.begin(), events.end(), event));
  }

  WindowThread& window;
  std::vector<std::string> events;  // data blocks are not listed one by one: see dataBytes
  bool offWindowThread = false;
  uint64_t dataBytes = 0;
  uint64_t dataBlocks = 0;
};

// Wires every TTCP event into the log; data is counted, and a "Data" entry marks the first block.
inline void Record(TTCP& tcp, EventLog& log) {
  tcp.OnConnecting = [&log](TTCP*) { log.Add("Connecting"); };
  tcp.OnResolving = [&log](TTCP*) { log.Add("Resolving"); };
  tcp.OnConnected = [&log](TTCP*) { log.Add("Connected"); };
  tcp.OnData = [&log](TTCP*, const uint8_t*, int32_t length) {
    if (log.dataBlocks++ == 0) log.Add("Data");
    if (!log.window.IsWindowThread()) log.offWindowThread = true;
    log.dataBytes += static_cast<uint64_t>(length);
  };
  tcp.OnMessage = [&log](TTCP*, const std::string& text, int32_t code) {
    log.Add("Message " + std::to_string(code) + " " + text);
  };
  tcp.OnDisconnected = [&log](TTCP*) { log.Add("Disconnected"); };
}

}  // namespace qor::test
