// Reading a saved file whole (verify) and mending it (repair), on the sample clip broken in each
// way a recording gets broken.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "asf/asf_header_totals.h"
#include "asf/asf_repair.h"
#include "asf/asf_scan.h"
#include "asf_builders.h"
#include "asf_files.h"
#include "platform/file_handle.h"

namespace qor::asf_test {
namespace {

using Kinds = std::set<std::string>;

bool Scan(const Bytes& file, AsfFileScan& scan) {
  std::string why;
  const AsfReadAt readAt = [&](uint64_t at, void* buffer, size_t count) -> int64_t {
    if (at >= file.size()) return 0;
    const size_t n = std::min<uint64_t>(count, file.size() - at);
    std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(at), n, static_cast<uint8_t*>(buffer));
    return static_cast<int64_t>(n);
  };
  return ScanAsfFile(readAt, file.size(), scan, why);
}

Kinds KindsOf(const AsfFileScan& scan) {
  Kinds kinds;
  for (const AsfFinding& f : scan.findings) kinds.insert(f.kind);
  return kinds;
}

class FileScan : public ::testing::Test {
 protected:
  void SetUp() override {
    clip = ReadWholeFile(SampleMediaFolder() + "/clip.wmv");
    ASSERT_TRUE(Scan(clip, clipScan));
    first = clipScan.layout.firstPacketAt;
    size = clipScan.layout.packetSize;
    ASSERT_GT(clipScan.slots, 30u);
  }
  size_t Slot(uint64_t k) const { return static_cast<size_t>(first + k * size); }
  Bytes Cut(size_t length) const { return Bytes(clip.begin(), clip.begin() + length); }

  Bytes clip;
  AsfFileScan clipScan;
  uint64_t first = 0;
  uint32_t size = 0;
};

TEST_F(FileScan, SampleMediaIsWhole) {
  for (const char* name : {"clip.wmv", "audio.wma", "twovideo.asf", "mbr.wmv"}) {
    AsfFileScan scan;
    ASSERT_TRUE(Scan(ReadWholeFile(SampleMediaFolder() + "/" + name), scan)) << name;
    EXPECT_EQ(KindsOf(scan), Kinds{}) << name << ": " << scan.findings[0].text;
    EXPECT_EQ(scan.readable, scan.slots) << name;
    EXPECT_EQ(AsfUnfinishedNote(scan), "") << name;
  }
}

// Each broken file shows exactly its defects; repair keeps its packets, mends what it can, and
// leaves only what nothing can bring back.
TEST_F(FileScan, EveryDefectIsFoundAndRepairMendsWhatItCan) {
  const uint64_t index = first + clipScan.slots * size;  // the sample's index object
  const auto padding = [&](uint32_t sendTime) {
    Bytes p(size, 0);
    p[0] = 0x82;
    p[3] = 0x11;  // several payloads, a 16-bit padding length
    p[4] = 0x5D;
    PutAt(p, 5, size - 14, 2);
    PutAt(p, 7, sendTime, 4);
    p[13] = 0x80;  // no payloads
    return p;
  };
  struct Row {
    const char* name;
    std::function<Bytes()> make;
    Kinds kinds;
    uint64_t holeFirst = 0, holeCount = 0;  // the first hole, when there is one
  };
  const std::vector<Row> rows{
      {"torn last packet",
       [&] {
         const Bytes b = Cut(Slot(20) + 1000);
         AsfFileScan scan;
         EXPECT_TRUE(Scan(b, scan));
         // Its last whole packet is sent at 3.111 s.
         EXPECT_EQ(AsfUnfinishedNote(scan),
                   "unfinished (the recording was cut at 00:00:03): File \u2192 Repair");
         return b;
       },
       {"torn_packet", "file_size", "packet_count", "data_size", "duration"}},
      {"header larger than the data",
       [&] { return Cut(Slot(22)); },
       {"file_size", "packet_count", "data_size", "duration"}},
      {"run of missing packets, header honest",
       [&] {
         Bytes b = Cut(Slot(10));
         b.insert(b.end(), clip.begin() + Slot(20), clip.begin() + index);
         AsfWholePackets p;
         p.count = clipScan.slots - 10;
         p.lastSendTime = clipScan.lastSendTime;
         p.fileSize = b.size();
         EXPECT_TRUE(DescribeWholePackets(b.data(), b.size(), p));
         return b;
       },
       {"gap"}},
      {"corrupted packet in the middle",
       [&] {
         Bytes b = clip;
         std::fill_n(b.begin() + Slot(12), 16, 0xEE);
         return b;
       },
       {"hole"},
       12,
       1},
      {"packets never written",
       [&] {
         Bytes b = clip;
         std::fill_n(b.begin() + Slot(14), 2 * size, 0);
         return b;
       },
       {"hole"},
       14,
       2},
      {"a packet of padding only",
       [&] {
         Bytes b = clip;
         const Bytes p = padding(static_cast<uint32_t>(GetAt(b, Slot(15) + 5, 4)));
         std::copy(p.begin(), p.end(), b.begin() + Slot(15));
         return b;
       },
       {"hole"},
       15,
       1},
      {"index entry past the packets",
       [&] {
         Bytes b = clip;
         PutAt(b, index + 56 + 6 * 6, 5000, 4);
         return b;
       },
       {"index"}},
      {"index of another file",
       [&] {
         Bytes b = clip;
         b[index + 30] ^= 0x5A;
         return b;
       },
       {"index"}},
      {"index cut by a kill", [&] { return Cut(index + 30); }, {"after_data", "file_size"}},
      {"header of a live broadcast",
       [&] {
         Bytes b = clip;
         b[clipScan.layout.filePropertiesAt + 88] = 0x01;
         return b;
       },
       {"broadcast"}},
      {"unwritten slots after the last packet",
       [&] {
         Bytes b = Cut(Slot(22));
         b.resize(b.size() + 3 * size, 0);
         return b;
       },
       {"file_size", "packet_count", "data_size", "duration", "hole"},
       22,
       3},
  };
  TempFolder folder;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Bytes broken = row.make();
    AsfFileScan scan;
    ASSERT_TRUE(Scan(broken, scan));
    EXPECT_EQ(KindsOf(scan), row.kinds) << (scan.findings.empty() ? "" : scan.findings[0].text);
    if (row.holeCount > 0) {
      ASSERT_FALSE(scan.holes.empty());
      EXPECT_EQ(scan.holes[0].first, row.holeFirst);
      EXPECT_EQ(scan.holes[0].count, row.holeCount);
    }

    const std::string path = folder.Path("broken.asf");
    WriteWholeFile(path, broken);
    AsfRepairReport report;
    std::string why;
    ASSERT_TRUE(RepairAsfFile(path, false, report, why)) << why;
    const Bytes repaired = ReadWholeFile(path);
    const bool mendable = std::any_of(row.kinds.begin(), row.kinds.end(),
                                      [](const auto& k) { return k != "hole" && k != "gap"; });
    EXPECT_EQ(report.written, mendable);
    EXPECT_EQ(AsfUnfinishedNote(scan).empty(), !mendable);
    if (!mendable) {
      EXPECT_EQ(repaired, broken);
      continue;
    }
    AsfFileScan after;
    ASSERT_TRUE(Scan(repaired, after));
    for (const std::string& kind : KindsOf(after)) EXPECT_TRUE(kind == "hole" || kind == "gap");
    // Every packet up to the last one with media is kept, byte for byte, at its place.
    const uint64_t kept = *scan.lastReadable + 1;
    EXPECT_EQ(after.slots, kept);
    EXPECT_TRUE(std::equal(broken.begin() + Slot(0), broken.begin() + Slot(kept),
                           repaired.begin() + Slot(0)));
  }
}

TEST_F(FileScan, WhatIsNotAsfIsRefusedAndLeftAlone) {
  const std::vector<std::pair<const char*, Bytes>> rows{
      {"empty", {}},
      {"text", Bytes{'n', 'o', 't', ' ', 'a', 's', 'f'}},
      {"cut inside the header", Cut(600)},
      {"header size damaged",
       [&] {
         Bytes b = clip;
         PutAt(b, 16, 1ull << 40, 8);
         return b;
       }()},
      {"packet size not fixed",
       [&] {
         Bytes b = clip;
         PutAt(b, clipScan.layout.filePropertiesAt + 92, 3000, 4);
         return b;
       }()},
      {"only a header", Cut(first)},
  };
  TempFolder folder;
  for (const auto& [name, bytes] : rows) {
    SCOPED_TRACE(name);
    AsfFileScan scan;
    const bool read = Scan(bytes, scan);
    EXPECT_EQ(read, std::string(name) == "only a header");
    const std::string path = folder.Path("x.asf");
    WriteWholeFile(path, bytes);
    AsfRepairReport report;
    std::string why;
    EXPECT_FALSE(RepairAsfFile(path, false, report, why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(ReadWholeFile(path), bytes);
  }
}

// A header described here is the header finishing writes, so a file brought up to date either
// way reads the same.
TEST_F(FileScan, DescribedHeaderEqualsTheFinishedOne) {
  TempFolder folder;
  const std::string path = folder.Path("f.asf");
  WriteWholeFile(path, Cut(Slot(12)));
  Bytes header = Cut(first);
  TASF asf;
  ASSERT_TRUE(asf.ParseHeader(header.data(), header.size()));
  FileHandle file;
  ASSERT_TRUE(file.Open(path, FileHandle::Mode::OpenReadWrite));
  ASSERT_TRUE(asf.FixHeaderOnCompleted(file, 12, 1234));
  ASSERT_TRUE(asf.SetLastTimeCode(file, 1234));
  file.Close();

  AsfWholePackets packets;
  packets.count = 12;
  packets.lastSendTime = 1234;
  packets.fileSize = Slot(12);
  packets.resumeTimecode = 1234;
  ASSERT_TRUE(DescribeWholePackets(header.data(), header.size(), packets));
  const Bytes finished = ReadWholeFile(path);
  EXPECT_TRUE(std::equal(header.begin(), header.end(), finished.begin()));
}

}  // namespace
}  // namespace qor::asf_test
