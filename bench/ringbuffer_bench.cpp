// A duplex ring buffer moving 8 KiB entries: a push and a pull per iteration on one thread, and a
// producer thread against a pulling consumer.

#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>
#include <vector>

#include "stream/MMRingBuffer.h"

namespace {

constexpr uint32_t EntryBytes = 8192;
const WAVEFORMATEX cd = PcmBuildFormat(16, 2, 44100);

struct Buffer {
    explicit Buffer(uint32_t bytes) : memory(sizeof(TMMAudioBuffer) + bytes, 0x22) {
        header()->lpData = AudioBufferData(header());
        header()->dwBufferLength = bytes;
        header()->dwBytesRecorded = bytes;
    }
    TMMAudioBuffer* header() { return reinterpret_cast<TMMAudioBuffer*>(memory.data()); }
    std::vector<uint8_t> memory;
};

void openDuplex(TMMRingBuffer& ring) {
    ring.SetPWaveFormat(&cd);
    ring.SetQueueMode(qmDuplex);
    ring.SetNumBuffers(20);
    ring.SetBufferSize(EntryBytes);
    ring.Opened();
    ring.Started();
}

void BM_DuplexPutGet(benchmark::State& state) {
    TMMRingBuffer ring;
    openDuplex(ring);
    Buffer in(EntryBytes), out(EntryBytes);
    for (int i = 0; i < 11; ++i) ring.BufferReady(in.header()); // past half full: data, not silence
    for (auto _ : state) {
        ring.BufferReady(in.header());
        out.header()->dwBufferLength = EntryBytes;
        out.header()->dwBytesRecorded = 0;
        bool more = false;
        ring.BufferLoad(out.header(), more);
        benchmark::DoNotOptimize(out.header()->dwBytesRecorded);
    }
    ring.Closed();
    state.SetBytesProcessed(state.iterations() * EntryBytes);
}
BENCHMARK(BM_DuplexPutGet);

void BM_DuplexProducerConsumer(benchmark::State& state) {
    TMMRingBuffer ring;
    openDuplex(ring);
    std::atomic<int> empties{0};
    ring.OnEmpty = [&](TMMComponent*) { ++empties; };
    std::atomic<bool> run{true};
    std::thread producer([&] {
        Buffer in(EntryBytes);
        while (run.load(std::memory_order_relaxed)) {
            if (ring.QueueFull())
                std::this_thread::yield();
            else
                ring.BufferReady(in.header());
        }
    });
    Buffer out(EntryBytes);
    for (auto _ : state) {
        out.header()->dwBufferLength = EntryBytes;
        out.header()->dwBytesRecorded = 0;
        bool more = false;
        ring.BufferLoad(out.header(), more);
        benchmark::DoNotOptimize(out.header()->dwBytesRecorded);
    }
    run = false;
    producer.join();
    ring.Closed();
    state.SetBytesProcessed(state.iterations() * EntryBytes);
    state.counters["empty_reads"] = empties.load();
}
BENCHMARK(BM_DuplexProducerConsumer)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
