// Placing, cutting and padding packets, restoring the padding fields the server zeroed, the
// guards on packet indices, and the header written whole at offset 0.

#include <gtest/gtest.h>

#include "asf/asf.h"
#include "session/header_collector.h"
#include "session/packet_writer.h"
#include "session/save_file.h"
#include "session/session_test_support.h"
#include "support/message_queue.h"

namespace qor::testing {
namespace {

struct Posted {
  std::vector<MessagePair> pairs;
  PacketWriter::PostFn Fn() {
    return [this](const std::string& t, uint32_t c) { pairs.push_back({t, c, 0}); };
  }
  bool Has(const std::string& text, uint32_t code) const {
    for (const auto& p : pairs)
      if (p.text == text && p.code == code) return true;
    return false;
  }
};

// A single-payload packet: no error correction, padding length as a byte (or a word with a
// packet length word when `wide`), times and one payload.
std::vector<uint8_t> ShortPacket(size_t payload, bool wide) {
  std::vector<uint8_t> p;
  p.push_back(wide ? 0x50
                   : 0x08);  // lengthFlags: padding byte; wide: packet length word + padding word
  p.push_back(0x5D);         // property flags
  if (wide) {
    const uint16_t len = static_cast<uint16_t>(2 + 2 + 2 + 6 + payload);
    p.push_back(static_cast<uint8_t>(len));
    p.push_back(static_cast<uint8_t>(len >> 8));
    p.push_back(0);
    p.push_back(0);  // padding word
  } else {
    p.push_back(0);  // padding byte
  }
  for (int i = 0; i < 6; ++i) p.push_back(0);  // send time, duration
  for (size_t i = 0; i < payload; ++i) p.push_back(static_cast<uint8_t>(0xA0 + i % 16));
  return p;
}

class PacketWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = NewTempFolder() + "/p.asf";
    file_ = TSaveFile::Open(path_, FileHandle::Mode::CreateTruncate);
    ASSERT_TRUE(file_);
    writer_.SetLayout(100, 64);
  }
  std::vector<uint8_t> Slot(size_t index) {
    EXPECT_EQ(file_->Flush(), TSaveFile::WriteResult::Written);
    const auto all = ReadWholeFile(path_);
    return std::vector<uint8_t>(all.begin() + 100 + index * 64,
                                all.begin() + 100 + (index + 1) * 64);
  }
  std::string path_;
  std::shared_ptr<TSaveFile> file_;
  PacketWriter writer_;
  Posted posted_;
};

TEST_F(PacketWriterTest, ShortPacketIsPaddedAndItsPaddingFieldTellsHowMuch) {
  const auto packet = ShortPacket(20, false);  // 29 bytes
  ASSERT_EQ(writer_.Write(file_.get(), false, packet.data(), packet.size(), 2, 0, posted_.Fn()),
            PacketWriter::Outcome::Written);
  const auto slot = Slot(2);
  EXPECT_EQ(slot[2], 64 - packet.size());
  EXPECT_TRUE(std::equal(packet.begin() + 3, packet.end(), slot.begin() + 3));
  EXPECT_TRUE(std::all_of(slot.begin() + static_cast<std::ptrdiff_t>(packet.size()), slot.end(),
                          [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(posted_.pairs.empty());
}

TEST_F(PacketWriterTest, WideFieldsGetThePaddingAndThePaddedLength) {
  const auto packet = ShortPacket(10, true);
  ASSERT_EQ(writer_.Write(file_.get(), false, packet.data(), packet.size(), 0, 0, posted_.Fn()),
            PacketWriter::Outcome::Written);
  const auto slot = Slot(0);
  EXPECT_EQ(slot[2] | (slot[3] << 8), 64);
  EXPECT_EQ(slot[4] | (slot[5] << 8), static_cast<int>(64 - packet.size()));
}

TEST_F(PacketWriterTest, PaddingThatDoesNotFitTheFieldLeavesItAlone) {
  writer_.SetLayout(100, 400);
  const auto packet = ShortPacket(20, false);
  ASSERT_EQ(writer_.Write(file_.get(), false, packet.data(), packet.size(), 0, 0, posted_.Fn()),
            PacketWriter::Outcome::Written);
  ASSERT_EQ(file_->Flush(), TSaveFile::WriteResult::Written);
  const auto all = ReadWholeFile(path_);
  EXPECT_EQ(all[100 + 2], 0);  // 371 bytes added: too many for a byte field
  EXPECT_EQ(all.size(), 500u);
}

TEST_F(PacketWriterTest, LongPacketIsCutWithOneWarning) {
  std::vector<uint8_t> packet(74, 0x11);
  ASSERT_EQ(writer_.Write(file_.get(), false, packet.data(), packet.size(), 1, 0, posted_.Fn()),
            PacketWriter::Outcome::Written);
  EXPECT_TRUE(posted_.Has("Warning, a packet length had to be cut to size", mcWarning));
  EXPECT_EQ(posted_.pairs.size(), 1u);
  EXPECT_EQ(Slot(1), std::vector<uint8_t>(64, 0x11));
  EXPECT_EQ(ReadWholeFile(path_).size(), 100u + 2 * 64);
}

TEST_F(PacketWriterTest, NegativeOrFarAwayIndicesAreDroppedWithAWarning) {
  std::vector<uint8_t> packet(64, 1);
  EXPECT_EQ(writer_.Write(file_.get(), false, packet.data(), packet.size(), -1, 0, posted_.Fn()),
            PacketWriter::Outcome::Dropped);
  EXPECT_EQ(writer_.Write(file_.get(), false, packet.data(), packet.size(),
                          PacketWriter::kMaxIndexJump + 1, 0, posted_.Fn()),
            PacketWriter::Outcome::Dropped);
  ASSERT_EQ(posted_.pairs.size(), 2u);
  EXPECT_EQ(posted_.pairs[0].code, mcWarning);
  EXPECT_EQ(ReadWholeFile(path_).size(), 0u);
  EXPECT_EQ(writer_.Write(file_.get(), false, packet.data(), packet.size(),
                          PacketWriter::kMaxIndexJump, 0, posted_.Fn()),
            PacketWriter::Outcome::Written);
}

TEST_F(PacketWriterTest, FailedWriteIsFatal) {
  std::vector<uint8_t> packet(64, 1);
  TASF asf;
  file_->Finish(asf, false);
  // A finished file drops quietly; a file that cannot be written is fatal.
  EXPECT_EQ(writer_.Write(file_.get(), false, packet.data(), packet.size(), 0, 0, posted_.Fn()),
            PacketWriter::Outcome::Dropped);
  EXPECT_TRUE(posted_.pairs.empty());
  auto readOnly = TSaveFile::Open(path_, FileHandle::Mode::OpenRead);
  ASSERT_TRUE(readOnly);
  // The packet is gathered; the write that cannot follow it has to put it in the file first.
  EXPECT_EQ(writer_.Write(readOnly.get(), false, packet.data(), packet.size(), 0, 0, posted_.Fn()),
            PacketWriter::Outcome::Written);
  EXPECT_EQ(writer_.Write(readOnly.get(), false, packet.data(), packet.size(), 5, 0, posted_.Fn()),
            PacketWriter::Outcome::Stop);
  EXPECT_TRUE(posted_.Has("Could not access local file to write data packet", mcFatal));
}

TEST_F(PacketWriterTest,
       ResumeIsRefusedUntouchedUnlessTheLayoutIsTheFilesAndItHoldsTheFirstPacket) {
  const std::string copy = NewTempFolder() + "/copy.asf";
  const auto whole = ReadWholeFile(SampleMedia("clip.wmv"));
  auto file = TSaveFile::Open(copy, FileHandle::Mode::CreateTruncate);
  ASSERT_EQ(file->WriteAt(0, whole.data(), whole.size()), TSaveFile::WriteResult::Written);
  const AsfLayout layout = ReadAsfLayout(SampleMedia("clip.wmv"));
  std::vector<uint8_t> packet(layout.packetSize, 3);

  PacketWriter other;
  other.SetLayout(static_cast<uint32_t>(layout.headerLength) + 8, layout.packetSize);
  EXPECT_EQ(other.Write(file.get(), true, packet.data(), packet.size(), 3, 0, posted_.Fn()),
            PacketWriter::Outcome::Stop);
  EXPECT_TRUE(posted_.Has("Cannot resume: the server's header does not match the file", mcFatal));
  PacketWriter otherSize;
  otherSize.SetLayout(static_cast<uint32_t>(layout.headerLength), layout.packetSize * 2);
  EXPECT_EQ(otherSize.Write(file.get(), true, packet.data(), packet.size(), 3, 0, posted_.Fn()),
            PacketWriter::Outcome::Stop);
  EXPECT_EQ(ReadWholeFile(copy), whole);

  // The same layout, but a first packet the file does not hold: no place for the stream.
  AsfResumePoint point;
  std::string why;
  ASSERT_TRUE(file->FindResumePoint(point, why)) << why;
  ASSERT_EQ(point.packets, layout.packets.size());
  PacketWriter same;
  same.SetLayout(static_cast<uint32_t>(layout.headerLength), layout.packetSize);
  same.BeginResume(point);
  EXPECT_EQ(same.Write(file.get(), true, packet.data(), packet.size(), 3, 0, posted_.Fn()),
            PacketWriter::Outcome::Stop);
  EXPECT_TRUE(
      posted_.Has("Cannot resume: the stream does not continue the file (none of its "
                  "packets is the server's)",
                  mcFatal));
  EXPECT_EQ(ReadWholeFile(copy), whole);

  // A server that numbers from 0 what it sends (a datagram count) still lands on the file's own
  // places: the first packet is found by its bytes among the last ones held.
  PacketWriter resumed;
  resumed.SetLayout(static_cast<uint32_t>(layout.headerLength), layout.packetSize);
  resumed.BeginResume(point);
  const size_t n = layout.packets.size();
  for (int64_t k = 0; k < 2; ++k) {
    const std::vector<uint8_t>& held = layout.packets[n - 2 + static_cast<size_t>(k)];
    AsfPacketTimes times;
    ASSERT_TRUE(ReadAsfPacketTimes(held.data(), held.size(), times));
    EXPECT_EQ(
        resumed.Write(file.get(), true, held.data(), held.size(), k, times.sendTime, posted_.Fn()),
        PacketWriter::Outcome::Written);
    EXPECT_EQ(resumed.LastIndex(), static_cast<int64_t>(n - 2) + k);
  }
  file->Flush();
  EXPECT_EQ(ReadWholeFile(copy), whole);
}

// A header block as servers send it: a Header Object of `size` bytes (its size field honest,
// or set to `claims`) and the Data Object's first 50 bytes.
std::vector<uint8_t> HeaderBlock(uint64_t size, uint64_t claims, uint8_t fill) {
  std::vector<uint8_t> block(size + 50, fill);
  for (int i = 0; i < 8; ++i) block[16 + i] = static_cast<uint8_t>(claims >> (8 * i));
  return block;
}

TEST(HeaderCollector, PiecesAreJoinedAndTheWholeHeaderWrittenOnceAtOffsetZero) {
  const std::string path = NewTempFolder() + "/h.asf";
  auto file = TSaveFile::Open(path, FileHandle::Mode::CreateTruncate);
  // Something already there past the start (an earlier, longer header) is overwritten from 0.
  std::vector<uint8_t> old(200, 0xEE);
  file->WriteAt(0, old.data(), old.size());
  const std::vector<uint8_t> block = HeaderBlock(60, 60, 1);
  HeaderCollector header;
  EXPECT_EQ(header.Append(block.data(), 30, 0x04, file.get(), false), HeaderCollector::Step::More);
  EXPECT_EQ(header.Append(block.data() + 30, 50, 0x00, file.get(), false),
            HeaderCollector::Step::More);
  EXPECT_EQ(ReadWholeFile(path), old);
  EXPECT_EQ(header.Append(block.data() + 80, 30, 0x08, file.get(), false),
            HeaderCollector::Step::Complete);
  EXPECT_EQ(header.Length(), block.size());
  const auto bytes = ReadWholeFile(path);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 110), block);

  // Resuming: complete but not written.
  HeaderCollector resumed;
  const std::vector<uint8_t> other = HeaderBlock(60, 60, 9);
  EXPECT_EQ(resumed.Append(other.data(), other.size(), 0x0C, file.get(), true),
            HeaderCollector::Step::Complete);
  EXPECT_EQ(ReadWholeFile(path)[0], 1);
  // No file at all is a failed write.
  HeaderCollector nowhere;
  EXPECT_EQ(nowhere.Append(other.data(), other.size(), 0x0C, nullptr, false),
            HeaderCollector::Step::WriteFailed);
  // A Header Object that claims a size other than what came is never written.
  for (const uint64_t claims : {uint64_t{10}, uint64_t{61}, uint64_t{1} << 32, ~uint64_t{0}}) {
    HeaderCollector lying;
    const std::vector<uint8_t> block2 = HeaderBlock(60, claims, 7);
    EXPECT_EQ(lying.Append(block2.data(), block2.size(), 0x0C, file.get(), false),
              HeaderCollector::Step::Malformed);
    EXPECT_EQ(ReadWholeFile(path)[0], 1);
  }
}

TEST(HeaderCollector, HeaderPastTheLimitIsRefused) {
  HeaderCollector header;
  std::vector<uint8_t> piece(1024 * 1024, 0);
  HeaderCollector::Step step = HeaderCollector::Step::More;
  for (int i = 0; i < 17 && step == HeaderCollector::Step::More; ++i)
    step = header.Append(piece.data(), piece.size(), 0x00, nullptr, false);
  EXPECT_EQ(step, HeaderCollector::Step::TooLarge);
}

}  // namespace
}  // namespace qor::testing
