#pragma once
// The session description (SDP) a Windows Media server answers DESCRIBE with, and sends again in
// an ANNOUNCE when a live play list moves to its next entry: the ASF header as a data URL, the
// largest packet size, then one media description per ASF stream with its control URL, and the
// retransmission stream for clients of the dialect.

#include <cstdint>
#include <string>

#include "media_source.h"
#include "wire.h"

namespace qor::server {

struct SdpOffer {
  std::string baseUrl;  // rtsp://host:port/name, without query or trailing slash
  bool live = false;
  bool retransmission = false;
  uint64_t sessionId = 0;
  uint32_t version = 0;
};

// header: the header block as the client is to get it (broadcast-marked for live).
std::string BuildSdp(const MediaSource& media, const Bytes& header, const SdpOffer& offer);
// The control URL of one ASF stream and of the retransmission stream.
std::string StreamControl(const std::string& baseUrl, uint16_t stream);
std::string RetransmissionControl(const std::string& baseUrl);

}  // namespace qor::server
