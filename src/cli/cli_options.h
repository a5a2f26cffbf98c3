#pragma once
// The command line of qor-cli: commands, their flags and the checks made before anything runs.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qor::cli {

enum class Command { None, Help, Version, Get, Record, Info, Open };

struct CliOptions {
  Command command = Command::None;
  bool help = false;  // --help of a command
  std::string url;    // get, record
  std::string file;   // info

  // Options dialog controls for this run (unset: the stored value).
  std::optional<std::string> protocol;  // "HTTP", "TCP", "UDP" or "AUTO"
  std::optional<std::string> httpPort, tcpPort, udpPort, maxUdp;
  std::optional<std::string> proxyHost, proxyPort;
  std::optional<std::string> offset;  // "HH:MM:SS"
  bool bypassDns = false;
  std::optional<std::string> maxRate;  // bits per second
  std::vector<uint8_t> streams;        // --streams
  bool audioOnly = false;
  bool savePassword = false;
  std::optional<std::string> user, password;
  // Session time-outs in seconds (unset: the stored value, else the default).
  std::optional<int> connectTimeout, answerTimeout, dataTimeout, stallTimeout;
  // --reconnect N: attempts to join a cut live stream again (unset: the stored choice, else 3
  // for record and unattended gets, none with -o).
  std::optional<int> reconnect;

  std::optional<std::string> output;  // -o (open: where a fetched play list is saved)
  bool resume = false, overwrite = false;
  std::string directory;  // -d
  std::optional<std::string> configDir;
  std::optional<std::string> logFile;
  // --progress json: one JSON object a second and a final summary object on stderr.
  bool progressJson = false;

  // record
  std::string start, end;  // "YYYY-MM-DD HH:MM:SS"

  // info, open
  bool json = false;
};

struct ParseResult {
  CliOptions options;
  std::string error;  // non-empty: a usage error
};

ParseResult ParseCommandLine(const std::vector<std::string>& args);

std::string GeneralUsage();
// The flags of every command that downloads (get, record, batch), as their usage lists them.
std::string TransferFlagsUsage();
std::string CommandName(Command command);
std::string CommandUsage(Command command);

}  // namespace qor::cli
