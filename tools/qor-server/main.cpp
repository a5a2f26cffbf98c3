// qor-server: see UsageText() for what it does.

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "server.h"
#include "support/helper.h"

int main(int argc, char** argv) {
  using namespace qor::server;
  ServerOptions options;
  std::string error;
  const std::vector<std::string> args(argv + 1, argv + argc);
  switch (ParseCommandLine(args, options, error)) {
    case CommandLine::kHelp:
      std::fputs(UsageText().c_str(), stdout);
      return 0;
    case CommandLine::kVersion:
      std::printf("qor-server %s\n", qor::kVersionText);
      return 0;
    case CommandLine::kError:
      std::fprintf(stderr, "qor-server: %s\nTry 'qor-server --help'.\n", error.c_str());
      return 2;
    case CommandLine::kRun:
      break;
  }
  // The signals are taken by sigwait below, never by a handler in some serving thread.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  Server server(options);
  if (!server.Start(error)) {
    std::fprintf(stderr, "qor-server: %s\n", error.c_str());
    return 1;
  }
  // An IPv6 address is printed as a location writes it, in brackets.
  const bool v6 = options.host.find(':') != std::string::npos && options.host.front() != '[';
  const std::string host = v6 ? "[" + options.host + "]" : options.host;
  if (options.mmsPort >= 0) std::printf("mms %s:%u\n", host.c_str(), server.MmsPort());
  if (options.httpPort >= 0) std::printf("http %s:%u\n", host.c_str(), server.HttpPort());
  if (options.rtspPort >= 0) std::printf("rtsp %s:%u\n", host.c_str(), server.RtspPort());
  std::fflush(stdout);
  int received = 0;
  sigwait(&signals, &received);
  server.Stop();
  return 0;
}
