#include "cli/cli_options.h"

#include <cctype>
#include <map>

#include <CLI/CLI.hpp>

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

// Every flag of get, record and info: its name, whether it takes a value, and the commands that
// have it. The parser is made from this table; a new flag is one row here and, when it takes a
// value, one check in CheckValue.
struct FlagRow {
  const char* name;
  bool takesValue;
  std::vector<Command> commands;
};

const std::vector<FlagRow>& Flags() {
  static const std::vector<FlagRow> rows{
      {"--protocol", true, {Command::Get, Command::Record}},
      {"--http-port", true, {Command::Get, Command::Record, Command::Info}},
      {"--tcp-port", true, {Command::Get, Command::Record}},
      {"--udp-port", true, {Command::Get, Command::Record}},
      {"--proxy", true, {Command::Get, Command::Record, Command::Info, Command::Open}},
      {"--offset", true, {Command::Get, Command::Record}},
      {"--max-udp", true, {Command::Get, Command::Record}},
      {"--max-rate", true, {Command::Get, Command::Record}},
      {"--streams", true, {Command::Get, Command::Record}},
      {"--user", true, {Command::Get, Command::Record, Command::Open}},
      {"--password", true, {Command::Get, Command::Record, Command::Open}},
      {"--connect-timeout", true, {Command::Get, Command::Record, Command::Info}},
      {"--answer-timeout", true, {Command::Get, Command::Record, Command::Info}},
      {"--data-timeout", true, {Command::Get, Command::Record}},
      {"--stall-timeout", true, {Command::Get, Command::Record}},
      {"--reconnect", true, {Command::Get, Command::Record}},
      {"-o", true, {Command::Get, Command::Open}},
      {"-d", true, {Command::Get, Command::Record}},
      {"--config-dir", true, {Command::Get, Command::Record, Command::Info, Command::Open}},
      {"--log", true, {Command::Get, Command::Record}},
      {"--progress", true, {Command::Get, Command::Record}},
      {"--start", true, {Command::Record}},
      {"--end", true, {Command::Record}},
      {"--bypass-dns", false, {Command::Get, Command::Record}},
      {"--audio-only", false, {Command::Get, Command::Record}},
      {"--fast", false, {Command::Get, Command::Record}},
      {"--no-fast", false, {Command::Get, Command::Record}},
      {"--save-password", false, {Command::Get, Command::Record, Command::Open}},
      {"--resume", false, {Command::Get}},
      {"--overwrite", false, {Command::Get}},
      {"--json", false, {Command::Info, Command::Open}},
  };
  return rows;
}

const FlagRow* FindFlag(const std::string& name) {
  for (const FlagRow& row : Flags())
    if (name == row.name) return &row;
  return nullptr;
}

void SetSwitch(CliOptions& o, const std::string& flag) {
  if (flag == "--bypass-dns") o.bypassDns = true;
  if (flag == "--audio-only") o.audioOnly = true;
  if (flag == "--fast") o.fast = true;
  if (flag == "--no-fast") o.noFast = true;
  if (flag == "--save-password") o.savePassword = true;
  if (flag == "--resume") o.resume = true;
  if (flag == "--overwrite") o.overwrite = true;
  if (flag == "--json") o.json = true;
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
    if (p != "http" && p != "tcp" && p != "udp" && p != "auto" && p != "rtspu" && p != "rtspt")
      return "--protocol must be http, tcp, udp, rtspu, rtspt or auto";
    o.protocol = p == "http"    ? "HTTP"
                 : p == "tcp"   ? "TCP"
                 : p == "udp"   ? "UDP"
                 : p == "rtspu" ? "RTSPU"
                 : p == "rtspt" ? "RTSPT"
                                : "AUTO";
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
  } else if (flag == "-o" && o.command == Command::Open) {
    if (value.empty()) return "-o needs a file name";
    o.output = value;
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
  } else if (flag == "--progress") {
    const std::string p = Lower(value);
    if (p != "line" && p != "json") return "--progress must be line or json";
    o.progressJson = p == "json";
  } else if (flag == "--start" || flag == "--end") {
    if (!ParseStoredDateTime(value)) return flag + " must be a moment \"YYYY-MM-DD HH:MM:SS\"";
    (flag == "--start" ? o.start : o.end) = value;
  }
  return std::string();
}

}  // namespace

namespace {

// What a word the command did not take says about it.
std::string StrayArgument(const std::string& word) {
  const std::string name = word.substr(0, word.rfind("--", 0) == 0 ? word.find('=') : word.size());
  if (FindFlag(name) != nullptr) return name + " is not a flag of this command";
  return "unknown flag '" + word + "'";
}

// The checks that concern several flags together, once each has its value.
std::string CheckTogether(const CliOptions& o) {
  if (o.resume && o.overwrite) return "--resume and --overwrite exclude each other";
  if ((o.resume || o.overwrite) && !o.output) return "--resume and --overwrite need -o FILE";
  if (o.password && !o.user) return "--password needs --user";
  if (o.fast && o.noFast) return "--fast and --no-fast exclude each other";
  if (o.command == Command::Record) {
    if (o.start.empty() || o.end.empty()) return "record needs --start and --end";
    if (*ParseStoredDateTime(o.end) <= *ParseStoredDateTime(o.start))
      return "--end must be after --start";
  }
  return std::string();
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  ParseResult result;
  CliOptions& o = result.options;
  CLI::App app("qor-cli", "qor-cli");
  app.set_help_flag();  // the usage texts are our own
  auto* help = app.add_flag("-h,--help");
  auto* version = app.add_flag("--version");
  app.add_subcommand("help");
  struct Sub {
    Command command = Command::None;
    CLI::App* app = nullptr;
    CLI::Option* help = nullptr;
    std::vector<std::string> positional;
    std::vector<std::pair<const FlagRow*, CLI::Option*>> flags;
  };
  // Sized once: the options keep pointers into each Sub.
  std::vector<Sub> subs(4);
  subs[0].command = Command::Get;
  subs[1].command = Command::Record;
  subs[2].command = Command::Info;
  subs[3].command = Command::Open;
  std::map<const FlagRow*, std::string> values;
  for (Sub& sub : subs) {
    sub.app = app.add_subcommand(CommandName(sub.command));
    sub.app->set_help_flag();
    // A flag of another command is reported by name below rather than as CLI11's "not expected".
    sub.app->allow_extras();
    sub.help = sub.app->add_flag("-h,--help");
    sub.app->add_option("arguments", sub.positional);
    for (const FlagRow& row : Flags()) {
      if (!Allowed(row.commands, sub.command)) continue;
      CLI::Option* option = row.takesValue
                                ? sub.app->add_option(row.name, values[&row])
                                      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
                                : sub.app->add_flag(row.name);
      sub.flags.emplace_back(&row, option);
    }
  }
  app.require_subcommand(0, 1);

  std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
  try {
    app.parse(std::move(reversed));
  } catch (const CLI::ArgumentMismatch& e) {
    // "--log: 1 required TEXT missing": a value flag at the end of the line.
    const std::string what = e.what();
    for (Sub& sub : subs)
      if (sub.app->parsed()) o.command = sub.command;
    result.error = what.substr(0, what.find(':')) + " needs a value";
    return result;
  } catch (const CLI::ExtrasError& e) {
    result.error = args.empty() || args[0].empty() || args[0][0] == '-'
                       ? "unknown flag '" + args[0] + "'"
                       : "unknown command '" + args[0] + "'";
    return result;
  } catch (const CLI::ParseError& e) {
    result.error = e.what();
    return result;
  }
  if (args.empty() || help->count() > 0 || app.got_subcommand("help")) {
    o.command = Command::Help;
    return result;
  }
  if (version->count() > 0) {
    o.command = Command::Version;
    return result;
  }
  Sub* chosen = nullptr;
  for (Sub& sub : subs)
    if (sub.app->parsed()) chosen = &sub;
  if (chosen == nullptr) {
    result.error = "unknown command '" + args[0] + "'";
    return result;
  }
  o.command = chosen->command;
  if (chosen->help->count() > 0) {
    o.help = true;
    return result;
  }
  if (const auto stray = chosen->app->remaining(); !stray.empty()) {
    result.error = StrayArgument(stray.front());
    return result;
  }
  for (const auto& [row, option] : chosen->flags) {
    if (option->count() == 0) continue;
    if (!row->takesValue) {
      SetSwitch(o, row->name);
      continue;
    }
    result.error = CheckValue(o, row->name, values[row]);
    if (!result.error.empty()) return result;
  }
  if (chosen->positional.size() != 1) {
    result.error = chosen->positional.empty() ? "missing argument" : "too many arguments";
    return result;
  }
  (o.command == Command::Info ? o.file : o.url) = chosen->positional[0];  // open: the location
  result.error = CheckTogether(o);
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
             "  verify FILE      tell whether a saved file is whole and its header honest\n"
             "  repair FILE      make a cut or unfinished recording a finished file\n"
             "\n"
             "  --help           this text; 'qor-cli COMMAND --help' for a command's flags\n"
             "  --version        the version\n"
             "\n") +
         kExitStatusTable;
}

namespace {

const char* const kTransferFlags =
    "  --protocol http|tcp|udp|rtspu|rtspt|auto  transport (default: from the scheme:\n"
    "                            mmsu:// UDP, mmst:// TCP, http:// and mmsh:// HTTP, rtspu://\n"
    "                            and rtspt:// RTSP with UDP data or over TCP, rtsp:// the one,\n"
    "                            then the other; otherwise the stored choice, and auto for\n"
    "                            mms:// when none is stored); auto tries RTSP (UDP, then TCP;\n"
    "                            port 554 unless the location names one), MMS with UDP, then\n"
    "                            TCP, then HTTP (port 80, then --http-port)\n"
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
    "  --fast, --no-fast         ask the server to send an on-demand clip as fast as it\n"
    "                            allows, or only at its own rate (default: the stored\n"
    "                            FastDelivery, on); a live stream always comes at its pace\n"
    "  --bypass-dns              the host is a dotted address: do not look it up\n"
    "  --user ID --password PW   answer a server's password request (without them: a prompt\n"
    "                            on the terminal, or the request is declined); used for this\n"
    "                            run only\n"
    "  --save-password           keep the credentials for that server once it accepted them\n"
    "  --config-dir DIR          settings folder (default $XDG_CONFIG_HOME/qor)\n"
    "  --log FILE                save the log as text when the download ends\n"
    "  --progress line|json      line: one progress line kept up to date on a terminal\n"
    "                            (default); json: one JSON object a second on stderr (event,\n"
    "                            state, stream_time, packets, bytes, rate, lost, recovered)\n"
    "                            and a summary object at the end, also when not a terminal\n"
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
    "                            stored Reconnects, else 3 for record and when no file\n"
    "                            is named, else 0)\n"
    "Every download ends with a one-line summary on stderr.\n"
    "A location may name its port: mms://host:8755/clip.\n";

}  // namespace

std::string TransferFlagsUsage() {
  return kTransferFlags;
}

std::string CommandName(Command command) {
  switch (command) {
    case Command::Get:
      return "get";
    case Command::Record:
      return "record";
    case Command::Info:
      return "info";
    case Command::Open:
      return "open";
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
                 "                   (default the current folder; made when missing)\n") +
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
                 "  -d DIR           folder of the recording (default the current folder; made\n"
                 "                   when missing)\n") +
             kTransferFlags + "\n" + kExitStatusTable;
    case Command::Info:
      return std::string(
                 "Usage: qor-cli info FILE|LOCATION [--json]\n"
                 "\n"
                 "Shows the media information of a saved file: clip, times, codecs, streams.\n"
                 "Of a location (http://, mmsh://, mms://), the streams the server offers with\n"
                 "their rates and groups, asked over HTTP streaming before anything is recorded;\n"
                 "of an rtsp://, rtspu:// or rtspt:// one, those of its RTSP DESCRIBE.\n"
                 "\n"
                 "  --json           as one JSON object with typed values, laid out as ffprobe's\n"
                 "                   (-of json): format, streams, tags, bitrate_records, codecs\n"
                 "                   and index\n"
                 "  --http-port N    the HTTP port to ask for an mms:// location (default 80)\n"
                 "  --proxy HOST:PORT  ask through this HTTP proxy (default: the stored one)\n"
                 "  --connect-timeout S  give up when no connection is made within S seconds\n"
                 "                   (stored ConnectTimeout, default 20; 0: no limit)\n"
                 "  --answer-timeout S   give up when the server's answer stops for S seconds\n"
                 "                   (stored AnswerTimeout, default 20)\n"
                 "  --config-dir DIR settings folder (default $XDG_CONFIG_HOME/qor)\n"
                 "\n") +
             kExitStatusTable;
    default:
      return GeneralUsage();
  }
}

}  // namespace qor::cli
