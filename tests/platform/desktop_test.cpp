#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/desktop.h"
#include "temp_folder.h"

namespace qor {
namespace {

TEST(GuidText, FormatVersionAndVariant) {
  const std::regex shape(
      "\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}");
  for (int i = 0; i < 200; ++i) {
    std::string guid = NewGuidText();
    ASSERT_EQ(guid.size(), 38u);
    EXPECT_TRUE(std::regex_match(guid, shape)) << guid;
  }
}

TEST(GuidText, Unique) {
  std::set<std::string> seen;
  for (int i = 0; i < 10'000; ++i) seen.insert(NewGuidText());
  EXPECT_EQ(seen.size(), 10'000u);
}

// Runs ShellOpen with PATH pointing only at a folder we fill, restoring PATH afterwards.
class ShellOpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* path = getenv("PATH");
    saved_ = path ? path : "";
    setenv("PATH", folder_.Path().c_str(), 1);
  }
  void TearDown() override { setenv("PATH", saved_.c_str(), 1); }

  void InstallOpener(const std::string& body) {
    std::string script = folder_.Path("xdg-open");
    std::ofstream(script) << "#!/bin/sh\n" << body << "\n";
    chmod(script.c_str(), 0700);
  }
  // What the opener wrote; it runs detached, so this waits (generously) until it has finished
  // writing: the scripts write into a temporary name and rename it.
  std::string Recorded() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (access(folder_.Path("args").c_str(), F_OK) != 0 &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::ifstream in(folder_.Path("args"));
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  // Redirection into a temporary name that the opener renames once it is done.
  std::string Into() const {
    return " > '" + folder_.Path("args.tmp") + "' && /bin/mv '" + folder_.Path("args.tmp") + "' '" +
           folder_.Path("args") + "'";
  }

  TempFolder folder_;
  std::string saved_;
};

TEST_F(ShellOpenTest, MissingOpenerIsAFailure) {
  EXPECT_LE(ShellOpen("/tmp/some file.asf"), 32);
}

TEST_F(ShellOpenTest, TargetArrivesAsOneUntouchedArgument) {
  InstallOpener("printf '%s|' \"$#\" \"$@\"" + Into());
  const std::string target = "/tmp/a file; rm -rf x $(echo y) 'q'.asf";
  EXPECT_GT(ShellOpen(target), 32);
  EXPECT_EQ(Recorded(), "1|" + target + "|");
}

TEST_F(ShellOpenTest, OpenerStartsWithDefaultSignals) {
  // The opener reports its own blocked and ignored signal masks.
  InstallOpener("/bin/grep -E '^Sig(Ign|Blk)' /proc/self/status" + Into());
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &block, &old);
  int result = ShellOpen("x");
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  sigaction(SIGPIPE, &previous, nullptr);
  EXPECT_GT(result, 32);
  unsigned long long blocked = ~0ull, ignored = ~0ull;
  ASSERT_EQ(std::sscanf(Recorded().c_str(), "SigBlk: %llx SigIgn: %llx", &blocked, &ignored), 2)
      << Recorded();
  // Signals 1 to 31; the C library keeps a few real-time ones of its own.
  EXPECT_EQ(blocked & 0x7FFFFFFFull, 0u) << Recorded();
  EXPECT_EQ(ignored & 0x7FFFFFFFull, 0u);
}

TEST_F(ShellOpenTest, AnOpenerThatKeepsRunningIsNotWaitedFor) {
  // As xdg-open does when it runs the player itself: it ends only when the player is closed.
  InstallOpener("echo started" + Into() + "; exec /bin/sleep 10");
  const auto before = std::chrono::steady_clock::now();
  EXPECT_GT(ShellOpen("/tmp/clip.asf"), 32);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(8));
  EXPECT_EQ(Recorded(), "started\n");
}

TEST(ShellOpener, ReplacedForTestsAndRestored) {
  std::vector<std::string> calls;
  SetShellOpener([&](const std::string& target) {
    calls.push_back(target);
    return 33;
  });
  EXPECT_EQ(ShellOpen("file.asf"), 33);
  SetShellOpener(nullptr);
  const char* path = getenv("PATH");
  std::string saved = path ? path : "";
  TempFolder empty;
  setenv("PATH", empty.Path().c_str(), 1);
  EXPECT_LE(ShellOpen("file.asf"), 32);  // back to the real opener, which is not there
  setenv("PATH", saved.c_str(), 1);
  EXPECT_EQ(calls, std::vector<std::string>{"file.asf"});
}

}  // namespace
}  // namespace qor
