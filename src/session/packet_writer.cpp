#include "session/packet_writer.h"

#include <algorithm>
#include <cstring>

#include "asf/asf.h"
#include "session/header_collector.h"
#include "session/save_file.h"
#include "support/helper.h"
#include "support/message_queue.h"

namespace qor {

namespace {

constexpr uint32_t kFieldWidth[4] = {0, 1, 2, 4};

uint32_t ReadField(const uint8_t* p, uint32_t width) {
  uint32_t value = 0;
  for (uint32_t i = 0; i < width; ++i) value |= static_cast<uint32_t>(p[i]) << (8 * i);
  return value;
}

void StoreField(uint8_t* p, uint32_t width, uint32_t value) {
  for (uint32_t i = 0; i < width; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool FitsField(uint32_t width, uint32_t value) {
  return width == 4 || (width > 0 && value < (1u << (8 * width)));
}

}  // namespace

void PacketWriter::Reset() {
  header_length_ = 0;
  server_header_.clear();
  time_base_ = 0;
  base_stored_ = false;
  anchored_ = false;
  resume_packets_ = 0;
  resume_last_time_ = 0;
  index_shift_ = 0;
  last_index_ = -1;
  packet_size_ = 0;
  resume_checked_ = false;
  highest_ = -1;
  check_only_ = false;
  buffer_.clear();
}

void PacketWriter::SetLayout(uint32_t headerLength, uint32_t packetSize) {
  header_length_ = headerLength;
  packet_size_ = packetSize;
  buffer_.assign(packetSize, 0);
}

void PacketWriter::KeepHeader(const uint8_t* bytes, size_t length) {
  server_header_.assign(bytes, bytes + length);
}

void PacketWriter::BeginResume(const AsfResumePoint& point) {
  time_base_ = point.timeBase;
  base_stored_ = true;  // the file has its base already (or none, as before it was stored)
  resume_packets_ = point.packets;
  resume_last_time_ = point.lastSendTime;
  anchored_ = false;
  index_shift_ = 0;
}

bool PacketWriter::Anchor(TSaveFile& file, int64_t index, uint32_t sendTime, const PostFn& post) {
  // The server starts at a key frame at or before the time asked for, so its first packet is one
  // the file holds: the slots are read back from the last whole one while their times are not
  // earlier than the packet's.
  std::vector<uint8_t> stored(packet_size_);
  for (uint64_t k = resume_packets_; k > 0; --k) {
    const int64_t at = static_cast<int64_t>(header_length_) +
                       static_cast<int64_t>(k - 1) * static_cast<int64_t>(packet_size_);
    if (file.ReadAt(at, stored.data(), stored.size()) != static_cast<int64_t>(stored.size()))
      continue;
    if (stored == buffer_) {
      index_shift_ = static_cast<int64_t>(k - 1) - index;
      anchored_ = true;
      file.NoteHeldPackets(static_cast<int64_t>(resume_packets_) - 1, resume_last_time_);
      return true;
    }
    AsfPacketTimes times;
    if (ReadAsfPacketTimes(stored.data(), stored.size(), times) && times.sendTime < sendTime) break;
  }
  post(
      "Cannot resume: the stream does not continue the file (none of its packets is the "
      "server's)",
      mcFatal);
  return false;
}

bool PacketWriter::StoreTimeBase(TSaveFile& file) {
  base_stored_ = true;
  // A broadcast is never resumed: its header stays as the server sent it.
  TASF model;
  if (model.ParseHeader(server_header_.data(), server_header_.size()) &&
      (model.FileFlags & ffBroadcast))
    return true;
  uint64_t at = 0;
  uint8_t mark[8];
  if (!AsfTimeBaseMark(server_header_.data(), server_header_.size(), at, mark, time_base_))
    return true;  // no Data Object header to keep it in: the file resumes as before
  return file.WriteAt(static_cast<int64_t>(at), mark, sizeof mark) !=
         TSaveFile::WriteResult::Failed;
}

bool PacketWriter::RestorePaddingFields(uint8_t* packet, size_t length, uint32_t added,
                                        uint32_t paddedLength) {
  size_t pos = 0;
  if (length < 1) return false;
  if (packet[0] & 0x80) {
    // Error correction data first; its length is in the low nibble.
    pos = 1 + (packet[0] & 0x0F);
  }
  if (pos + 2 > length) return false;
  const uint8_t lengthFlags = packet[pos];
  const uint32_t packetLengthWidth = kFieldWidth[(lengthFlags >> 5) & 3];
  const uint32_t sequenceWidth = kFieldWidth[(lengthFlags >> 1) & 3];
  const uint32_t paddingWidth = kFieldWidth[(lengthFlags >> 3) & 3];
  const size_t packetLengthPos = pos + 2;
  const size_t paddingPos = packetLengthPos + packetLengthWidth + sequenceWidth;
  if (paddingWidth == 0 || paddingPos + paddingWidth > length) return false;
  if (!FitsField(paddingWidth, added)) return false;
  StoreField(packet + paddingPos, paddingWidth, added);
  if (packetLengthWidth > 0 && FitsField(packetLengthWidth, paddedLength) &&
      ReadField(packet + packetLengthPos, packetLengthWidth) == paddedLength - added) {
    StoreField(packet + packetLengthPos, packetLengthWidth, paddedLength);
  }
  return true;
}

bool PacketWriter::FileMatchesLayout(TSaveFile& file, uint32_t headerLength, uint32_t packetSize) {
  uint8_t start[30];
  if (file.ReadAt(0, start, sizeof start) != static_cast<int64_t>(sizeof start)) return false;
  uint64_t objectSize = 0;
  for (int i = 0; i < 8; ++i) objectSize |= static_cast<uint64_t>(start[16 + i]) << (8 * i);
  if (objectSize < 30 || objectSize > HeaderCollector::kMaxHeaderBytes) return false;
  std::vector<uint8_t> block(objectSize + kDataObjectHeaderLength);
  if (file.ReadAt(0, block.data(), block.size()) != static_cast<int64_t>(block.size()))
    return false;
  TASF model;
  if (!model.ParseHeader(block.data(), block.size())) return false;
  return model.FirstPacketOffset() == headerLength && model.PacketSize == packetSize;
}

bool PacketWriter::FileHoldsHeader(TSaveFile& file) {
  if (server_header_.empty()) return true;  // a caller that kept none checks the layout only
  std::vector<uint8_t> own(server_header_.size());
  return file.ReadAt(0, own.data(), own.size()) == static_cast<int64_t>(own.size()) &&
         AsfFileIsPartOfClip(own.data(), own.size(), server_header_.data(), server_header_.size());
}

PacketWriter::Outcome PacketWriter::Write(TSaveFile* file, bool resuming, const uint8_t* payload,
                                          size_t length, int64_t index, uint32_t sendTime,
                                          const PostFn& post) {
  if (!file || packet_size_ == 0) {
    post("Could not access local file to write data packet", mcFatal);
    return Outcome::Stop;
  }
  if (resuming && !resume_checked_) {
    if (!FileMatchesLayout(*file, header_length_, packet_size_) || !FileHoldsHeader(*file)) {
      post("Cannot resume: the server's header does not match the file", mcFatal);
      return Outcome::Stop;
    }
    resume_checked_ = true;
    const int64_t size = file->Size();
    if (size > static_cast<int64_t>(header_length_))
      highest_ = (size - header_length_) / packet_size_ - 1;
  }
  if (length > packet_size_) {
    post("Warning, a packet length had to be cut to size", mcWarning);
    length = packet_size_;
  }
  std::memcpy(buffer_.data(), payload, length);
  if (length < packet_size_) {
    std::fill(buffer_.begin() + static_cast<std::ptrdiff_t>(length), buffer_.end(), 0);
    RestorePaddingFields(buffer_.data(), length, packet_size_ - static_cast<uint32_t>(length),
                         packet_size_);
  }
  if (resuming && !anchored_) {
    if (!Anchor(*file, index, sendTime, post)) return Outcome::Stop;
  }
  // A file that already holds the whole clip is only checked against the stream.
  if (check_only_) return Outcome::Checked;
  if (resuming) index += index_shift_;
  last_index_ = index;
  if (index < 0 || index > std::max<int64_t>(highest_, 0) + kMaxIndexJump) {
    post("Warning, a packet with an invalid index was dropped: " + THelper::IntText(index),
         mcWarning);
    return Outcome::Dropped;
  }
  const int64_t offset = static_cast<int64_t>(header_length_) + index * packet_size_;
  switch (file->WritePacket(offset, buffer_.data(), packet_size_, index, sendTime)) {
    case TSaveFile::WriteResult::Written:
      highest_ = std::max(highest_, index);
      if (!resuming && !base_stored_ && time_base_ != 0 && !StoreTimeBase(*file)) break;
      return Outcome::Written;
    case TSaveFile::WriteResult::Dropped:
      return Outcome::Dropped;
    case TSaveFile::WriteResult::Failed:
      break;
  }
  post("Could not access local file to write data packet", mcFatal);
  return Outcome::Stop;
}

}  // namespace qor
