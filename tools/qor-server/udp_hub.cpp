#include "udp_hub.h"

#include <poll.h>
#include <sys/socket.h>

#include "data_units.h"
#include "request_log.h"

namespace qor::server {

UdpStream::Slot& UdpStream::SlotFor(uint32_t sequence) {
  if (window_.empty()) window_.resize(kWindow);
  Slot& slot = window_[sequence % kWindow];
  slot.used = true;
  slot.sequence = sequence;
  slot.datagram.clear();  // its storage is reused
  return slot;
}

bool UdpStream::Find(uint32_t sequence, Bytes& datagram) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (window_.empty()) return false;
  const Slot& slot = window_[sequence % kWindow];
  if (!slot.used || slot.sequence != sequence) return false;
  datagram = slot.datagram;
  return true;
}

bool UdpHub::Start(const std::string& host, uint16_t port, RequestLog& log, std::string& error) {
  log_ = &log;
  if (!OpenListener(host, port, true, socket_, error)) return false;
  stop_ = std::make_unique<StopSignal>();
  thread_ = std::thread([this] { ReceiveLoop(socket_); });
  return true;
}

bool UdpHub::Add(const std::string& host, uint16_t port, std::string& error) {
  if (!stop_ || other_.Valid() || !OpenListener(host, port, true, other_, error)) return false;
  other_thread_ = std::thread([this] { ReceiveLoop(other_); });
  return true;
}

void UdpHub::Stop() {
  if (stop_) stop_->Raise();
  for (std::thread* t : {&thread_, &other_thread_})
    if (t->joinable()) t->join();
  socket_.Close();
  other_.Close();
}

void UdpHub::Register(const std::shared_ptr<UdpStream>& stream) {
  std::lock_guard<std::mutex> lock(mutex_);
  streams_[stream->ClientId()] = stream;
}

void UdpHub::Unregister(uint32_t clientId) {
  std::lock_guard<std::mutex> lock(mutex_);
  streams_.erase(clientId);
}

bool UdpHub::Send(const sockaddr_storage& to, const Bytes& datagram) {
  // From the socket of the client's family: the one its control connection came in on.
  sockaddr_storage own{};
  socklen_t length = sizeof own;
  const bool other = other_.Valid() &&
                     getsockname(other_.Fd(), reinterpret_cast<sockaddr*>(&own), &length) == 0 &&
                     own.ss_family == to.ss_family;
  return ::sendto(other ? other_.Fd() : socket_.Fd(), datagram.data(), datagram.size(),
                  MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to),
                  AddressSize(to)) == static_cast<ssize_t>(datagram.size());
}

void UdpHub::ReceiveLoop(const Socket& socket) {
  uint8_t buffer[2048];
  for (;;) {
    const int ready = WaitFor(socket.Fd(), POLLIN, -1, stop_.get());
    if (ready < 0) return;  // stopped
    if (ready == 0) continue;
    sockaddr_storage from{};
    socklen_t length = sizeof from;
    const ssize_t n = ::recvfrom(socket.Fd(), buffer, sizeof buffer, 0,
                                 reinterpret_cast<sockaddr*>(&from), &length);
    if (n <= 0) continue;
    ResendRequest request;
    if (!ParseResendRequest(buffer, static_cast<size_t>(n), request)) {
      log_->Add(0, "udp-garbage", std::to_string(n) + " bytes from " + AddressText(from));
      continue;
    }
    std::shared_ptr<UdpStream> stream;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const auto it = streams_.find(request.clientId);
      if (it != streams_.end()) stream = it->second;
    }
    if (!stream) {
      log_->Add(0, "udp-resend-unknown-client", std::to_string(request.clientId));
      continue;
    }
    for (uint32_t sequence : request.sequences) {
      Bytes datagram;
      const bool have = stream->Find(sequence, datagram);
      const bool answer = have && stream->AnswersResends();
      log_->Add(stream->Connection(), "udp-resend",
                std::to_string(sequence) + (answer ? " answered"
                                            : have ? " ignored"
                                                   : " unknown"));
      if (answer && Send(stream->Destination(), datagram)) stream->CountAnswered();
    }
  }
}

}  // namespace qor::server
