#include "session/mms_script.h"

#include "data_units.h"
#include "mms_message.h"
#include "wire.h"

namespace qor::testing {

namespace {

constexpr uint32_t kNoTimingTests = 0xF0F0F0EF;
constexpr uint32_t kCanSeek = 0x01000000;

std::vector<uint8_t> Words(std::initializer_list<std::pair<size_t, uint32_t>> words, size_t size) {
  std::vector<uint8_t> fields(size, 0);
  for (const auto& [at, value] : words) server::StoreU32(fields.data() + at - 48, value);
  return fields;
}

}  // namespace

Unit MmsScript::Reply(uint16_t id, uint32_t result, uint32_t second,
                      const std::vector<uint8_t>& fields) {
  return server::BuildServerCommand(id, result, second, fields, 0);
}

Unit MmsScript::Media(uint32_t location, const std::vector<uint8_t>& packet, uint8_t flags) {
  return server::BuildDataPacket(location, server::kTagMedia, flags, packet.data(), packet.size());
}

void MmsScript::Store16(Unit& unit, size_t at, uint16_t value) {
  if (at + 2 <= unit.size()) server::StoreU16(unit.data() + at, value);
}

void MmsScript::Store32(Unit& unit, size_t at, uint32_t value) {
  if (at + 4 <= unit.size()) server::StoreU32(unit.data() + at, value);
}

MmsScript MmsScript::ForClip(const std::string& sampleName, int pieces) {
  MmsScript s;
  const std::string path = SampleMedia(sampleName);
  s.clip = ReadAsfLayout(path);
  const std::vector<uint8_t> file = ReadWholeFile(path);
  s.header.assign(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(s.clip.headerLength));
  s.units.push_back(Reply(0x01, 0, kNoTimingTests, Words({{48, 0x0004000B}}, 48)));
  s.units.push_back(Reply(0x15, 0, kNoTimingTests, Words({{60, 0x51000007}}, 32)));
  s.units.push_back(Reply(0x02, 0, 0));
  const auto count = static_cast<uint32_t>(s.clip.packets.size());
  s.units.push_back(Reply(0x06, 0, 0,
                          Words({{60, kCanSeek},
                                 {92, s.clip.packetSize},
                                 {96, count},
                                 {104, 100000},
                                 {108, static_cast<uint32_t>(s.header.size())}},
                                64)));
  s.units.push_back(Reply(0x11, 0, 0));
  const size_t step = (s.header.size() + static_cast<size_t>(pieces) - 1) / pieces;
  for (size_t at = 0; at < s.header.size(); at += step) {
    const size_t n = std::min(step, s.header.size() - at);
    const bool first = at == 0;
    const bool last = at + n == s.header.size();
    const uint8_t flags = first && last ? 0x0C : first ? 0x04 : last ? 0x08 : 0x00;
    s.units.push_back(
        server::BuildDataPacket(0, server::kTagHeader, flags, s.header.data() + at, n));
  }
  s.units.push_back(Reply(0x21, 0, 0));
  s.units.push_back(Reply(0x05, 0, 0));
  for (uint32_t i = 0; i < count; ++i) s.units.push_back(Media(i, s.clip.packets[i]));
  s.units.push_back(Reply(0x1E, 0, 0));
  return s;
}

size_t MmsScript::Find(uint8_t id) const {
  for (size_t i = 0; i < units.size(); ++i) {
    if (Id(units[i]) == id) return i;
  }
  return units.size();
}

size_t MmsScript::FindMedia(size_t n) const {
  for (size_t i = 0; i < units.size(); ++i) {
    if (IsMedia(units[i]) && n-- == 0) return i;
  }
  return units.size();
}

std::string MmsScript::Bytes() const {
  std::string all;
  for (const Unit& u : units) all.append(u.begin(), u.end());
  return all;
}

std::vector<uint16_t> ClientCommandIds(const std::string& sent) {
  server::CommandSplitter splitter;
  splitter.Feed(reinterpret_cast<const uint8_t*>(sent.data()), sent.size());
  std::vector<uint16_t> ids;
  server::ClientCommand command;
  std::string reason;
  while (splitter.Next(command, reason) == server::CommandSplitter::Result::kCommand)
    ids.push_back(command.Id());
  return ids;
}

uint32_t LastCommandWord(const std::string& sent, uint16_t id, size_t offset) {
  server::CommandSplitter splitter;
  splitter.Feed(reinterpret_cast<const uint8_t*>(sent.data()), sent.size());
  uint32_t word = 0;
  server::ClientCommand command;
  std::string reason;
  while (splitter.Next(command, reason) == server::CommandSplitter::Result::kCommand) {
    if (command.Id() == id) word = command.Word(offset);
  }
  return word;
}

}  // namespace qor::testing
