#include "http/host_lookup.h"

#include <netdb.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace qor {

struct HostLookup::State {
  State() : ready(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~State() {
    if (ready >= 0) ::close(ready);
  }
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  void Finish(std::vector<sockaddr_storage> found) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      addresses = std::move(found);
      done = true;
    }
    if (ready >= 0) {
      const uint64_t one = 1;
      [[maybe_unused]] const ssize_t n = ::write(ready, &one, sizeof one);
    }
  }

  mutable std::mutex mutex;
  bool done = false;
  std::vector<sockaddr_storage> addresses;
  const int ready;
};

namespace {

std::vector<sockaddr_storage> Resolve(const std::string& name) {
  std::vector<sockaddr_storage> found;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* answer = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &answer) != 0 || answer == nullptr) return found;
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(answer, &::freeaddrinfo);
  for (const addrinfo* a = answer; a != nullptr; a = a->ai_next) {
    if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) ||
        a->ai_addrlen > sizeof(sockaddr_storage))
      continue;
    sockaddr_storage address{};
    std::memcpy(&address, a->ai_addr, a->ai_addrlen);
    found.push_back(address);
  }
  return found;
}

}  // namespace

void HostLookup::Start(const std::string& name) {
  auto state = std::make_shared<State>();
  state_ = state;
  try {
    std::thread([state, name] { state->Finish(Resolve(name)); }).detach();
  } catch (const std::system_error&) {
    state->Finish({});
  }
}

bool HostLookup::Done() const {
  if (!state_) return true;
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->done;
}

int HostLookup::ReadyFd() const {
  return state_ ? state_->ready : -1;
}

std::vector<sockaddr_storage> HostLookup::Addresses() const {
  if (!state_) return {};
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->addresses;
}

}  // namespace qor
