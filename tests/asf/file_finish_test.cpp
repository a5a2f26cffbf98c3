// Finishing a saved stream and reading the header of a saved file, on real files.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <algorithm>
#include <filesystem>

#include "asf/asf.h"
#include "asf_builders.h"
#include "asf_files.h"
#include "platform/file_handle.h"
#include "support/message_queue.h"

namespace qor::asf_test {
namespace {

class FileFinish : public ::testing::Test {
 protected:
  FileFinish() { asf.Messages = &queue; }

  // Writes header + count packets of 3200 bytes and parses the header into the model.
  std::string SaveStream(const Bytes& header, uint32_t count, const std::string& name = "s.asf") {
    Bytes file = header;
    for (uint32_t k = 0; k < count; ++k) file.resize(file.size() + 3200, static_cast<uint8_t>(k));
    const std::string path = folder.Path(name);
    WriteWholeFile(path, file);
    EXPECT_TRUE(asf.ParseHeader(header.data(), header.size()));
    return path;
  }
  std::vector<std::string> Posted() {
    std::vector<std::string> texts;
    MessagePair pair;
    while (queue.Take(pair)) texts.push_back(std::to_string(pair.code) + " " + pair.text);
    return texts;
  }

  TempFolder folder;
  TMessageClass queue;
  TASF asf;
};

using Texts = std::vector<std::string>;

TEST_F(FileFinish, FinishingWritesExactlyTheFields) {
  FileProps props;
  props.flags = 0x0D;  // broadcast plus bits that are not flags of ours
  const Bytes header = TypicalHeader(props);
  const std::string path = SaveStream(header, 1000);
  const Bytes before = ReadWholeFile(path);
  const size_t f =
      static_cast<size_t>(FindAsfPrefix(header.data(), header.size(), asf_guid::kFileProperties));
  const size_t d = header.size() - 50;

  FileHandle file;
  ASSERT_TRUE(file.Open(path, FileHandle::Mode::OpenReadWrite));
  ASSERT_TRUE(asf.FixHeaderOnCompleted(file, 1000, 60000));
  ASSERT_TRUE(asf.SetLastTimeCode(file, 60000));
  ASSERT_TRUE(asf.WriteIndexObject(file));  // one video stream: one index object
  uint32_t timecode = 0;
  ASSERT_TRUE(asf.GetLastTimeCode(file, timecode));
  EXPECT_EQ(timecode, 60000u);
  ASSERT_TRUE(file.Close());
  EXPECT_TRUE(Posted().empty());

  // The expected file, built field by field from the original bytes.
  Bytes expected = before;
  const uint64_t finalLength = before.size() + 62;
  PutAt(expected, f + 40, finalLength, 8);
  PutAt(expected, f + 56, 1000, 8);
  PutAt(expected, f + 64, 650000000, 8);
  PutAt(expected, f + 72, 600000000, 8);
  expected[f + 88] = 2;
  PutAt(expected, d + 16, 3200050, 8);
  PutAt(expected, d + 40, 1000, 8);
  PutAt(expected, f + 24, 60000, 4);
  PutAt(expected, d + 24, 60000, 4);
  Bytes index = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                 0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
  Put(index, 62, 8);
  index.insert(index.end(), expected.begin() + static_cast<std::ptrdiff_t>(f + 24),
               expected.begin() + static_cast<std::ptrdiff_t>(f + 40));
  Put(index, 10000, 8);
  Put(index, 1, 4);
  Put(index, 1, 4);
  Put(index, 0, 4);
  Put(index, 1, 2);
  expected.insert(expected.end(), index.begin(), index.end());
  const Bytes after = ReadWholeFile(path);
  ASSERT_EQ(after.size(), expected.size());
  const auto differs = std::mismatch(after.begin(), after.end(), expected.begin());
  EXPECT_EQ(differs.first, after.end())
      << "first difference at byte " << (differs.first - after.begin());
  EXPECT_EQ(after[f + 89], 0);  // the other flag bytes are left alone
}

TEST_F(FileFinish, IndexObjectsFollowTheVideoStreams) {
  // Audio only: no index, but File Size written again.
  const std::string audio = SaveStream(
      HeaderBlock({FilePropertiesObject({}), HeaderExtensionObject(), AudioStream(1, 2, 44100)}), 3,
      "audio.asf");
  const uint64_t audioLength = ReadWholeFile(audio).size();
  FileHandle file;
  ASSERT_TRUE(file.Open(audio, FileHandle::Mode::OpenReadWrite));
  ASSERT_TRUE(asf.WriteIndexObject(file));
  file.Close();
  Bytes bytes = ReadWholeFile(audio);
  EXPECT_EQ(bytes.size(), audioLength);
  const size_t f =
      static_cast<size_t>(FindAsfPrefix(bytes.data(), bytes.size(), asf_guid::kFileProperties));
  EXPECT_EQ(GetAt(bytes, f + 40, 8), audioLength);

  // Two video streams: two index objects with the same File ID.
  const std::string two =
      SaveStream(HeaderBlock({FilePropertiesObject({}), HeaderExtensionObject(),
                              VideoStream(1, 8, 8), AudioStream(2, 1, 8000), VideoStream(3, 8, 8)}),
                 2, "two.asf");
  const uint64_t twoLength = ReadWholeFile(two).size();
  ASSERT_TRUE(file.Open(two, FileHandle::Mode::OpenReadWrite));
  ASSERT_TRUE(asf.SetLastTimeCode(file, 4321));
  ASSERT_TRUE(asf.WriteIndexObject(file));
  file.Close();
  bytes = ReadWholeFile(two);
  ASSERT_EQ(bytes.size(), twoLength + 124);
  const size_t tf =
      static_cast<size_t>(FindAsfPrefix(bytes.data(), bytes.size(), asf_guid::kFileProperties));
  const Bytes fileId(bytes.begin() + static_cast<std::ptrdiff_t>(tf + 24),
                     bytes.begin() + static_cast<std::ptrdiff_t>(tf + 40));
  for (uint64_t at : {twoLength, twoLength + 62}) {
    EXPECT_EQ(bytes[at], 0x90);
    EXPECT_EQ(GetAt(bytes, at + 16, 8), 62u);
    EXPECT_EQ(GetAt(bytes, at + 24, 4), 4321u);  // the timecode in the File ID
    EXPECT_EQ(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at + 24),
                    bytes.begin() + static_cast<std::ptrdiff_t>(at + 40)),
              fileId);
  }
}

TEST_F(FileFinish, MissingObjectsInTheHeaderCopy) {
  const Bytes header = TypicalHeader();
  const std::string path = SaveStream(header, 2);
  FileHandle file;
  ASSERT_TRUE(file.Open(path, FileHandle::Mode::OpenReadWrite));
  // A header copy that stops before the Data Object.
  asf.HeaderLength = header.size() - 50;
  EXPECT_FALSE(asf.SetLastTimeCode(file, 777));
  EXPECT_EQ(Posted(), Texts{"8 TASF: SetLastTimeCode failed, data object not found"});
  EXPECT_FALSE(asf.FixHeaderOnCompleted(file, 2, 10));
  EXPECT_EQ(Posted(), Texts{"8 TASF: FixHeaderOnCompleted failed, no data object"});
  uint32_t timecode = 0;
  EXPECT_TRUE(asf.GetLastTimeCode(file, timecode));
  EXPECT_EQ(timecode, 777u);  // the File Properties field was written all the same
  file.Close();

  // No File Properties Object at all.
  Bytes damaged = ReadWholeFile(path);
  const size_t f =
      static_cast<size_t>(FindAsfPrefix(damaged.data(), damaged.size(), asf_guid::kFileProperties));
  damaged[f] = 0;
  WriteWholeFile(path, damaged);
  ASSERT_TRUE(file.Open(path, FileHandle::Mode::OpenReadWrite));
  EXPECT_FALSE(asf.FixHeaderOnCompleted(file, 2, 10));
  EXPECT_FALSE(asf.SetLastTimeCode(file, 1));
  EXPECT_FALSE(asf.WriteIndexObject(file));
  EXPECT_FALSE(asf.GetLastTimeCode(file, timecode));
  EXPECT_EQ(Posted(), (Texts{"8 TASF: FixHeaderOnCompleted failed, no file prop object",
                             "8 TASF: SetLastTimeCode failed, file prop object not found",
                             "8 TASF: WriteIndexObject failed, file prop object not found",
                             "8 TASF: GetLastTimeCode failed, file prop object not found"}));
  file.Close();
  EXPECT_EQ(ReadWholeFile(path), damaged);
}

TEST_F(FileFinish, ShortFilesAndFailedWrites) {
  const Bytes header = TypicalHeader();
  const std::string path = SaveStream(header, 0);
  // A file cut inside its File Properties Object: searched only as far as it goes.
  const size_t f =
      static_cast<size_t>(FindAsfPrefix(header.data(), header.size(), asf_guid::kFileProperties));
  WriteWholeFile(path, Bytes(header.begin(), header.begin() + static_cast<std::ptrdiff_t>(f + 60)));
  FileHandle file;
  ASSERT_TRUE(file.Open(path, FileHandle::Mode::OpenReadWrite));
  EXPECT_FALSE(asf.FixHeaderOnCompleted(file, 1, 1));
  EXPECT_EQ(Posted(), Texts{"8 TASF: FixHeaderOnCompleted failed, no file prop object"});
  EXPECT_EQ(file.Size(), static_cast<int64_t>(f + 60));
  file.Close();

  // A handle that cannot write: every finishing step reports false.
  WriteWholeFile(path, header);
  ASSERT_TRUE(file.Open(path, FileHandle::Mode::OpenRead));
  EXPECT_FALSE(asf.FixHeaderOnCompleted(file, 1, 1));
  EXPECT_FALSE(asf.SetLastTimeCode(file, 1));
  EXPECT_FALSE(asf.WriteIndexObject(file));
  uint32_t timecode = 1;
  EXPECT_TRUE(asf.GetLastTimeCode(file, timecode));
  EXPECT_EQ(timecode, 0x14131211u);  // the File ID as built
  // A closed handle fails without a text.
  file.Close();
  EXPECT_FALSE(asf.FixHeaderOnCompleted(file, 1, 1));
  EXPECT_FALSE(asf.GetLastTimeCode(file, timecode));
  EXPECT_TRUE(Posted().empty());
}

TEST_F(FileFinish, FilesBeyondFourGigabytes) {
  const Bytes header = TypicalHeader();
  const std::string path = SaveStream(header, 0);
  const uint64_t packets = 1'700'000;  // 5.44 GB of packets
  const int64_t length = static_cast<int64_t>(header.size() + packets * 3200);
  FileHandle file;
  ASSERT_TRUE(file.Open(path, FileHandle::Mode::OpenReadWrite));
  ASSERT_TRUE(file.Truncate(length));  // sparse
  ASSERT_TRUE(asf.FixHeaderOnCompleted(file, packets, 4000000000u));
  ASSERT_TRUE(asf.SetLastTimeCode(file, 4000000000u));
  ASSERT_TRUE(asf.WriteIndexObject(file));
  EXPECT_EQ(file.Size(), length + 62);
  Bytes head(header.size());
  ASSERT_EQ(file.ReadAt(0, head.data(), head.size()), static_cast<int64_t>(head.size()));
  file.Close();
  const size_t f =
      static_cast<size_t>(FindAsfPrefix(head.data(), head.size(), asf_guid::kFileProperties));
  const size_t d = head.size() - 50;
  EXPECT_EQ(GetAt(head, f + 40, 8), static_cast<uint64_t>(length + 62));
  EXPECT_EQ(GetAt(head, f + 56, 8), packets);
  EXPECT_EQ(GetAt(head, f + 64, 8), (4000000000ull + 5000) * 10000);
  EXPECT_EQ(GetAt(head, f + 72, 8), 4000000000ull * 10000);
  EXPECT_EQ(GetAt(head, d + 16, 8), packets * 3200 + 50);
  EXPECT_EQ(GetAt(head, d + 40, 8), packets);

  TASF reread;
  ASSERT_TRUE(reread.ReadHeaderFromFile(path));
  EXPECT_EQ(reread.FileSize, static_cast<uint64_t>(length + 62));
  EXPECT_EQ(reread.TotalDataPackets, packets);
}

TEST_F(FileFinish, PlayDurationSumWrapsAtThirtyTwoBits) {
  FileProps props;
  props.preroll = 0x1'0000'0010ull;  // only the low 32 bits are taken
  const std::string path = SaveStream(TypicalHeader(props), 1);
  FileHandle file;
  ASSERT_TRUE(file.Open(path, FileHandle::Mode::OpenReadWrite));
  ASSERT_TRUE(asf.FixHeaderOnCompleted(file, 1, 0xFFFFFFF8u));
  file.Close();
  TASF reread;
  ASSERT_TRUE(reread.ReadHeaderFromFile(path));
  EXPECT_DOUBLE_EQ(reread.PlayDuration, 8.0);  // (0xFFFFFFF8 + 0x10) mod 2^32 ms
  EXPECT_EQ(reread.FileFlags, ffSeekable);
}

class ReadFromFile : public FileFinish {};

TEST_F(ReadFromFile, OpenEmptyAndForeignFiles) {
  EXPECT_FALSE(asf.ReadHeaderFromFile(folder.Path("missing.asf")));
  WriteWholeFile(folder.Path("empty.asf"), {});
  EXPECT_FALSE(asf.ReadHeaderFromFile(folder.Path("empty.asf")));
  const Bytes header = TypicalHeader();
  ASSERT_TRUE(asf.ParseHeader(header.data(), header.size()));
  WriteWholeFile(folder.Path("text.asf"), Bytes(100, 'x'));
  EXPECT_FALSE(asf.ReadHeaderFromFile(folder.Path("text.asf")));
  EXPECT_EQ(asf.StreamCount, 0u);  // cleared
  const Bytes tiny(header.begin(), header.begin() + 20);
  WriteWholeFile(folder.Path("tiny.asf"), tiny);
  EXPECT_FALSE(asf.ReadHeaderFromFile(folder.Path("tiny.asf")));
  std::filesystem::create_directory(folder.Path("folder.asf"));
  EXPECT_FALSE(asf.ReadHeaderFromFile(folder.Path("folder.asf")));
  EXPECT_EQ(Posted(),
            (Texts{"8 TASF: could not read or open file", "8 TASF: read file contains no data",
                   "8 TASF: file is not of a valid ASF 1.0 format",
                   "8 TASF: file is not of a valid ASF 1.0 format",
                   "8 TASF: could not read or open file"}));
}

TEST_F(ReadFromFile, HeaderSpanAndFileTime) {
  const Bytes header = TypicalHeader();
  const std::string path = SaveStream(header, 4);
  const timespec times[2] = {{0, UTIME_OMIT}, {1609459200 + 13 * 3600 + 5, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  TASF model;
  ASSERT_TRUE(model.ReadHeaderFromFile(path));
  EXPECT_EQ(model.HeaderLength, header.size());
  EXPECT_EQ(model.StreamCount, 2u);
  EXPECT_EQ(model.FileWrittenText, "Fri, 01 January 2021  01:00:05 PM  (File last written stamp)");

  // A Header Object size far beyond the file: the span stops at the file's end.
  Bytes huge = ReadWholeFile(path);
  PutAt(huge, 16, 0xFFFFFFFFFFFFFFF0ull, 8);
  WriteWholeFile(path, huge);
  ASSERT_TRUE(model.ReadHeaderFromFile(path));
  EXPECT_EQ(model.HeaderLength, huge.size());
  // A size smaller than the real header: the Data Object is out of reach.
  PutAt(huge, 16, 30, 8);
  WriteWholeFile(path, huge);
  model.Messages = &queue;
  EXPECT_FALSE(model.ReadHeaderFromFile(path));
  EXPECT_EQ(model.HeaderLength, 80u);
  EXPECT_EQ(Posted(), Texts{"8 TASF: no data object was found"});
}

}  // namespace
}  // namespace qor::asf_test
