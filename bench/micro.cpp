// Micro-benchmarks of the hot path: push and pop of the ring, and DrainQueue writing realistic
// lines to a log file in a temporary folder with the console on /dev/null.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "control/log_settings.h"
#include "intake/packet_queue.h"
#include "output/debug_ui.h"
#include "output/line_assembler.h"
#include "output/writer_sink.h"
#include "platform/event.h"

namespace {

constexpr int kLineLength = 80;  // marker, text, line feed

/// Fills `out` with `lines` lines of kLineLength bytes each; returns the bytes written.
int MakeChunk(char* out, int lines) {
    for (int l = 0; l < lines; ++l) {
        char* line = out + l * kLineLength;
        memset(line, 'x', kLineLength);
        line[0] = char(0xE7);
        snprintf(line + 1, 20, "line %08d", l);
        line[14] = ' ';
        line[kLineLength - 1] = '\n';
    }
    return lines * kLineLength;
}

// Arg 0: no event; 1: an event the consumer may be waiting on (every push signals it);
// 2: an event, but the consumer is known to be awake (pushes signal nothing).
void PushPop(benchmark::State& state) {
    const bool withEvent = state.range(0) != 0;
    CreatePacketQueue();
    intakeState.dataEvent = withEvent ? PlatEventCreate() : nullptr;
    if (state.range(0) == 2) intakeState.consumerMayWait.store(0);  // the consumer is awake
    char chunk[kQueueEntrySize], out[kQueueEntrySize];
    int length = MakeChunk(chunk, 1);
    for (auto _ : state) {
        PushPacket(chunk, length);
        int got = 0;
        PopPacket(out, &got);
        benchmark::DoNotOptimize(got);
        if (state.range(0) == 1) PlatEventReset(intakeState.dataEvent);
    }
    PlatEventClose(intakeState.dataEvent);
    intakeState.dataEvent = nullptr;
    intakeState.consumerMayWait.store(1);
    FreePacketQueue();
    state.SetItemsProcessed(state.iterations());
    const char* labels[] = {"chunks, no event", "chunks, consumer may wait: signalled per push",
                            "chunks, consumer awake: no signal"};
    state.SetLabel(labels[state.range(0)]);
}
BENCHMARK(PushPop)->Arg(0)->Arg(1)->Arg(2);

// Sends standard output to /dev/null for the length of a benchmark, and logs into a fresh
// temporary folder that is removed afterwards.
class WriterFixture {
public:
    WriterFixture() {
        savedStdout = dup(STDOUT_FILENO);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(null);
        char pattern[] = "/tmp/udptrail-micro.XXXXXX";
        folder = mkdtemp(pattern);
        memset(&settings, 0, sizeof settings);
        snprintf(settings.debugFolder, sizeof settings.debugFolder, "%s", folder.c_str());
        settings.logFileSize = kDefaultLogFileSize;
        settings.retentionDays = kDefaultRetentionDays;
        writer.Init(settings);
    }
    ~WriterFixture() {
        writer.CloseLogFile();
        std::string command = "rm -rf '" + folder + "'";
        if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", folder.c_str());
        dup2(savedStdout, STDOUT_FILENO);
        close(savedStdout);
    }
    LogSettings settings;
    CDebugUI writer;

private:
    int savedStdout;
    std::string folder;
};

// Fills the ring with chunks of `linesPerChunk` lines, then drains it; the fill is not timed.
void Drain(benchmark::State& state) {
    const int linesPerChunk = int(state.range(0));
    constexpr int kChunksPerRound = 1000;
    WriterFixture fixture;
    CreatePacketQueue();
    static LineAssembly assembly;
    memset(&assembly, 0, sizeof assembly);
    char chunk[kQueueEntrySize];
    int length = MakeChunk(chunk, linesPerChunk);
    int64_t lines = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < kChunksPerRound; ++i) PushPacket(chunk, length);
        state.ResumeTiming();
        DrainQueue(assembly, WriterSink(fixture.writer));
        fixture.writer.HandOnBatch();
        lines += int64_t(kChunksPerRound) * linesPerChunk;
    }
    FreePacketQueue();
    state.SetItemsProcessed(lines);
    state.SetBytesProcessed(lines * kLineLength);
    state.SetLabel(std::to_string(linesPerChunk) + " x 80-byte lines per chunk");
}
BENCHMARK(Drain)->Arg(1)->Arg(12)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
