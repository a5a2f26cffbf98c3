// Packet walks per second (read and shift) on real WMV packets, and the time to finish a 1 GiB
// recording (header fields, end timecode, index).

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "asf/asf.h"
#include "platform/file_handle.h"

namespace {

// The generated sample clip (made once into a temporary folder unless QOR_SAMPLE_MEDIA names one).
const std::string& SampleClip() {
  static const std::string path = [] {
    std::string folder;
    if (const char* env = std::getenv("QOR_SAMPLE_MEDIA")) {
      folder = env;
    } else {
      folder = (std::filesystem::temp_directory_path() / "qor-bench-media").string();
      const auto script =
          std::filesystem::path(__FILE__).parent_path().parent_path() / "scripts/make-sample-media";
      std::string command = "'";
      command.append(script.string()).append("' '").append(folder).append("' >/dev/null");
      if (std::system(command.c_str()) != 0) throw std::runtime_error("make-sample-media failed");
    }
    return folder + "/clip.wmv";
  }();
  return path;
}

struct Clip {
  qor::TASF asf;
  std::vector<uint8_t> bytes;
  Clip() {
    qor::FileHandle file;
    if (!file.Open(SampleClip(), qor::FileHandle::Mode::OpenRead))
      throw std::runtime_error("no sample");
    bytes.resize(static_cast<size_t>(file.Size()));
    if (file.ReadAt(0, bytes.data(), bytes.size()) != static_cast<int64_t>(bytes.size()))
      throw std::runtime_error("short sample");
    if (!asf.ParseHeader(bytes.data(), bytes.size())) throw std::runtime_error("bad sample");
  }
  uint8_t* Packet(uint64_t k) {
    return bytes.data() + asf.FirstPacketOffset() + k * asf.PacketSize;
  }
};

void BM_ParsePacketRead(benchmark::State& state) {
  Clip clip;
  const uint64_t count = clip.asf.TotalDataPackets;
  uint64_t k = 0;
  uint32_t sendTime = 0;
  uint16_t duration = 0;
  bool keyFrame = false;
  for (auto _ : state) {
    const bool ok = clip.asf.ParsePacket(clip.Packet(k), clip.asf.PacketSize, sendTime, duration, 0,
                                         false, keyFrame);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(sendTime);
    if (++k == count) k = 0;
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * clip.asf.PacketSize);
}
BENCHMARK(BM_ParsePacketRead);

void BM_ParsePacketShift(benchmark::State& state) {
  Clip clip;
  const uint64_t count = clip.asf.TotalDataPackets;
  uint64_t k = 0;
  uint32_t sendTime = 0;
  uint16_t duration = 0;
  bool keyFrame = false;
  int32_t base = 1;
  for (auto _ : state) {
    // Alternating +1 and -1 keeps the times where they were.
    const bool ok = clip.asf.ParsePacket(clip.Packet(k), clip.asf.PacketSize, sendTime, duration,
                                         base, true, keyFrame);
    benchmark::DoNotOptimize(ok);
    if (++k == count) {
      k = 0;
      base = -base;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * clip.asf.PacketSize);
}
BENCHMARK(BM_ParsePacketShift);

void BM_FinishOneGigabyteFile(benchmark::State& state) {
  Clip clip;
  const std::string path =
      (std::filesystem::temp_directory_path() / ("qor-bench-finish-" + std::to_string(getpid())))
          .string();
  const uint64_t header = clip.asf.FirstPacketOffset();
  const uint64_t packets = ((1ull << 30) - header) / clip.asf.PacketSize;
  qor::FileHandle file;
  if (!file.Open(path, qor::FileHandle::Mode::CreateTruncate) ||
      !file.Write(clip.bytes.data(), header))
    throw std::runtime_error("cannot create " + path);
  for (auto _ : state) {
    state.PauseTiming();
    file.Truncate(static_cast<int64_t>(header + packets * clip.asf.PacketSize));  // sparse
    state.ResumeTiming();
    const bool ok = clip.asf.FixHeaderOnCompleted(file, packets, 6000) &&
                    clip.asf.SetLastTimeCode(file, 6000) && clip.asf.WriteIndexObject(file);
    if (!ok) state.SkipWithError("finishing failed");
  }
  file.Close();
  std::filesystem::remove(path);
}
BENCHMARK(BM_FinishOneGigabyteFile)->Unit(benchmark::kMicrosecond);

}  // namespace
