// The shared save file: packets land at their place under one lock, finishing uses the highest
// packet written, and nothing is written once the file is finished.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "asf/asf.h"
#include "session/save_file.h"
#include "session/session_test_support.h"

namespace qor::testing {
namespace {

std::vector<uint8_t> Bytes(size_t n, uint8_t value) {
  return std::vector<uint8_t>(n, value);
}

TEST(SaveFile, RemembersTheHighestPacketAndItsTimeWhateverTheOrder) {
  const std::string path = NewTempFolder() + "/f.asf";
  auto file = TSaveFile::Open(path, FileHandle::Mode::CreateTruncate);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->HighestIndex(), -1);
  EXPECT_FALSE(file->AnyPacketWritten());
  const auto block = Bytes(10, 7);
  EXPECT_EQ(file->WritePacket(100, block.data(), block.size(), 5, 500),
            TSaveFile::WriteResult::Written);
  EXPECT_EQ(file->WritePacket(50, block.data(), block.size(), 2, 200),
            TSaveFile::WriteResult::Written);
  EXPECT_EQ(file->HighestIndex(), 5);
  EXPECT_EQ(file->HighestSendTime(), 500u);
  EXPECT_EQ(file->Size(), 110);
}

TEST(SaveFile, FinishingDropsLaterWritesAndClosesOnce) {
  const std::string path = NewTempFolder() + "/f.asf";
  auto file = TSaveFile::Open(path, FileHandle::Mode::CreateTruncate);
  ASSERT_TRUE(file);
  const auto block = Bytes(16, 1);
  ASSERT_EQ(file->WriteAt(0, block.data(), block.size()), TSaveFile::WriteResult::Written);
  TASF asf;
  const TSaveFile::FinishResult first = file->Finish(asf, false);
  EXPECT_TRUE(first.closed);
  EXPECT_FALSE(first.fixedUp);
  EXPECT_TRUE(file->Finished());
  EXPECT_EQ(file->WriteAt(16, block.data(), block.size()), TSaveFile::WriteResult::Dropped);
  EXPECT_EQ(file->WritePacket(32, block.data(), block.size(), 0, 0),
            TSaveFile::WriteResult::Dropped);
  const TSaveFile::FinishResult second = file->Finish(asf, true);
  EXPECT_TRUE(second.closed);
  EXPECT_FALSE(second.fixedUp);
  EXPECT_EQ(ReadWholeFile(path).size(), 16u);
}

TEST(SaveFile, FixUpsUseTheHighestPacketWritten) {
  // A finished copy of a real clip, with its packet count and index taken away again by
  // rewriting it through the save file: finishing must put back exactly the packets written.
  const AsfLayout source = ReadAsfLayout(SampleMedia("clip.wmv"));
  ASSERT_FALSE(source.packets.empty());
  const std::vector<uint8_t> whole = ReadWholeFile(SampleMedia("clip.wmv"));
  const std::string path = NewTempFolder() + "/copy.asf";
  auto file = TSaveFile::Open(path, FileHandle::Mode::CreateTruncate);
  ASSERT_TRUE(file);
  ASSERT_EQ(file->WriteAt(0, whole.data(), source.headerLength), TSaveFile::WriteResult::Written);
  const size_t written = 10;
  for (size_t i = 0; i < written; ++i) {
    AsfPacketTimes times;
    ASSERT_TRUE(ReadAsfPacketTimes(source.packets[i].data(), source.packets[i].size(), times));
    ASSERT_EQ(file->WritePacket(source.headerLength + i * source.packetSize,
                                source.packets[i].data(), source.packetSize, i, times.sendTime),
              TSaveFile::WriteResult::Written);
  }
  TASF asf;
  ASSERT_TRUE(asf.ParseHeader(whole.data(), source.headerLength));
  const TSaveFile::FinishResult result = file->Finish(asf, true);
  EXPECT_TRUE(result.fixedUp && result.header && result.timecode && result.index && result.closed);
  const AsfLayout copy = ReadAsfLayout(path);
  EXPECT_EQ(copy.declaredPackets, written);
  EXPECT_EQ(copy.packets.size(), written);
}

// Packets that follow each other are gathered; each way out of the gathering keeps the order in
// which the packets came, so a resent packet is never overwritten by an older copy.
TEST(SaveFile, GatheredPacketsReachTheFileInOrderAndNeverGetLost) {
  const std::string path = NewTempFolder() + "/g.asf";
  auto file = TSaveFile::Open(path, FileHandle::Mode::CreateTruncate);
  ASSERT_TRUE(file);
  for (int64_t i = 0; i < 4; ++i) {
    const auto packet = Bytes(8, static_cast<uint8_t>(i + 1));
    ASSERT_EQ(file->WritePacket(i * 8, packet.data(), packet.size(), i, 0),
              TSaveFile::WriteResult::Written);
  }
  EXPECT_TRUE(ReadWholeFile(path).empty());  // still gathered
  const auto resent = Bytes(8, 0xEE);         // packet 1 again, as a resend brings it
  ASSERT_EQ(file->WritePacket(8, resent.data(), resent.size(), 1, 0),
            TSaveFile::WriteResult::Written);
  uint8_t back[32] = {};
  ASSERT_EQ(file->ReadAt(0, back, sizeof back), 32);  // a read sees everything written
  EXPECT_EQ(back[8], 0xEE);
  EXPECT_EQ(back[31], 4);
  // Gathering again from packet 4; a file dropped without finishing still gets it.
  const auto last = Bytes(8, 5);
  ASSERT_EQ(file->WritePacket(32, last.data(), last.size(), 4, 0), TSaveFile::WriteResult::Written);
  file.reset();
  EXPECT_EQ(ReadWholeFile(path).size(), 40u);

  // A file that cannot take them tells so when they are due, at the latest when it is finished.
  auto readOnly = TSaveFile::Open(path, FileHandle::Mode::OpenRead);
  ASSERT_TRUE(readOnly);
  ASSERT_EQ(readOnly->WritePacket(40, last.data(), last.size(), 5, 0),
            TSaveFile::WriteResult::Written);
  TASF asf;
  EXPECT_FALSE(readOnly->Finish(asf, false).packetsWritten);
}

// Long recordings are handed to the disk as they grow; a packet that arrives again behind what was
// handed over still replaces the old copy.
TEST(SaveFile, ALongRecordingHandedToTheDiskAsItGrowsKeepsEveryPacket) {
  const std::string path = NewTempFolder() + "/long.asf";
  auto file = TSaveFile::Open(path, FileHandle::Mode::CreateTruncate);
  ASSERT_TRUE(file);
  constexpr size_t kPacket = 3200;
  constexpr int64_t kPackets = 7000;  // about 22 MB, past two steps of handing over
  auto stamp = [](int64_t i, uint8_t salt) {
    std::vector<uint8_t> p(kPacket, static_cast<uint8_t>(i * 7 + salt));
    p[0] = static_cast<uint8_t>(i);
    p[1] = static_cast<uint8_t>(i >> 8);
    return p;
  };
  for (int64_t i = 0; i < kPackets; ++i) {
    const auto packet = stamp(i, 0);
    ASSERT_EQ(file->WritePacket(i * kPacket, packet.data(), kPacket, i, 0),
              TSaveFile::WriteResult::Written);
  }
  const auto resent = stamp(10, 99);
  ASSERT_EQ(file->WritePacket(10 * kPacket, resent.data(), kPacket, 10, 0),
            TSaveFile::WriteResult::Written);
  file.reset();
  const std::vector<uint8_t> saved = ReadWholeFile(path);
  ASSERT_EQ(saved.size(), kPacket * kPackets);
  for (int64_t i = 0; i < kPackets; ++i) {
    const auto expected = stamp(i, i == 10 ? 99 : 0);
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), saved.begin() + i * kPacket))
        << "packet " << i;
  }
}

TEST(SaveFile, WritersRacingTheFinishNeverWriteAfterIt) {
  const std::string path = NewTempFolder() + "/race.asf";
  auto file = TSaveFile::Open(path, FileHandle::Mode::CreateTruncate);
  ASSERT_TRUE(file);
  std::atomic<bool> go{true};
  std::atomic<int64_t> writtenAfter{0};
  std::atomic<bool> finished{false};
  std::thread writer([&] {
    const auto block = Bytes(64, 9);
    for (int64_t i = 0; go; ++i) {
      const bool wasFinished = finished.load();
      const auto r = file->WritePacket(i * 64, block.data(), block.size(), i, 0);
      if (wasFinished && r == TSaveFile::WriteResult::Written) ++writtenAfter;
      if (r == TSaveFile::WriteResult::Dropped) go = false;
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  TASF asf;
  file->Finish(asf, false);
  finished = true;
  const int64_t size = static_cast<int64_t>(ReadWholeFile(path).size());
  writer.join();
  EXPECT_EQ(writtenAfter.load(), 0);
  EXPECT_EQ(static_cast<int64_t>(ReadWholeFile(path).size()), size);
  EXPECT_EQ(size, (file->HighestIndex() + 1) * 64);
}

// A recording of a real clip through the save file: its header, then packets at their places.
struct Recording {
  explicit Recording(const std::string& path)
      : source(ReadAsfLayout(SampleMedia("clip.wmv"))),
        file(TSaveFile::Open(path, FileHandle::Mode::CreateTruncate)) {
    const std::vector<uint8_t> whole = ReadWholeFile(SampleMedia("clip.wmv"));
    asf.ParseHeader(whole.data(), source.headerLength);
    file->WriteHeader(whole.data(), source.headerLength);
  }
  uint32_t Time(size_t i) const {
    AsfPacketTimes times;
    ReadAsfPacketTimes(source.packets[i].data(), source.packetSize, times);
    return times.sendTime;
  }
  TSaveFile::WriteResult Write(size_t i) {
    const size_t n = i % source.packets.size();
    return file->WritePacket(source.headerLength + i * source.packetSize, source.packets[n].data(),
                             source.packetSize, static_cast<int64_t>(i), Time(n));
  }
  const AsfLayout source;
  std::shared_ptr<TSaveFile> file;
  TASF asf;
};

// From its header on, the file describes only packets on the disk; a slot no packet reached is
// counted only once it holds a padding packet at the time before it, which a late packet still
// replaces; once finished, no checkpoint touches the file.
TEST(SaveFile, ACheckpointDescribesThePacketsOnDiskAndPadsTheSlotsNoneReached) {
  const std::string path = NewTempFolder() + "/rec.asf";
  Recording r(path);
  EXPECT_EQ(ReadAsfLayout(path).declaredPackets, 0u);
  for (const size_t i : {0, 1, 4, 5}) ASSERT_EQ(r.Write(i), TSaveFile::WriteResult::Written);
  ASSERT_TRUE(r.file->Checkpoint());
  const auto padding = [&](const std::vector<uint8_t>& packet) {
    AsfPacketTimes times;
    return ReadAsfPacketTimes(packet.data(), packet.size(), times) && times.payloadBytes == 0 &&
           times.sendTime == r.Time(1);
  };
  const AsfLayout lies = ReadAsfLayout(path);
  EXPECT_EQ(lies.declaredPackets, 6u);
  EXPECT_FALSE(lies.broadcast);
  EXPECT_EQ(lies.playDurationMs, r.Time(5) + r.asf.Preroll);
  ASSERT_EQ(lies.packets.size(), 6u);
  EXPECT_TRUE(padding(lies.packets[2]) && padding(lies.packets[3]));

  ASSERT_EQ(r.Write(3), TSaveFile::WriteResult::Written);
  EXPECT_TRUE(r.file->Finish(r.asf, true).header);
  const AsfLayout copy = ReadAsfLayout(path);
  ASSERT_EQ(copy.packets.size(), 6u);
  EXPECT_TRUE(padding(copy.packets[2]) && copy.packets[3] == r.source.packets[3]);
  const std::vector<uint8_t> finished = ReadWholeFile(path);
  EXPECT_FALSE(r.file->Checkpoint());
  EXPECT_EQ(ReadWholeFile(path), finished);
}

// Checkpoints race the writer (which leaves slots out) and the finish: the finished file is
// never written again, and every slot it counts holds a packet that parses.
TEST(SaveFile, CheckpointsRacingTheWriterAndTheFinishLeaveAValidFile) {
  const std::string path = NewTempFolder() + "/race.asf";
  Recording r(path);
  std::atomic<bool> finished{false};
  std::thread writer([&] {
    for (size_t i = 0; !finished && i < 1500; ++i)
      if (i % 5 != 3) r.Write(i);
  });
  std::thread checkpointer([&] {
    for (; !finished; std::this_thread::sleep_for(std::chrono::milliseconds(1)))
      r.file->Checkpoint();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  r.file->Finish(r.asf, true);
  const std::vector<uint8_t> after = ReadWholeFile(path);
  finished = true;
  writer.join();
  checkpointer.join();
  EXPECT_EQ(ReadWholeFile(path), after);
  const AsfLayout copy = ReadAsfLayout(path);
  ASSERT_EQ(copy.packets.size(), copy.declaredPackets);
  AsfPacketTimes times;
  for (size_t i = 0; i < copy.packets.size(); ++i)
    EXPECT_TRUE(ReadAsfPacketTimes(copy.packets[i].data(), copy.packets[i].size(), times)) << i;
}

}  // namespace
}  // namespace qor::testing
