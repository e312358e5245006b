// A trigger driving a fast in-memory source through two pass-through components into a counting
// sink, 8 KiB buffers. The trigger sleeps at least 1 ms after every buffer, so wall-clock MB/s is
// paced by that sleep. Per buffer we report the trigger thread's CPU time (pull, push through the
// chain, its events and the sleep's wake-up), the whole process's CPU time (with the main thread
// idle in its event loop, as in the programs), and the wall time beyond the 1 ms sleep.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>

#include <atomic>
#include <cstring>
#include <ctime>
#include <vector>

#include "stream/MMTrigger.h"
#include "stream/MainThreadDispatcher.h"

namespace {

constexpr uint32_t BufferBytes = 8192;
constexpr int BuffersPerRun = 200;

const WAVEFORMATEX cd = PcmBuildFormat(16, 2, 44100);

class MemorySource : public TMMDSPComponent {
public:
    MemorySource() : block_(BufferBytes, 0x11) {}
    void Rewind(int buffers) { left_ = buffers; }
    int BufferLoad(PWaveHdr b, bool& more) override {
        if (left_ <= 0) return 0;
        const uint32_t n = std::min<uint32_t>(b->dwBufferLength, BufferBytes);
        std::memcpy(b->lpData, block_.data(), n);
        b->dwBytesRecorded = n;
        more = --left_ > 0;
        return 0;
    }

private:
    std::vector<uint8_t> block_;
    int left_ = 0;
};

class PassThrough : public TMMDSPComponent {};

class CountingSink : public TMMDSPComponent {
public:
    void BufferReady(PWaveHdr b) override {
        bytes.fetch_add(b->dwBytesRecorded, std::memory_order_relaxed);
        buffers.fetch_add(1, std::memory_order_relaxed);
    }
    std::atomic<int64_t> bytes{0};
    std::atomic<int64_t> buffers{0};
};

double cpuSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void BM_TriggerChain(benchmark::State& state) {
    MemorySource source;
    TMMTrigger trigger;
    PassThrough a, b;
    CountingSink sink;
    source.SetOutput(&trigger);
    trigger.SetOutput(&a);
    a.SetOutput(&b);
    b.SetOutput(&sink);
    trigger.SetBufferSize(BufferBytes);
    trigger.SetSynchronize(state.range(0) != 0);
    source.SetPWaveFormat(&cd);
    QEventLoop loop;
    trigger.OnStop = [&](TMMComponent*) { loop.quit(); };
    // The trigger thread's CPU clock, read on that thread after each pull.
    std::atomic<double> threadCpu{0};
    double firstThreadCpu = -1;
    int threadBuffers = 0;
    trigger.OnBufferFilled = [&](TMMDSPComponent*, PWaveHdr) {
        if (MainThreadDispatcher::Instance().IsMainThread()) return;
        const double now = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        if (firstThreadCpu < 0) firstThreadCpu = now;
        threadCpu = now;
        ++threadBuffers;
    };
    trigger.OpenDevice();

    double processCpu = 0;
    int64_t buffers = 0;
    for (auto _ : state) {
        source.Rewind(BuffersPerRun);
        const double start = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        trigger.StartDevice();
        loop.exec(); // until the stop message has been handled
        processCpu += cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - start;
        buffers += BuffersPerRun;
    }
    trigger.CloseDevice();
    state.SetBytesProcessed(buffers * BufferBytes);
    if (threadBuffers > 1)
        state.counters["thread_cpu_us_per_buffer"] = (threadCpu - firstThreadCpu) * 1e6 / (threadBuffers - 1);
    state.counters["process_cpu_us_per_buffer"] = processCpu * 1e6 / double(buffers);
    state.counters["wall_us_per_buffer"] =
        benchmark::Counter(double(buffers), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    if (sink.bytes.load() != buffers * int64_t(BufferBytes)) state.SkipWithError("data lost");
}
BENCHMARK(BM_TriggerChain)->ArgName("synchronize")->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    MainThreadDispatcher::Instance().AdoptCurrentThreadAsMain();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
