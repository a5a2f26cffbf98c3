// qor-cli batch against the real qor-server: a served play list of three clips, one of them
// missing, gives two files ffprobe reads, one failure in the summary and exit status 1.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "cli_runner.h"
#include "common/server_process.h"
#include "platform/temp_folder.h"

namespace qor::testing {
namespace {

class CliBatch : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = folder_.Path("root");
    out_ = folder_.Path("out");
    std::filesystem::create_directories(root_);
    std::filesystem::create_directories(out_);
    for (const char* clip : {"clip.wmv", "audio.wma"}) {
      std::filesystem::copy_file(SampleMedia(clip), root_ + "/" + clip);
    }
    server_ = std::make_unique<ServerProcess>(
        QOR_SERVER_PROGRAM,
        std::vector<std::string>{"--root", root_, "--mms-port", "0", "--rate", "0"});
    ASSERT_TRUE(server_->Running());
  }
  std::string Http(const std::string& name) const {
    return "http://127.0.0.1:" + std::to_string(server_->HttpPort()) + "/" + name;
  }
  void WriteList(const std::string& name, const std::vector<std::string>& entries) {
    std::ofstream list(root_ + "/" + name, std::ios::binary);
    list << "<ASX version=\"3.0\">\r\n";
    for (const std::string& e : entries) list << "<ENTRY><REF HREF=\"" << e << "\"/></ENTRY>\r\n";
    list << "</ASX>\r\n";
  }
  CliResult Batch(std::vector<std::string> args) {
    args.insert(args.begin(), "batch");
    CliRun run;
    run.args = args;
    run.workDir = folder_.Path();
    return RunCli(run);
  }

  TempFolder folder_;
  std::string root_, out_;
  std::unique_ptr<ServerProcess> server_;
};

TEST_F(CliBatch, AMissingClipFailsAloneAndTheOthersAreSaved) {
  const std::string mms = "mms://127.0.0.1:" + std::to_string(server_->MmsPort()) + "/audio.wma";
  WriteList("three.asx", {Http("clip.wmv"), Http("gone.wmv"), mms});
  const CliResult r = Batch({Http("three.asx"), "-d", out_});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, "completed\t" + Http("clip.wmv") + "\t" + out_ + "/_1_clip.wmv\n" + "failed\t" +
                       Http("gone.wmv") + "\n" + "completed\t" + mms + "\t" + out_ +
                       "/_1_audio.wma\n" + "batch: 3 entries, 2 completed, 1 failed\n")
      << r.err;
  for (const char* name : {"/_1_clip.wmv", "/_1_audio.wma"}) {
    EXPECT_GT(ProbeDuration(out_ + name), 1.0) << name;
  }
}

TEST_F(CliBatch, AllEntriesCompletedExitsWithZero) {
  WriteList("two.asx", {Http("audio.wma"), Http("audio.wma")});
  const std::string local = folder_.Path("two-local.asx");
  std::filesystem::copy_file(root_ + "/two.asx", local);
  const CliResult r = Batch({local, "-d", out_});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("batch: 2 entries, 2 completed, 0 failed\n"), std::string::npos) << r.out;
  EXPECT_GT(ProbeDuration(out_ + "/_1_audio.wma"), 1.0);
  EXPECT_GT(ProbeDuration(out_ + "/_2_audio.wma"), 1.0);
}

TEST_F(CliBatch, ALocationWithoutEntriesFails) {
  const CliResult r = Batch({Http("nothing.asx"), "-d", out_});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("gave no play list entries to download"), std::string::npos) << r.err;
  EXPECT_EQ(Batch({Http("x.asx"), "-o", "x.asf"}).status, 2);
}

}  // namespace
}  // namespace qor::testing
