// The qor-server program: help, usage errors, the port lines and a clean stop on a signal.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "server_test_support.h"

namespace qor::server::testing {
namespace {

TEST(Program, HelpListsTheFaultsAndBadArgumentsExitWithTwo) {
  std::string out;
  EXPECT_EQ(RunShell(std::string(QOR_SERVER_PROGRAM) + " --help", &out), 0);
  for (const char* key : {"--live", "--rate", "--log-requests",
                          "drop=", "disconnect=", "refuse-transport", "split-header", "password="})
    EXPECT_NE(out.find(key), std::string::npos) << key;
  out.clear();
  EXPECT_EQ(RunShell(std::string(QOR_SERVER_PROGRAM) + " --version", &out), 0);
  EXPECT_EQ(out, "qor-server 2.3.0\n");
  EXPECT_EQ(RunShell(std::string(QOR_SERVER_PROGRAM) + " --frobnicate 2>/dev/null"), 2);
  EXPECT_EQ(RunShell(std::string(QOR_SERVER_PROGRAM) + " --rate 2>/dev/null"), 2);
  EXPECT_EQ(RunShell(std::string(QOR_SERVER_PROGRAM) + " stray 2>/dev/null"), 2);
  EXPECT_EQ(RunShell(std::string(QOR_SERVER_PROGRAM) + " --rate fast 2>/dev/null"), 2);
  EXPECT_EQ(RunShell(std::string(QOR_SERVER_PROGRAM) + " --faults drop=7 2>/dev/null"), 2);
  EXPECT_EQ(RunShell(std::string(QOR_SERVER_PROGRAM) +
                     " --mms-port 0 --http-port 0 --live x=/nonexistent.wmv 2>/dev/null"),
            1);
}

TEST(Program, PrintsItsPortsServesAndStopsCleanlyOnSigterm) {
  QOR_NEED_SAMPLES();
  const std::string log = TempDir() + "/requests.log";
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(out[1], 1);
    close(out[0]);
    execl(QOR_SERVER_PROGRAM, QOR_SERVER_PROGRAM, "--root", SampleDir().c_str(), "--mms-port", "0",
          "--http-port", "0", "--log-requests", log.c_str(), nullptr);
    _exit(127);
  }
  close(out[1]);
  std::string lines;
  char block[256];
  while (std::count(lines.begin(), lines.end(), '\n') < 2) {
    pollfd p{out[0], POLLIN, 0};
    ASSERT_GT(poll(&p, 1, 30000), 0) << "no port lines";
    const ssize_t n = read(out[0], block, sizeof block);
    ASSERT_GT(n, 0);
    lines.append(block, static_cast<size_t>(n));
  }
  unsigned mms = 0, http = 0;
  std::istringstream in(lines);
  std::string line;
  while (std::getline(in, line)) {
    std::sscanf(line.c_str(), "mms 127.0.0.1:%u", &mms);
    std::sscanf(line.c_str(), "http 127.0.0.1:%u", &http);
  }
  ASSERT_GT(mms, 0u);
  ASSERT_GT(http, 0u);
  EXPECT_EQ(HttpGet(static_cast<uint16_t>(http), "/clip.wmv", PlayerHeaders(false)).status, 200);
  MmsClient client(static_cast<uint16_t>(mms));
  EXPECT_TRUE(client.Connect());

  kill(child, SIGTERM);  // with a client still connected
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  close(out[0]);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::ifstream recorded(log);
  const std::string text((std::istreambuf_iterator<char>(recorded)),
                         std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("http-request GET /clip.wmv HTTP/1.0"), std::string::npos);
  EXPECT_NE(text.find("User-Agent: NSPlayer/7.1.0.1956"), std::string::npos);
  EXPECT_NE(text.find("mms-command 0x01"), std::string::npos);
}

}  // namespace
}  // namespace qor::server::testing
