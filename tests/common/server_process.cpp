#include "server_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace qor::testing {

namespace {

// The port after "NAME HOST:" at the start of a line, or 0.
int PortOf(const std::string& output, const std::string& name) {
  size_t at = 0;
  while (at < output.size()) {
    size_t end = output.find('\n', at);
    if (end == std::string::npos) return 0;  // only whole lines count
    const std::string line = output.substr(at, end - at);
    if (line.rfind(name + " ", 0) == 0) {
      const size_t colon = line.rfind(':');
      if (colon != std::string::npos) return std::atoi(line.c_str() + colon + 1);
    }
    at = end + 1;
  }
  return 0;
}

bool Disabled(const std::vector<std::string>& args, const std::string& option) {
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == option && args[i + 1] == "-1") return true;
    // "--transports tcp" leaves HTTP out; "--transports http" leaves MMS out.
    if (args[i] == "--transports") {
      const std::string& list = args[i + 1];
      if (option == "--http-port" && list.find("http") == std::string::npos) return true;
      if (option == "--rtsp-port" && list.find("rtsp") == std::string::npos) return true;
      if (option == "--mms-port" && list.find("tcp") == std::string::npos &&
          list.find("udp") == std::string::npos)
        return true;
    }
  }
  return false;
}

}  // namespace

ServerProcess::ServerProcess(const std::string& program,
                             const std::vector<std::string>& arguments) {
  std::vector<std::string> args{program, "--mms-port", "0", "--http-port", "0"};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  // Its complaints come with its output; and a server left behind by a test that crashed holds
  // no descriptor of the test runner's, which would wait for it to close.
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
  const int spawned =
      ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[1]);
  if (spawned != 0) {
    pid_ = -1;
    ::close(pipe_fds[0]);
    return;
  }
  out_fd_ = pipe_fds[0];
  reader_ = std::thread([this] { ReadOutput(); });

  const bool wantHttp = !Disabled(arguments, "--http-port");
  const bool wantMms = !Disabled(arguments, "--mms-port");
  const bool wantRtsp =
      std::find(arguments.begin(), arguments.end(), "--rtsp-port") != arguments.end() &&
      !Disabled(arguments, "--rtsp-port");
  const auto allThere = [&] {
    return (!wantHttp || http_port_ > 0) && (!wantMms || mms_port_ > 0) &&
           (!wantRtsp || rtsp_port_ > 0);
  };
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::seconds(30), [&] {
    http_port_ = PortOf(output_, "http");
    mms_port_ = PortOf(output_, "mms");
    rtsp_port_ = PortOf(output_, "rtsp");
    return closed_ || allThere();
  });
  running_ = allThere();
}

ServerProcess::~ServerProcess() {
  Stop();
}

void ServerProcess::ReadOutput() {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(out_fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    if (n <= 0) {
      closed_ = true;
      changed_.notify_all();
      return;
    }
    output_.append(buffer, static_cast<size_t>(n));
    changed_.notify_all();
  }
}

std::string ServerProcess::Output() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return output_;
}

bool ServerProcess::WaitForOutput(const std::string& text,
                                  std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return output_.find(text) != std::string::npos; });
}

int ServerProcess::Stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    // A server that does not end on SIGTERM is a fault of its own: say so and kill it, rather
    // than hang the test program until the runner's time-out hides where it stuck.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    pid_t ended = 0;
    while ((ended = ::waitpid(pid_, &status, WNOHANG)) == 0 || (ended < 0 && errno == EINTR)) {
      if (std::chrono::steady_clock::now() >= deadline) {
        std::fprintf(stderr, "qor-server (pid %d) did not end within 20 s of SIGTERM: killed\n",
                     static_cast<int>(pid_));
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        status = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    exit_status_ = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
  }
  if (reader_.joinable()) reader_.join();
  if (out_fd_ >= 0) {
    ::close(out_fd_);
    out_fd_ = -1;
  }
  running_ = false;
  return exit_status_;
}

}  // namespace qor::testing
