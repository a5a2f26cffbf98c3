#pragma once
// Writing one ASF data packet into the save file: cut to the packet size, placed at
// header length + index x packet size, and padded back to the packet size. Servers send packets
// with their padding removed and the Padding Length field zeroed; the field is set back to the
// bytes added (when present and wide enough), so a reader does not take the zeros for payload.
// Shared by the HTTP loop and the MMS receive loop.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qor {

class TSaveFile;

class PacketWriter {
 public:
  using PostFn = std::function<void(const std::string& text, uint32_t code)>;
  // A packet this far past the highest one written is refused.
  static constexpr int64_t kMaxIndexJump = 1000000;

  enum class Outcome {
    Written,
    Dropped,  // not written (a warning was posted, or the file was already finished)
    Stop,     // a fatal text was posted; the loop writes nothing more
  };

  // Forget the layout and the resume check (a new download).
  void Reset();
  // Known once the header has been parsed.
  void SetLayout(uint32_t headerLength, uint32_t packetSize);
  uint32_t HeaderLength() const { return header_length_; }
  uint32_t PacketSize() const { return packet_size_; }

  // Writes the payload as packet `index`. When resuming, the file's own header is compared with
  // the layout before the first packet; a mismatch leaves the file untouched.
  Outcome Write(TSaveFile* file, bool resuming, const uint8_t* payload, size_t length,
                int64_t index, uint32_t sendTime, const PostFn& post);

  // Sets the Padding Length field of the packet in packet[0, length) to `added` (and an explicit
  // Packet Length field that gives the short length to the padded length). False when the packet
  // has no such field, it is too narrow, or it does not lie inside the packet.
  static bool RestorePaddingFields(uint8_t* packet, size_t length, uint32_t added,
                                   uint32_t paddedLength);

  // True when the header at the start of the file places packets exactly as the layout does.
  static bool FileMatchesLayout(TSaveFile& file, uint32_t headerLength, uint32_t packetSize);

 private:
  uint32_t header_length_ = 0;
  uint32_t packet_size_ = 0;
  bool resume_checked_ = false;
  int64_t highest_ = -1;
  std::vector<uint8_t> buffer_;
};

}  // namespace qor
