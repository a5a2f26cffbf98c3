// Real Windows Media files written by ffmpeg: what the model reads must agree with ffprobe, and a
// file finished by us after being made to look live must play and seek in ffprobe.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>

#include "asf/asf.h"
#include "asf_builders.h"
#include "asf_files.h"
#include "ffprobe_view.h"
#include "platform/file_handle.h"
#include "support/message_queue.h"

namespace qor::asf_test {
namespace {

std::string Sample(const std::string& name) {
  return SampleMediaFolder() + "/" + name;
}

class SampleMedia : public ::testing::TestWithParam<const char*> {};

TEST_P(SampleMedia, ModelAgreesWithFfprobe) {
  const std::string path = Sample(GetParam());
  TMessageClass queue;
  TASF asf;
  asf.Messages = &queue;
  ASSERT_TRUE(asf.ReadHeaderFromFile(path)) << path;
  EXPECT_EQ(queue.Pending(), 0u);
  auto probe = ProbeFormat(path);
  ASSERT_FALSE(probe.empty()) << "ffprobe gave nothing for " << path;

  ASSERT_EQ(std::to_string(asf.StreamCount), probe["format.nb_streams"]);
  for (uint32_t k = 0; k < asf.StreamCount; ++k) {
    const std::string s = "streams.stream." + std::to_string(k) + ".";
    EXPECT_EQ(asf.StreamNumbers[k], k + 1);  // ffmpeg numbers its streams from 1 in order
    if (probe[s + "codec_type"] == "video") {
      EXPECT_EQ(asf.StreamKinds[k], skVideo) << k;
      EXPECT_EQ(std::to_string(asf.VideoWidths[k]), probe[s + "width"]);
      EXPECT_EQ(std::to_string(asf.VideoHeights[k]), probe[s + "height"]);
    } else {
      ASSERT_EQ(probe[s + "codec_type"], "audio");
      EXPECT_NE(asf.StreamKinds[k] & skAudio, 0) << k;
      EXPECT_EQ(std::to_string(asf.AudioSampleRates[k]), probe[s + "sample_rate"]);
      EXPECT_EQ(std::to_string(asf.AudioChannels[k]), probe[s + "channels"]);
    }
    // Stream durations are the play duration less the preroll.
    EXPECT_NEAR(std::stod(probe[s + "duration"]), (asf.PlayDuration - asf.Preroll) / 1000, 0.0005);
  }
  EXPECT_EQ(asf.Title, probe["format.tags.title"]);
  EXPECT_EQ(asf.Author, probe["format.tags.artist"]);
  EXPECT_EQ(asf.Copyright, probe["format.tags.copyright"]);
  // ffmpeg keeps the comment out of the Content Description and stores it as a descriptor.
  if (probe.count("format.tags.comment") != 0) {
    bool found = asf.Description == probe["format.tags.comment"];
    for (uint32_t k = 0; k < asf.ExtendedCount; ++k)
      found |= asf.ExtendedNames[k] == "Description" &&
               asf.ExtendedValues[k] == probe["format.tags.comment"];
    EXPECT_TRUE(found);
  }
  if (probe.count("format.tags.album") != 0) {
    bool found = false;
    for (uint32_t k = 0; k < asf.ExtendedCount; ++k)
      found |= asf.ExtendedNames[k] == "WM/AlbumTitle" &&
               asf.ExtendedValues[k] == probe["format.tags.album"];
    EXPECT_TRUE(found);
  }
  for (uint32_t k = 0; k < asf.CodecCount; ++k) {
    if (asf.CodecKinds[k] == ckVideo) {
      EXPECT_EQ(asf.CodecNames[k], probe["streams.stream.0.codec_name"]);
    }
  }
  EXPECT_EQ(asf.BitrateCount, 0u);  // ffmpeg writes no bitrate records
  EXPECT_EQ(asf.FileSize, std::filesystem::file_size(path));
  EXPECT_EQ(asf.PacketSize, 3200u);
  EXPECT_EQ(asf.FileFlags, ffSeekable);
  EXPECT_EQ(asf.DataPacketsCount, asf.TotalDataPackets);

  // Every frame ffprobe reads starts inside one of the data packets the model counts, and the
  // last packet holds a frame start.
  const auto packets = ProbePackets(path);
  ASSERT_FALSE(packets.empty());
  uint64_t lastIndex = 0;
  for (const ProbedPacket& p : packets) {
    ASSERT_GE(p.pos, static_cast<int64_t>(asf.FirstPacketOffset()));
    const uint64_t offset = static_cast<uint64_t>(p.pos) - asf.FirstPacketOffset();
    ASSERT_EQ(offset % asf.PacketSize, 0u);
    lastIndex = std::max(lastIndex, offset / asf.PacketSize);
  }
  EXPECT_EQ(lastIndex + 1, asf.TotalDataPackets);
}

TEST_P(SampleMedia, EveryPacketWalksAndKeyFramesAgree) {
  const std::string path = Sample(GetParam());
  TASF asf;
  ASSERT_TRUE(asf.ReadHeaderFromFile(path));
  const Bytes file = ReadWholeFile(path);
  std::set<int64_t> keyPositions;
  // Audio frames are all key frames to ffprobe, but only video key frames are marked in the file.
  auto probe = ProbeFormat(path);
  for (const ProbedPacket& p : ProbePackets(path)) {
    const std::string type = probe["streams.stream." + std::to_string(p.stream) + ".codec_type"];
    if (p.key && type == "video") keyPositions.insert(p.pos);
  }
  uint32_t previous = 0;
  for (uint64_t k = 0; k < asf.TotalDataPackets; ++k) {
    const uint64_t at = asf.FirstPacketOffset() + k * asf.PacketSize;
    ASSERT_LE(at + asf.PacketSize, file.size());
    Bytes packet(file.begin() + static_cast<std::ptrdiff_t>(at),
                 file.begin() + static_cast<std::ptrdiff_t>(at + asf.PacketSize));
    uint32_t sendTime = 0;
    uint16_t duration = 0;
    bool keyFrame = false;
    ASSERT_TRUE(
        asf.ParsePacket(packet.data(), packet.size(), sendTime, duration, 0, false, keyFrame))
        << k;
    EXPECT_GE(sendTime, previous) << k;
    previous = sendTime;
    if (keyPositions.count(static_cast<int64_t>(at)) != 0) {
      EXPECT_TRUE(keyFrame) << k;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Generated, SampleMedia,
                         ::testing::Values("clip.wmv", "audio.wma", "twovideo.asf"));

// Copies a sample without its index and with the header a live stream's server sends: broadcast
// flag set, sizes, counts and durations zero.
std::string LiveCopy(const std::string& sample, const std::string& target, uint64_t& packets) {
  Bytes file = ReadWholeFile(Sample(sample));
  const size_t f =
      static_cast<size_t>(FindAsfPrefix(file.data(), file.size(), asf_guid::kFileProperties));
  const size_t d =
      static_cast<size_t>(FindAsfPrefix(file.data(), file.size(), asf_guid::kDataObject));
  packets = GetAt(file, d + 40, 8);
  file.resize(d + 50 + packets * GetAt(file, f + 96, 4));
  for (size_t field : {f + 40, f + 56, f + 64, f + 72, d + 16, d + 40}) PutAt(file, field, 0, 8);
  PutAt(file, f + 88, ffBroadcast, 4);
  WriteWholeFile(target, file);
  return target;
}

// What a session does at the end of a recording: header, end timecode, index.
uint32_t FinishLikeASession(TASF& asf, const std::string& path, uint64_t packets) {
  EXPECT_TRUE(asf.ReadHeaderFromFile(path));
  EXPECT_EQ(asf.FileFlags, ffBroadcast);
  FileHandle file;
  EXPECT_TRUE(file.Open(path, FileHandle::Mode::OpenReadWrite));
  Bytes packet(asf.PacketSize);
  uint32_t first = 0, last = 0;
  for (uint64_t k = 0; k < packets; ++k) {
    file.ReadAt(static_cast<int64_t>(asf.FirstPacketOffset() + k * asf.PacketSize), packet.data(),
                packet.size());
    AsfPacketTimes times;
    EXPECT_TRUE(ReadAsfPacketTimes(packet.data(), packet.size(), times));
    if (k == 0) first = times.sendTime;
    last = times.sendTime;
  }
  const uint32_t timecode = last - first;
  EXPECT_TRUE(asf.FixHeaderOnCompleted(file, packets, timecode));
  EXPECT_TRUE(asf.SetLastTimeCode(file, timecode));
  EXPECT_TRUE(asf.WriteIndexObject(file));
  uint32_t stored = 0;
  EXPECT_TRUE(asf.GetLastTimeCode(file, stored));
  EXPECT_EQ(stored, timecode);
  EXPECT_TRUE(file.Close());
  return timecode;
}

class FinishedSample : public ::testing::TestWithParam<const char*> {
 protected:
  TempFolder folder;
};

TEST_P(FinishedSample, PlaysAndSeeksInFfprobe) {
  const std::string sample = GetParam();
  uint64_t packets = 0;
  const std::string path = LiveCopy(sample, folder.Path(sample), packets);
  TASF asf;
  const uint32_t timecode = FinishLikeASession(asf, path, packets);

  const auto original = ProbePackets(Sample(sample));
  const auto finished = ProbePackets(path);
  EXPECT_EQ(finished.size(), original.size());
  auto probe = ProbeFormat(path);
  EXPECT_NEAR(std::stod(probe["streams.stream.0.duration"]), timecode / 1000.0, 0.0005);
  // The session's timecode ends at the last packet's send time, so it can only fall short of the
  // encoder's own duration by about one packet's span.
  const double encoded = std::stod(ProbeFormat(Sample(sample))["streams.stream.0.duration"]);
  EXPECT_LE(timecode / 1000.0, encoded + 0.0005);
  EXPECT_GT(timecode / 1000.0, encoded - 0.5);

  TASF reread;
  ASSERT_TRUE(reread.ReadHeaderFromFile(path));
  EXPECT_EQ(reread.FileFlags, ffSeekable);
  EXPECT_EQ(reread.TotalDataPackets, packets);
  EXPECT_EQ(reread.FileSize, std::filesystem::file_size(path));

  if (probe["streams.stream.0.codec_type"] != "video") return;
  // A seek into the middle lands on the last key frame at or before the time asked.
  int64_t expectedKey = -1;
  for (const ProbedPacket& p : original)
    if (p.stream == 0 && p.key && p.ptsMs <= 3000) expectedKey = std::max(expectedKey, p.ptsMs);
  ASSERT_GE(expectedKey, 0);
  const auto frames = ProbeFramesAfterSeek(path, 3.0);
  ASSERT_FALSE(frames.empty());
  EXPECT_TRUE(frames.front().second);
  EXPECT_EQ(frames.front().first, expectedKey);
}

INSTANTIATE_TEST_SUITE_P(Generated, FinishedSample,
                         ::testing::Values("clip.wmv", "audio.wma", "twovideo.asf"));

TEST(ShiftedSample, ShiftMovesEveryTimeAndBackAgain) {
  TempFolder folder;
  const std::string path = folder.Path("shifted.wmv");
  const Bytes original = ReadWholeFile(Sample("clip.wmv"));
  Bytes file = original;
  TASF asf;
  ASSERT_TRUE(asf.ParseHeader(file.data(), file.size()));
  auto shiftAll = [&](int32_t base) {
    for (uint64_t k = 0; k < asf.TotalDataPackets; ++k) {
      uint32_t sendTime = 0;
      uint16_t duration = 0;
      bool keyFrame = false;
      ASSERT_TRUE(asf.ParsePacket(file.data() + asf.FirstPacketOffset() + k * asf.PacketSize,
                                  asf.PacketSize, sendTime, duration, base, true, keyFrame));
    }
  };
  shiftAll(-5000);  // every time 5 s later
  WriteWholeFile(path, file);
  const auto before = ProbePackets(Sample("clip.wmv"));
  const auto after = ProbePackets(path);
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].ptsMs, before[i].ptsMs + 5000) << i;
    EXPECT_EQ(after[i].pos, before[i].pos) << i;
  }
  shiftAll(5000);
  EXPECT_TRUE(file == original);
}

}  // namespace
}  // namespace qor::asf_test
