#pragma once
// Writing one ASF data packet into the save file: cut to the packet size, placed at
// header length + index x packet size, and padded back to the packet size. Servers send packets
// with their padding removed and the Padding Length field zeroed; the field is set back to the
// bytes added (when present and wide enough), so a reader does not take the zeros for payload.
// Shared by the HTTP loop and the MMS receive loop.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qor {

class TSaveFile;
struct AsfResumePoint;

class PacketWriter {
 public:
  using PostFn = std::function<void(const std::string& text, uint32_t code)>;
  // A packet this far past the highest one written is refused.
  static constexpr int64_t kMaxIndexJump = 1000000;

  enum class Outcome {
    Written,
    Dropped,  // not written (a warning was posted, or the file was already finished)
    Checked,  // equal to what the file holds, which already has the whole clip: not written
    Stop,     // a fatal text was posted; the loop writes nothing more
  };

  // Forget the layout and the resume check (a new download).
  void Reset();
  // Known once the header has been parsed.
  void SetLayout(uint32_t headerLength, uint32_t packetSize);
  uint32_t HeaderLength() const { return header_length_; }
  uint32_t PacketSize() const { return packet_size_; }

  // The server's header as parsed (the file's header when resuming must describe the same content).
  void KeepHeader(const uint8_t* bytes, size_t length);
  bool KeptHeaderIs(const uint8_t* bytes, size_t length) const {
    return server_header_.size() == length &&
           std::equal(server_header_.begin(), server_header_.end(), bytes);
  }
  // Times in the file are the server's minus this base (the first packet's time of a download
  // from an offset). A new download stores a base other than 0 in the file's header with its
  // first packet, so that a resumed one shifts its packets the same way.
  void SetTimeBase(uint32_t base) { time_base_ = base; }
  uint32_t TimeBase() const { return time_base_; }
  // A resumed download continues the file at `point`: its first packet must be one the file holds
  // (found by its bytes), which fixes where the server's numbers place packets in the file.
  void BeginResume(const AsfResumePoint& point);
  // The file holds the whole clip already: packets are compared with it (the first one must be
  // one it holds), and nothing is written.
  void CheckOnly() { check_only_ = true; }
  // Added to the server's number of a packet to give its place in the file (0 before resuming).
  int64_t IndexShift() const { return index_shift_; }
  // Where the last packet written (or dropped as old) was placed.
  int64_t LastIndex() const { return last_index_; }

  // Writes the payload as packet `index`. When resuming, `index` is the server's number, and the
  // file's own header is compared with the layout and the server's header before the first
  // packet; a mismatch, or a first packet the file does not hold, leaves the file untouched.
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
  // Finds the file's packet equal to the padded one in buffer_; false (posted) when none is.
  bool Anchor(TSaveFile& file, int64_t index, uint32_t sendTime, const PostFn& post);
  bool StoreTimeBase(TSaveFile& file);
  // The file's header is the server's, apart from what finishing rewrites.
  bool FileHoldsHeader(TSaveFile& file);

  uint32_t header_length_ = 0;
  std::vector<uint8_t> server_header_;
  uint32_t time_base_ = 0;
  bool base_stored_ = false;
  bool anchored_ = false;
  uint64_t resume_packets_ = 0;
  uint32_t resume_last_time_ = 0;
  int64_t index_shift_ = 0;
  int64_t last_index_ = -1;
  uint32_t packet_size_ = 0;
  bool resume_checked_ = false;
  bool check_only_ = false;
  int64_t highest_ = -1;
  std::vector<uint8_t> buffer_;
};

}  // namespace qor
