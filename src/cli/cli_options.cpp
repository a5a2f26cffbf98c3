#include "cli/cli_options.h"

#include <cctype>
#include <map>

#include "app/date_time_text.h"
#include "cli/exit_status.h"
#include "support/helper.h"

namespace qor::cli {

namespace {

bool IsNumberIn(const std::string& text, long low, long high) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  const long value = std::stol(text);
  return value >= low && value <= high;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Flags that take a value, per command.
const std::map<std::string, std::vector<Command>>& ValueFlags() {
  static const std::map<std::string, std::vector<Command>> flags{
      {"--protocol", {Command::Get, Command::Record}},
      {"--http-port", {Command::Get, Command::Record, Command::Info}},
      {"--tcp-port", {Command::Get, Command::Record}},
      {"--udp-port", {Command::Get, Command::Record}},
      {"--proxy", {Command::Get, Command::Record}},
      {"--offset", {Command::Get, Command::Record}},
      {"--max-udp", {Command::Get, Command::Record}},
      {"--max-rate", {Command::Get, Command::Record}},
      {"--streams", {Command::Get, Command::Record}},
      {"--user", {Command::Get, Command::Record}},
      {"--password", {Command::Get, Command::Record}},
      {"--connect-timeout", {Command::Get, Command::Record}},
      {"--answer-timeout", {Command::Get, Command::Record}},
      {"--data-timeout", {Command::Get, Command::Record}},
      {"--stall-timeout", {Command::Get, Command::Record}},
      {"--reconnect", {Command::Get, Command::Record}},
      {"-o", {Command::Get}},
      {"-d", {Command::Get, Command::Record}},
      {"--config-dir", {Command::Get, Command::Record, Command::Info}},
      {"--log", {Command::Get, Command::Record}},
      {"--start", {Command::Record}},
      {"--end", {Command::Record}},
  };
  return flags;
}

const std::map<std::string, std::vector<Command>>& SwitchFlags() {
  static const std::map<std::string, std::vector<Command>> flags{
      {"--bypass-dns", {Command::Get, Command::Record}},
      {"--audio-only", {Command::Get, Command::Record}},
      {"--save-password", {Command::Get, Command::Record}},
      {"--resume", {Command::Get}},
      {"--overwrite", {Command::Get}},
      {"--json", {Command::Info}},
  };
  return flags;
}

bool Allowed(const std::vector<Command>& commands, Command command) {
  for (Command c : commands) {
    if (c == command) return true;
  }
  return false;
}

std::string CheckValue(CliOptions& o, const std::string& flag, const std::string& value) {
  if (flag == "--protocol") {
    const std::string p = Lower(value);
    if (p != "http" && p != "tcp" && p != "udp" && p != "auto")
      return "--protocol must be http, tcp, udp or auto";
    o.protocol = p == "http" ? "HTTP" : p == "tcp" ? "TCP" : p == "udp" ? "UDP" : "AUTO";
  } else if (flag == "--http-port" || flag == "--tcp-port" || flag == "--udp-port") {
    if (!IsNumberIn(value, 1, 65535)) return flag + " must be a port number from 1 to 65535";
    (flag == "--http-port" ? o.httpPort : flag == "--tcp-port" ? o.tcpPort : o.udpPort) = value;
  } else if (flag == "--max-udp") {
    if (!IsNumberIn(value, 1, 65535)) return "--max-udp must be a size from 1 to 65535";
    o.maxUdp = value;
  } else if (flag == "--proxy") {
    const size_t colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0 || !IsNumberIn(value.substr(colon + 1), 1, 65535))
      return "--proxy must be HOST:PORT";
    o.proxyHost = value.substr(0, colon);
    o.proxyPort = value.substr(colon + 1);
  } else if (flag == "--max-rate") {
    if (!IsNumberIn(value, 1000, 2000000000))
      return "--max-rate must be bits per second, 1000 or more";
    o.maxRate = value;
  } else if (flag == "--streams") {
    o.streams.clear();
    size_t pos = 0;
    while (pos <= value.size()) {
      const size_t comma = std::min(value.find(',', pos), value.size());
      const std::string number = value.substr(pos, comma - pos);
      if (!IsNumberIn(number, 1, 127)) return "--streams must be stream numbers 1 to 127, like 1,3";
      o.streams.push_back(static_cast<uint8_t>(std::stoi(number)));
      pos = comma + 1;
    }
  } else if (flag == "--offset") {
    if (!ParseStoredTime(value)) return "--offset must be a time HH:MM:SS";
    o.offset = value;
  } else if (flag == "--connect-timeout" || flag == "--answer-timeout" ||
             flag == "--data-timeout" || flag == "--stall-timeout") {
    if (!IsNumberIn(value, 0, 86400)) return flag + " must be seconds from 0 (no limit) to 86400";
    std::optional<int>& target = flag == "--connect-timeout"  ? o.connectTimeout
                                 : flag == "--answer-timeout" ? o.answerTimeout
                                 : flag == "--data-timeout"   ? o.dataTimeout
                                                              : o.stallTimeout;
    target = std::stoi(value);
  } else if (flag == "--reconnect") {
    if (!IsNumberIn(value, 0, 1000)) return "--reconnect must be a number of attempts, 0 to 1000";
    o.reconnect = std::stoi(value);
  } else if (flag == "--user") {
    o.user = value;
  } else if (flag == "--password") {
    o.password = value;
  } else if (flag == "-o") {
    if (!(THelper::ClassifyLocation(value) & lcMediaFile))
      return "-o must name a media file (.asf, .wmv, .wma or .wm)";
    o.output = value;
  } else if (flag == "-d") {
    if (value.empty()) return "-d needs a folder";
    o.directory = value;
  } else if (flag == "--config-dir") {
    if (value.empty()) return "--config-dir needs a folder";
    o.configDir = value;
  } else if (flag == "--log") {
    if (value.empty()) return "--log needs a file name";
    o.logFile = value;
  } else if (flag == "--start" || flag == "--end") {
    if (!ParseStoredDateTime(value)) return flag + " must be a moment \"YYYY-MM-DD HH:MM:SS\"";
    (flag == "--start" ? o.start : o.end) = value;
  }
  return std::string();
}

}  // namespace

std::string ProtocolOfScheme(const std::string& url) {
  const std::string lower = Lower(url);
  if (lower.rfind("mmsu://", 0) == 0) return "UDP";
  if (lower.rfind("mmst://", 0) == 0) return "TCP";
  if (lower.rfind("http://", 0) == 0 || lower.rfind("mmsh://", 0) == 0) return "HTTP";
  return std::string();
}

std::string RunProtocol(const CliOptions& options, const std::string& url,
                        const std::string& stored) {
  if (options.protocol) return *options.protocol;
  std::string protocol = ProtocolOfScheme(url);
  if (protocol.empty() && stored.empty() && Lower(url).rfind("mms://", 0) == 0) protocol = "AUTO";
  return protocol;
}

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  ParseResult result;
  CliOptions& o = result.options;
  if (args.empty()) {
    o.command = Command::Help;
    return result;
  }
  const std::string& first = args[0];
  if (first == "-h" || first == "--help" || first == "help") {
    o.command = Command::Help;
    return result;
  }
  if (first == "--version") {
    o.command = Command::Version;
    return result;
  }
  if (first == "get") {
    o.command = Command::Get;
  } else if (first == "record") {
    o.command = Command::Record;
  } else if (first == "info") {
    o.command = Command::Info;
  } else {
    result.error = "unknown command '" + first + "'";
    return result;
  }

  std::vector<std::string> positional;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      o.help = true;
      return result;
    }
    std::string flag = a;
    std::optional<std::string> inlineValue;
    if (a.rfind("--", 0) == 0) {
      const size_t eq = a.find('=');
      if (eq != std::string::npos) {
        flag = a.substr(0, eq);
        inlineValue = a.substr(eq + 1);
      }
    }
    if (auto it = SwitchFlags().find(flag); it != SwitchFlags().end() && !inlineValue) {
      if (!Allowed(it->second, o.command)) {
        result.error = flag + " is not a flag of this command";
        return result;
      }
      if (flag == "--bypass-dns") o.bypassDns = true;
      if (flag == "--audio-only") o.audioOnly = true;
      if (flag == "--save-password") o.savePassword = true;
      if (flag == "--resume") o.resume = true;
      if (flag == "--overwrite") o.overwrite = true;
      if (flag == "--json") o.json = true;
      continue;
    }
    if (auto it = ValueFlags().find(flag); it != ValueFlags().end()) {
      if (!Allowed(it->second, o.command)) {
        result.error = flag + " is not a flag of this command";
        return result;
      }
      std::string value;
      if (inlineValue) {
        value = *inlineValue;
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        result.error = flag + " needs a value";
        return result;
      }
      result.error = CheckValue(o, flag, value);
      if (!result.error.empty()) return result;
      continue;
    }
    if (a.size() > 1 && a[0] == '-') {
      result.error = "unknown flag '" + a + "'";
      return result;
    }
    positional.push_back(a);
  }

  if (positional.size() != 1) {
    result.error = positional.empty() ? "missing argument" : "too many arguments";
    return result;
  }
  if (o.command == Command::Info) {
    o.file = positional[0];
  } else {
    o.url = positional[0];
  }
  if (o.resume && o.overwrite) {
    result.error = "--resume and --overwrite exclude each other";
    return result;
  }
  if ((o.resume || o.overwrite) && !o.output) {
    result.error = "--resume and --overwrite need -o FILE";
    return result;
  }
  if (o.password && !o.user) {
    result.error = "--password needs --user";
    return result;
  }
  if (o.command == Command::Record) {
    if (o.start.empty() || o.end.empty()) {
      result.error = "record needs --start and --end";
      return result;
    }
    if (*ParseStoredDateTime(o.end) <= *ParseStoredDateTime(o.start)) {
      result.error = "--end must be after --start";
      return result;
    }
  }
  return result;
}

std::string GeneralUsage() {
  return std::string(
             "Usage: qor-cli COMMAND [flags]\n"
             "\n"
             "Records Windows Media streams (MMS over TCP or UDP, HTTP streaming) to .asf files.\n"
             "\n"
             "Commands:\n"
             "  get URL          download one stream or file\n"
             "  record URL       record between a start and an end moment (the VCR)\n"
             "  info FILE        show the media information of a saved file\n"
             "  open LOCATION    open a location or play list and print what it holds\n"
             "  batch LOCATION   download every entry of a play list\n"
             "\n"
             "  --help           this text; 'qor-cli COMMAND --help' for a command's flags\n"
             "  --version        the version\n"
             "\n") +
         kExitStatusTable;
}

namespace {

const char* const kTransferFlags =
    "  --protocol http|tcp|udp|auto  transport (default: from the scheme: mmsu:// UDP,\n"
    "                            mmst:// TCP, http:// and mmsh:// HTTP; otherwise the stored\n"
    "                            choice, and auto for mms:// when none is stored); auto tries\n"
    "                            UDP, then TCP, then HTTP (port 80, then --http-port)\n"
    "  --http-port N             server port for HTTP streaming (stored default 80)\n"
    "  --tcp-port N              server port for MMS (stored default 1755)\n"
    "  --udp-port N              local port for MMS data over UDP (stored default 7000)\n"
    "  --max-udp N               receive size of the UDP socket, 1 to 65535\n"
    "  --proxy HOST:PORT         connect through this proxy\n"
    "  --offset HH:MM:SS         start that far into pre-recorded media\n"
    "  --max-rate BPS            of a multiple-bit-rate stream, ask for the best streams that\n"
    "                            fit this many bits per second together\n"
    "  --streams N,N...          ask for these stream numbers only (see info of a location)\n"
    "  --audio-only              ask for no video stream\n"
    "  --bypass-dns              the host is a dotted address: do not look it up\n"
    "  --user ID --password PW   answer a server's password request (without them: a prompt\n"
    "                            on the terminal, or the request is declined); used for this\n"
    "                            run only\n"
    "  --save-password           keep the credentials for that server once it accepted them\n"
    "  --config-dir DIR          settings folder (default $XDG_CONFIG_HOME/qor)\n"
    "  --log FILE                save the log as text when the download ends\n"
    "  --connect-timeout S       give up when no connection is made within S seconds\n"
    "                            (stored ConnectTimeout, default 20; 0: no limit)\n"
    "  --answer-timeout S        give up when the server has not sent the stream's header\n"
    "                            S seconds after connecting (AnswerTimeout, default 20)\n"
    "  --data-timeout S          give up when no media follows the header within S seconds\n"
    "                            (FirstDataTimeout, default 30)\n"
    "  --stall-timeout S         a stream that sends nothing for S seconds is treated as cut\n"
    "                            (StallTimeout, default 30)\n"
    "  --reconnect N             a live stream that is cut (closed, reset or stalled) is\n"
    "                            joined again up to N times in a row, with growing pauses,\n"
    "                            each time into the next automatically named file (default:\n"
    "                            stored Reconnects, else 3 for record and without -o, else 0)\n"
    "Every download ends with a one-line summary on stderr.\n"
    "A location may name its port: mms://host:8755/clip.\n";

}  // namespace

std::string CommandName(Command command) {
  switch (command) {
    case Command::Get:
      return "get";
    case Command::Record:
      return "record";
    case Command::Info:
      return "info";
    default:
      return "";
  }
}

std::string CommandUsage(Command command) {
  switch (command) {
    case Command::Get:
      return std::string(
                 "Usage: qor-cli get URL [flags]\n"
                 "\n"
                 "Downloads one stream into a save file. Log lines go to stderr; on a terminal "
                 "one\n"
                 "progress line is kept up to date.\n"
                 "\n"
                 "  -o FILE          save into FILE (.asf, .wmv, .wma or .wm); an existing file "
                 "that\n"
                 "                   holds data is left alone unless --resume or --overwrite is "
                 "given\n"
                 "  --resume         continue the download stored in FILE\n"
                 "  --overwrite      replace FILE\n"
                 "  -d DIR           without -o: the folder for the automatic name _N_NAME\n"
                 "                   (default the current folder)\n") +
             kTransferFlags + "\n" + kExitStatusTable;
    case Command::Record:
      return std::string(
                 "Usage: qor-cli record URL --start \"YYYY-MM-DD HH:MM:SS\" --end \"YYYY-MM-DD "
                 "HH:MM:SS\" [flags]\n"
                 "\n"
                 "Waits for the start moment (local time), records the stream into an "
                 "automatically\n"
                 "named file in -d DIR until the end moment, then finishes the file.\n"
                 "\n"
                 "  -d DIR           folder of the recording (default the current folder)\n") +
             kTransferFlags + "\n" + kExitStatusTable;
    case Command::Info:
      return std::string(
                 "Usage: qor-cli info FILE|LOCATION [--json]\n"
                 "\n"
                 "Shows the media information of a saved file: clip, times, codecs, streams.\n"
                 "Of a location (http://, mmsh://, mms://), the streams the server offers with\n"
                 "their rates and groups, asked over HTTP streaming before anything is recorded.\n"
                 "\n"
                 "  --json           as one JSON object\n"
                 "  --http-port N    the HTTP port to ask for an mms:// location (default 80)\n"
                 "\n") +
             kExitStatusTable;
    default:
      return GeneralUsage();
  }
}

}  // namespace qor::cli
