#include "app/browser_proxy.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "support/helper.h"
#include "support/location.h"

extern char** environ;

namespace qor {

namespace {

// What a program prints on its output (at most 4 KiB), or none when it cannot be started, fails
// or takes longer than two seconds. Started with an argument vector, its errors thrown away.
std::optional<std::string> ProgramOutput(std::vector<std::string> arguments) {
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe[1]);
  if (spawned != 0) {
    ::close(pipe[0]);
    return std::nullopt;
  }
  std::string output;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  bool ended = false;
  while (!ended && output.size() < 4096) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd wait{pipe[0], POLLIN, 0};
    if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[512];
    const ssize_t n = ::read(pipe[0], buffer, sizeof buffer);
    if (n > 0) {
      output.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      ended = true;
    }
  }
  ::close(pipe[0]);
  if (!ended) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!ended || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return output;
}

// One value as gsettings prints it ('text' or a number), without quotes; empty when unknown.
std::string GnomeSetting(const char* schema, const char* key) {
  const std::optional<std::string> printed = ProgramOutput({"gsettings", "get", schema, key});
  if (!printed) return std::string();
  std::string value = THelper::Trim(*printed);
  if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'')
    value = value.substr(1, value.size() - 2);
  return value;
}

}  // namespace

std::string StripProxyAddress(const std::string& address) {
  std::string text = THelper::Trim(address);
  // Read as the authority of a location, whatever scheme it names or leaves out.
  if (text.find("://") == std::string::npos) text = "http://" + text;
  Location parts;
  ParseLocation(text, parts);
  return parts.host + (parts.hasPort ? ":" + parts.portText : std::string());
}

std::string DesktopProxyValue() {
  if (GnomeSetting("org.gnome.system.proxy", "mode") != "manual") return std::string();
  const std::string host = StripProxyAddress(GnomeSetting("org.gnome.system.proxy.http", "host"));
  if (host.empty()) return std::string();
  return host + ":" + GnomeSetting("org.gnome.system.proxy.http", "port");
}

std::string BrowserProxyValue() {
  for (const char* name : {"http_proxy", "HTTP_PROXY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return StripProxyAddress(value);
  }
  return DesktopProxyValue();
}

std::optional<ProxySplit> SplitProxyValue(const std::string& value) {
  // The colons of an IPv6 literal are inside its brackets.
  const size_t close = value.find(']');
  const size_t colon = value.find(
      ':', THelper::Trim(value).starts_with('[') && close != std::string::npos ? close : 0);
  if (colon == std::string::npos) return std::nullopt;
  return ProxySplit{THelper::Trim(value.substr(0, colon)), THelper::Trim(value.substr(colon + 1))};
}

}  // namespace qor
