#pragma once
// Runs the qor-cli program as a child process: arguments, an environment of its own, stderr
// and stdout kept, and an optional signal (SIGINT unless told) once a condition holds.

#include <csignal>
#include <functional>
#include <string>
#include <vector>

namespace qor::testing {

struct CliResult {
  int status = -1;  // exit status; 128 + n when killed by signal n
  std::string out;
  std::string err;
};

struct CliRun {
  std::vector<std::string> args;
  std::string workDir;
  // Extra "NAME=value" entries; NO_COLOR and a private XDG_CONFIG_HOME are always set.
  std::vector<std::string> env;
  // Polled every 20 ms while the program runs; when it first holds, interruptSignal is sent.
  std::function<bool()> interruptWhen;
  int interruptSignal = SIGINT;
  int timeoutSeconds = 120;
};

CliResult RunCli(const CliRun& run);

// A loopback port that takes connections into its queue and never answers; with full set the
// queue is already full, so a connection is never made at all.
class SilentPort {
 public:
  explicit SilentPort(bool full);
  ~SilentPort();
  SilentPort(const SilentPort&) = delete;
  SilentPort& operator=(const SilentPort&) = delete;
  int Port() const { return port_; }
  std::string Location() const { return "mms://127.0.0.1:" + std::to_string(port_) + "/x.wmv"; }

 private:
  int fd_ = -1, filler_ = -1, port_ = 0;
};

std::string SampleMedia(const std::string& name);
double ProbeDuration(const std::string& path);
long long FileSize(const std::string& path);
std::string ReadFile(const std::string& path);

}  // namespace qor::testing
