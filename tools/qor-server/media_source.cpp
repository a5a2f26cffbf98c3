#include "media_source.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>

#include "asf/asf.h"
#include "platform/file_handle.h"

namespace qor::server {

namespace {

constexpr uint32_t kWidthOfCode[4] = {0, 1, 2, 4};
constexpr size_t kFilePropsFlags = 88;

}  // namespace

std::shared_ptr<const MediaSource> MediaSource::Load(const std::string& path, std::string& error) {
  FileHandle file;
  if (!file.Open(path, FileHandle::Mode::OpenRead)) {
    error = "cannot open " + path;
    return nullptr;
  }
  const int64_t size = file.Size();
  if (size < 0 || static_cast<uint64_t>(size) > kMaxFileSize) {
    error = "unsuitable file size: " + path;
    return nullptr;
  }
  auto media = std::make_shared<MediaSource>();
  if (size > 0) {
    void* mapped =
        ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, file.Descriptor(), 0);
    if (mapped == MAP_FAILED) {
      error = "cannot read " + path;
      return nullptr;
    }
    media->file_ = static_cast<const uint8_t*>(mapped);
    media->fileSize_ = static_cast<size_t>(size);
  }
  const Reader data(media->file_, media->fileSize_);
  const Reader& reader = data;
  if (data.Size() < 30 + kDataObjectHeaderLength ||
      std::memcmp(media->file_, asf_guid::kHeaderObject, 6) != 0) {
    error = "not an ASF file: " + path;
    return nullptr;
  }
  const uint64_t headerObjectSize = reader.U64(16);
  if (headerObjectSize < 30 || headerObjectSize > data.Size() - kDataObjectHeaderLength ||
      std::memcmp(media->file_ + headerObjectSize, asf_guid::kDataObject, 6) != 0) {
    error = "no data object after the header: " + path;
    return nullptr;
  }
  const size_t headerLength = static_cast<size_t>(headerObjectSize) + kDataObjectHeaderLength;
  media->header_.assign(media->file_, media->file_ + headerLength);

  TASF asf;
  if (!asf.ParseHeader(media->header_.data(), media->header_.size()) || asf.PacketSize == 0) {
    error = "unreadable ASF header: " + path;
    return nullptr;
  }
  media->packetSize_ = asf.PacketSize;
  media->firstPacket_ = headerLength;
  media->broadcast_ = (asf.FileFlags & ffBroadcast) != 0;
  media->bitRate_ = asf.MaxBitrate;
  media->durationSeconds_ = std::max(0.0, (asf.PlayDuration - asf.Preroll) / 1000.0);
  for (uint32_t i = 0; i < asf.StreamCount && i < kAsfSlots; ++i) {
    media->streams_.push_back(asf.StreamNumbers[i]);
    media->kinds_.push_back(asf.StreamKinds[i]);
  }

  // Packets: as many whole ones as both the Data Object and the file hold.
  uint64_t available = (data.Size() - headerLength) / media->packetSize_;
  const uint64_t dataObjectSize = data.U64(static_cast<size_t>(headerObjectSize) + 16);
  if (dataObjectSize >= kDataObjectHeaderLength)
    available =
        std::min(available, (dataObjectSize - kDataObjectHeaderLength) / media->packetSize_);
  for (uint64_t i = 0; i < available; ++i) {
    AsfPacketTimes times;
    ReadAsfPacketTimes(media->Packet(i), media->packetSize_, times);
    media->sendTimes_.push_back(times.sendTime);
    media->keyFrames_.push_back(times.keyFrame);
    if (i + 1 == available && !media->sendTimes_.empty())
      media->spanMs_ = times.sendTime + times.duration - media->sendTimes_.front();
  }
  if (media->sendTimes_.empty()) {
    error = "no data packets: " + path;
    return nullptr;
  }
  media->spanMs_ = std::max<uint32_t>(media->spanMs_, 1);
  media->broadcastHeader_ = media->header_;
  MarkHeaderAsBroadcast(media->broadcastHeader_);
  return media;
}

MediaSource::~MediaSource() {
  if (file_) ::munmap(const_cast<uint8_t*>(file_), fileSize_);
}

const uint8_t* MediaSource::Packet(uint64_t index) const {
  return file_ + firstPacket_ + index * packetSize_;
}

uint64_t MediaSource::PacketForTime(uint32_t ms) const {
  const auto it = std::lower_bound(sendTimes_.begin(), sendTimes_.end(), sendTimes_.front() + ms);
  uint64_t index = static_cast<uint64_t>(it - sendTimes_.begin());
  if (index >= sendTimes_.size()) index = sendTimes_.size() - 1;
  const bool anyKey = std::find(keyFrames_.begin(), keyFrames_.end(), true) != keyFrames_.end();
  while (anyKey && index > 0 && !keyFrames_[index]) --index;
  return index;
}

bool MarkHeaderAsBroadcast(Bytes& header) {
  const int64_t at = FindAsfPrefix(header.data(), header.size(), asf_guid::kFileProperties);
  if (at < 0 || !Reader(header).Has(static_cast<size_t>(at), 104)) return false;
  uint8_t* props = header.data() + at;
  StoreU64(props + 40, 0);  // file size
  StoreU64(props + 56, 0);  // data packets count
  StoreU64(props + 64, 0);  // play duration
  StoreU64(props + 72, 0);  // send duration
  uint32_t flags = Reader(props, 104).U32(kFilePropsFlags);
  flags = (flags | 0x1u) & ~0x2u;
  StoreU32(props + kFilePropsFlags, flags);
  const int64_t data = FindAsfPrefix(header.data(), header.size(), asf_guid::kDataObject);
  if (data >= 0 && Reader(header).Has(static_cast<size_t>(data), kDataObjectHeaderLength)) {
    StoreU64(header.data() + data + 16, 0);  // object size
    StoreU64(header.data() + data + 40, 0);  // total data packets
  }
  return true;
}

size_t StripPacketPadding(uint8_t* packet, size_t size) {
  const Reader reader(packet, size);
  if (size < 5 || reader.U8(0) != 0x82) return size;
  const uint8_t lengthFlags = reader.U8(3);
  const uint32_t packetLengthWidth = kWidthOfCode[(lengthFlags >> 5) & 3];
  const uint32_t sequenceWidth = kWidthOfCode[(lengthFlags >> 1) & 3];
  const uint32_t paddingWidth = kWidthOfCode[(lengthFlags >> 3) & 3];
  if (paddingWidth == 0) return size;
  const size_t packetLengthPos = 5;
  const size_t paddingPos = 5 + packetLengthWidth + sequenceWidth;
  if (!reader.Has(paddingPos, paddingWidth)) return size;
  uint32_t padding = 0;
  for (uint32_t i = 0; i < paddingWidth; ++i)
    padding |= static_cast<uint32_t>(packet[paddingPos + i]) << (8 * i);
  if (padding == 0 || padding >= size - paddingPos) return size;
  const size_t stripped = size - padding;
  for (uint32_t i = 0; i < paddingWidth; ++i) packet[paddingPos + i] = 0;
  if (packetLengthWidth > 0)
    for (uint32_t i = 0; i < packetLengthWidth; ++i)
      packet[packetLengthPos + i] = static_cast<uint8_t>(stripped >> (8 * i));
  return stripped;
}

bool ShiftPacketTimes(uint8_t* packet, size_t size, uint32_t delta) {
  TASF asf;
  uint32_t sendTime = 0;
  uint16_t duration = 0;
  bool key = false;
  // The parser subtracts its base; subtracting the two's complement adds delta.
  return asf.ParsePacket(packet, size, sendTime, duration, static_cast<int32_t>(0u - delta), true,
                         key);
}

}  // namespace qor::server
