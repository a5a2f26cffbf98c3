#pragma once
// The session description a Windows Media server answers DESCRIBE with (and sends again in an
// ANNOUNCE at a play-list change): the ASF header as a data URL, the largest packet size, and one
// media description per ASF stream with the URL that sets it up, plus the retransmission stream
// when the server offers one. Reads only inside the text it is given.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qor {

struct SdpStream {
  std::string media;      // "audio", "video", "application"
  int payloadType = -1;   // from the m= line
  std::string encoding;   // from a=rtpmap, lower case: "x-asf-pf", "x-wms-rtx"
  std::string control;    // a=control, as written (absolute or relative)
  int streamNumber = -1;  // a=stream: the ASF stream it carries
};

struct SdpDescription {
  std::vector<uint8_t> asfHeader;  // a=pgmpu's data URL, decoded
  uint32_t maxPacketSize = 0;      // a=maxps (0 when absent)
  std::string control;             // the session's own a=control
  bool live = false;               // a=range:npt=now-
  std::vector<SdpStream> streams;  // the ASF streams, in order
  std::optional<SdpStream> retransmission;
};

// False, with why, when the text holds no ASF header or one that is not valid base64.
bool ReadSdp(const char* text, size_t length, SdpDescription& out, std::string& why);

// Where a control attribute points: an absolute URL as it is, "*" the base itself, anything else
// relative to base (which ends in "/" when it is a folder, as Content-Base does).
std::string ResolveControl(const std::string& base, const std::string& control);

}  // namespace qor
