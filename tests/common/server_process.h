#pragma once
// The real qor-server program as a child process on ports the system picks: started with
// "--mms-port 0 --http-port 0" and the given arguments, its printed ports read back, stopped with
// SIGTERM. Everything it prints after the ports is kept (for --log-requests -).

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qor::testing {

class ServerProcess {
 public:
  // program: path of the qor-server binary.
  ServerProcess(const std::string& program, const std::vector<std::string>& arguments);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // True once the server printed its ports (false when it failed to start).
  bool Running() const { return running_; }
  int HttpPort() const { return http_port_; }
  int MmsPort() const { return mms_port_; }
  // Only with "--rtsp-port" among the arguments.
  int RtspPort() const { return rtsp_port_; }
  // The process, for a test that kills it the hard way.
  pid_t Pid() const { return pid_; }
  // Everything the server printed on stdout so far.
  std::string Output() const;
  // Waits until the output contains text (or the timeout passes).
  bool WaitForOutput(const std::string& text,
                     std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
  // SIGTERM and wait; returns the exit status (-1 when it could not be had). Safe to call twice.
  int Stop();

 private:
  void ReadOutput();

  pid_t pid_ = -1;
  int out_fd_ = -1;
  bool running_ = false;
  int http_port_ = 0;
  int mms_port_ = 0;
  int rtsp_port_ = 0;
  int exit_status_ = -1;
  std::thread reader_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::string output_;
  bool closed_ = false;
};

}  // namespace qor::testing
