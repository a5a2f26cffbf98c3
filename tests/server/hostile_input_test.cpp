// Every parser of client or file input, fed random and damaged bytes: it must stay inside its
// buffer (the sanitizer builds run this too) and refuse what it cannot read.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "data_units.h"
#include "http_request.h"
#include "media_source.h"
#include "mms_message.h"
#include "server_test_support.h"

namespace qor::server {
namespace {

Bytes RandomBytes(std::mt19937& random, size_t maxSize) {
  Bytes out(std::uniform_int_distribution<size_t>(0, maxSize)(random));
  for (auto& b : out) b = static_cast<uint8_t>(random());
  return out;
}

TEST(HostileInput, RandomBytesNeverCrashTheClientInputParsers) {
  std::mt19937 random(12345);
  const Bytes valid = BuildServerCommand(0x05, 0, 0, Bytes(24, 0x41), 0);
  for (int round = 0; round < 20000; ++round) {
    Bytes bytes = RandomBytes(random, 300);
    if (round % 3 == 0 && !bytes.empty()) {
      // Mostly-valid commands with damaged lengths reach the deeper paths.
      bytes = valid;
      bytes[std::uniform_int_distribution<size_t>(0, bytes.size() - 1)(random)] =
          static_cast<uint8_t>(random());
    }
    CommandSplitter splitter;
    splitter.Feed(bytes.data(), bytes.size());
    ClientCommand command;
    std::string reason;
    while (splitter.Next(command, reason) == CommandSplitter::Result::kCommand) {
      command.Text(command.Word(48) % 512);
      command.Double(command.Word(40) % 512);
    }
    ChunkView chunk;
    ParseChunk(bytes.data(), bytes.size(), chunk);
    DataPacketView packet;
    ParseDataPacket(bytes.data(), bytes.size(), packet);
    ResendRequest resend;
    if (ParseResendRequest(bytes.data(), bytes.size(), resend)) {
      EXPECT_LE(resend.sequences.size(), (bytes.size() - 12) / 4);
    }
    HttpRequest request;
    size_t used = 0;
    const std::string text(bytes.begin(), bytes.end());
    if (ParseHttpRequest(text, request, used) == HeadParse::kDone) {
      EXPECT_LE(used, text.size());
      request.StreamTimeMs();
      request.PlayRequest();
    }
    Bytes copy = bytes;
    EXPECT_LE(StripPacketPadding(copy.data(), copy.size()), copy.size());
    ShiftPacketTimes(copy.data(), copy.size(), 1000);
  }
}

TEST(HostileInput, DamagedMediaFilesAreRefusedOrServedWithoutReadingOutside) {
  QOR_NEED_SAMPLES();
  std::ifstream in(testing::SampleDir() + "/clip.wmv", std::ios::binary);
  const Bytes clip((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(clip.size(), 5000u);
  const std::string path = testing::TempDir() + "/damaged.wmv";
  std::mt19937 random(99);
  size_t loaded = 0;
  for (int round = 0; round < 300; ++round) {
    Bytes damaged = clip;
    if (round % 2 == 0) {
      damaged.resize(std::uniform_int_distribution<size_t>(0, 6000)(random));
    } else {
      for (int i = 0; i < 8; ++i)
        damaged[std::uniform_int_distribution<size_t>(0, 900)(random)] =
            static_cast<uint8_t>(random());
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(damaged.data()),
               static_cast<std::streamsize>(damaged.size()));
    std::string error;
    const auto media = MediaSource::Load(path, error);
    if (!media) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    ++loaded;
    ASSERT_GT(media->PacketCount(), 0u);
    EXPECT_LE(media->Header().size() + media->PacketCount() * media->PacketSize(), damaged.size());
    media->PacketForTime(3000);
  }
  EXPECT_GT(loaded, 0u);  // damage past the header still leaves a servable file
}

}  // namespace
}  // namespace qor::server
