#pragma once
// A name lookup that does not hold up its caller. The resolver call itself cannot be interrupted,
// so it runs on a detached thread of its own and leaves its answer in a shared state; a caller that
// gives up (time-out or cancel) simply stops looking, and the thread ends when the resolver
// returns.

#include <netinet/in.h>

#include <memory>
#include <string>

namespace qor {

class HostLookup {
 public:
  HostLookup() = default;
  HostLookup(const HostLookup&) = delete;
  HostLookup& operator=(const HostLookup&) = delete;

  // Starts looking up name (IPv4 only). A thread that cannot be started counts as a failed lookup.
  void Start(const std::string& name);
  bool Done() const;
  // After Done(): true with the first address found, false when the name has none.
  bool Found(in_addr& address) const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace qor
