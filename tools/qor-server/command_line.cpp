#include "command_line.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

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
             "plain HTTP files. Prints one line per service (\"mms HOST:PORT\", \"http "
             "HOST:PORT\")\n"
             "once it listens; stops cleanly on SIGINT or SIGTERM.\n\n"
             "Options:\n"
             "  --root DIR              serve the files under DIR (default .); ASF files by name\n"
             "                          as streams (seekable), any file as plain HTTP download\n"
             "  --live NAME=FILE[,FILE...]  broadcast the files one after another, in a loop,\n"
             "                          as the live play list NAME (repeatable); NAME / is\n"
             "                          the root of the HTTP port (http://host:port/)\n"
             "  --rate R                send times paced at R x real time; 0 = as fast as the\n"
             "                          socket takes it (default: 1 live, 0 pre-recorded)\n"
             "  --host ADDR             IPv4 address to listen on (default 127.0.0.1)\n"
             "  --mms-port P            MMS port, TCP and UDP (default 1755; 0 picks one;\n"
             "                          -1 turns MMS off)\n"
             "  --http-port P           HTTP port (default 8080; 0 picks one; -1 turns HTTP off)\n"
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
             "  --transports LIST       the transports offered, of udp,tcp,http (default all):\n"
             "                          MMS refuses the data transport left out; without udp\n"
             "                          and tcp nothing listens for MMS, without http nothing\n"
             "                          for HTTP (order against the port options: last wins)\n"
             "  --block-udp             accept MMS with UDP data but never send a datagram, as\n"
             "                          when a firewall on the way drops them\n"
             "  --auth basic|digest     how HTTP asks for the --password (default basic;\n"
             "                          digest: MD5 with qop=auth)\n"
             "  --drop-live S[,S...]    at these seconds after the start, close the connection\n"
             "                          of every client of a live feed (as a network cut)\n"
             "  --help                  this text\n\n"
             "Faults, per request, as a query after the name (\"/clip.wmv?drop=0.1&seed=3\",\n"
             "over MMS in the open-file name):\n") +
         FaultHelp() +
         "\nExit status: 0 after a clean stop, 1 when the server cannot start, 2 on a usage "
         "error.\n";
}

CommandLine ParseCommandLine(const std::vector<std::string>& args, ServerOptions& o,
                             std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") return CommandLine::kHelp;
    const bool flag = a == "--strip-padding";
    if (flag) {
      o.stripPadding = true;
      continue;
    }
    if (a == "--block-udp") {
      o.blockUdp = true;
      continue;
    }
    if (a.rfind("--", 0) != 0) {
      error = "unexpected argument: " + a;
      return CommandLine::kError;
    }
    if (i + 1 >= args.size()) {
      error = a + " needs a value";
      return CommandLine::kError;
    }
    const std::string& v = args[++i];
    bool ok = true;
    double number = 0;
    if (a == "--root") {
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
    } else if (a == "--mms-port") {
      ok = v == "-1" ? (o.mmsPort = -1, true) : ToPort(v, o.mmsPort);
    } else if (a == "--http-port") {
      ok = v == "-1" ? (o.httpPort = -1, true) : ToPort(v, o.httpPort);
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
      ok = ParseFaults(v, check, error);
      if (!ok) return CommandLine::kError;
      o.faults = v;
    } else if (a == "--plain-http") {
      ok = !v.empty() && v.find_first_of("\r\n") == std::string::npos;
      o.plainType = v;
    } else if (a == "--transports") {
      bool udp = false, tcp = false, http = false;
      std::stringstream list(v);
      std::string name;
      while (std::getline(list, name, ',')) {
        if (name == "udp") {
          udp = true;
        } else if (name == "tcp") {
          tcp = true;
        } else if (name == "http") {
          http = true;
        } else {
          ok = false;
        }
      }
      ok = ok && (udp || tcp || http);
      o.mmsUdp = udp;
      o.mmsTcp = tcp;
      if (!udp && !tcp) o.mmsPort = -1;
      if (!http) o.httpPort = -1;
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
    } else {
      error = "unknown option: " + a;
      return CommandLine::kError;
    }
    if (!ok) {
      error = "bad value for " + a + ": " + v;
      return CommandLine::kError;
    }
  }
  return CommandLine::kRun;
}

}  // namespace qor::server
