// qor-cli verify and repair on what a real download leaves: a recording killed with SIGKILL
// half way through a paced stream is repaired into a file that ffprobe and ffmpeg read to its
// end and whose media packets are the source's first ones; finished recordings verify whole.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <random>
#include <sstream>

#include <nlohmann/json.hpp>

#include "asf/asf_scan.h"
#include "cli_runner.h"
#include "common/server_process.h"
#include "platform/temp_folder.h"
#include "session/header_checkpoints.h"

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

// The file read whole by our own scan, as verify reads it.
AsfFileScan Scan(const std::string& path) {
  const std::string bytes = ReadFile(path);
  AsfFileScan scan;
  std::string why;
  EXPECT_TRUE(ScanAsfFile(
      [&](uint64_t at, void* into, size_t count) -> int64_t {
        const std::string part = at < bytes.size() ? bytes.substr(at, count) : "";
        std::copy(part.begin(), part.end(), static_cast<char*>(into));
        return static_cast<int64_t>(part.size());
      },
      bytes.size(), scan, why))
      << path << ": " << why;
  return scan;
}

// What `ffmpeg -v error` says reading the file whole, or from `seek` seconds on.
std::string FfmpegComplaints(const std::string& path, double seek = -1) {
  int status = -1;
  const std::string from = seek >= 0 ? " -ss " + std::to_string(seek) : "";
  const std::string said =
      Shell("ffmpeg -v error -nostdin" + from + " -i '" + path + "' -f null - 2>&1", &status);
  return status == 0 ? said : said + "(failed)";
}

class CliRepairVerify : public ::testing::Test {
 protected:
  void Serve(const char* rate, const std::string& root = QOR_SAMPLE_MEDIA_DIR) {
    server_ = std::make_unique<ServerProcess>(
        QOR_SERVER_PROGRAM, std::vector<std::string>{"--root", root, "--rate", rate});
    ASSERT_TRUE(server_->Running());
  }
  CliResult Cli(std::vector<std::string> args) {
    CliRun run;
    run.args = std::move(args);
    run.workDir = folder_.Path();
    return RunCli(run);
  }
  std::string Url(const std::string& scheme, const std::string& name = "clip.wmv") const {
    const int port = scheme == "http" ? server_->HttpPort() : server_->MmsPort();
    return scheme + "://127.0.0.1:" + std::to_string(port) + "/" + name;
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

// Killed at any moment, a recording is a file readers take at its header's word: ffprobe gives
// the duration it describes (at most one checkpoint behind what arrived), ffmpeg reads it and
// seeks in it without a word, and repair makes it finished with the source's packets.
TEST_F(CliRepairVerify, AFileKilledAtAnyMomentIsValidAsItLies) {
  // 20 s with a key frame every second, in small packets, served at eight times real time.
  ASSERT_EQ(Shell("ffmpeg -v error -nostdin -f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi "
                  "-i sine=frequency=440:sample_rate=22050 -t 20 -c:v wmv2 -g 25 -b:v 100k "
                  "-c:a wmav2 -b:a 32k -ac 1 -packet_size 1600 -f asf '" +
                  Path("long.wmv") + "' 2>&1"),
            "");
  Serve("8", folder_.Path());
  const std::vector<std::string> source = MediaPackets(Path("long.wmv"));
  const AsfFileScan clip = Scan(Path("long.wmv"));
  const double interval = HeaderCheckpoints::kMediaMs / 1000.0;
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  // Anywhere past the first checkpoints (before them the header counts nothing, which readers
  // take as no duration at all) to near the end, not only between packets.
  std::uniform_int_distribution<uint64_t> bytes(24 * clip.layout.packetSize,
                                                clip.slots * clip.layout.packetSize * 9 / 10);
  const std::string schemes[] = {"http", "mmst", "mmsu"};
  for (int kill = 0; kill < 20; ++kill) {
    const std::string scheme = schemes[kill % 3];
    const long long cutAt = static_cast<long long>(clip.layout.firstPacketAt + bytes(random));
    SCOPED_TRACE(scheme + ", killed at byte " + std::to_string(cutAt) + " (seed " +
                 std::to_string(seed) + ")");
    const std::string name = "k" + std::to_string(kill) + ".asf", path = Path(name);
    CliRun run;
    run.args = {"get", Url(scheme, "long.wmv"), "-o", name};
    run.workDir = folder_.Path();
    run.interruptSignal = SIGKILL;
    run.interruptWhen = [&] { return FileSize(path) >= cutAt; };
    ASSERT_EQ(RunCli(run).status, 128 + SIGKILL);

    // The file as it lies.
    const AsfFileScan lies = Scan(path);
    ASSERT_TRUE(lies.lastReadable.has_value());
    EXPECT_TRUE(lies.declaredPackets <= lies.slots && !lies.broadcast);
    const double arrived = lies.lastSendTime / 1000.0;
    const double duration = ProbeDuration(path);  // 0 when ffprobe gives none
    EXPECT_GE(duration, arrived - interval - 0.1) << "arrived " << arrived;
    EXPECT_LE(duration, arrived + 0.2) << "arrived " << arrived;
    EXPECT_EQ(FfmpegComplaints(path), "");
    // Seeking lands at the key frame at or before the time asked for.
    const double at = duration * 0.75;
    EXPECT_EQ(FfmpegComplaints(path, at), "") << "seeking to " << at;
    const double landed =
        std::atof(Shell("ffprobe -v error -read_intervals " + std::to_string(at) +
                        "%+#1 -show_entries packet=pts_time -of csv=p=0 '" + path + "'")
                      .c_str());
    EXPECT_TRUE(landed <= at + 0.1 && landed >= at - 1.5) << at << " landed at " << landed;

    // Repaired: finished, with the source's first packets.
    ASSERT_EQ(Cli({"repair", name}).status, 0);
    EXPECT_EQ(Cli({"verify", name}).status, 0);
    const std::vector<std::string> kept = MediaPackets(path);
    ASSERT_TRUE(!kept.empty() && kept.size() <= source.size());
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), source.begin()));
  }
}

// Datagrams lost for good (a tenth of them, resends refused) become packets of padding: the
// header counts only packets that parse, every packet with media is the server's, readers skip
// the padding without a word, and the run ends with exit 4 and the count of what was lost.
TEST_F(CliRepairVerify, LostDatagramsBecomePaddingThatReadersSkip) {
  Serve("0");
  const CliResult r = Cli({"get", Url("mmsu", "clip.wmv?drop=0.1&resend=0&seed=4"), "-o", "l.asf"});
  EXPECT_EQ(r.status, 4) << r.err;
  const AsfFileScan source = Scan(SampleMedia("clip.wmv"));
  const AsfFileScan saved = Scan(Path("l.asf"));
  EXPECT_EQ(saved.declaredPackets, source.declaredPackets);
  EXPECT_EQ(saved.declaredPackets, saved.slots);
  uint64_t padding = 0;
  for (const AsfHole& hole : saved.holes) {
    EXPECT_EQ(hole.kind, AsfHole::Kind::PaddingOnly) << "packet " << hole.first;
    padding += hole.count;
  }
  EXPECT_GT(padding, 0u);
  EXPECT_NE(r.err.find(", " + std::to_string(padding) + " lost"), std::string::npos) << r.err;
  // Every other packet is the server's, byte for byte.
  const std::string a = ReadFile(SampleMedia("clip.wmv")), b = ReadFile(Path("l.asf"));
  const uint64_t size = saved.layout.packetSize;
  size_t differ = 0;
  for (uint64_t i = 0; i < saved.slots; ++i)
    differ += b.substr(saved.layout.firstPacketAt + i * size, size) !=
              a.substr(source.layout.firstPacketAt + i * size, size);
  EXPECT_EQ(differ, padding);
  EXPECT_EQ(FfmpegComplaints(Path("l.asf")), "");
  EXPECT_EQ(Cli({"verify", "l.asf"}).status, 4);
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
