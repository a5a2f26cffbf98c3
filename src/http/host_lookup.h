#pragma once
// A name lookup that does not hold up its caller. The resolver call itself cannot be interrupted,
// so it runs on a detached thread of its own and leaves its answer in a shared state; a caller that
// gives up (time-out or cancel) simply stops looking, and the thread ends when the resolver
// returns.

#include <sys/socket.h>

#include <memory>
#include <string>
#include <vector>

namespace qor {

class HostLookup {
 public:
  HostLookup() = default;
  HostLookup(const HostLookup&) = delete;
  HostLookup& operator=(const HostLookup&) = delete;

  // Starts looking up name. A thread that cannot be started counts as a failed lookup.
  void Start(const std::string& name);
  bool Done() const;
  // Readable once the lookup is done, so a caller can sleep on it beside other descriptors;
  // -1 before Start.
  int ReadyFd() const;
  // After Done(): the addresses found (both families, in the resolver's order), none when the
  // name has none.
  std::vector<sockaddr_storage> Addresses() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace qor
