#include "asf/asf_description.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "asf/asf_bytes.h"
#include "asf/stream_selection.h"

namespace qor {

namespace {

using asf_detail::ByteView;
using asf_detail::TrimControls;
using asf_detail::Utf16Text;

using Guid = uint8_t[16];
constexpr Guid kHeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kDataObject = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                              0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kFileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                  0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kStreamProperties = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                    0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kContentDescription = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kExtendedContent = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                   0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
constexpr Guid kStreamBitrateProperties = {0xCE, 0x75, 0xF8, 0x7B, 0x8D, 0x46, 0xD1, 0x11,
                                           0x8D, 0x82, 0x00, 0x60, 0x97, 0xC9, 0xA2, 0xB2};
constexpr Guid kCodecList = {0x40, 0x52, 0xD1, 0x86, 0x1D, 0x31, 0xD0, 0x11,
                             0xA3, 0xA4, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0xF6};
constexpr Guid kHeaderExtension = {0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9, 0xCF, 0x11,
                                   0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kExtendedStreamProperties = {0xCB, 0xA5, 0xE6, 0x14, 0x72, 0xC6, 0x32, 0x43,
                                            0x83, 0x99, 0xA9, 0x69, 0x52, 0x06, 0x5B, 0x5A};
constexpr Guid kLanguageList = {0xA9, 0x46, 0x43, 0x7C, 0xE0, 0xEF, 0xFC, 0x4B,
                                0xB2, 0x29, 0x39, 0x3E, 0xDE, 0x41, 0x5C, 0x85};
constexpr Guid kAudioMedia = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11,
                              0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
constexpr Guid kVideoMedia = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                              0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
constexpr Guid kCommandMedia = {0xC0, 0xCF, 0xDA, 0x59, 0xE6, 0x59, 0xD0, 0x11,
                                0xA3, 0xAC, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0xF6};
constexpr Guid kNoErrorCorrection = {0x00, 0x57, 0xFB, 0x20, 0x55, 0x5B, 0xCF, 0x11,
                                     0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
constexpr Guid kSimpleIndex = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                               0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};

bool Is(const ByteView& v, uint64_t pos, const Guid& guid) {
  return v.Matches(pos, guid, 16);
}

uint16_t At16(const ByteView& v, uint64_t pos) {
  uint16_t out = 0;
  v.U16(pos, out);
  return out;
}
uint32_t At32(const ByteView& v, uint64_t pos) {
  uint32_t out = 0;
  v.U32(pos, out);
  return out;
}
uint64_t At64(const ByteView& v, uint64_t pos) {
  uint64_t out = 0;
  v.U64(pos, out);
  return out;
}

// Calls each(position, end) for every object wholly inside [from, to).
template <typename Each>
void ForEachObject(const ByteView& v, uint64_t from, uint64_t to, Each each) {
  uint64_t pos = from;
  while (pos < to && v.Has(pos, 24)) {
    const uint64_t size = At64(v, pos + 16);
    if (size < 24 || size > to - pos) return;
    each(pos, pos + size);
    pos += size;
  }
}

std::string GuidText(const ByteView& v, uint64_t pos) {
  if (!v.Has(pos, 16)) return std::string();
  const uint8_t* g = v.data + pos;
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned>(At32(v, pos)), static_cast<unsigned>(At16(v, pos + 4)),
                static_cast<unsigned>(At16(v, pos + 6)), g[8], g[9], g[10], g[11], g[12], g[13],
                g[14], g[15]);
  return text;
}

void ReadStream(const ByteView& v, uint64_t o, uint64_t end, AsfDescription& out) {
  if (end - o < 78) return;
  AsfStreamDescription s;
  const uint16_t flags = At16(v, o + 72);
  s.number = static_cast<uint8_t>(flags & 0x7F);
  s.encrypted = (flags & 0x8000) != 0;
  const ByteView object{v.data, static_cast<size_t>(end)};  // type-specific data stays inside
  if (Is(v, o + 24, kAudioMedia)) {
    s.type = "audio";
    s.errorCorrected = !Is(v, o + 40, kNoErrorCorrection);
    s.codecTag = At16(object, o + 78);
    s.channels = At16(object, o + 80);
    s.sampleRate = At32(object, o + 82);
    const uint32_t byteRate = At32(object, o + 86);
    if (byteRate <= 0xFFFFFFFFu / 8) s.bitrate = byteRate * 8;
    s.blockAlign = At16(object, o + 90);
    s.bitsPerSample = At16(object, o + 92);
  } else if (Is(v, o + 24, kVideoMedia)) {
    s.type = "video";
    s.width = At32(object, o + 78);
    s.height = At32(object, o + 82);
    s.bitsPerPixel = At16(object, o + 103);
    s.codecTag = At32(object, o + 105);
  } else if (Is(v, o + 24, kCommandMedia)) {
    s.type = "command";
  } else {
    s.type = "other";
  }
  for (const AsfStreamDescription& known : out.streams)
    if (known.number == s.number) return;  // a repeated number describes nothing new
  out.streams.push_back(s);
}

struct ExtendedStream {
  uint8_t number = 0;
  uint16_t languageIndex = 0xFFFF;
  uint32_t bitrate = 0;
  uint64_t frameTime = 0;  // 100-ns units
  std::string name;
};

void ReadHeaderExtension(const ByteView& v, uint64_t x, uint64_t end,
                         std::vector<ExtendedStream>& streams, std::vector<std::string>& languages) {
  const uint64_t dataSize = At32(v, x + 42);
  const uint64_t from = x + 46;
  if (from > end || dataSize > end - from) return;
  ForEachObject(v, from, from + dataSize, [&](uint64_t o, uint64_t oEnd) {
    const ByteView object{v.data, static_cast<size_t>(oEnd)};
    if (Is(v, o, kExtendedStreamProperties) && oEnd - o >= 88) {
      ExtendedStream e;
      e.bitrate = At32(object, o + 40);
      e.number = static_cast<uint8_t>(At16(object, o + 72) & 0x7F);
      e.languageIndex = At16(object, o + 74);
      e.frameTime = At64(object, o + 76);
      const uint16_t names = At16(object, o + 84);
      if (names > 0) {
        // Language index (2), name length (2), name.
        const uint16_t nameLength = At16(object, o + 90);
        e.name = TrimControls(Utf16Text(object, o + 92, nameLength));
      }
      streams.push_back(e);
    } else if (Is(v, o, kLanguageList) && oEnd - o >= 26) {
      const uint16_t count = At16(object, o + 24);
      uint64_t pos = o + 26;
      for (uint16_t i = 0; i < count; ++i) {
        uint8_t length = 0;
        if (!object.U8(pos, length) || !object.Has(pos + 1, length)) break;
        languages.push_back(TrimControls(Utf16Text(object, pos + 1, length)));
        pos += 1 + uint64_t{length};
      }
    }
  });
}

void ReadExtendedContent(const ByteView& object, uint64_t o, AsfDescription& out) {
  const uint16_t count = At16(object, o + 24);
  uint64_t pos = o + 26;
  for (uint16_t k = 0; k < count; ++k) {
    uint16_t nameLength = 0, type = 0, valueLength = 0;
    if (!object.U16(pos, nameLength) || !object.Has(pos + 2, nameLength)) break;
    const uint64_t namePos = pos + 2;
    pos = namePos + nameLength;
    if (!object.U16(pos, type) || !object.U16(pos + 2, valueLength)) break;
    const uint64_t valuePos = pos + 4;
    if (!object.Has(valuePos, valueLength)) break;
    AsfExtendedEntry e;
    e.name = TrimControls(Utf16Text(object, namePos, nameLength));
    e.type = type;
    e.size = valueLength;
    const ByteView value{object.data + valuePos, valueLength};
    switch (type) {
      case 0:
        e.text = Utf16Text(value, 0, valueLength);
        break;
      case 2:
      case 3:
        e.number = At32(value, 0);
        break;
      case 4:
        e.number = At64(value, 0);
        break;
      case 5:
        e.number = At16(value, 0);
        break;
      case 6:
        e.text = GuidText(value, 0);
        break;
      default:
        break;
    }
    out.extended.push_back(std::move(e));
    pos = valuePos + valueLength;
  }
}

void ReadCodecList(const ByteView& object, uint64_t o, AsfDescription& out) {
  const uint32_t count = At32(object, o + 40);
  uint64_t pos = o + 44;
  for (uint32_t k = 0; k < count; ++k) {
    uint16_t type = 0, nameChars = 0, descriptionChars = 0, informationBytes = 0;
    if (!object.U16(pos, type) || !object.U16(pos + 2, nameChars)) break;
    const uint64_t namePos = pos + 4, nameBytes = 2ull * nameChars;
    if (!object.Has(namePos, nameBytes) || !object.U16(namePos + nameBytes, descriptionChars))
      break;
    const uint64_t descriptionPos = namePos + nameBytes + 2,
                   descriptionBytes = 2ull * descriptionChars;
    if (!object.Has(descriptionPos, descriptionBytes) ||
        !object.U16(descriptionPos + descriptionBytes, informationBytes))
      break;
    const uint64_t informationPos = descriptionPos + descriptionBytes + 2;
    if (!object.Has(informationPos, informationBytes)) break;
    AsfCodecEntry c;
    c.type = type == 1 ? "video" : type == 2 ? "audio" : "unknown";
    c.name = TrimControls(Utf16Text(object, namePos, nameBytes));
    c.description = TrimControls(Utf16Text(object, descriptionPos, descriptionBytes));
    c.information.assign(object.data + informationPos,
                         object.data + informationPos + informationBytes);
    out.codecs.push_back(std::move(c));
    pos = informationPos + informationBytes;
  }
}

}  // namespace

bool DescribeAsfHeader(const uint8_t* block, size_t length, AsfDescription& out) {
  out = AsfDescription{};
  const ByteView v{block, length};
  if (!Is(v, 0, kHeaderObject) || !v.Has(0, 30)) return false;
  out.headerObjectSize = At64(v, 16);
  const uint64_t end = out.headerObjectSize < length ? out.headerObjectSize : length;
  std::vector<ExtendedStream> extendedStreams;
  std::vector<std::string> languages;
  ForEachObject(v, 30, end, [&](uint64_t o, uint64_t oEnd) {
    const ByteView object{block, static_cast<size_t>(oEnd)};
    if (Is(v, o, kFileProperties) && oEnd - o >= 104) {
      out.fileProperties = true;
      out.fileSize = At64(v, o + 40);
      out.creationTime = At64(v, o + 48);
      out.dataPackets = At64(v, o + 56);
      out.playDuration = At64(v, o + 64);
      out.sendDuration = At64(v, o + 72);
      out.preroll = At64(v, o + 80);
      const uint32_t flags = At32(v, o + 88);
      out.broadcast = (flags & 1) != 0;
      out.seekable = (flags & 2) != 0;
      out.minPacketSize = At32(v, o + 92);
      out.maxPacketSize = At32(v, o + 96);
      out.maxBitrate = At32(v, o + 100);
    } else if (Is(v, o, kStreamProperties)) {
      ReadStream(v, o, oEnd, out);
    } else if (Is(v, o, kContentDescription) && oEnd - o >= 34) {
      std::string* texts[5] = {&out.title, &out.author, &out.copyright, &out.description,
                               &out.rating};
      uint64_t pos = o + 34;
      for (int i = 0; i < 5; ++i) {
        const uint16_t textLength = At16(object, o + 24 + 2 * static_cast<uint64_t>(i));
        *texts[i] = Utf16Text(object, pos, textLength);
        pos += textLength;
      }
    } else if (Is(v, o, kExtendedContent) && oEnd - o >= 26) {
      ReadExtendedContent(object, o, out);
    } else if (Is(v, o, kStreamBitrateProperties) && oEnd - o >= 26) {
      const uint16_t count = At16(object, o + 24);
      for (uint64_t i = 0; i < count && object.Has(o + 26 + 6 * i, 6); ++i)
        out.bitrateRecords.push_back(
            {static_cast<uint8_t>(At16(object, o + 26 + 6 * i) & 0x7F),
             At32(object, o + 26 + 6 * i + 2)});
    } else if (Is(v, o, kCodecList) && oEnd - o >= 44) {
      ReadCodecList(object, o, out);
    } else if (Is(v, o, kHeaderExtension) && oEnd - o >= 46) {
      ReadHeaderExtension(v, o, oEnd, extendedStreams, languages);
    }
  });

  if (out.headerObjectSize <= length && Is(v, out.headerObjectSize, kDataObject) &&
      v.Has(out.headerObjectSize, 50)) {
    out.dataObject = true;
    out.dataObjectSize = At64(v, out.headerObjectSize + 16);
    out.totalDataPackets = At64(v, out.headerObjectSize + 40);
  }

  // The rate and group of each stream as a stream choice sees them; then what only the extended
  // properties say.
  const StreamOffer offer = ReadStreamOffer(block, length);
  for (AsfStreamDescription& s : out.streams) {
    if (const OfferedStream* offered = offer.Find(s.number)) {
      if (offered->bitrate != 0) s.bitrate = offered->bitrate;
      s.group = offered->group;
    }
    for (const ExtendedStream& e : extendedStreams) {
      if (e.number != s.number) continue;
      if (e.languageIndex < languages.size()) s.language = languages[e.languageIndex];
      s.name = e.name;
      s.averageFrameTime = static_cast<double>(e.frameTime) / 1e7;
      break;
    }
  }
  return true;
}

std::optional<AsfSimpleIndex> ParseSimpleIndex(const uint8_t* object, size_t length) {
  const ByteView v{object, length};
  if (!Is(v, 0, kSimpleIndex) || !v.Has(0, 56)) return std::nullopt;
  AsfSimpleIndex index;
  index.interval = At64(v, 40);
  index.maxPacketCount = At32(v, 48);
  const uint32_t count = At32(v, 52);
  for (uint64_t i = 0; i < count && v.Has(56 + 6 * i, 6); ++i)
    index.entries.push_back({At32(v, 56 + 6 * i), At16(v, 56 + 6 * i + 4)});
  return index;
}

std::string FileTimeIso8601(uint64_t fileTime) {
  constexpr int64_t kEpochSeconds = 11644473600;  // 1601-01-01 to 1970-01-01
  constexpr int64_t kLastSecond = 253402300799;   // 9999-12-31T23:59:59Z
  const int64_t seconds = static_cast<int64_t>(fileTime / 10000000) - kEpochSeconds;
  if (seconds > kLastSecond) return std::string();
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (::gmtime_r(&t, &tm) == nullptr) return std::string();
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

std::string CodecNameOf(const AsfStreamDescription& stream) {
  if (stream.type == "audio") {
    switch (stream.codecTag) {
      case 0x0001:
        return "pcm";
      case 0x000A:
        return "wmavoice";
      case 0x0055:
        return "mp3";
      case 0x0160:
        return "wmav1";
      case 0x0161:
        return "wmav2";
      case 0x0162:
        return "wmapro";
      case 0x0163:
        return "wmalossless";
      case 0x2000:
        return "ac3";
      default:
        return std::string();
    }
  }
  if (stream.type != "video" || stream.codecTag == 0) return std::string();
  std::string fourcc;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((stream.codecTag >> (8 * i)) & 0xFF);
    fourcc += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  static const std::pair<const char*, const char*> kVideo[] = {
      {"WMV1", "wmv1"},      {"WMV2", "wmv2"},      {"WMV3", "wmv3"}, {"WVC1", "vc1"},
      {"WMVA", "vc1"},       {"MP43", "msmpeg4v3"}, {"MP42", "msmpeg4v2"},
      {"MPG4", "msmpeg4v1"}, {"MP4S", "mpeg4"},     {"M4S2", "mpeg4"}, {"H264", "h264"},
      {"MSS1", "mss1"},      {"MSS2", "mss2"},
  };
  for (const auto& [tag, name] : kVideo)
    if (fourcc == tag) return name;
  std::string lower;
  for (char c : fourcc) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return "";
    lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return lower;
}

}  // namespace qor
