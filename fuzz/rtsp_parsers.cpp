// What an RTSP server sends, read by the client's readers: the connection's bytes framed unit by
// unit (cut where the first byte says, as the network would) with every message parsed, the same
// bytes as a session description and as RTCP, and as RTP datagrams put in order and made into
// ASF packets.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "session/rtcp_packets.h"
#include "session/rtp_receiver.h"
#include "session/rtsp_message.h"
#include "session/rtsp_sdp.h"

namespace {

// Frames data as the connection handler does, the bytes arriving in two blocks.
void Frame(const uint8_t* data, size_t size, size_t cut) {
  std::vector<uint8_t> pending;
  for (const auto& [from, to] : {std::pair{size_t{0}, cut}, std::pair{cut, size}}) {
    pending.insert(pending.end(), data + from, data + to);
    size_t at = 0;
    while (at < pending.size()) {
      const qor::RtspUnit unit = qor::FrameRtspUnit(pending.data() + at, pending.size() - at);
      if (unit.consumed > pending.size() - at) __builtin_trap();
      if (unit.kind == qor::RtspUnitKind::kBad) return;
      if (unit.kind == qor::RtspUnitKind::kNeedMore && unit.consumed == 0) break;
      if (unit.kind != qor::RtspUnitKind::kNeedMore && unit.consumed == 0) __builtin_trap();
      if (unit.kind == qor::RtspUnitKind::kMessage) {
        qor::RtspMessage message;
        // A framed message is whole: its body is exactly as long as it says.
        if (!qor::ParseRtspMessage(pending.data() + at, unit.consumed, message)) __builtin_trap();
        message.CSeq();
        message.All("WWW-Authenticate");
      }
      at += unit.consumed;
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(at));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t cut = data[0] * (size - 1) / 255;
  Frame(data + 1, size - 1, cut);

  qor::SdpDescription description;
  std::string why;
  if (qor::ReadSdp(reinterpret_cast<const char*>(data + 1), size - 1, description, why)) {
    for (const qor::SdpStream& s : description.streams)
      qor::ResolveControl("rtsp://h/a", s.control);
  }
  qor::ReadRtcp(data + 1, size - 1);

  // Datagrams of a length the second byte says, given to the receiver in order.
  qor::RtpAsfReceiver receiver;
  receiver.Reset(3200, (data[1] & 1) != 0);
  std::vector<qor::AsfFromRtp> out;
  std::vector<qor::RtpAsfReceiver::Nack> nacks;
  const size_t step = 13 + data[1];
  for (size_t at = 2; at < size; at += step) {
    receiver.Take(data + at, std::min(step, size - at), out, nacks);
    receiver.Release(out);
  }
  receiver.Due(qor::RtpAsfReceiver::Clock::now() + std::chrono::seconds(60), nacks);
  receiver.GiveUpAll(out);
  for (const auto& p : out)
    if (p.packet.size() > 3200) __builtin_trap();
  return 0;
}
