// The session's choice of streams from a whole header: what the play request (HTTP) or the
// stream selection (MMS) then asks for. The saved file keeps the header as it came, with every
// stream, so the log says which streams the recording really holds.
#include "asf/stream_selection.h"
#include "session/media_packet_path.h"
#include "session/session_port.h"

namespace qor {

bool MediaPacketPath::ChooseStreams(const uint8_t* header, size_t length) {
  left_out_.clear();
  const StreamRequest& request = port_.Config().Streams;
  if (request.Everything()) return true;
  const StreamOffer offer = ReadStreamOffer(header, length);
  if (offer.streams.empty()) return true;
  const StreamSelection selection = SelectStreams(offer, request);
  if (selection.unmatched) {
    port_.Post("- None of the streams asked for is offered (" +
                   DescribeStreams(offer,
                                   [&] {
                                     std::vector<uint8_t> all;
                                     for (const auto& s : offer.streams) all.push_back(s.number);
                                     return all;
                                   }()) +
                   "), recording every stream",
               mcWarning);
    return true;
  }
  if (selection.chosen.empty()) {
    // Audio only from a header without audio: asking for nothing would record nothing.
    port_.Post("- No stream fits the choice, recording every stream", mcWarning);
    return true;
  }
  if (port_.Config().Resuming() && !selection.leftOut.empty()) {
    // A server numbers the packets of chosen streams afresh from the resume point, while the
    // file is written by packet number: the continuation would land at the wrong places.
    port_.Post(
        "- A download of chosen streams cannot be resumed; start it again or choose every stream",
        mcFatal);
    return false;
  }
  left_out_ = selection.leftOut;
  if (selection.overBudget)
    port_.Post("- No choice of streams fits " + std::to_string(request.maxRate) +
                   " bps, asking for the lowest rates",
               mcWarning);
  port_.Post(
      "- Streams asked for: " + DescribeStreams(offer, selection.chosen) +
          (selection.rate ? ", " + std::to_string(selection.rate / 1000) + " kbps together" : ""),
      mcNormal);
  if (!left_out_.empty())
    port_.Post("- Streams left out (described in the saved header, holding no data): " +
                   DescribeStreams(offer, left_out_),
               mcNormal);
  return true;
}

}  // namespace qor
