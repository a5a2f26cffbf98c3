// Reading a saved file's header, and finishing a saved stream: header fields, resume timecode,
// seek index.

#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "asf/asf.h"
#include "asf/asf_bytes.h"
#include "platform/file_handle.h"
#include "support/message_queue.h"

namespace qor {

using asf_detail::ByteView;
using asf_detail::StoreLE;

namespace {

// Bytes of the File Properties Object up to and including its maximum bitrate.
constexpr uint64_t kFilePropertiesFixed = 104;
// Bytes of the Data Object up to and including its total data packets.
constexpr uint64_t kDataObjectFixed = 48;

// The first HeaderLength bytes of the file (as far as the file goes); false when seeking or
// reading fails.
bool ReadHeaderCopy(FileHandle& file, uint64_t headerLength, std::vector<uint8_t>& copy) {
  if (file.Seek(0) != 0) return false;
  const int64_t size = file.Size();
  if (size < 0) return false;
  const uint64_t wanted = std::min<uint64_t>(headerLength, static_cast<uint64_t>(size));
  copy.resize(static_cast<size_t>(std::min<uint64_t>(wanted, kMaxHeaderLength)));
  const int64_t got = file.Read(copy.data(), copy.size());
  if (got < 0) return false;
  copy.resize(static_cast<size_t>(got));
  return true;
}

// Position of an object whose first `fixed` bytes lie inside the copy, or -1.
int64_t FindWhole(const std::vector<uint8_t>& copy, const uint8_t prefix[6], uint64_t fixed) {
  const int64_t at = FindAsfPrefix(copy.data(), copy.size(), prefix);
  if (at < 0 || !ByteView{copy.data(), copy.size()}.Has(static_cast<uint64_t>(at), fixed))
    return -1;
  return at;
}

bool WriteLE(FileHandle& file, uint64_t offset, uint64_t value, uint32_t width) {
  uint8_t bytes[8];
  StoreLE(bytes, value, width);
  return file.Seek(static_cast<int64_t>(offset)) == static_cast<int64_t>(offset) &&
         file.Write(bytes, width);
}

}  // namespace

bool TASF::ReadHeaderFromFile(const std::string& fileName) {
  // Like ParseHeader: a reader on another thread never sees the model half filled.
  std::lock_guard<std::recursive_mutex> hold(model_lock_.mutex);
  FileHandle file;
  if (!file.Open(fileName, FileHandle::Mode::OpenRead)) {
    Fail("TASF: could not read or open file");
    return false;
  }
  const int64_t fileLength = file.Size();
  if (fileLength < 0) {
    Fail("TASF: could not read or open file");
    return false;
  }
  if (fileLength == 0) {
    Fail("TASF: read file contains no data");
    return false;
  }

  Reset();
  uint8_t start[30] = {};
  const int64_t got = file.ReadAt(0, start, sizeof start);
  if (got < 0) {  // a folder, or a device that cannot be read
    Fail("TASF: could not read or open file");
    return false;
  }
  const ByteView first{start, static_cast<size_t>(got)};
  uint64_t headerObjectSize = 0;
  if (!first.Matches(0, asf_guid::kHeaderObject, 6) || !first.Has(0, sizeof start) ||
      !first.U64(16, headerObjectSize)) {
    Fail("TASF: file is not of a valid ASF 1.0 format");
    return false;
  }

  // The Header Object and the Data Object's own header, never more than the file or the cap.
  const uint64_t wanted = headerObjectSize > kMaxHeaderLength
                              ? kMaxHeaderLength
                              : headerObjectSize + kDataObjectHeaderLength;
  const uint64_t length = std::min({wanted, static_cast<uint64_t>(fileLength), kMaxHeaderLength});
  std::vector<uint8_t> block(static_cast<size_t>(length));
  const int64_t read = file.ReadAt(0, block.data(), block.size());
  if (read <= 0) {
    Fail("TASF: could not read or open file");
    return false;
  }
  block.resize(static_cast<size_t>(read));
  HeaderLength = block.size();
  FileLength = static_cast<uint64_t>(fileLength);

  struct stat info {};
  if (fstat(file.Descriptor(), &info) != 0 ||
      !asf_detail::FileTimeText(
          asf_detail::UnixTimeToFileTime(info.st_mtim.tv_sec, info.st_mtim.tv_nsec),
          "  (File last written stamp)", FileWrittenText))
    FileWrittenText = "FILETIME value error";

  file.Close();
  return ParseBlock(block.data(), block.size());
}

bool TASF::FixHeaderOnCompleted(FileHandle& file, uint64_t packetCount, uint32_t timecode) {
  // The window finishes a file while a session may still parse a header into this model.
  std::lock_guard<std::recursive_mutex> hold(model_lock_.mutex);
  std::vector<uint8_t> copy;
  if (!ReadHeaderCopy(file, HeaderLength, copy)) return false;
  const int64_t f = FindWhole(copy, asf_guid::kFileProperties, kFilePropertiesFixed);
  if (f < 0) {
    Fail("TASF: FixHeaderOnCompleted failed, no file prop object");
    return false;
  }
  const uint64_t fp = static_cast<uint64_t>(f);
  const int64_t fileLength = file.Seek(0, FileHandle::Whence::End);
  if (fileLength < 0) return false;
  uint32_t preroll = 0;
  ByteView{copy.data(), copy.size()}.U32(fp + 80, preroll);
  const uint64_t playDuration = static_cast<uint64_t>(timecode + preroll) * 10000;
  const uint64_t sendDuration = static_cast<uint64_t>(timecode) * 10000;
  if (!WriteLE(file, fp + 40, static_cast<uint64_t>(fileLength), 8) ||
      !WriteLE(file, fp + 56, packetCount, 8) || !WriteLE(file, fp + 64, playDuration, 8) ||
      !WriteLE(file, fp + 72, sendDuration, 8) || !WriteLE(file, fp + 88, ffSeekable, 1))
    return false;

  const int64_t d = FindWhole(copy, asf_guid::kDataObject, kDataObjectFixed);
  if (d < 0) {
    Fail("TASF: FixHeaderOnCompleted failed, no data object");
    return false;
  }
  const uint64_t dp = static_cast<uint64_t>(d);
  const uint64_t dataObjectSize =
      static_cast<uint64_t>(PacketSize) * packetCount + kDataObjectHeaderLength;
  return WriteLE(file, dp + 16, dataObjectSize, 8) && WriteLE(file, dp + 40, packetCount, 8);
}

bool TASF::SetLastTimeCode(FileHandle& file, uint32_t timecode) {
  std::lock_guard<std::recursive_mutex> hold(model_lock_.mutex);
  std::vector<uint8_t> copy;
  if (!ReadHeaderCopy(file, HeaderLength, copy)) return false;
  const int64_t f = FindWhole(copy, asf_guid::kFileProperties, kFilePropertiesFixed);
  if (f < 0) {
    Fail("TASF: SetLastTimeCode failed, file prop object not found");
    return false;
  }
  if (!WriteLE(file, static_cast<uint64_t>(f) + 24, timecode, 4)) return false;
  const int64_t d = FindWhole(copy, asf_guid::kDataObject, kDataObjectFixed);
  if (d < 0) {
    Fail("TASF: SetLastTimeCode failed, data object not found");
    return false;
  }
  return WriteLE(file, static_cast<uint64_t>(d) + 24, timecode, 4);
}

bool TASF::GetLastTimeCode(FileHandle& file, uint32_t& timecode) {
  std::lock_guard<std::recursive_mutex> hold(model_lock_.mutex);
  std::vector<uint8_t> copy;
  if (!ReadHeaderCopy(file, HeaderLength, copy)) return false;
  const int64_t f = FindWhole(copy, asf_guid::kFileProperties, kFilePropertiesFixed);
  if (f < 0) {
    Fail("TASF: GetLastTimeCode failed, file prop object not found");
    return false;
  }
  ByteView{copy.data(), copy.size()}.U32(static_cast<uint64_t>(f) + 24, timecode);
  return true;
}

bool TASF::WriteIndexObject(FileHandle& file) {
  std::lock_guard<std::recursive_mutex> hold(model_lock_.mutex);
  std::vector<uint8_t> copy;
  if (!ReadHeaderCopy(file, HeaderLength, copy)) return false;
  const int64_t f = FindWhole(copy, asf_guid::kFileProperties, kFilePropertiesFixed);
  if (f < 0) {
    Fail("TASF: WriteIndexObject failed, file prop object not found");
    return false;
  }
  const uint64_t fp = static_cast<uint64_t>(f);
  if (file.Seek(0, FileHandle::Whence::End) < 0) return false;

  uint8_t index[kSimpleIndexObjectLength] = {};
  std::copy(std::begin(asf_guid::kSimpleIndexObject), std::end(asf_guid::kSimpleIndexObject),
            index);
  StoreLE(index + 16, kSimpleIndexObjectLength, 8);
  std::copy(copy.begin() + static_cast<std::ptrdiff_t>(fp + 24),
            copy.begin() + static_cast<std::ptrdiff_t>(fp + 40), index + 24);
  StoreLE(index + 40, 10000, 8);  // one entry per millisecond
  StoreLE(index + 48, 1, 4);      // maximum packet count
  StoreLE(index + 52, 1, 4);      // index entries count
  StoreLE(index + 56, 0, 4);      // entry 0: packet number
  StoreLE(index + 60, 1, 2);      // entry 0: packet count
  for (uint32_t k = 0; k < StreamCount && k < kAsfSlots; ++k) {
    if ((StreamKinds[k] & skVideo) == 0) continue;
    if (!file.Write(index, sizeof index)) return false;
  }

  const int64_t fileLength = file.Seek(0, FileHandle::Whence::End);
  if (fileLength < 0) return false;
  return WriteLE(file, fp + 40, static_cast<uint64_t>(fileLength), 8);
}

}  // namespace qor
