// The header model: prefix search and the parse of one header block.

#include <cstring>

#include "asf/asf.h"
#include "asf/asf_bytes.h"
#include "support/message_queue.h"

namespace qor {

using asf_detail::ByteView;
using asf_detail::TrimControls;
using asf_detail::Utf16Text;

int64_t FindAsfPrefix(const uint8_t* block, size_t length, const uint8_t prefix[6]) {
  if (block == nullptr || length < 7) return -1;
  const size_t last = length - 6;  // the last position where 6 bytes still fit
  for (size_t pos = 1; pos <= last;) {
    const void* hit = std::memchr(block + pos, prefix[0], last - pos + 1);
    if (hit == nullptr) return -1;
    pos = static_cast<size_t>(static_cast<const uint8_t*>(hit) - block);
    if (std::memcmp(block + pos, prefix, 6) == 0) return static_cast<int64_t>(pos);
    ++pos;
  }
  return -1;
}

void TASF::Fail(const char* text) {
  if (Messages != nullptr) Messages->Post(text, mcFatal, ThreadMessageSource());
}

TASF::Totals TASF::ReadTotals() const {
  std::lock_guard<std::recursive_mutex> hold(model_lock_.mutex);
  return Totals{PlayDuration, TotalDataPackets};
}

TASF TASF::Snapshot() const {
  std::lock_guard<std::recursive_mutex> hold(model_lock_.mutex);
  return *this;
}

bool TASF::Reset() {
  std::lock_guard<std::recursive_mutex> hold(model_lock_.mutex);
  Title.clear();
  Author.clear();
  Copyright.clear();
  Description.clear();
  Rating.clear();
  ExtendedCount = 0;
  CodecCount = 0;
  StreamCount = 0;
  BitrateCount = 0;
  for (uint32_t k = 0; k < kAsfSlots; ++k) {
    ExtendedNames[k].clear();
    ExtendedValues[k].clear();
    CodecKinds[k] = 0;
    CodecNames[k].clear();
    CodecDescriptions[k].clear();
    CodecInformation[k].clear();
    StreamKinds[k] = 0;
    StreamNumbers[k] = 0;
    AudioChannels[k] = 0;
    AudioSampleRates[k] = 0;
    VideoWidths[k] = 0;
    VideoHeights[k] = 0;
    BitrateStreamNumbers[k] = 0;
    AverageBitrates[k] = 0;
  }
  FileLength = 0;
  CreationText.clear();
  FileWrittenText.clear();
  FileFlags = 0;
  PlayDuration = 0;
  SendDuration = 0;
  Preroll = 0;
  MaxBitrate = 0;
  PacketSize = 0;
  DataPacketsCount = 0;
  TotalDataPackets = 0;
  FileSize = 0;
  HeaderLength = 0;
  DataObjectOffset = 0;
  return true;
}

bool TASF::ParseHeader(const uint8_t* block, size_t length) {
  if (length == 0 || block == nullptr) {
    Fail("TASF: header data length is zero");
    return false;
  }
  std::lock_guard<std::recursive_mutex> hold(model_lock_.mutex);
  Reset();
  HeaderLength = length;
  return ParseBlock(block, length);
}

namespace {

// Value text of one extended descriptor. Numbers are read at their type's width from the start of
// the value; bytes beyond the declared value length read as 0, so a short value never borrows the
// next descriptor's bytes.
std::string DescriptorValueText(const ByteView& block, uint64_t pos, uint16_t type,
                                uint16_t valueLength) {
  auto number = [&](uint32_t width) {
    uint64_t value = 0;
    for (uint32_t i = 0; i < width && i < valueLength; ++i) {
      uint8_t byte = 0;
      if (!block.U8(pos + i, byte)) break;
      value |= static_cast<uint64_t>(byte) << (8 * i);
    }
    return value;
  };
  switch (type) {
    case 0:
      return TrimControls(Utf16Text(block, pos, valueLength));
    case 1:
      return "Binary array of length: " + std::to_string(valueLength);
    case 2:
      return number(4) == 1 ? " = true" : " = false";
    case 3:
      return std::to_string(static_cast<int32_t>(static_cast<uint32_t>(number(4))));
    case 4:
      return std::to_string(static_cast<int32_t>(static_cast<uint32_t>(number(8))));
    case 5:
      return std::to_string(static_cast<uint16_t>(number(2)));
    default:
      return "Data type unknown";
  }
}

}  // namespace

bool TASF::ParseBlock(const uint8_t* data, size_t length) {
  const ByteView block{data, length};

  // 1. Data Object: required, and its packet count must lie inside the block.
  const int64_t d = FindAsfPrefix(data, length, asf_guid::kDataObject);
  if (d < 0 || !block.U64(static_cast<uint64_t>(d) + 40, TotalDataPackets)) {
    Fail("TASF: no data object was found");
    return false;
  }
  DataObjectOffset = static_cast<uint64_t>(d);

  // 2. Header Extension Object: required, nothing read from it.
  if (FindAsfPrefix(data, length, asf_guid::kHeaderExtension) < 0) {
    Fail("TASF: no header extention object was found");
    return false;
  }

  // 3. Stream Bitrate Properties: optional; only the records wholly inside the block are kept.
  const int64_t b = FindAsfPrefix(data, length, asf_guid::kStreamBitrateProperties);
  uint16_t records = 0;
  if (b >= 0 && block.U16(static_cast<uint64_t>(b) + 24, records)) {
    for (uint32_t k = 0; k < records && BitrateCount < kAsfSlots; ++k) {
      const uint64_t r = static_cast<uint64_t>(b) + 26 + 6ull * k;
      uint8_t number = 0;
      uint32_t average = 0;
      if (!block.U8(r, number) || !block.U32(r + 2, average)) break;
      BitrateStreamNumbers[BitrateCount] = number & 0x7F;
      AverageBitrates[BitrateCount] = average;
      ++BitrateCount;
    }
  }

  // 4. Stream Properties: every match is a stream; a match whose fields leave the block fails.
  bool anyStream = false;
  for (int64_t s = FindAsfPrefix(data, length, asf_guid::kStreamProperties); s >= 0;) {
    const uint64_t at = static_cast<uint64_t>(s);
    uint8_t kind = skOther, number = 0;
    int32_t channels = 0;
    uint32_t rate = 0, width = 0, height = 0;
    bool inside = block.Has(at + 24, 6) && block.U8(at + 72, number);
    if (inside && block.Matches(at + 24, asf_guid::kVideoMedia, 6)) {
      kind = skVideo;
      inside = block.U32(at + 78, width) && block.U32(at + 82, height);
    } else if (inside && block.Matches(at + 24, asf_guid::kAudioMedia, 6)) {
      kind = skAudio;
      uint8_t channelByte = 0;
      inside = block.U8(at + 80, channelByte) && block.U32(at + 82, rate) && block.Has(at + 40, 6);
      channels = static_cast<int8_t>(channelByte);
      if (inside && !block.Matches(at + 40, asf_guid::kNoErrorCorrection, 6))
        kind |= skErrorCorrected;
    } else if (inside && block.Matches(at + 24, asf_guid::kCommandMedia, 6)) {
      kind = skCommand;
    }
    if (!inside) {
      Fail("TASF: no media streams found in header");
      return false;
    }
    anyStream = true;
    if (StreamCount < kAsfSlots) {
      StreamKinds[StreamCount] = kind;
      StreamNumbers[StreamCount] = number & 0x7F;
      AudioChannels[StreamCount] = channels;
      AudioSampleRates[StreamCount] = rate;
      VideoWidths[StreamCount] = width;
      VideoHeights[StreamCount] = height;
      ++StreamCount;
    }
    const int64_t next = FindAsfPrefix(data + at, length - at, asf_guid::kStreamProperties);
    s = next < 0 ? -1 : s + next;
  }
  if (!anyStream) {
    Fail("TASF: no media streams found in header");
    return false;
  }

  // 5. File Properties: required, with all its fixed fields inside the block.
  const int64_t f = FindAsfPrefix(data, length, asf_guid::kFileProperties);
  const uint64_t fp = static_cast<uint64_t>(f);
  uint64_t creation = 0, play = 0, send = 0, preroll = 0;
  uint32_t flags = 0, minPacket = 0, maxPacket = 0;
  if (f < 0 || !block.Has(fp, 104)) {
    Fail("TASF: no file properties object found");
    return false;
  }
  block.U64(fp + 40, FileSize);
  block.U64(fp + 48, creation);
  block.U64(fp + 56, DataPacketsCount);
  block.U64(fp + 64, play);
  block.U64(fp + 72, send);
  block.U64(fp + 80, preroll);
  block.U32(fp + 88, flags);
  block.U32(fp + 92, minPacket);
  block.U32(fp + 96, maxPacket);
  PlayDuration = static_cast<double>(play) * 0.0001;
  SendDuration = static_cast<double>(send) * 0.0001;
  Preroll = static_cast<double>(preroll);
  FileFlags = static_cast<uint8_t>(flags & 3);
  if (minPacket != maxPacket) {
    Fail("TASF: packet sizes are variable");
    return false;
  }
  PacketSize = maxPacket;
  block.U32(fp + 100, MaxBitrate);

  // 6. Content Description: optional; texts are cut at the end of the block.
  const int64_t c = FindAsfPrefix(data, length, asf_guid::kContentDescription);
  uint16_t lengths[5] = {};
  if (c >= 0 && block.Has(static_cast<uint64_t>(c) + 24, 10)) {
    for (int i = 0; i < 5; ++i) block.U16(static_cast<uint64_t>(c) + 24 + 2 * i, lengths[i]);
    std::string* texts[5] = {&Title, &Author, &Copyright, &Description, &Rating};
    uint64_t pos = static_cast<uint64_t>(c) + 34;
    for (int i = 0; i < 5; ++i) {
      *texts[i] = Utf16Text(block, pos, lengths[i]);
      pos += lengths[i];
    }
  }

  // 7. Extended Content Description: optional; a descriptor that leaves the block ends the list.
  const int64_t e = FindAsfPrefix(data, length, asf_guid::kExtendedContentDescription);
  uint16_t descriptors = 0;
  if (e >= 0 && block.U16(static_cast<uint64_t>(e) + 24, descriptors)) {
    uint64_t pos = static_cast<uint64_t>(e) + 26;
    for (uint32_t k = 0; k < descriptors && ExtendedCount < kAsfSlots; ++k) {
      uint16_t nameLength = 0, type = 0, valueLength = 0;
      if (!block.U16(pos, nameLength) || !block.Has(pos + 2, nameLength)) break;
      const uint64_t namePos = pos + 2;
      pos = namePos + nameLength;
      if (!block.U16(pos, type) || !block.U16(pos + 2, valueLength)) break;
      const uint64_t valuePos = pos + 4;
      if (!block.Has(valuePos, valueLength)) break;
      ExtendedNames[ExtendedCount] = TrimControls(Utf16Text(block, namePos, nameLength));
      ExtendedValues[ExtendedCount] = DescriptorValueText(block, valuePos, type, valueLength);
      ++ExtendedCount;
      pos = valuePos + valueLength;
    }
  }

  // 8. Codec List: optional; an entry that leaves the block ends the list.
  const int64_t l = FindAsfPrefix(data, length, asf_guid::kCodecList);
  uint32_t entries = 0;
  if (l >= 0 && block.U32(static_cast<uint64_t>(l) + 40, entries)) {
    uint64_t pos = static_cast<uint64_t>(l) + 44;
    for (uint32_t k = 0; k < entries && CodecCount < kAsfSlots; ++k) {
      uint16_t type = 0, nameChars = 0, descriptionChars = 0, informationBytes = 0;
      if (!block.U16(pos, type) || !block.U16(pos + 2, nameChars)) break;
      const uint64_t namePos = pos + 4;
      const uint64_t nameBytes = 2ull * nameChars;
      if (!block.Has(namePos, nameBytes) || !block.U16(namePos + nameBytes, descriptionChars))
        break;
      const uint64_t descriptionPos = namePos + nameBytes + 2;
      const uint64_t descriptionBytes = 2ull * descriptionChars;
      if (!block.Has(descriptionPos, descriptionBytes) ||
          !block.U16(descriptionPos + descriptionBytes, informationBytes))
        break;
      const uint64_t informationPos = descriptionPos + descriptionBytes + 2;
      if (!block.Has(informationPos, informationBytes)) break;
      uint32_t codecKind = 0;
      if (type == 1) codecKind = ckVideo;
      if (type == 2) codecKind = ckAudio;
      if (type == 0xFFFF) codecKind = ckUnknown;
      CodecKinds[CodecCount] = codecKind;
      CodecNames[CodecCount] = TrimControls(Utf16Text(block, namePos, nameBytes));
      CodecDescriptions[CodecCount] =
          TrimControls(Utf16Text(block, descriptionPos, descriptionBytes));
      CodecInformation[CodecCount] = TrimControls(
          std::string(reinterpret_cast<const char*>(data + informationPos), informationBytes));
      ++CodecCount;
      pos = informationPos + informationBytes;
    }
  }

  // 9. Creation text.
  if (creation != 0 && !asf_detail::FileTimeText(creation, "  (ASF FILETIME)", CreationText))
    CreationText = "TASF: FILETIME read value error";

  return true;
}

}  // namespace qor
