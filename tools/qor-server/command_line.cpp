#include "command_line.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include <CLI/CLI.hpp>

#include "faults.h"

namespace qor::server {

namespace {

bool ToPort(const std::string& text, int& port) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || errno != 0 || *end != '\0' || v < 0 || v > 65535) return false;
  port = static_cast<int>(v);
  return true;
}

bool ToNumber(const std::string& text, double low, double high, double& out) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(v >= low && v <= high)) return false;
  out = v;
  return true;
}

}  // namespace

std::string UsageText() {
  return std::string(
             "Usage: qor-server [options]\n"
             "A Windows Media stream server for tests: MMS over TCP and UDP, HTTP streaming,\n"
             "plain HTTP files, RTSP. Prints one line per service (\"mms HOST:PORT\", \"http "
             "HOST:PORT\",\n"
             "\"rtsp HOST:PORT\") once it listens; stops cleanly on SIGINT or SIGTERM.\n\n"
             "Options:\n"
             "  --root DIR              serve the files under DIR (default .); ASF files by name\n"
             "                          as streams (seekable), any file as plain HTTP download\n"
             "  --live NAME=FILE[,FILE...]  broadcast the files one after another, in a loop,\n"
             "                          as the live play list NAME (repeatable); NAME / is\n"
             "                          the root of the HTTP port (http://host:port/)\n"
             "  --rate R                send times paced at R x real time; 0 = as fast as the\n"
             "                          socket takes it (default: 1 live, 0 pre-recorded)\n"
             "  --host ADDR             IPv4 or IPv6 address to listen on (default 127.0.0.1,\n"
             "                          and ::1 on the same ports where the system has it)\n"
             "  --mms-port P            MMS port, TCP and UDP (default 1755; 0 picks one;\n"
             "                          -1 turns MMS off)\n"
             "  --http-port P           HTTP port (default 8080; 0 picks one; -1 turns HTTP off)\n"
             "  --rtsp-port P           RTSP port (0 picks one; default -1: no RTSP), media as\n"
             "                          RTP over UDP or interleaved in the connection\n"
             "  --rtp-length MODE       what the Length field of a whole packet's payload format\n"
             "                          header counts: with-header (default, the payload format\n"
             "                          header and the ASF packet, as Windows Media servers\n"
             "                          send it) or packet-only (the ASF packet alone)\n"
             "  --session-timeout S     seconds an RTSP session lives without a request\n"
             "                          (default 60; media flowing over TCP keeps it alive)\n"
             "  --log-requests FILE     record what each client sent, one line each ('-' for\n"
             "                          stdout)\n"
             "  --packet-pair on|off    offer network timing tests (default on)\n"
             "  --strip-padding         send data packets without padding (Padding Length 0)\n"
             "  --ping-interval S       seconds between MMS pings (default 5); a client that\n"
             "                          leaves three unanswered is disconnected\n"
             "  --password USER:PASS    require credentials (MMS BASIC challenge, HTTP Basic)\n"
             "  --redirect NAME=URL     answer HTTP requests for NAME with 302 to URL\n"
             "  --moved NAME=URL        answer HTTP requests for NAME with 301 to URL\n"
             "  --faults QUERY          faults applied to every request (same keys as below)\n"
             "  --plain-http TYPE       answer HTTP as a plain web server: every file as it is,\n"
             "                          never as a stream, with Content-Type TYPE (for example\n"
             "                          \"application/octet-stream; charset=binary\")\n"
             "  --max-connections N     connections served at once (default 64)\n"
             "  --transports LIST       the transports offered, of udp,tcp,http,rtsp (default\n"
             "                          all): MMS refuses the data transport left out; without\n"
             "                          udp and tcp nothing listens for MMS, without http\n"
             "                          nothing for HTTP, without rtsp nothing for RTSP\n"
             "                          (order against the port options: last wins)\n"
             "  --block-udp             accept MMS with UDP data but never send a datagram, as\n"
             "                          when a firewall on the way drops them\n"
             "  --auth basic|digest     how HTTP asks for the --password (default basic;\n"
             "                          digest: MD5 with qop=auth)\n"
             "  --drop-live S[,S...]    at these seconds after the start, close the connection\n"
             "                          of every client of a live feed (as a network cut)\n"
             "  --help                  this text\n"
             "  --version               the version\n\n"
             "Faults, per request, as a query after the name (\"/clip.wmv?drop=0.1&seed=3\",\n"
             "over MMS in the open-file name):\n") +
         FaultHelp() +
         "\nExit status: 0 after a clean stop, 1 when the server cannot start, 2 on a usage "
         "error.\n";
}

namespace {

// Every option: its name and whether it takes a value. The parser is made from this table; a new
// option is one row here and its case in Apply.
struct OptionRow {
  const char* name;
  bool takesValue;
};

const std::vector<OptionRow>& Options() {
  static const std::vector<OptionRow> rows{
      {"--root", true},
      {"--live", true},
      {"--rate", true},
      {"--host", true},
      {"--mms-port", true},
      {"--http-port", true},
      {"--rtsp-port", true},
      {"--log-requests", true},
      {"--packet-pair", true},
      {"--ping-interval", true},
      {"--password", true},
      {"--redirect", true},
      {"--moved", true},
      {"--faults", true},
      {"--plain-http", true},
      {"--max-connections", true},
      {"--transports", true},
      {"--auth", true},
      {"--drop-live", true},
      {"--rtp-length", true},
      {"--session-timeout", true},
      {"--strip-padding", false},
      {"--block-udp", false},
  };
  return rows;
}

// One option with its value; false (with error set) when the value is refused.
bool Apply(const std::string& a, const std::string& v, ServerOptions& o, std::string& error) {
  bool ok = true;
  double number = 0;
  if (a == "--strip-padding") {
    o.stripPadding = true;
  } else if (a == "--block-udp") {
    o.blockUdp = true;
  } else if (a == "--root") {
    o.root = v;
  } else if (a == "--live") {
    const size_t eq = v.find('=');
    ok = eq != std::string::npos && eq > 0 && eq + 1 < v.size();
    if (ok) {
      std::vector<std::string> files;
      std::stringstream list(v.substr(eq + 1));
      std::string file;
      while (std::getline(list, file, ','))
        if (!file.empty()) files.push_back(file);
      o.lives.emplace_back(v.substr(0, eq), files);
    }
  } else if (a == "--rate") {
    ok = ToNumber(v, 0, 1000, number);
    o.rate = number;
  } else if (a == "--host") {
    o.host = v;
    o.hostGiven = true;
  } else if (a == "--mms-port") {
    ok = v == "-1" ? (o.mmsPort = -1, true) : ToPort(v, o.mmsPort);
  } else if (a == "--http-port") {
    ok = v == "-1" ? (o.httpPort = -1, true) : ToPort(v, o.httpPort);
  } else if (a == "--rtsp-port") {
    ok = v == "-1" ? (o.rtspPort = -1, true) : ToPort(v, o.rtspPort);
  } else if (a == "--rtp-length") {
    ok = v == "with-header" || v == "packet-only";
    o.rtpLengthPacketOnly = v == "packet-only";
  } else if (a == "--session-timeout") {
    ok = ToNumber(v, 1, 86400, number);
    o.rtspTimeoutSeconds = static_cast<int>(number);
  } else if (a == "--log-requests") {
    o.logPath = v;
  } else if (a == "--packet-pair") {
    ok = v == "on" || v == "off";
    o.packetPair = v == "on";
  } else if (a == "--ping-interval") {
    ok = ToNumber(v, 0.1, 3600, number);
    o.pingIntervalMs = static_cast<int>(number * 1000);
  } else if (a == "--password") {
    ok = v.find(':') != std::string::npos;
    o.password = v;
  } else if (a == "--redirect" || a == "--moved") {
    const size_t eq = v.find('=');
    ok = eq != std::string::npos && eq > 0;
    if (ok) o.redirects[v.substr(0, eq)] = {a == "--moved" ? 301 : 302, v.substr(eq + 1)};
  } else if (a == "--faults") {
    Faults check;
    if (!ParseFaults(v, check, error)) return false;
    o.faults = v;
  } else if (a == "--plain-http") {
    ok = !v.empty() && v.find_first_of("\r\n") == std::string::npos;
    o.plainType = v;
  } else if (a == "--transports") {
    bool udp = false, tcp = false, http = false, rtsp = false;
    std::stringstream list(v);
    std::string name;
    while (std::getline(list, name, ',')) {
      if (name == "udp") {
        udp = true;
      } else if (name == "tcp") {
        tcp = true;
      } else if (name == "http") {
        http = true;
      } else if (name == "rtsp") {
        rtsp = true;
      } else {
        ok = false;
      }
    }
    ok = ok && (udp || tcp || http || rtsp);
    o.mmsUdp = udp;
    o.mmsTcp = tcp;
    // Applied after the port options (table order), so a transport left out stays off.
    if (!udp && !tcp) o.mmsPort = -1;
    if (!http) o.httpPort = -1;
    if (!rtsp) o.rtspPort = -1;
  } else if (a == "--auth") {
    ok = v == "basic" || v == "digest";
    o.digestAuth = v == "digest";
  } else if (a == "--drop-live") {
    std::stringstream list(v);
    std::string moment;
    while (ok && std::getline(list, moment, ',')) {
      ok = ToNumber(moment, 0, 1e6, number);
      if (ok) o.liveDrops.push_back(number);
    }
    ok = ok && !o.liveDrops.empty();
  } else if (a == "--max-connections") {
    ok = ToNumber(v, 1, 10000, number);
    o.maxConnections = static_cast<int>(number);
  }
  if (!ok) error = "bad value for " + a + ": " + v;
  return ok;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args, ServerOptions& o,
                             std::string& error) {
  CLI::App app("qor-server", "qor-server");
  app.set_help_flag();  // the usage text is our own
  app.allow_extras();   // reported below in this program's words
  CLI::Option* help = app.add_flag("-h,--help");
  CLI::Option* version = app.add_flag("--version");
  // Each occurrence keeps its value, in order: --live and --redirect may be given many times.
  std::vector<std::vector<std::string>> values(Options().size());
  std::vector<CLI::Option*> given;
  for (size_t i = 0; i < Options().size(); ++i) {
    const OptionRow& row = Options()[i];
    given.push_back(row.takesValue ? app.add_option(row.name, values[i])
                                         ->allow_extra_args(false)
                                         ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                                   : app.add_flag(row.name));
  }
  std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
  try {
    app.parse(std::move(reversed));
  } catch (const CLI::ArgumentMismatch& e) {
    const std::string what = e.what();  // "--rate: 1 required TEXT missing"
    error = what.substr(0, what.find(':')) + " needs a value";
    return CommandLine::kError;
  } catch (const CLI::ParseError& e) {
    error = e.what();
    return CommandLine::kError;
  }
  if (help->count() > 0) return CommandLine::kHelp;
  if (version->count() > 0) return CommandLine::kVersion;
  if (const auto stray = app.remaining(); !stray.empty()) {
    error = (stray.front().rfind("--", 0) == 0 ? "unknown option: " : "unexpected argument: ") +
            stray.front();
    return CommandLine::kError;
  }
  for (size_t i = 0; i < Options().size(); ++i) {
    const OptionRow& row = Options()[i];
    if (!row.takesValue) {
      if (given[i]->count() > 0 && !Apply(row.name, "", o, error)) return CommandLine::kError;
      continue;
    }
    for (const std::string& value : values[i])
      if (!Apply(row.name, value, o, error)) return CommandLine::kError;
  }
  return CommandLine::kRun;
}

}  // namespace qor::server
