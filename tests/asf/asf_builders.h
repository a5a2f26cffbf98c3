#pragma once
// Builders for ASF header blocks and data packets, so each test states only the bytes it is about.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "asf/asf.h"

namespace qor::asf_test {

using Bytes = std::vector<uint8_t>;

inline void Put(Bytes& out, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
inline void PutAt(Bytes& out, size_t pos, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out[pos + i] = static_cast<uint8_t>(value >> (8 * i));
}
inline uint64_t GetAt(const Bytes& in, size_t pos, int width) {
  uint64_t value = 0;
  for (int i = 0; i < width; ++i) value |= static_cast<uint64_t>(in[pos + i]) << (8 * i);
  return value;
}
// A GUID: the 6 compared bytes and 10 bytes of filler.
inline void PutGuid(Bytes& out, const uint8_t prefix[6]) {
  out.insert(out.end(), prefix, prefix + 6);
  for (int i = 0; i < 10; ++i) out.push_back(static_cast<uint8_t>(0xA0 + i));
}
// Text as 16-bit code units with a closing zero; returns the byte length.
inline void PutWide(Bytes& out, const std::string& text, bool closingZero = true) {
  for (char c : text) Put(out, static_cast<uint8_t>(c), 2);
  if (closingZero) Put(out, 0, 2);
}

// Object: GUID, 64-bit size, body.
inline Bytes Object(const uint8_t prefix[6], const Bytes& body) {
  Bytes out;
  PutGuid(out, prefix);
  Put(out, 24 + body.size(), 8);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

struct FileProps {
  uint64_t fileSize = 123456;
  uint64_t creation = 0;
  uint64_t dataPackets = 77;
  uint64_t play = 650000000;  // 65 s
  uint64_t send = 600000000;
  uint64_t preroll = 5000;
  uint32_t flags = 0x01;
  uint32_t minPacket = 3200;
  uint32_t maxPacket = 3200;
  uint32_t maxBitrate = 128999;
  uint8_t fileIdByte = 0x11;
};

inline Bytes FilePropertiesObject(const FileProps& p) {
  Bytes body;
  for (int i = 0; i < 16; ++i) body.push_back(static_cast<uint8_t>(p.fileIdByte + i));
  Put(body, p.fileSize, 8);
  Put(body, p.creation, 8);
  Put(body, p.dataPackets, 8);
  Put(body, p.play, 8);
  Put(body, p.send, 8);
  Put(body, p.preroll, 8);
  Put(body, p.flags, 4);
  Put(body, p.minPacket, 4);
  Put(body, p.maxPacket, 4);
  Put(body, p.maxBitrate, 4);
  return Object(asf_guid::kFileProperties, body);
}

inline Bytes StreamObject(const uint8_t type[6], uint8_t number, const Bytes& typeData,
                          const uint8_t errorCorrection[6] = asf_guid::kNoErrorCorrection) {
  Bytes body;
  PutGuid(body, type);
  PutGuid(body, errorCorrection);
  Put(body, 0, 8);                // time offset
  Put(body, typeData.size(), 4);  // type-specific data length
  Put(body, 0, 4);                // error correction data length
  Put(body, number, 2);           // flags: stream number in the low 7 bits
  Put(body, 0, 4);                // reserved
  body.insert(body.end(), typeData.begin(), typeData.end());
  return Object(asf_guid::kStreamProperties, body);
}
inline Bytes VideoStream(uint8_t number, uint32_t width, uint32_t height) {
  Bytes data;
  Put(data, width, 4);
  Put(data, height, 4);
  Put(data, 2, 1);
  Put(data, 40, 2);
  data.resize(data.size() + 40, 0);
  return StreamObject(asf_guid::kVideoMedia, number, data);
}
inline Bytes AudioStream(uint8_t number, uint16_t channels, uint32_t rate,
                         const uint8_t errorCorrection[6] = asf_guid::kNoErrorCorrection) {
  Bytes data;
  Put(data, 0x161, 2);
  Put(data, channels, 2);
  Put(data, rate, 4);
  Put(data, 4000, 4);
  Put(data, 1487, 2);
  Put(data, 16, 2);
  Put(data, 0, 2);
  return StreamObject(asf_guid::kAudioMedia, number, data, errorCorrection);
}

inline Bytes HeaderExtensionObject(const Bytes& inner = {}) {
  Bytes body;
  PutGuid(body, asf_guid::kHeaderObject);  // reserved field 1 (any GUID)
  Put(body, 6, 2);
  Put(body, inner.size(), 4);
  body.insert(body.end(), inner.begin(), inner.end());
  return Object(asf_guid::kHeaderExtension, body);
}

inline Bytes BitrateObject(std::initializer_list<std::pair<uint8_t, uint32_t>> records) {
  Bytes body;
  Put(body, records.size(), 2);
  for (auto [number, rate] : records) {
    Put(body, number, 2);
    Put(body, rate, 4);
  }
  return Object(asf_guid::kStreamBitrateProperties, body);
}

inline Bytes ContentDescriptionObject(const std::string& title, const std::string& author,
                                      const std::string& copyright, const std::string& description,
                                      const std::string& rating) {
  Bytes body, texts;
  for (const std::string* t : {&title, &author, &copyright, &description, &rating}) {
    Put(body, t->empty() ? 0 : 2 * (t->size() + 1), 2);
    if (!t->empty()) PutWide(texts, *t);
  }
  body.insert(body.end(), texts.begin(), texts.end());
  return Object(asf_guid::kContentDescription, body);
}

struct Descriptor {
  std::string name;
  uint16_t type;
  Bytes value;
};
inline Bytes ExtendedContentObject(const std::vector<Descriptor>& descriptors,
                                   int declaredCount = -1) {
  Bytes body;
  Put(body, declaredCount < 0 ? descriptors.size() : static_cast<size_t>(declaredCount), 2);
  for (const Descriptor& d : descriptors) {
    Put(body, 2 * (d.name.size() + 1), 2);
    PutWide(body, d.name);
    Put(body, d.type, 2);
    Put(body, d.value.size(), 2);
    body.insert(body.end(), d.value.begin(), d.value.end());
  }
  return Object(asf_guid::kExtendedContentDescription, body);
}
inline Bytes WideValue(const std::string& text) {
  Bytes out;
  PutWide(out, text);
  return out;
}
inline Bytes NumberValue(uint64_t value, int width) {
  Bytes out;
  Put(out, value, width);
  return out;
}

struct Codec {
  uint16_t type;
  std::string name, description;
  std::string information;
};
inline Bytes CodecListObject(const std::vector<Codec>& codecs, int64_t declaredCount = -1) {
  Bytes body;
  PutGuid(body, asf_guid::kHeaderObject);  // reserved GUID
  Put(body, declaredCount < 0 ? codecs.size() : static_cast<uint64_t>(declaredCount), 4);
  for (const Codec& c : codecs) {
    Put(body, c.type, 2);
    Put(body, c.name.size() + 1, 2);
    PutWide(body, c.name);
    Put(body, c.description.size() + 1, 2);
    PutWide(body, c.description);
    Put(body, c.information.size(), 2);
    body.insert(body.end(), c.information.begin(), c.information.end());
  }
  return Object(asf_guid::kCodecList, body);
}

// Header Object holding the given objects, then the first 50 bytes of a Data Object.
inline Bytes HeaderBlock(const std::vector<Bytes>& objects, uint64_t totalPackets = 1000,
                         uint8_t fileIdByte = 0x11) {
  Bytes body;
  Put(body, objects.size(), 4);
  Put(body, 0x0201, 2);
  for (const Bytes& o : objects) body.insert(body.end(), o.begin(), o.end());
  Bytes out = Object(asf_guid::kHeaderObject, body);
  PutGuid(out, asf_guid::kDataObject);
  Put(out, 50, 8);
  for (int i = 0; i < 16; ++i) out.push_back(static_cast<uint8_t>(fileIdByte + i));
  Put(out, totalPackets, 8);
  Put(out, 0x0101, 2);
  return out;
}

// The usual header: one video and one audio stream, file properties, header extension.
inline Bytes TypicalHeader(const FileProps& props = {}) {
  return HeaderBlock({FilePropertiesObject(props), HeaderExtensionObject(),
                      VideoStream(1, 320, 240), AudioStream(2, 2, 44100)});
}

// Data packet builder: 0x82 error correction, then the flags and fields asked for.
struct PacketSpec {
  bool multiple = false;
  uint8_t lengthFlagsExtra = 0;  // sequence/padding/packet length codes (bits 1-6)
  uint8_t propertyFlags = 0x5D;  // replicated 1 byte, offset 4, object 1, stream 1
  uint32_t sendTime = 0;
  uint16_t duration = 0;
  uint8_t payloadFlags = 0;  // multiple payloads only
};

inline Bytes PacketHead(const PacketSpec& s) {
  Bytes out = {0x82, 0x00, 0x00};
  out.push_back(static_cast<uint8_t>((s.multiple ? 1 : 0) | s.lengthFlagsExtra));
  out.push_back(s.propertyFlags);
  static const int widths[4] = {0, 1, 2, 4};
  Put(out, 3200, widths[(s.lengthFlagsExtra >> 5) & 3]);  // packet length
  Put(out, 0, widths[(s.lengthFlagsExtra >> 1) & 3]);     // sequence
  Put(out, 0, widths[(s.lengthFlagsExtra >> 3) & 3]);     // padding length
  Put(out, s.sendTime, 4);
  Put(out, s.duration, 2);
  if (s.multiple) out.push_back(s.payloadFlags);
  return out;
}

// One payload with the default property flags 0x5D (stream 1 byte, object 1, offset 4, replicated
// length 1 byte): replicated data of 8 bytes holding object size and presentation time.
inline void PutPayload(Bytes& out, uint8_t stream, uint32_t presentation, const Bytes& data,
                       int payloadLengthWidth) {
  out.push_back(stream);
  out.push_back(0);   // media object number
  Put(out, 0, 4);     // offset into media object
  out.push_back(8);   // replicated data length
  Put(out, 1000, 4);  // media object size
  Put(out, presentation, 4);
  Put(out, data.size(), payloadLengthWidth);
  out.insert(out.end(), data.begin(), data.end());
}

}  // namespace qor::asf_test
