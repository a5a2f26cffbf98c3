// qor-cli batch against the real qor-server: a served play list of three clips, one of them
// missing, gives two files ffprobe reads, one failure in the summary and exit status 1; and every
// flag of get that a batch takes works on each entry of a two-entry list.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

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
    std::filesystem::copy_file(SampleMedia("mbr.wmv"), root_ + "/mbr.wmv");
    server_ = std::make_unique<ServerProcess>(
        QOR_SERVER_PROGRAM, std::vector<std::string>{"--root", root_, "--mms-port", "0", "--rate",
                                                     "0", "--log-requests", "-"});
    ASSERT_TRUE(server_->Running());
  }
  std::string Mms(const std::string& name) const {
    return "mms://127.0.0.1:" + std::to_string(server_->MmsPort()) + "/" + name;
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

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The flags of get, several at once, on each entry of a batch: the transport, the streams, the
// time-outs and the JSON progress with one summary per entry and one for the batch.
TEST_F(CliBatch, TheFlagsOfGetApplyToEveryEntry) {
  WriteList("mbr.asx", {Mms("mbr.wmv"), Mms("mbr.wmv")});
  const CliResult r = Batch({Http("mbr.asx"), "-d", out_, "--progress", "json", "--streams", "2,3",
                             "--protocol", "udp", "--connect-timeout", "5", "--answer-timeout", "5",
                             "--data-timeout", "5", "--stall-timeout", "5", "--reconnect", "0"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.err, "> - Receiving MMS via UDP protocol streams -"), 2u) << r.err;
  EXPECT_EQ(Count(server_->Output(), "streams-sent 2="), 2u) << server_->Output();
  std::vector<nlohmann::json> summaries;
  nlohmann::json end;
  std::istringstream lines(r.err);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line.front() != '{') continue;
    const nlohmann::json object = nlohmann::json::parse(line);
    if (object["event"] == "summary") summaries.push_back(object);
    if (object["event"] == "batch") end = object;
  }
  ASSERT_EQ(summaries.size(), 2u) << r.err;
  for (int i = 0; i < 2; ++i) {
    const nlohmann::json& s = summaries[static_cast<size_t>(i)];
    EXPECT_EQ(s["entry"], i + 1);
    EXPECT_EQ(s["url"], Mms("mbr.wmv"));
    EXPECT_EQ(s["status"], 0);
    const std::string file = s["file"];
    EXPECT_EQ(file, out_ + "/_" + std::to_string(i + 1) + "_mbr.wmv");
    EXPECT_EQ(s["size"].get<long long>(), FileSize(file));
  }
  EXPECT_EQ(end["entries"], 2);
  EXPECT_EQ(end["completed"], 2);
  EXPECT_EQ(end["status"], 0);
}

// Each of the others, one flag a row, on a two-entry list: what it changes shows for each entry.
TEST_F(CliBatch, EachFlagWorksOnEveryEntry) {
  const SilentPort unreachable(true);
  const SilentPort silent(false);
  struct Row {
    std::vector<std::string> flags;
    std::string entry;
    std::string twice;  // in the log (or the server's output) once per entry
    int status;
  };
  const std::string stalled = Mms("mbr.wmv?stall=30&stall-after=5");
  const std::vector<Row> rows{
      {{"--protocol", "tcp", "--connect-timeout", "1"},
       unreachable.Location(),
       "> No connection to the server within 1 seconds",
       1},
      {{"--protocol", "tcp", "--answer-timeout", "1"},
       silent.Location(),
       "> The server did not answer within 1 seconds",
       1},
      {{"--protocol", "tcp", "--data-timeout", "1"},
       Mms("mbr.wmv?stall=30&stall-after=0"),
       "> No stream data arrived within 1 seconds",
       1},
      {{"--protocol", "tcp", "--stall-timeout", "1", "--reconnect", "0"},
       stalled,
       "> The stream sent nothing for 1 seconds and is treated as cut",
       1},
      // The clip resumes at the cut, and the server sends the same packets again and stalls:
      // one attempt, then the entry ends.
      {{"--protocol", "tcp", "--stall-timeout", "1", "--reconnect", "1"},
       stalled,
       "- The stream was cut (1 so far): reconnecting in 1 s",
       1},
      {{"--max-rate", "120000"}, Mms("mbr.wmv"), "streams-sent 2=", 0},
      {{"--audio-only"}, Mms("mbr.wmv"), "streams-sent 3=", 0},
      // Told HTTP, an mms:// entry goes straight to the HTTP port, with nothing tried before.
      {{"--protocol", "http", "--http-port", std::to_string(server_->HttpPort())},
       "mms://127.0.0.1/mbr.wmv",
       "> - Receiving HTTP protocol streams -",
       0},
  };
  int n = 0;
  for (const Row& row : rows) {
    std::string named;
    for (const std::string& flag : row.flags) named += flag + " ";
    SCOPED_TRACE(named);
    const std::string list = "list" + std::to_string(++n) + ".asx";
    WriteList(list, {row.entry, row.entry});
    const size_t before = server_->Output().size();
    std::vector<std::string> args{Http(list), "-d", out_};
    args.insert(args.end(), row.flags.begin(), row.flags.end());
    const CliResult r = Batch(args);
    EXPECT_EQ(r.status, row.status) << r.err;
    const std::string seen = r.err + server_->Output().substr(before);
    EXPECT_EQ(Count(seen, row.twice), 2u) << seen;
    // A transport named on the command line is the only one tried.
    if (row.flags[0] == "--protocol") {
      EXPECT_EQ(Count(r.err, "- Trying "), 0u) << r.err;
    }
  }
}

}  // namespace
}  // namespace qor::testing
