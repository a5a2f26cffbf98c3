// Throughput of the session's byte ring for 64 KiB blocks, the size of a large network receive.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "support/circular_buffer.h"

namespace {

constexpr int32_t kRingSize = 1000000;  // what each session allocates
constexpr int32_t kBlock = 64 * 1024;

// One block in, one block out; the indices walk round the ring, so many copies wrap.
void BM_RingWriteThenRead(benchmark::State& state) {
  qor::TCB ring;
  ring.Allocate(kRingSize);
  std::vector<uint8_t> in(kBlock, 0x5A);
  std::vector<uint8_t> out(kBlock);
  for (auto _ : state) {
    if (!ring.Write(in.data(), kBlock)) state.SkipWithError("write refused");
    int32_t count = kBlock;
    if (!ring.Read(out.data(), count)) state.SkipWithError("short read");
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_RingWriteThenRead);

// A writer thread and the benchmark thread as reader, contending for the lock as the network
// handlers and the protocol loop do. Counts the bytes read.
void BM_RingTwoThreads(benchmark::State& state) {
  qor::TCB ring;
  ring.Allocate(kRingSize);
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    std::vector<uint8_t> in(kBlock, 0xA5);
    while (!stop.load(std::memory_order_relaxed)) {
      if (!ring.Write(in.data(), kBlock)) std::this_thread::yield();
    }
  });
  std::vector<uint8_t> out(kBlock);
  for (auto _ : state) {
    while (ring.Available() < kBlock) std::this_thread::yield();
    int32_t count = kBlock;
    if (!ring.Read(out.data(), count)) state.SkipWithError("short read");
    benchmark::DoNotOptimize(out.data());
  }
  stop.store(true);
  writer.join();
  state.SetBytesProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_RingTwoThreads)->UseRealTime();

}  // namespace
