// qor-cli open: the list of a local or fetched play list on stdout, the ready URL of a stream
// address, refusals with status 1, and a fetched play list saved and opened again.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include <nlohmann/json.hpp>

#include "cli_runner.h"
#include "common/server_process.h"
#include "platform/temp_folder.h"

namespace qor::testing {
namespace {

class CliOpen : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<ServerProcess>(
        QOR_SERVER_PROGRAM, std::vector<std::string>{"--root", folder_.Path(), "--mms-port", "-1",
                                                     "--password", "user:pass"});
    ASSERT_TRUE(server_->Running());
  }
  std::string Http(const std::string& name) const {
    return "http://127.0.0.1:" + std::to_string(server_->HttpPort()) + "/" + name;
  }
  std::string Write(const std::string& name, const std::string& content) {
    const std::string path = folder_.Path(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  CliResult Open(std::vector<std::string> args) {
    args.insert(args.begin(), "open");
    CliRun run;
    run.args = args;
    run.workDir = folder_.Path();
    return RunCli(run);
  }

  TempFolder folder_;
  std::unique_ptr<ServerProcess> server_;
};

constexpr const char* kList =
    "<ASX version=\"3.0\">\r\n<ENTRY><REF HREF=\"mms://h/live\"/></ENTRY>\r\n"
    "<ENTRY><REF HREF=\"http://h/a.wmv#start\"/></ENTRY>\r\n</ASX>\r\n";

TEST_F(CliOpen, LocalAndFetchedPlayListsPrintTheirEntries) {
  const std::string local = Write("local.asx", kList);
  CliResult r = Open({local});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "mms://h/live\nhttp://h/a.wmv\n");
  r = Open({local, "--json"});
  EXPECT_EQ(r.status, 0) << r.err;
  const auto listed = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_TRUE(listed.is_object()) << r.out;
  EXPECT_EQ(listed["kind"], "play_list");
  EXPECT_EQ(listed["entries"], nlohmann::json::parse(R"([{"index": 1, "url": "mms://h/live"},
                                                        {"index": 2, "url": "http://h/a.wmv"}])"));

  Write("served.asx", kList);
  r = Open({Http("served.asx"), "--user", "user", "--password", "pass"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "mms://h/live\nhttp://h/a.wmv\n");
  EXPECT_NE(r.err.find("You now need to re-access the site, try again"), std::string::npos)
      << "the first request was refused, the second carried the credentials";
}

TEST_F(CliOpen, FetchedPlayListSavedWithDashOOpensToTheSameList) {
  Write("served.asx", kList);
  const std::string saved = folder_.Path("copy.asx");
  CliResult r = Open({Http("served.asx"), "-o", saved, "--user", "user", "--password", "pass"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string fetched = r.out;
  r = Open({saved});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, fetched);
}

TEST_F(CliOpen, StreamAddressIsPrintedAsTheReadyUrl) {
  const CliResult r = Open({"mms://media.example/live"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "mms://media.example/live\n");
  EXPECT_NE(r.err.find("URL ready to connect -> hit GO to start"), std::string::npos);
}

TEST_F(CliOpen, RefusalsAndFailuresExitWithOne) {
  CliResult r = Open({"mms://media.example/list.asx"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("You are trying to access a redirector location file"), std::string::npos);

  r = Open({Http("missing.asx"), "--user", "user", "--password", "pass"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("HTTP/1.0 404 Not Found"), std::string::npos) << r.err;

  r = Open({"https://127.0.0.1/list.asx"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("HTTP Secure Socket is not supported"), std::string::npos) << r.err;

  r = Open({Http("served.asx")});
  EXPECT_EQ(r.status, 1) << "no credentials to give";

  r = Open({});
  EXPECT_EQ(r.status, 2);
  r = Open({"a.asx", "--proxy", "nohost"});
  EXPECT_EQ(r.status, 2);
}

}  // namespace
}  // namespace qor::testing
