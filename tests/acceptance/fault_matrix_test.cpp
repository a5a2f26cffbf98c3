// The fault matrix: qor-cli, the program as users run it, against the real qor-server and local
// faults (a killed server, a server that never answers, a full disk, signals). Each row states
// the exit status, a line the user sees, and how many packets the finished file keeps; every
// kept file must be read by ffprobe without a word of complaint, through to its last packet.
// Rows are registered one by one so that ctest runs each as FaultMatrix.<case>.

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "asf/asf.h"
#include "common/script_server.h"
#include "common/server_process.h"

namespace qor::testing {
namespace {

enum class Via { Http, Tcp, Udp, RtspTcp, RtspUdp };

enum class Local {
  None,
  ServerKilled,  // SIGKILL to qor-server while the stream is held after 10 packets
  Silent,        // a loopback server that accepts and never says a word
  DiskFull,      // the file may not grow past the header and ten and a half packets
  FullDevice,    // the save file is a link to /dev/full
  Sigint,        // the signal to qor-cli while the stream is held after 10 packets
  Sigterm,
  Sighup,
  SaveFileDeleted,  // the save file unlinked while the stream is held after 10 packets
  // The save folder made immutable (the one read-only mark root obeys), then SIGINT: the open
  // file is still written and finished.
  FolderReadOnly,
};

constexpr int kWhole = -1;  // the whole clip

struct Row {
  const char* name;
  Via via;
  std::string query;  // the server's faults for this request
  Local local = Local::None;
  int status = 0;
  const char* message = "";  // a line (or part of one) the user sees on stderr
  int kept = kWhole;         // packets the finished file holds; 0: no file is left
  std::vector<std::string> extra = {};
};

// The server holds the stream after ten packets for longer than any row lasts, so a fault that
// strikes "mid-stream" strikes with exactly ten packets received.
const std::string kHeld = "stall=100&stall-after=10";

std::vector<Row> Rows() {
  const char* cut = "the stream was cut before its end; the file was finished with what arrived";
  const char* stopped = "interrupted; the download was stopped and its file finished";
  const char* closedEarly = "The server closed the connection before the stream began";
  const char* diskFull = "Could not access local file to write data packet";
  return {
      {"HttpClean", Via::Http, "", Local::None, 0, "- ** DOWNLOAD COMPLETED ** -"},
      {"TcpClean", Via::Tcp, "", Local::None, 0, "0 recovered, 0 lost"},
      {"UdpClean", Via::Udp, "", Local::None, 0, "0 lost"},
      {"HttpDisconnectMidData", Via::Http, "disconnect=10", Local::None, 3, cut, 10},
      {"TcpDisconnectMidData", Via::Tcp, "disconnect=10", Local::None, 3, cut, 10},
      {"UdpDisconnectMidData", Via::Udp, "disconnect=10", Local::None, 3, cut, 10},
      {"HttpDisconnectMidHeader", Via::Http, "cut-header=1", Local::None, 1, closedEarly, 0},
      {"TcpDisconnectMidHeader", Via::Tcp, "cut-header=1", Local::None, 1, closedEarly, 0},
      {"UdpDisconnectMidHeader", Via::Udp, "cut-header=1", Local::None, 1, closedEarly, 0},
      {"HttpStall",
       Via::Http,
       "stall=30&stall-after=10",
       Local::None,
       3,
       cut,
       10,
       {"--stall-timeout", "2"}},
      {"TcpStall",
       Via::Tcp,
       "stall=30&stall-after=10",
       Local::None,
       3,
       cut,
       10,
       {"--stall-timeout", "2"}},
      // A trickle of bytes that never completes a packet is no stream: the stall time-out counts
      // whole units, and the answer time-out a header that never ends.
      {"HttpTrickle",
       Via::Http,
       "trickle=10&trickle-ms=500",
       Local::None,
       3,
       cut,
       10,
       {"--stall-timeout", "3", "--data-timeout", "3"}},
      {"TcpTrickle",
       Via::Tcp,
       "trickle=10&trickle-ms=500",
       Local::None,
       3,
       cut,
       10,
       {"--stall-timeout", "3", "--data-timeout", "3"}},
      {"HttpTrickledHeader",
       Via::Http,
       "trickle=header&trickle-ms=300",
       Local::None,
       1,
       "The server did not answer within 3 seconds",
       0,
       {"--answer-timeout", "3"}},
      {"TcpTrickledHeader",
       Via::Tcp,
       "trickle=header&trickle-ms=300",
       Local::None,
       1,
       "The server did not answer within 3 seconds",
       0,
       {"--answer-timeout", "3"}},
      {"HttpBadLength", Via::Http, "bad-length=10", Local::None, 1,
       "The current HTTP command failed - Closing now", 10},
      {"TcpBadLength", Via::Tcp, "bad-length=10", Local::None, 1,
       "The current MMS packet failed - Closing now", 10},
      {"HttpUnknownTag", Via::Http, "unknown-tag=10", Local::None, 1, "Unknown command reads:", 10},
      {"TcpUnknownTag", Via::Tcp, "unknown-tag=10", Local::None, 1,
       "The current MMS packet failed - Closing now", 10},
      {"HttpUnknownCommand", Via::Http, "unknown-command=10", Local::None, 1,
       "Unknown command reads:", 10},
      {"TcpUnknownCommand", Via::Tcp, "unknown-command=10", Local::None, 1,
       "The current MMS command was unhandled", 10},
      {"HttpPasswordMissing", Via::Http, "password=ann:secret", Local::None, 1, "401 Unauthorized",
       0},
      {"TcpPasswordMissing", Via::Tcp, "password=ann:secret", Local::None, 1,
       "the server asks for a password; give --user and --password", 0},
      {"TcpPasswordGiven",
       Via::Tcp,
       "password=ann:secret",
       Local::None,
       0,
       "0 lost",
       kWhole,
       {"--user", "ann", "--password", "secret"}},
      {"HttpPasswordWrong",
       Via::Http,
       "password=ann:secret",
       Local::None,
       1,
       "401 Unauthorized",
       0,
       {"--user", "ann", "--password", "guess"}},
      {"UdpTransportRefused", Via::Udp, "refuse-transport=1", Local::None, 0, "0 lost"},
      {"TcpHeaderRequestFails", Via::Tcp, "fail=0x15:0x80070005", Local::None, 1,
       "Server Error Message : You do not have access to the location or file", 0},
      {"TcpStartPlayFails", Via::Tcp, "fail=0x07:0x80070005", Local::None, 1,
       "Server Error Message : You do not have access to the location or file", 0},
      {"HttpStatus503", Via::Http, "status=503", Local::None, 1, "503", 0},
      {"HttpSplitHeader", Via::Http, "split-header=7", Local::None, 0,
       "- ** DOWNLOAD COMPLETED ** -"},
      {"TcpHeaderInPieces", Via::Tcp, "header-pieces=5", Local::None, 0, "0 lost"},
      {"HttpHeaderInPieces", Via::Http, "header-pieces=5", Local::None, 0,
       "- ** DOWNLOAD COMPLETED ** -"},
      {"UdpDropsRecovered", Via::Udp, "drop=0.1&seed=4", Local::None, 0, "0 lost"},
      {"UdpDropsNotResent", Via::Udp, "drop-list=5,9&resend=0", Local::None, 4,
       "0 recovered, 2 lost", kWhole - 2},
      {"UdpDuplicates", Via::Udp, "dup=0.2", Local::None, 0, "0 lost"},
      {"UdpReordered", Via::Udp, "reorder=0.2", Local::None, 0, "0 lost"},
      {"HttpServerKilled", Via::Http, kHeld, Local::ServerKilled, 3, cut, 10},
      {"TcpServerKilled", Via::Tcp, kHeld, Local::ServerKilled, 3, cut, 10},
      {"UdpServerKilled", Via::Udp, kHeld, Local::ServerKilled, 3, cut, 10},
      {"HttpSilentServer",
       Via::Http,
       "",
       Local::Silent,
       1,
       "The server did not answer within 2 seconds",
       0,
       {"--answer-timeout", "2"}},
      {"TcpSilentServer",
       Via::Tcp,
       "",
       Local::Silent,
       1,
       "The server did not answer within 2 seconds",
       0,
       {"--answer-timeout", "2"}},
      {"HttpDiskFull", Via::Http, "", Local::DiskFull, 1, diskFull, 10},
      {"TcpDiskFull", Via::Tcp, "", Local::DiskFull, 1, diskFull, 10},
      {"HttpFullDevice", Via::Http, "", Local::FullDevice, 1, diskFull, 0},
      {"HttpSigint", Via::Http, kHeld, Local::Sigint, 130, stopped, 10},
      {"TcpSigint", Via::Tcp, kHeld, Local::Sigint, 130, stopped, 10},
      {"UdpSigint", Via::Udp, kHeld, Local::Sigint, 130, stopped, 10},
      {"HttpSigterm", Via::Http, kHeld, Local::Sigterm, 130, stopped, 10},
      {"TcpSigterm", Via::Tcp, kHeld, Local::Sigterm, 130, stopped, 10},
      {"HttpSighup", Via::Http, kHeld, Local::Sighup, 130, stopped, 10},
      {"HttpSaveFileDeleted",
       Via::Http,
       kHeld,
       Local::SaveFileDeleted,
       1,
       "The save file was deleted during the download",
       0,
       {"--stall-timeout", "2"}},
      {"HttpSaveFolderReadOnly", Via::Http, kHeld, Local::FolderReadOnly, 130, stopped, 10},
      // RTSP, its media interleaved in the connection or over UDP (one ASF packet in each RTP
      // packet where the row counts datagrams).
      {"RtspTcpClean", Via::RtspTcp, "", Local::None, 0, "0 recovered, 0 lost"},
      {"RtspUdpClean", Via::RtspUdp, "", Local::None, 0, "0 lost"},
      {"RtspTcpDisconnectMidHeader", Via::RtspTcp, "cut-header=1", Local::None, 1, closedEarly, 0},
      {"RtspTcpDisconnectMidData", Via::RtspTcp, "disconnect=10", Local::None, 3, cut, 10},
      {"RtspUdpDisconnectMidData", Via::RtspUdp, "disconnect=10", Local::None, 3, cut, 10},
      {"RtspSilentServer",
       Via::RtspTcp,
       "",
       Local::Silent,
       1,
       "The server did not answer within 2 seconds",
       0,
       {"--answer-timeout", "2"}},
      {"RtspTcpStall",
       Via::RtspTcp,
       "stall=30&stall-after=10",
       Local::None,
       3,
       cut,
       10,
       {"--stall-timeout", "2"}},
      {"RtspUdpStall",
       Via::RtspUdp,
       "stall=30&stall-after=10",
       Local::None,
       3,
       cut,
       10,
       {"--stall-timeout", "2"}},
      {"RtspTcpSigint", Via::RtspTcp, kHeld, Local::Sigint, 130, stopped, 10},
      {"RtspUdpSigint", Via::RtspUdp, kHeld, Local::Sigint, 130, stopped, 10},
      {"RtspPasswordWrong",
       Via::RtspTcp,
       "password=ann:secret",
       Local::None,
       1,
       "RTSP/1.0 401 Unauthorized: the server refused the user name and password",
       0,
       {"--user", "ann", "--password", "guess"}},
      {"RtspPasswordGiven",
       Via::RtspUdp,
       "password=ann:secret",
       Local::None,
       0,
       "0 lost",
       kWhole,
       {"--user", "ann", "--password", "secret"}},
      {"RtspUdpDropsRecovered", Via::RtspUdp, "drop=0.1&seed=4&rtp-size=3208", Local::None, 0,
       "0 lost"},
      {"RtspUdpDropsNotResent", Via::RtspUdp, "drop-list=5,9&resend=0&rtp-size=3208", Local::None,
       4, "2 lost", kWhole - 2},
  };
}

// ---- small helpers -------------------------------------------------------------------------

std::string SampleMedia(const std::string& name) {
  return std::string(QOR_SAMPLE_MEDIA_DIR) + "/" + name;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

long long SizeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

// Output and exit status of a shell command.
std::pair<int, std::string> Capture(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return {-1, out};
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  return {::pclose(pipe), out};
}

// A port nobody uses right now, so that rows running side by side do not share the UDP port.
int FreeUdpPort() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

// chattr +i / -i: root ignores permission bits, but not this mark.
bool SetImmutable(const std::string& path, bool on) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (done) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return done;
}

struct Outcome {
  int status = -1;
  std::string err;
};

// Runs qor-cli with its own settings folder; `fault` is polled every 20 ms while it runs and
// called once when `when` first holds. A run still going after two minutes is killed.
Outcome RunCli(const std::vector<std::string>& args, const std::string& folder,
               long long fileSizeLimit, const std::function<bool()>& when,
               const std::function<void(pid_t)>& fault) {
  const std::string errPath = folder + "/stderr.txt";
  std::vector<std::string> env{"NO_COLOR=1", "PATH=/usr/bin:/bin", "LC_ALL=C",
                               "XDG_CONFIG_HOME=" + folder + "/config"};
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS"})
    if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
  std::vector<std::string> argv{QOR_CLI_PROGRAM};
  argv.insert(argv.end(), args.begin(), args.end());
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = ::open("/dev/null", O_RDONLY);
    ::dup2(in, 0);
    ::dup2(err, 1);
    ::dup2(err, 2);
    if (fileSizeLimit > 0) {
      // A full disk: writes past the limit fail (EFBIG) instead of raising SIGXFSZ.
      ::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<char*> a, e;
    for (auto& s : argv) a.push_back(s.data());
    a.push_back(nullptr);
    for (auto& s : env) e.push_back(s.data());
    e.push_back(nullptr);
    ::execve(a[0], a.data(), e.data());
    ::_exit(127);
  }
  Outcome outcome;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  bool struck = false;
  int status = 0;
  for (;;) {
    if (::waitpid(pid, &status, WNOHANG) == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ADD_FAILURE() << "qor-cli did not end within two minutes";
      break;
    }
    if (!struck && when && when()) {
      fault(pid);
      struck = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (when) {
    EXPECT_TRUE(struck) << "the run ended before its fault could strike";
  }
  if (WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.status = 128 + WTERMSIG(status);
  outcome.err = ReadFile(errPath);
  return outcome;
}

// The packets of an ASF file as the header and the Data Object declare them.
struct Layout {
  bool header = false;
  uint64_t firstPacket = 0;
  uint32_t packetSize = 0;
  uint64_t declared = 0;       // File Properties' count
  uint64_t dataObjectEnd = 0;  // where the Data Object says its packets end
  std::string bytes;
};

Layout ReadLayout(const std::string& path) {
  Layout layout;
  layout.bytes = ReadFile(path);
  const auto* data = reinterpret_cast<const uint8_t*>(layout.bytes.data());
  if (layout.bytes.size() < 30) return layout;
  uint64_t headerSize = 0;
  for (int i = 0; i < 8; ++i) headerSize |= static_cast<uint64_t>(data[16 + i]) << (8 * i);
  if (headerSize + kDataObjectHeaderLength > layout.bytes.size()) return layout;
  TASF asf;
  if (!asf.ParseHeader(data, headerSize + kDataObjectHeaderLength)) return layout;
  layout.header = true;
  layout.firstPacket = asf.FirstPacketOffset();
  layout.packetSize = asf.PacketSize;
  layout.declared = asf.DataPacketsCount;
  uint64_t dataSize = 0;
  for (int i = 0; i < 8; ++i)
    dataSize |= static_cast<uint64_t>(data[asf.DataObjectOffset + 16 + i]) << (8 * i);
  layout.dataObjectEnd = asf.DataObjectOffset + dataSize;
  return layout;
}

std::string PacketAt(const Layout& l, uint64_t index) {
  return l.bytes.substr(l.firstPacket + index * l.packetSize, l.packetSize);
}

// "N packets saved" of the summary line, or -1.
long long SummaryPackets(const std::string& err) {
  const size_t at = err.find("qor-cli: summary: ");
  if (at == std::string::npos) return -1;
  const size_t word = err.find(" packets saved", at);
  if (word == std::string::npos) return -1;
  size_t begin = word;
  while (begin > at && std::isdigit(static_cast<unsigned char>(err[begin - 1]))) --begin;
  return std::atoll(err.substr(begin, word - begin).c_str());
}

struct TableLine {
  std::string name;
  int status;
  std::string message;
  std::string kept;
};
std::mutex g_table_mutex;
std::vector<TableLine> g_table;

class FaultMatrix : public ::testing::Test {
 public:
  explicit FaultMatrix(Row row) : row_(std::move(row)) {}

  void TestBody() override {
    char pattern[] = "/tmp/qor-matrix-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
    const Layout source = ReadLayout(SampleMedia("clip.wmv"));
    ASSERT_TRUE(source.header);
    const long long wholeClip = static_cast<long long>(source.declared);
    const long long expectedKept = row_.kept < 0 ? wholeClip + (row_.kept - kWhole) : row_.kept;

    // Pre-recorded clips go out as fast as the socket takes them; a row that needs the stream
    // in progress holds it with the server's stall instead of pacing.
    std::unique_ptr<ServerProcess> server;
    std::unique_ptr<test::SilentListener> silent;
    int httpPort = 0, mmsPort = 0, rtspPort = 0;
    if (row_.local == Local::Silent) {
      silent = std::make_unique<test::SilentListener>();
      httpPort = mmsPort = rtspPort = silent->Port();
    } else {
      server = std::make_unique<ServerProcess>(
          QOR_SERVER_PROGRAM, std::vector<std::string>{"--root", QOR_SAMPLE_MEDIA_DIR, "--rate",
                                                       "0", "--rtsp-port", "0"});
      ASSERT_TRUE(server->Running());
      httpPort = server->HttpPort();
      mmsPort = server->MmsPort();
      rtspPort = server->RtspPort();
    }
    const std::string name = row_.query.empty() ? "clip.wmv" : "clip.wmv?" + row_.query;
    std::string url;
    switch (row_.via) {
      case Via::Http:
        url = "http://127.0.0.1:" + std::to_string(httpPort) + "/" + name;
        break;
      case Via::Tcp:
        url = "mmst://127.0.0.1:" + std::to_string(mmsPort) + "/" + name;
        break;
      case Via::Udp:
        url = "mmsu://127.0.0.1:" + std::to_string(mmsPort) + "/" + name;
        break;
      case Via::RtspTcp:
        url = "rtspt://127.0.0.1:" + std::to_string(rtspPort) + "/" + name;
        break;
      case Via::RtspUdp:
        url = "rtspu://127.0.0.1:" + std::to_string(rtspPort) + "/" + name;
        break;
    }
    const std::string saved = folder_ + "/saved.asf";
    if (row_.local == Local::FullDevice) {
      ASSERT_EQ(::symlink("/dev/full", saved.c_str()), 0);
    }
    // Generous time-outs, so that a slow sanitizer build on a busy machine keeps its row; the rows
    // about time-outs give their own short ones (the last flag counts).
    std::vector<std::string> args{"get", url, "-o", saved, "--overwrite"};
    for (const char* timeout :
         {"--connect-timeout", "--answer-timeout", "--data-timeout", "--stall-timeout"})
      args.insert(args.end(), {timeout, "20"});
    if (row_.via == Via::Udp || row_.via == Via::RtspUdp)
      args.insert(args.end(), {"--udp-port", std::to_string(FreeUdpPort())});
    args.insert(args.end(), row_.extra.begin(), row_.extra.end());

    // Mid-stream faults strike once the ten packets before the hold are on disk.
    std::function<bool()> when;
    std::function<void(pid_t)> fault;
    const long long tenPackets = 10LL * source.packetSize;
    if (row_.local == Local::ServerKilled || row_.local == Local::Sigint ||
        row_.local == Local::Sigterm || row_.local == Local::Sighup ||
        row_.local == Local::SaveFileDeleted || row_.local == Local::FolderReadOnly) {
      when = [&] { return SizeOf(saved) >= tenPackets; };
    }
    if (row_.local == Local::ServerKilled) fault = [&](pid_t) { ::kill(server->Pid(), SIGKILL); };
    if (row_.local == Local::Sigint) fault = [](pid_t pid) { ::kill(pid, SIGINT); };
    if (row_.local == Local::Sigterm) fault = [](pid_t pid) { ::kill(pid, SIGTERM); };
    if (row_.local == Local::Sighup) fault = [](pid_t pid) { ::kill(pid, SIGHUP); };
    if (row_.local == Local::SaveFileDeleted) fault = [&saved](pid_t) { ::unlink(saved.c_str()); };
    if (row_.local == Local::FolderReadOnly) {
      fault = [this](pid_t pid) {
        EXPECT_TRUE(SetImmutable(folder_, true)) << "the folder could not be made immutable";
        ::kill(pid, SIGINT);
      };
    }
    // Room for the header and ten and a half packets.
    const long long limit =
        row_.local == Local::DiskFull
            ? static_cast<long long>(source.firstPacket) + source.packetSize * 21LL / 2
            : 0;

    const Outcome outcome = RunCli(args, folder_, limit, when, fault);
    if (server) server->Stop();
    const std::string log = "\n--- qor-cli's stderr ---\n" + outcome.err;

    EXPECT_EQ(outcome.status, row_.status) << log;
    EXPECT_NE(outcome.err.find(row_.message), std::string::npos)
        << "missing: \"" << row_.message << "\"" << log;
    const long long summary = SummaryPackets(outcome.err);
    EXPECT_EQ(summary, expectedKept) << "the summary's count" << log;
    {
      std::lock_guard<std::mutex> lock(g_table_mutex);
      g_table.push_back({row_.name, row_.status, row_.message, std::to_string(summary)});
    }

    if (row_.local == Local::FullDevice) return;  // nothing to read back from /dev/full
    if (expectedKept == 0) {
      EXPECT_LT(SizeOf(saved), 0) << "a run that kept no packet leaves no file" << log;
      return;
    }
    const Layout copy = ReadLayout(saved);
    ASSERT_TRUE(copy.header) << log;
    ASSERT_EQ(copy.packetSize, source.packetSize);
    // Lost packets are holes inside the declared count; the summary counts what holds media.
    const uint64_t lost = static_cast<uint64_t>(wholeClip - expectedKept);
    EXPECT_EQ(copy.declared, row_.kept < 0 ? source.declared : static_cast<uint64_t>(expectedKept));
    EXPECT_EQ(copy.dataObjectEnd, copy.firstPacket + copy.declared * copy.packetSize)
        << "the Data Object's size";
    ASSERT_LE(copy.dataObjectEnd, copy.bytes.size());
    // Every packet kept is the server's packet, byte for byte (a hole differs from its source).
    uint64_t differing = 0;
    for (uint64_t i = 0; i < copy.declared; ++i)
      if (PacketAt(copy, i) != PacketAt(source, i)) ++differing;
    EXPECT_EQ(differing, row_.kept < 0 ? lost : 0u);

    // ffprobe reads the file without a word and through to its end: the last frame it finds
    // starts in one of the last packets declared.
    const auto [probeStatus, complaints] = Capture(
        "ffprobe -v error -show_entries packet=pos -of csv=p=0 '" + saved + "' 2>&1 >/dev/null");
    EXPECT_EQ(probeStatus, 0);
    EXPECT_EQ(complaints, "") << "ffprobe -v error";
    const auto [listStatus, positions] =
        Capture("ffprobe -v error -show_entries packet=pos -of csv=p=0 '" + saved + "'");
    ASSERT_EQ(listStatus, 0);
    long long lastPos = -1;
    for (size_t at = 0; at < positions.size();) {
      const size_t end = positions.find('\n', at);
      lastPos = std::max(lastPos, std::atoll(positions.substr(at, end - at).c_str()));
      if (end == std::string::npos) break;
      at = end + 1;
    }
    ASSERT_GE(lastPos, static_cast<long long>(copy.firstPacket)) << "ffprobe read no frame";
    const long long lastPacket =
        (lastPos - static_cast<long long>(copy.firstPacket)) / copy.packetSize;
    EXPECT_LT(lastPacket, static_cast<long long>(copy.declared));
    EXPECT_GE(lastPacket, static_cast<long long>(copy.declared) - 3);
  }

  void TearDown() override {
    if (row_.local == Local::FolderReadOnly) SetImmutable(folder_, false);
    if (!folder_.empty() && !HasFailure()) std::filesystem::remove_all(folder_);
  }

 private:
  Row row_;
  std::string folder_;
};

// The table, once every row of this run is done.
class TablePrinter : public ::testing::EmptyTestEventListener {
  void OnTestProgramEnd(const ::testing::UnitTest&) override {
    std::lock_guard<std::mutex> lock(g_table_mutex);
    if (g_table.empty()) return;
    std::printf("\n%-26s %6s  %-8s %s\n", "case", "status", "packets", "message");
    for (const TableLine& line : g_table)
      std::printf("%-26s %6d  %-8s %s\n", line.name.c_str(), line.status, line.kept.c_str(),
                  line.message.c_str());
    std::fflush(stdout);
  }
};

const bool g_registered = [] {
  for (const Row& row : Rows()) {
    ::testing::RegisterTest("FaultMatrix", row.name, nullptr, nullptr, __FILE__, __LINE__,
                            [row]() -> ::testing::Test* { return new FaultMatrix(row); });
  }
  ::testing::UnitTest::GetInstance()->listeners().Append(new TablePrinter);
  return true;
}();

}  // namespace
}  // namespace qor::testing
