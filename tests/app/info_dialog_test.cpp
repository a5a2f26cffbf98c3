// The information dialog beside a session thread that parses headers into the shared model.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "app/main_info_dialog.h"
#include "platform/file_handle.h"

namespace qor {
namespace {

std::vector<uint8_t> HeaderBlockOf(const std::string& path) {
  TASF model;
  if (!model.ReadHeaderFromFile(path)) return {};
  std::vector<uint8_t> block(static_cast<size_t>(model.HeaderLength));
  FileHandle file;
  if (!file.Open(path, FileHandle::Mode::OpenRead) ||
      file.ReadAt(0, block.data(), block.size()) != static_cast<int64_t>(block.size()))
    return {};
  return block;
}

TEST(InfoDialog, ShowsAWholeHeaderWhileASessionParsesOneIntoTheModel) {
  const std::vector<uint8_t> header =
      HeaderBlockOf(std::string(QOR_SAMPLE_MEDIA_DIR) + "/clip.wmv");
  ASSERT_FALSE(header.empty());
  TASF shared;
  ASSERT_TRUE(shared.ParseHeader(header.data(), header.size()));
  TInfoDialog quiet;
  quiet.Load(shared, nullptr, "clip");
  const MediaInfoReport& expected = quiet.Report;
  ASSERT_FALSE(expected.StreamProp.empty());

  // Every parse empties the model before filling it again: a dialog reading without the model's
  // lock sees streams missing or texts half written (and ThreadSanitizer reports the race).
  std::atomic<bool> stop{false};
  std::atomic<int> parses{0};
  std::thread session([&] {
    while (!stop.load()) {
      shared.ParseHeader(header.data(), header.size());
      parses.fetch_add(1);
    }
  });
  TInfoDialog dialog;
  int torn = 0;
  for (int i = 0; i < 400 || parses.load() < 50; ++i) {
    dialog.Load(shared, nullptr, "clip");
    const MediaInfoReport& r = dialog.Report;
    torn += r.StreamProp != expected.StreamProp || r.Codecs != expected.Codecs ||
            r.ExtContent != expected.ExtContent || r.MBR != expected.MBR ||
            r.PlayDuration != expected.PlayDuration || r.ASFPacket != expected.ASFPacket ||
            r.ASFTotalPackets != expected.ASFTotalPackets || r.Clip != expected.Clip;
  }
  stop.store(true);
  session.join();
  EXPECT_EQ(torn, 0);
}

}  // namespace
}  // namespace qor
