#pragma once
// Faults a test asks for per request, as a query after the media name:
// "/clip.wmv?drop=0.05&disconnect=200" (HTTP path or MMS open-file name).

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace qor::server {

// trickleAfter for a trickle from the stream's header on.
inline constexpr int64_t kTrickleHeader = -2;

struct Faults {
  double dropShare = 0;                      // drop=F: share of UDP media datagrams never sent
  std::set<uint32_t> dropList;               // drop-list=3,7: datagram sequences never sent
  bool ignoreResends = false;                // resend=0: resend requests are not answered
  double duplicateShare = 0;                 // dup=F: datagrams sent twice
  double reorderShare = 0;                   // reorder=F: datagrams held back behind the next one
  int64_t disconnectAfter = -1;              // disconnect=N: close after N media packets
  bool cutHeader = false;                    // cut-header=1: close in the middle of the header
  std::map<uint16_t, uint32_t> failCommand;  // fail=0x05:0x80070005 (MMS command id: result)
  std::string password;                      // password=user:pass: MMS challenge / HTTP 401
  std::optional<bool> stripPadding;          // strip=0|1
  int64_t unknownTagAfter = -1;              // unknown-tag=N: a unit with tag 0x03 after N packets
  int64_t unknownCommandAfter = -1;          // unknown-command=N: command id 0x77 after N packets
  int64_t badLengthAfter = -1;   // bad-length=N: a length field that lies after N packets
  int splitHeader = 0;           // split-header=N: HTTP response header in N writes
  double stallSeconds = 0;       // stall=S: stop sending for S seconds ...
  int64_t stallAfter = 0;        // stall-after=N: ... after N media packets
  int64_t trickleAfter = -1;     // trickle=N: after N media packets the rest one byte at a time
                                 // (trickle=header: from the stream's header on) ...
  int64_t trickleMs = 2000;      // trickle-ms=M: ... a byte every M ms
  bool refuseTransport = false;  // refuse-transport=1: transport selection refused (0x03)
  int httpStatus = 0;            // status=N: HTTP answered with status N
  int headerPieces = 0;          // header-pieces=N: header sent in N pieces
  bool octetTypes = false;       // octet-types=1: streams typed application/octet-stream
  bool describeBehind = false;   // describe-behind=1: a live play list's describe answers with
                                 // the entry before the one playing
  bool stickyChoice = false;     // sticky-choice=1: the streams chosen by number hold for every
                                 // entry of a live play list, as a real server applies them
  int rangeMode = 0;             // range=ignore (1): plain files whole; range=wrong (2): from 0;
                                 // range=lie (3): the asked range named, the whole file sent
  int rtpPayloadLimit = 0;       // rtp-size=N: RTP payloads of at most N bytes (ASF packets split)
  uint32_t seed = 1;             // seed=N: for the random shares

  bool Any() const;
};

// Parses "key=value&key=value". False (with a reason) for an unknown key or a bad value.
bool ParseFaults(const std::string& query, Faults& faults, std::string& error);

// Splits "name?query" into its two parts (query empty when there is none).
void SplitQuery(const std::string& target, std::string& name, std::string& query);

// The fault keys, one per line, for --help.
const char* FaultHelp();

}  // namespace qor::server
