#include "session/mms_test_support.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace qor::testing {

TMMS& NewMmsSession(SessionHarness& h, int port, const std::string& path,
                    const std::string& savePath, const MmsOptions& options) {
  TMMS& s = h.NewHttpSession(port, path, savePath, options.resume, options.offsetMs);
  s.ProtocolFlags = options.udp ? pfMmsUdp : pfMmsTcp;
  s.ConnectPort = port;
  if (options.udp) {
    s.UdpPort = FreeUdpPort();
    s.MaxUdpSize = 65535;
  }
  return s;
}

int FreeUdpPort() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

int FindText(const SessionHarness& h, const std::string& text, int from) {
  const auto& log = h.Log();
  for (size_t i = static_cast<size_t>(std::max(from, 0)); i < log.size(); ++i)
    if (log[i].text == text) return static_cast<int>(i);
  return -1;
}

bool LoggedInOrder(const SessionHarness& h, const std::vector<std::string>& texts) {
  int at = 0;
  for (const std::string& text : texts) {
    const int found = FindText(h, text, at);
    if (found < 0) return false;
    at = found + 1;
  }
  return true;
}

std::string LogText(const SessionHarness& h) {
  std::string all;
  for (const MessagePair& p : h.Log()) all += "[" + std::to_string(p.code) + "] " + p.text + "\n";
  return all;
}

PacketMatch ComparePackets(const std::string& sourcePath, const std::string& savedPath) {
  const AsfLayout source = ReadAsfLayout(sourcePath);
  const AsfLayout saved = ReadAsfLayout(savedPath);
  PacketMatch match;
  match.source = source.packets.size();
  match.saved = saved.packets.size();
  for (size_t i = 0; i < source.packets.size(); ++i) {
    if (i < saved.packets.size() && saved.packets[i] == source.packets[i]) {
      ++match.equal;
    } else {
      match.differing.push_back(i);
    }
  }
  return match;
}

}  // namespace qor::testing
