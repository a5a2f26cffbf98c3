#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <mutex>
#include <thread>
#include <utility>

#include "platform/desktop.h"

extern char** environ;

namespace qor {

namespace {

// The values the desktop shell call gave: above 32 is success.
constexpr int kOpened = 42;
constexpr int kFileNotFound = 2;    // the opener could not be started

std::mutex& OpenerMutex() {
  static std::mutex mutex;
  return mutex;
}

ShellOpener& InstalledOpener() {
  static ShellOpener opener;
  return opener;
}

int SpawnXdgOpen(const std::string& target) {
  std::string program = "xdg-open";
  std::string argument = target;
  char* argv[] = {program.data(), argument.data(), nullptr};
  // The opener starts with default signal handling and nothing blocked, whatever this thread
  // ignores or blocks (a program ignoring SIGPIPE would hand that on to the player).
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  // An argument vector, never a shell: the target's spaces and quotes stay its own.
  int spawned = posix_spawnp(&pid, "xdg-open", nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) return kFileNotFound;
  // The opener may run the player in the foreground for as long as it plays; waiting for it here
  // would stall the window thread (its timers and the transports' handovers). A thread of its own
  // reaps it, so no zombie is left behind.
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return kOpened;
}

}  // namespace

int ShellOpen(const std::string& target) {
  ShellOpener opener;
  {
    std::lock_guard<std::mutex> lock(OpenerMutex());
    opener = InstalledOpener();
  }
  return opener ? opener(target) : SpawnXdgOpen(target);
}

void SetShellOpener(ShellOpener opener) {
  std::lock_guard<std::mutex> lock(OpenerMutex());
  InstalledOpener() = std::move(opener);
}

}  // namespace qor
