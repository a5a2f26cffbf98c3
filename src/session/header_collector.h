#pragma once
// The ASF header as it arrives in pieces (MMS header packets or HTTP $H chunks): the pieces are
// joined until one is flagged as the last, then the whole header is written at offset 0 of the
// save file (unless resuming), so the file always starts with the header whose length places the
// packets behind it. What lands there describes the packets the file holds (TSaveFile::
// WriteHeader); the pieces are kept as the server sent them.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qor {

class TSaveFile;

class HeaderCollector {
 public:
  // A header larger than this is refused.
  static constexpr size_t kMaxHeaderBytes = 16u * 1024 * 1024;

  enum class Step {
    More,         // more pieces follow
    Complete,     // the header is whole (and written, unless resuming)
    WriteFailed,  // whole, but writing it failed
    TooLarge,     // the pieces passed kMaxHeaderBytes
    Malformed,    // whole, but its Header Object's size is not what was sent: not written
  };

  // True when the flags byte marks the last piece.
  static bool IsLastPiece(uint8_t flags) { return flags == 0x0C || flags == 0x08; }

  // Appends one piece. On the last piece the header is written at offset 0 of file (when file
  // is set and not resuming; a missing file counts as a failed write), unless the Header Object
  // claims a size other than what came (the Header Object and the Data Object's first 50 bytes):
  // a header whose size lies would place every packet wrongly and describe another file.
  Step Append(const uint8_t* data, size_t length, uint8_t flags, TSaveFile* file, bool resuming);

  const std::string& Text() const { return text_; }
  const uint8_t* Bytes() const { return reinterpret_cast<const uint8_t*>(text_.data()); }
  size_t Length() const { return text_.size(); }
  void Clear() { text_.clear(); }

 private:
  bool SizeIsHonest() const;

  std::string text_;
};

}  // namespace qor
