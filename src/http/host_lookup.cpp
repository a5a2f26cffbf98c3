#include "http/host_lookup.h"

#include <netdb.h>
#include <sys/socket.h>

#include <mutex>
#include <system_error>
#include <thread>

namespace qor {

struct HostLookup::State {
  mutable std::mutex mutex;
  bool done = false;
  bool found = false;
  in_addr address{};
};

namespace {

void Resolve(const std::string& name, bool& found, in_addr& address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* answer = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &answer) != 0 || answer == nullptr) return;
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(answer, &::freeaddrinfo);
  address = reinterpret_cast<const sockaddr_in*>(answer->ai_addr)->sin_addr;
  found = true;
}

}  // namespace

void HostLookup::Start(const std::string& name) {
  auto state = std::make_shared<State>();
  state_ = state;
  try {
    std::thread([state, name] {
      bool found = false;
      in_addr address{};
      Resolve(name, found, address);
      std::lock_guard<std::mutex> lock(state->mutex);
      state->found = found;
      state->address = address;
      state->done = true;
    }).detach();
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lock(state->mutex);
    state->done = true;
  }
}

bool HostLookup::Done() const {
  if (!state_) return true;
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->done;
}

bool HostLookup::Found(in_addr& address) const {
  if (!state_) return false;
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (!state_->found) return false;
  address = state_->address;
  return true;
}

}  // namespace qor
