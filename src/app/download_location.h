#pragma once
// What a download's location says before anything connects: the transport it asks for, the host
// and port to reach, the path to ask for and the credentials it carries. Both front ends start
// downloads through the main window, so both read a location the same way here.

#include <cstdint>
#include <optional>
#include <string>

#include "support/location.h"

namespace qor {

// The transport a location's scheme names: mmsu:// UDP, mmst:// TCP, http:// and mmsh:// HTTP,
// rtspu:// RTSP with UDP data, rtspt:// RTSP over TCP, rtsp:// RTSP with UDP data then over TCP;
// nothing for mms:// or any other.
std::optional<int32_t> TransportOfScheme(const std::string& url);
// The transport a download of url uses: forced when a front end forces one (the command line's
// --protocol), else the one its scheme names, else chosen (the options' stored choice).
int32_t TransportFor(const std::string& url, int32_t chosen, std::optional<int32_t> forced);

struct DownloadLocation {
  Location parts;
  std::string hostText;  // host[:port] as written, without user information
  std::string pathText;  // what follows the host's "/" (with its query)
};

enum class LocationCheck {
  Ready,
  NoHost,   // "Please check URL entry, invalid IP/Host"
  Refused,  // refusal holds the reason
};

// Reads url for a download. Over HTTP a location without a path asks for the root ("/"), where
// many servers publish their broadcast; an MMS server needs the name of what to open, so over
// MMS a location without one has no usable host, as it always had.
LocationCheck ReadDownloadLocation(const std::string& url, bool overHttp, DownloadLocation& out,
                                   std::string& refusal);

}  // namespace qor
