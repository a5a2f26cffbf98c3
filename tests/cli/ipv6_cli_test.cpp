// Every transport over IPv6: qor-cli against qor-server listening on ::1, through the bracketed
// literal and through a name that resolves to ::1 alone (from a hosts file of the test's own,
// read through nss_wrapper), and against a server left to its default, which serves both
// families. Each file must be the one the same download over IPv4 gives, byte for byte.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "cli_runner.h"
#include "common/foreign_library_suppressions.h"
#include "common/server_process.h"
#include "platform/temp_folder.h"

namespace qor::testing {
namespace {

constexpr const char* kNssWrapper = "/usr/lib/x86_64-linux-gnu/libnss_wrapper.so";

std::string InheritedAsanOptions() {
  const char* options = std::getenv("ASAN_OPTIONS");
  return options != nullptr && *options != 0 ? std::string(options) + ":" : "";
}

class Ipv6Cli : public ::testing::Test {
 protected:
  std::unique_ptr<ServerProcess> Serve(std::vector<std::string> extra) {
    std::vector<std::string> args{"--root", QOR_SAMPLE_MEDIA_DIR, "--rate", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<ServerProcess>(QOR_SERVER_PROGRAM, args);
  }
  CliResult Get(const std::string& url, const std::string& file,
                const std::vector<std::string>& env = {}) {
    CliRun run;
    run.args = {"get", url, "-o", file};
    run.workDir = folder_.Path();
    run.env = env;
    return RunCli(run);
  }
  TempFolder folder_;
};

TEST_F(Ipv6Cli, EveryTransportRecordsFromTheIpv6LoopbackAsOverIpv4) {
  const auto v4 = Serve({});
  const auto v6 = Serve({"--host", "::1"});
  ASSERT_TRUE(v4->Running());
  if (!v6->Running()) GTEST_SKIP() << "no IPv6 loopback on this system";
  const std::string hosts = folder_.Path("hosts");
  std::ofstream(hosts) << "::1 v6only.qor.test\n";
  const bool wrapper = std::filesystem::exists(kNssWrapper);
  const std::vector<std::string> byName{
      "LD_PRELOAD=" + std::string(kNssWrapper), "NSS_WRAPPER_HOSTS=" + hosts,
      // A sanitizer runtime wants to be the first library; the wrapper comes before it here.
      "ASAN_OPTIONS=" + InheritedAsanOptions() + "verify_asan_link_order=0",
      ForeignLibraryTsanOptions("nss_wrapper.supp")};
  struct Transport {
    const char* scheme;
    bool viaHttpPort;
  };
  for (const Transport& t : {Transport{"http", true}, {"mmst", false}, {"mmsu", false}}) {
    SCOPED_TRACE(t.scheme);
    const auto port = [&t](const ServerProcess& s) {
      return std::to_string(t.viaHttpPort ? s.HttpPort() : s.MmsPort());
    };
    const std::string scheme = std::string(t.scheme) + "://";
    const std::string name = t.scheme;
    const std::string base = name + "-v4.asf";
    const CliResult reference = Get(scheme + "127.0.0.1:" + port(*v4) + "/mbr.wmv", base);
    ASSERT_EQ(reference.status, 0) << reference.err;
    const std::string expected = ReadFile(folder_.Path(base));
    const std::string literal = scheme + "[::1]:" + port(*v6) + "/mbr.wmv";
    const CliResult r = Get(literal, name + "-v6.asf");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("> URL  :\t" + literal + "\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("> Server Address: \t[::1]\n"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(folder_.Path(name + "-v6.asf")), expected);
    // The default server is reached through IPv6 as well.
    const CliResult dual = Get(scheme + "[::1]:" + port(*v4) + "/mbr.wmv", name + "-dual.asf");
    EXPECT_EQ(dual.status, 0) << dual.err;
    EXPECT_EQ(ReadFile(folder_.Path(name + "-dual.asf")), expected);
    if (!wrapper) continue;
    const CliResult named =
        Get(scheme + "v6only.qor.test:" + port(*v6) + "/mbr.wmv", name + "-name.asf", byName);
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(ReadFile(folder_.Path(name + "-name.asf")), expected);
  }
  if (!wrapper) GTEST_SKIP() << "no nss_wrapper: the name resolving to ::1 alone was not tried";
}

}  // namespace
}  // namespace qor::testing
