#include "session/mms_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace qor::testing {

namespace {

bool SendAll(int fd, const uint8_t* data, size_t length) {
  while (length > 0) {
    const ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Length of the unit at the start of buffer, or 0 while it is not known yet.
size_t UnitLength(const std::vector<uint8_t>& buffer) {
  if (buffer.size() < 8) return 0;
  if (MmsRelay::IsCommand(buffer)) return buffer.size() < 12 ? 0 : LoadU32(buffer.data() + 8) + 16;
  return static_cast<size_t>(buffer[6] | (buffer[7] << 8));
}

}  // namespace

bool MmsRelay::IsCommand(const Unit& unit) {
  return unit.size() >= 8 && unit[4] == 0xCE && unit[5] == 0xFA && unit[6] == 0x0B &&
         unit[7] == 0xB0;
}

void MmsRelay::StoreU32(Unit& unit, size_t at, uint32_t value) {
  if (unit.size() < at + 4) unit.resize(at + 4, 0);
  for (int i = 0; i < 4; ++i) unit[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

MmsRelay::MmsRelay(int serverPort, Hook hook) : server_port_(serverPort), hook_(std::move(hook)) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      listen(listener_, 1) == 0 &&
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) == 0)
    port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Run(); });
}

MmsRelay::~MmsRelay() {
  stop_ = true;
  thread_.join();
  close(listener_);
}

std::vector<uint16_t> MmsRelay::ClientCommands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return client_commands_;
}

void MmsRelay::Run() {
  pollfd wait{listener_, POLLIN, 0};
  while (!stop_ && poll(&wait, 1, 50) <= 0) {
  }
  if (stop_) return;
  const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  if (client < 0) return;
  const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(server_port_));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(client);
    close(server);
    return;
  }
  std::vector<uint8_t> fromServer, fromClient;
  uint8_t block[65536];
  bool open = true;
  // Takes the client's whole units off fromClient, noting each command; forward says whether
  // they still go on to the server.
  const auto takeClientUnits = [&](bool forward) {
    for (size_t length = UnitLength(fromClient); length != 0 && fromClient.size() >= length;
         length = UnitLength(fromClient)) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (IsCommand(fromClient) && length > 37)
          client_commands_.push_back(static_cast<uint16_t>(fromClient[36] | (fromClient[37] << 8)));
      }
      if (forward && !SendAll(server, fromClient.data(), length)) open = false;
      fromClient.erase(fromClient.begin(), fromClient.begin() + static_cast<long>(length));
    }
  };
  while (open && !stop_) {
    pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    if (poll(fds, 2, 50) <= 0) continue;
    if (fds[0].revents) {
      const ssize_t n = recv(client, block, sizeof block, 0);
      if (n <= 0) break;
      fromClient.insert(fromClient.end(), block, block + n);
      takeClientUnits(true);
    }
    if (fds[1].revents) {
      const ssize_t n = recv(server, block, sizeof block, 0);
      if (n <= 0) break;
      fromServer.insert(fromServer.end(), block, block + n);
      for (size_t length = UnitLength(fromServer);
           open && length != 0 && fromServer.size() >= length; length = UnitLength(fromServer)) {
        const Unit unit(fromServer.begin(), fromServer.begin() + static_cast<long>(length));
        fromServer.erase(fromServer.begin(), fromServer.begin() + static_cast<long>(length));
        const Action action = hook_ ? hook_(unit) : Action{{unit}, -1};
        std::vector<uint8_t> out;
        for (const Unit& u : action.send) out.insert(out.end(), u.begin(), u.end());
        if (action.cutAfter >= 0) {
          SendAll(client, out.data(), std::min(out.size(), static_cast<size_t>(action.cutAfter)));
          open = false;
        } else if (!SendAll(client, out.data(), out.size())) {
          open = false;
        }
      }
    }
  }
  // What the client had already sent when the loop ended still counts (the server may close
  // in the same moment as a reply of the client's arrives).
  for (ssize_t n; (n = recv(client, block, sizeof block, MSG_DONTWAIT)) > 0;) {
    fromClient.insert(fromClient.end(), block, block + n);
    takeClientUnits(false);
  }
  shutdown(client, SHUT_RDWR);
  close(client);
  close(server);
}

}  // namespace qor::testing
