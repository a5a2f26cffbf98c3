#include "cli_runner.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace qor::testing {

namespace {

std::string TempFile(const char* tag) {
  std::string pattern = std::string("/tmp/qor-cli-") + tag + "-XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd >= 0) ::close(fd);
  return pattern;
}

}  // namespace

SilentPort::SilentPort(bool full) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(fd_, full ? 0 : 8);
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  if (full) {
    filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(filler_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
}

SilentPort::~SilentPort() {
  for (int fd : {fd_, filler_})
    if (fd >= 0) ::close(fd);
}

std::string SampleMedia(const std::string& name) {
  return std::string(QOR_SAMPLE_MEDIA_DIR) + "/" + name;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

long long FileSize(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? -1 : static_cast<long long>(size);
}

double ProbeDuration(const std::string& path) {
  const std::string command =
      "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[256] = {};
  const size_t n = std::fread(buffer, 1, sizeof buffer - 1, pipe);
  if (::pclose(pipe) != 0 || n == 0) return -1;
  return std::atof(buffer);
}

CliResult RunCli(const CliRun& run) {
  const std::string outPath = TempFile("out");
  const std::string errPath = TempFile("err");
  std::vector<std::string> args{QOR_CLI_PROGRAM};
  args.insert(args.end(), run.args.begin(), run.args.end());
  std::vector<std::string> env{"NO_COLOR=1", "PATH=/usr/bin:/bin", "LC_ALL=C"};
  if (!run.workDir.empty()) env.push_back("XDG_CONFIG_HOME=" + run.workDir + "/config");
  // Sanitizer settings reach the program under test, so its own reports fail the test too.
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  // The run's own settings replace inherited ones of the same name: a child reads the first.
  for (const std::string& setting : run.env) {
    const std::string name = setting.substr(0, setting.find('=') + 1);
    std::erase_if(env, [&name](const std::string& e) { return e.rfind(name, 0) == 0; });
    env.push_back(setting);
  }

  const pid_t pid = ::fork();
  if (pid == 0) {
    if (!run.workDir.empty() && ::chdir(run.workDir.c_str()) != 0) ::_exit(126);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_TRUNC);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_TRUNC);
    const int in = ::open("/dev/null", O_RDONLY);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::dup2(in, 0);
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  CliResult result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(run.timeoutSeconds);
  bool interrupted = false;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    if (!interrupted && run.interruptWhen && run.interruptWhen()) {
      ::kill(pid, run.interruptSignal);
      interrupted = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
  result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  ::unlink(outPath.c_str());
  ::unlink(errPath.c_str());
  return result;
}

}  // namespace qor::testing
