#include "rtsp_description.h"

#include <cstdio>

#include "asf/asf.h"
#include "rtp_packetizer.h"
#include "support/base64.h"

namespace qor::server {

std::string StreamControl(const std::string& baseUrl, uint16_t stream) {
  return baseUrl + "/stream=" + std::to_string(stream);
}

std::string RetransmissionControl(const std::string& baseUrl) {
  return baseUrl + "/rtx";
}

std::string BuildSdp(const MediaSource& media, const Bytes& header, const SdpOffer& offer) {
  Base64Coder coder;
  coder.Encode(header.data(), static_cast<uint32_t>(header.size()));
  const std::string headerText(coder.Encoded(), coder.EncodedLength());
  char duration[32];
  std::snprintf(duration, sizeof duration, "%.3f", media.DurationSeconds());
  const uint32_t kbps = (media.BitRate() + 999) / 1000;

  std::string sdp = "v=0\r\n";
  sdp += "o=- " + std::to_string(offer.sessionId) + " " + std::to_string(offer.version) +
         " IN IP4 127.0.0.1\r\n";
  sdp += "s=" + offer.baseUrl.substr(offer.baseUrl.rfind('/') + 1) + "\r\n";
  sdp += "c=IN IP4 0.0.0.0\r\n";
  sdp += "b=AS:" + std::to_string(kbps) + "\r\n";
  sdp += "a=maxps:" + std::to_string(media.PacketSize()) + "\r\n";
  sdp += "t=0 0\r\n";
  sdp += "a=control:" + offer.baseUrl + "\r\n";
  sdp += offer.live ? "a=range:npt=now-\r\n" : "a=range:npt=0-" + std::string(duration) + "\r\n";
  sdp += "a=recvonly\r\n";
  sdp += "a=pgmpu:data:application/vnd.ms.wms-hdr.asfv1;base64," + headerText + "\r\n";
  const auto& numbers = media.StreamNumbers();
  const auto& kinds = media.StreamKinds();
  for (size_t i = 0; i < numbers.size(); ++i) {
    const uint8_t kind = i < kinds.size() ? kinds[i] : 0;
    const char* type = (kind & skVideo) ? "video" : (kind & skAudio) ? "audio" : "application";
    sdp += std::string("m=") + type + " 0 RTP/AVP " + std::to_string(kAsfPayloadType) + "\r\n";
    sdp += "a=rtpmap:" + std::to_string(kAsfPayloadType) + " x-asf-pf/1000\r\n";
    sdp += "a=control:" + StreamControl(offer.baseUrl, numbers[i]) + "\r\n";
    sdp += "a=stream:" + std::to_string(numbers[i]) + "\r\n";
  }
  if (offer.retransmission) {
    sdp += "m=application 0 RTP/AVP " + std::to_string(kRtxPayloadType) + "\r\n";
    sdp += "a=rtpmap:" + std::to_string(kRtxPayloadType) + " x-wms-rtx/1000\r\n";
    sdp += "a=control:" + RetransmissionControl(offer.baseUrl) + "\r\n";
  }
  return sdp;
}

}  // namespace qor::server
