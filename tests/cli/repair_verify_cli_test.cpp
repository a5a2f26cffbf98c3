// qor-cli verify and repair on what a real download leaves: a recording killed with SIGKILL
// half way through a paced stream is repaired into a file that ffprobe and ffmpeg read to its
// end and whose media packets are the source's first ones; finished recordings verify whole.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli_runner.h"
#include "common/server_process.h"
#include "platform/temp_folder.h"

namespace qor::testing {
namespace {

std::string Shell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  char buffer[4096];
  size_t n;
  while (pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int rc = pipe ? ::pclose(pipe) : -1;
  if (status) *status = rc;
  return out;
}

// The media packets of a file as an independent reader sees them, one line each.
std::vector<std::string> MediaPackets(const std::string& path) {
  std::istringstream lines(
      Shell("ffprobe -v error -show_entries packet=stream_index,size,data_hash"
            " -show_data_hash md5 -of csv=p=0 '" +
            path + "'"));
  std::vector<std::string> out;
  for (std::string line; std::getline(lines, line);) out.push_back(line);
  return out;
}

class CliRepairVerify : public ::testing::Test {
 protected:
  void Serve(const char* rate) {
    server_ = std::make_unique<ServerProcess>(
        QOR_SERVER_PROGRAM,
        std::vector<std::string>{"--root", QOR_SAMPLE_MEDIA_DIR, "--rate", rate});
    ASSERT_TRUE(server_->Running());
  }
  CliResult Cli(std::vector<std::string> args) {
    CliRun run;
    run.args = std::move(args);
    run.workDir = folder_.Path();
    return RunCli(run);
  }
  std::string Url(const std::string& scheme) const {
    const int port = scheme == "http" ? server_->HttpPort() : server_->MmsPort();
    return scheme + "://127.0.0.1:" + std::to_string(port) + "/clip.wmv";
  }
  std::string Path(const std::string& name) const { return folder_.Path(name); }

  TempFolder folder_;
  std::unique_ptr<ServerProcess> server_;
};

TEST_F(CliRepairVerify, KilledRecordingsRepairToTheSourcesFirstPackets) {
  Serve("1");  // real time: the kill lands in the middle of the 6 s clip
  const std::vector<std::string> source = MediaPackets(SampleMedia("clip.wmv"));
  ASSERT_GT(source.size(), 20u);
  const double clipSeconds = ProbeDuration(SampleMedia("clip.wmv"));
  for (const std::string scheme : {"http", "mmst", "mmsu"}) {
    SCOPED_TRACE(scheme);
    const std::string name = scheme + ".asf", path = Path(name);
    CliRun run;
    run.args = {"get", Url(scheme), "-o", name};
    run.workDir = folder_.Path();
    run.interruptWhen = [&] { return FileSize(path) > 2000 + 12 * 3200; };
    run.interruptSignal = SIGKILL;
    ASSERT_EQ(RunCli(run).status, 128 + SIGKILL);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);

    const CliResult cut = Cli({"verify", name});
    EXPECT_EQ(cut.status, 4) << cut.out;
    EXPECT_NE(cut.out.find("the header gives no file size: the recording was cut"),
              std::string::npos)
        << cut.out;
    const CliResult repaired = Cli({"repair", name});
    ASSERT_EQ(repaired.status, 0) << repaired.err;
    EXPECT_EQ(repaired.out.rfind(name + ": kept ", 0), 0u) << repaired.out;
    EXPECT_NE(repaired.out.find("; index added\n"), std::string::npos) << repaired.out;
    EXPECT_EQ(Cli({"verify", name}).status, 0);

    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    const double seconds = ProbeDuration(path);
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(seconds, clipSeconds - 0.5);
    int status = -1;
    EXPECT_EQ(Shell("ffmpeg -v error -nostdin -i '" + path + "' -f null - 2>&1", &status), "");
    EXPECT_EQ(status, 0);
    const std::vector<std::string> kept = MediaPackets(path);
    ASSERT_GT(kept.size(), 5u);
    ASSERT_LT(kept.size(), source.size());
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), source.begin()));
  }
}

TEST_F(CliRepairVerify, WholeFilesPassAndOthersAreLeftAlone) {
  Serve("0");
  ASSERT_EQ(Cli({"get", Url("mmsu"), "-o", "done.asf"}).status, 0);
  const CliResult whole = Cli({"verify", "done.asf", "--json"});
  EXPECT_EQ(whole.status, 0) << whole.out;
  const auto report = nlohmann::json::parse(whole.out);
  EXPECT_EQ(report["status"], "whole");
  EXPECT_EQ(report["data"]["packets"], 35);
  EXPECT_EQ(report["findings"].size(), 0u);

  const std::string before = ReadFile(Path("done.asf"));
  const CliResult again = Cli({"repair", "done.asf"});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.out, "done.asf: already whole: 35 packets, 00:00:05.8\n");
  EXPECT_EQ(ReadFile(Path("done.asf")), before);

  // A file that is no ASF: a clear error, exit 1, and the file as it was.
  {
    std::ofstream out(Path("notes.asf"));
    out << "not a recording";
  }
  const CliResult notAsf = Cli({"verify", "notes.asf", "--json"});
  EXPECT_EQ(notAsf.status, 1);
  EXPECT_EQ(nlohmann::json::parse(notAsf.out)["status"], "not_asf");
  const CliResult refused = Cli({"repair", "notes.asf"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("notes.asf: not an ASF file"), std::string::npos) << refused.err;
  EXPECT_EQ(ReadFile(Path("notes.asf")), "not a recording");
  EXPECT_EQ(Cli({"verify"}).status, 2);
  EXPECT_EQ(Cli({"repair", "a.asf", "--force"}).status, 2);
}

}  // namespace
}  // namespace qor::testing
