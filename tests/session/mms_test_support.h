#pragma once
// MMS sessions for the download tests: a harness session pointed at the real server's MMS port,
// media over TCP or UDP.

#include <string>
#include <vector>

#include "session/session_harness.h"
#include "session/session_test_support.h"

namespace qor::testing {

struct MmsOptions {
  bool udp = false;
  bool resume = false;
  uint32_t offsetMs = 0;
};

TMMS& NewMmsSession(SessionHarness& h, int port, const std::string& path,
                    const std::string& savePath, const MmsOptions& options = {});

// A UDP port that was free a moment ago (the session's receiver binds a fixed port).
int FreeUdpPort();

// Index of the first logged text equal to text at or after from; -1 when there is none.
int FindText(const SessionHarness& h, const std::string& text, int from = 0);
// True when every text appears in the log in this order.
bool LoggedInOrder(const SessionHarness& h, const std::vector<std::string>& texts);
// The whole log, one line per pair, for failure output.
std::string LogText(const SessionHarness& h);

// Packets of the saved file that equal the source's, and the number the source has.
struct PacketMatch {
  size_t source = 0;
  size_t saved = 0;
  size_t equal = 0;
  std::vector<size_t> differing;  // indices of the source's packets not saved equal
};
PacketMatch ComparePackets(const std::string& sourcePath, const std::string& savedPath);

}  // namespace qor::testing
