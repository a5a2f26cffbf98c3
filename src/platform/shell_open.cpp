#include <errno.h>
#include <spawn.h>
#include <sys/wait.h>

#include <mutex>
#include <utility>

#include "platform/desktop.h"

extern char** environ;

namespace qor {

namespace {

// The values the desktop shell call gave: above 32 is success.
constexpr int kOpened = 42;
constexpr int kFileNotFound = 2;    // the opener could not be started
constexpr int kNoAssociation = 31;  // it ran but could not open the target

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
  pid_t pid = 0;
  // An argument vector, never a shell: the target's spaces and quotes stay its own.
  if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0) return kFileNotFound;
  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited != pid) return kNoAssociation;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return kOpened;
  // 127 is how a spawn that found no program shows up when the C library reports it late.
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) return kFileNotFound;
  return kNoAssociation;
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
