#include "faults.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace qor::server {

namespace {

bool ToInteger(const std::string& text, int64_t low, int64_t high, int64_t& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || end == nullptr || *end != '\0' || v < low || v > high) return false;
  out = v;
  return true;
}

bool ToShare(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end == nullptr || *end != '\0' || !(v >= 0.0 && v <= 1.0)) return false;
  out = v;
  return true;
}

bool ToSeconds(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end == nullptr || *end != '\0' || !(v >= 0.0 && v <= 3600.0)) return false;
  out = v;
  return true;
}

bool ToFlag(const std::string& text, bool& out) {
  if (text == "1" || text == "on" || text == "true" || text.empty()) {
    out = true;
    return true;
  }
  if (text == "0" || text == "off" || text == "false") {
    out = false;
    return true;
  }
  return false;
}

}  // namespace

bool Faults::Any() const {
  return dropShare > 0 || !dropList.empty() || ignoreResends || duplicateShare > 0 ||
         reorderShare > 0 || disconnectAfter >= 0 || cutHeader || !failCommand.empty() ||
         !password.empty() || stripPadding.has_value() || unknownTagAfter >= 0 ||
         unknownCommandAfter >= 0 || badLengthAfter >= 0 || splitHeader > 0 || stallSeconds > 0 ||
         trickleAfter != -1 || refuseTransport || httpStatus != 0 || headerPieces > 0 ||
         octetTypes || rangeMode != 0 || describeBehind || stickyChoice || rtpPayloadLimit > 0;
}

void SplitQuery(const std::string& target, std::string& name, std::string& query) {
  const size_t mark = target.find('?');
  if (mark == std::string::npos) {
    name = target;
    query.clear();
  } else {
    name = target.substr(0, mark);
    query = target.substr(mark + 1);
  }
}

bool ParseFaults(const std::string& query, Faults& f, std::string& error) {
  std::stringstream items(query);
  std::string item;
  while (std::getline(items, item, '&')) {
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    const std::string key = item.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
    int64_t n = 0;
    bool ok = true;
    if (key == "drop") {
      ok = ToShare(value, f.dropShare);
    } else if (key == "drop-list") {
      std::stringstream list(value);
      std::string one;
      while (ok && std::getline(list, one, ',')) {
        ok = ToInteger(one, 0, 0xFFFFFFFFll, n);
        if (ok) f.dropList.insert(static_cast<uint32_t>(n));
      }
    } else if (key == "resend") {
      bool answer = true;
      ok = ToFlag(value, answer);
      f.ignoreResends = !answer;
    } else if (key == "dup") {
      ok = ToShare(value, f.duplicateShare);
    } else if (key == "reorder") {
      ok = ToShare(value, f.reorderShare);
    } else if (key == "disconnect") {
      ok = ToInteger(value, 0, 1ll << 40, f.disconnectAfter);
    } else if (key == "cut-header") {
      ok = ToFlag(value, f.cutHeader);
    } else if (key == "fail") {
      const size_t colon = value.find(':');
      int64_t id = 0, code = 0;
      ok = colon != std::string::npos && ToInteger(value.substr(0, colon), 0, 0xFFFF, id) &&
           ToInteger(value.substr(colon + 1), 1, 0xFFFFFFFFll, code);
      if (ok) f.failCommand[static_cast<uint16_t>(id)] = static_cast<uint32_t>(code);
    } else if (key == "password") {
      ok = value.find(':') != std::string::npos;
      f.password = value;
    } else if (key == "strip") {
      bool on = true;
      ok = ToFlag(value, on);
      f.stripPadding = on;
    } else if (key == "unknown-tag") {
      ok = ToInteger(value, 0, 1ll << 40, f.unknownTagAfter);
    } else if (key == "unknown-command") {
      ok = ToInteger(value, 0, 1ll << 40, f.unknownCommandAfter);
    } else if (key == "bad-length") {
      ok = ToInteger(value, 0, 1ll << 40, f.badLengthAfter);
    } else if (key == "split-header") {
      ok = ToInteger(value, 1, 4096, n);
      f.splitHeader = static_cast<int>(n);
    } else if (key == "trickle") {
      if (value == "header") {
        f.trickleAfter = kTrickleHeader;
      } else {
        ok = ToInteger(value, 0, 1ll << 40, f.trickleAfter);
      }
    } else if (key == "trickle-ms") {
      ok = ToInteger(value, 1, 60000, f.trickleMs);
    } else if (key == "stall") {
      ok = ToSeconds(value, f.stallSeconds);
    } else if (key == "stall-after") {
      ok = ToInteger(value, 0, 1ll << 40, f.stallAfter);
    } else if (key == "refuse-transport") {
      ok = ToFlag(value, f.refuseTransport);
    } else if (key == "status") {
      ok = ToInteger(value, 100, 599, n);
      f.httpStatus = static_cast<int>(n);
    } else if (key == "header-pieces") {
      ok = ToInteger(value, 1, 1000, n);
      f.headerPieces = static_cast<int>(n);
    } else if (key == "octet-types") {
      ok = ToFlag(value, f.octetTypes);
    } else if (key == "describe-behind") {
      ok = ToFlag(value, f.describeBehind);
    } else if (key == "sticky-choice") {
      ok = ToFlag(value, f.stickyChoice);
    } else if (key == "range") {
      ok = value == "ignore" || value == "wrong" || value == "lie";
      f.rangeMode = value == "ignore" ? 1 : value == "wrong" ? 2 : 3;
    } else if (key == "rtp-size") {
      ok = ToInteger(value, 64, 0xFFFF - 12, n);
      f.rtpPayloadLimit = static_cast<int>(n);
    } else if (key == "seed") {
      ok = ToInteger(value, 0, 0xFFFFFFFFll, n);
      f.seed = static_cast<uint32_t>(n);
    } else {
      error = "unknown fault key: " + key;
      return false;
    }
    if (!ok) {
      error = "bad value for fault " + key + ": " + value;
      return false;
    }
  }
  return true;
}

const char* FaultHelp() {
  return "  drop=F              drop a share F (0..1) of the UDP media datagrams\n"
         "  drop-list=S,S,...   drop the UDP datagrams with these sequences (from 0)\n"
         "  resend=0            do not answer resend requests (dropped stays lost)\n"
         "  dup=F               send a share F of the UDP datagrams twice\n"
         "  reorder=F           hold a share F of the UDP datagrams back behind the next\n"
         "  disconnect=N        close the connection after N media packets\n"
         "  cut-header=1        close the connection in the middle of the ASF header\n"
         "  fail=ID:CODE        answer MMS command ID with result CODE (e.g. "
         "fail=0x05:0x80070005)\n"
         "  password=USER:PASS  require these credentials (MMS BASIC challenge, HTTP 401)\n"
         "  strip=0|1           send data packets without their padding (Padding Length 0)\n"
         "  unknown-tag=N       after N media packets send a data unit with tag 0x03\n"
         "  unknown-command=N   after N media packets send an MMS command with id 0x77\n"
         "                      (over HTTP: a chunk of type 'X')\n"
         "  bad-length=N        after N media packets send a unit whose length field lies\n"
         "  split-header=N      write the HTTP response header in N pieces\n"
         "  stall=S             stop sending for S seconds (after stall-after=N packets)\n"
         "  trickle=N           after N media packets (or trickle=header: from the header on)\n"
         "                      send the rest one byte every trickle-ms=M ms (2000)\n"
         "  refuse-transport=1  refuse the MMS transport selection (reply 0x03)\n"
         "  status=N            answer the HTTP request with status N\n"
         "  header-pieces=N     send the ASF header in N pieces\n"
         "  octet-types=1       HTTP streams typed application/octet-stream, as some servers do\n"
         "  describe-behind=1   a live play list's describe answers with the entry before\n"
         "                      the one playing, as when it moves on before the play request\n"
         "  sticky-choice=1     the streams chosen hold, by number, for every entry of a live\n"
         "                      play list (its other streams are not sent)\n"
         "  range=ignore|wrong|lie  plain files: answer a Range request with the whole file\n"
         "                      (200), with a 206 that starts at byte 0, or with a 206 that\n"
         "                      names the range asked for and sends the whole file\n"
         "  rtp-size=N          RTSP: RTP payloads of at most N bytes, larger ASF packets\n"
         "                      split over several RTP packets\n"
         "  seed=N              seed for the random shares (default 1)\n";
}

}  // namespace qor::server
