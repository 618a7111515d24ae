// The entry routine after start-up: socket and intake set-up, the main loop, and shutdown.
#include "control/main_loop.h"

#include <cstdio>
#include <cstring>

#include "control/command_line.h"
#include "control/console_keys.h"
#include "control/exit_codes.h"
#include "control/log_settings.h"
#include "intake/packet_queue.h"
#include "intake/receiver.h"
#include "output/compressor.h"
#include "output/debug_ui.h"
#include "output/forwarder.h"
#include "output/line_assembler.h"
#include "output/writer_sink.h"
#include "output/run_statistics.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/keyboard.h"
#include "platform/net_client.h"
#include "platform/signals.h"
#include "platform/thread.h"
#include "platform/udp_socket.h"

namespace {

constexpr int kKeysPerPass = 64;

// How long the way out gives the compressing thread at most to finish its queue, within the way
// out's own bound (a 2 MiB file takes about 0.06 s); what is left is compressed at the next start.
constexpr int kCompressFinishMs = 1500;

// How long the way out gives the forwarding threads at most to send what is queued.
constexpr int kForwardFinishMs = 1000;

// Starts forwarding to the targets of --forward, if any.
bool StartForwardTargets(const RunOptions& options) {
    if (options.forwardCount == 0) return true;
    const char* urls[kMaxForwardTargets];
    for (int i = 0; i < options.forwardCount; ++i) urls[i] = options.forwardUrls[i];
    return StartForwarding(urls, options.forwardCount, options.forwardFacility, options.syslogMode);
}

// Writes what forwarding has to tell (outages, their end, drops) as records of udptrail's own, to
// the log file and the console, never waiting: the forwarding threads write nothing themselves.
void ReportForwarding(CDebugUI& writer, bool final = false) {
    char text[512];
    while (TakeForwardNotice(text, sizeof text, final) > 0) writer.LogNotice(kNormalAttribute, text);
}

// On the way out, how long each closing line and the final statistics line may wait for a
// console or standard error that lags.
constexpr int kClosingLineWaitMs = 100;
constexpr int kFinalStatisticsWaitMs = 1000;

// How far the socket set-up got. It runs before the listening line is printed, so that a line
// sent as soon as that line shows is never refused by a port not yet bound; what it has to say
// is printed after the listening line, as ever.
struct SocketSetUp {
    PlatSocket socket;  // kPlatNoSocket when a step failed
    bool opened;        // false: the socket could not be created
    bool nonBlocking;   // false: the socket could not be made non-blocking
    int errorCode;      // the socket layer's error when a step failed
    int asked;          // receive buffer size asked for
    int granted;        // receive buffer size the system granted (0 if unknown)
};

SocketSetUp OpenSocket(const LogSettings& settings) {
    // The receive buffer (--rcvbuf, 4 MiB by default) lets a burst of small datagrams wait while the
    // main thread is busy writing.
    const char* address = settings.options.bindAddress;  // empty: every IPv4 address
    SocketSetUp setUp = {PlatUdpOpen(address), true, true, 0, settings.options.receiveBufferBytes, 0};
    if (setUp.socket == kPlatNoSocket) {
        setUp.opened = false;
        setUp.errorCode = PlatSocketLastError();
        return setUp;
    }
    if (!PlatUdpBind(setUp.socket, static_cast<uint16_t>(settings.port), address)) {
        setUp.errorCode = PlatSocketLastError();
        PlatUdpClose(setUp.socket);
        setUp.socket = kPlatNoSocket;
        return setUp;
    }
    // The receiver reads until the socket is empty: a blocking socket would hold it there, and the
    // stop would wait for it forever.
    if (!PlatUdpSetNonBlocking(setUp.socket)) {
        setUp.errorCode = PlatSocketLastError();
        setUp.nonBlocking = false;
        PlatUdpClose(setUp.socket);
        setUp.socket = kPlatNoSocket;
        return setUp;
    }
    setUp.granted = PlatUdpSetReceiveBuffer(setUp.socket, setUp.asked);
    return setUp;
}

// Prints what the set-up has to say; false when it failed, then with the system's own words on
// standard error.
bool ReportSocketSetUp(const SocketSetUp& setUp, int port) {
    if (setUp.socket == kPlatNoSocket) {
        if (!setUp.opened) {
            printf("Local Error, can not initialize socket , error code=0x%x\r\n",
                   static_cast<unsigned>(setUp.errorCode));
        } else if (!setUp.nonBlocking) {
            printf("Local Error, can not make the socket non-blocking, error code = 0x%x \r\n",
                   static_cast<unsigned>(setUp.errorCode));
        } else {
            printf("Local Error, can not bind socket error code = 0x%x \r\n",
                   static_cast<unsigned>(setUp.errorCode));
        }
        fprintf(stderr, "udptrail: cannot listen on UDP port %d: %s\n", port,
                PlatNetErrorText(setUp.errorCode));
        return false;
    }
    if (setUp.granted > 0 && setUp.granted < setUp.asked) {
        const char* raise = PlatUdpReceiveBufferLimitCommand();
        if (raise == nullptr) {
            printf("WARNING, the system grants a UDP receive buffer of only %d bytes (asked for %d); "
                   "bursts may be lost\r\n", setUp.granted, setUp.asked);
        } else {
            printf("WARNING, the system grants a UDP receive buffer of only %d bytes (asked for %d); "
                   "bursts may be lost; to raise the limit: %s%d\r\n",
                   setUp.granted, setUp.asked, raise, setUp.asked);
        }
    }
    return true;
}

// Looks at the keys (console_keys.h); true when the user asked to quit.
bool QuitRequested(CDebugUI& writer) {
    if (PlatStopSignalled()) return true;
    // Keys typed together (a pasted filter) are taken in one pass, a bounded number of them.
    for (int i = 0; i < kKeysPerPass && PlatKeyWaiting(); ++i) {
        if (HandleKey(PlatReadKey(), writer)) return true;
    }
    return false;
}

// Once nothing has arrived for this many passes in a row, the loop waits longer between passes:
// new data still wakes it at once, a key or a stop signal is noticed within the longer wait, and
// an idle server wakes the processor ten times a second instead of a hundred.
constexpr int kQuietPassesBeforeLongWait = 10;
constexpr int kLongWaitMs = 100;

// Rotation runs on every quiet pass; under a steady stream there may be none, so it also runs
// after writing once this long has passed since it last ran. Otherwise a sender that never pauses
// for a poll interval would grow one log file without bound.
constexpr int64_t kBusyMaintenanceMs = 100;

// The age clean-up lists the whole log folder, which may hold tens of thousands of files; its unit
// is days. It runs at start and is then considered at most once a second, along with the
// rotation, and lists the folder only when that could delete something (the folder changed, or a
// file in it or one the writer closed may have come of age), or when it last did so a minute ago,
// a steady stream or not: a file's time stamp can be set back without the folder changing. A
// listing of a large folder holds the loop for a while, which a steady stream should not pay for
// nothing.
constexpr int64_t kCleanUpIntervalMs = 1000;
constexpr int64_t kCleanUpListingAnywayMs = 60 * 1000;

struct CleanUpTimes {
    int64_t looked;  // the clean-up was last considered
    int64_t listed;  // the folder was last listed
};

void LookAfterLogFiles(CDebugUI& writer, int64_t now, CleanUpTimes& times) {
    writer.RotateIfTooLarge();
    writer.KeepFolderWithinLimits();
    if (now - times.looked < kCleanUpIntervalMs) return;
    times.looked = now;
    bool listAnyway = now - times.listed >= kCleanUpListingAnywayMs;
    if (!listAnyway && !writer.CleanUpMayDelete()) return;
    writer.DeleteExpiredLogFiles();
    times.listed = now;
}


void RunMainLoop(LineAssembly& assembly, CDebugUI& writer) {
    int quietPasses = 0;
    int64_t lastMaintenance = PlatMonotonicMilliseconds();
    CleanUpTimes cleanUp = {lastMaintenance, lastMaintenance};  // listed at start (RunUdpTrail)
    while (!QuitRequested(writer)) {
        ReportLosses(writer);
        ReportForwarding(writer);
        if (PlatStatisticsRequested()) ShowStatistics(writer);
        int timeoutMs = intakeState.pollIntervalMs.load(std::memory_order_relaxed);
        if (quietPasses >= kQuietPassesBeforeLongWait && timeoutMs == kNormalPollIntervalMs) {
            timeoutMs = kLongWaitMs;
        }
        ChunkWait result = WaitForChunks(timeoutMs);
        if (result == ChunkWait::Ready) {
            quietPasses = 0;
            bool moreQueued = DrainQueue(assembly, WriterSink(writer));
            writer.HandOnBatch();
            int64_t now = PlatMonotonicMilliseconds();
            if (now - lastMaintenance >= kBusyMaintenanceMs) {
                LookAfterLogFiles(writer, now, cleanUp);
                lastMaintenance = now;
            }
            // More gathers meanwhile, so that a stream is written in batches (a single line is
            // written at once all the same).
            if (!moreQueued) PlatSleepUs(kGatherMoreUs);
        } else if (result == ChunkWait::TimedOut) {
            if (quietPasses < kQuietPassesBeforeLongWait) ++quietPasses;
            lastMaintenance = PlatMonotonicMilliseconds();
            LookAfterLogFiles(writer, lastMaintenance, cleanUp);
            writer.ShowLinesNotShown();  // a pause is the console's chance to catch up
        } else {
            // The wait cannot work (no event): the loop goes on watching the keyboard, slowly
            // enough not to burn the processor.
            PlatSleepMs(timeoutMs > 0 ? timeoutMs : kNormalPollIntervalMs);
        }
    }
}

// The way out, from the stop to the final statistics line, takes at most this long whatever the
// console, standard error and the collectors do: the waits below share it, in order, each within
// its own bound. A console and a standard error that keep up need none of it.
constexpr int kWayOutMs = 2000;
constexpr int kConsoleCatchUpMs = 400;

// Milliseconds left until `deadline`, at most `wantedMs`.
int Within(int64_t deadline, int wantedMs) {
    int64_t left = deadline - PlatMonotonicMilliseconds();
    if (left <= 0) return 0;
    return left < wantedMs ? static_cast<int>(left) : wantedMs;
}

// Ends the run: the receiver takes in what is already waiting and stops while the ring is drained
// here (so that a backlog larger than the ring is written in full), then every line it handed
// over is written, an unfinished one last. Once its time is up the console is given up, so that
// nothing after this waits for it.
void ShutDown(LineAssembly& assembly, CDebugUI& writer) {
    const int64_t deadline = PlatMonotonicMilliseconds() + kWayOutMs;
    writer.CatchUpConsole(Within(deadline, kConsoleCatchUpMs));
    writer.ShowMessageWithin(
        "================================================================================\r\n",
        Within(deadline, kClosingLineWaitMs));
    writer.ShowMessageWithin(" The program terminate!!! \r\n", Within(deadline, kClosingLineWaitMs));
    RequestReceiverStop();
    for (;;) {
        bool ended = ReceiverEnded();  // read first: what it pushed before ending is drained next
        while (NextPacketLength() >= 0) DrainQueue(assembly, WriterSink(writer));
        writer.HandOnBatch();
        if (ended) break;
        WaitForChunks(kNormalPollIntervalMs);
    }
    StopReceiver();
    FlushHeldLines(assembly, WriterSink(writer));
    writer.HandOnBatch();
    StopForwarding(Within(deadline, kForwardFinishMs));
    ReportForwarding(writer, true);
    ReportLosses(writer, true);
    if (logSettings.compress) {
        writer.CloseLogFile();
        StopCompressor(Within(deadline, kCompressFinishMs));
    }
    WriteFinalStatistics(Within(deadline, kFinalStatisticsWaitMs));
    PlatConsoleGiveUp();
}

// Where the log files go must be usable before anything else is done: a missing folder is made.
bool PrepareLogFolder(const char* folder) {
    int errorCode = 0;
    if (PlatPrepareFolder(folder, &errorCode)) return true;
    fprintf(stderr, "udptrail: cannot use log folder '%s': %s\n", folder, PlatErrorText(errorCode));
    return false;
}

// The port the socket listens on, as the system tells it; the one asked for when it cannot tell.
int ListenedPort(const SocketSetUp& setUp, const LogSettings& settings) {
    int port = setUp.socket != kPlatNoSocket ? PlatUdpLocalPort(setUp.socket) : -1;
    return port > 0 ? port : settings.port;
}

// What the start-up brought up, so that every way out takes down exactly that.
struct Started {
    bool intake;  // the queue and the event (and the receiver thread, if it started)
};

// Brings up the queue, the receiver thread and forwarding; kExitQuit when all of them run.
int StartIntake(PlatSocket socket, Started& started) {
    if (!CreatePacketQueue()) {
        printf("Error: could not create UDP receive packet queue, exit\r\n");
        return kExitNoResources;
    }
    started.intake = true;
    intakeState.dataEvent = PlatEventCreate();
    if (!StartReceiver(socket, logSettings.options.syslogMode, logSettings.showSender)) {
        printf("Error: Could not start UDP receiver thread, exit\r\n");
        return kExitNoResources;
    }
    if (intakeState.receiverThread == nullptr) {
        printf("Local Error, failed to create udp receive thread = 0x%x \r\n",
               static_cast<unsigned>(PlatSocketLastError()));
        return kExitNoResources;
    }
    if (!StartForwardTargets(logSettings.options)) {
        printf("Error: could not start forwarding, exit\r\n");
        return kExitNoResources;
    }
    return kExitQuit;
}

void TakeDown(const Started& started) {
    if (!started.intake) return;
    StopReceiver();  // the thread, if any, then the event
    FreePacketQueue();
}

}  // namespace

int RunUdpTrail(int argc, char** argv) {
    PlatEnsureStandardDescriptors();
    CDebugUI writer;
    StartRunStatistics();
    PlatInstallStopSignals();  // a stop asked for during set-up ends the run at the first pass
    StartupResult startup = ReadCommandLine(argc, argv, logSettings);
    if (!startup.proceed) return startup.exitCode;
    if (!PrepareLogFolder(logSettings.debugFolder)) return kExitCouldNotStart;
    writer.Init(logSettings);  // sets the console up and clears it
    PrintBanner(logSettings);

    // The first clean-up runs before the port is bound: a large folder then holds up no line.
    writer.DeleteExpiredLogFiles();
    // Log files closed while the server was not running are compressed too; the scan comes
    // before any file of this run is opened.
    if (logSettings.compress) QueueLeftoverLogFiles(logSettings.debugFolder);
    writer.KeepFolderWithinLimits();
    SocketSetUp setUp = OpenSocket(logSettings);
    PrintListeningLine(logSettings, ListenedPort(setUp, logSettings));
    if (!ReportSocketSetUp(setUp, logSettings.port)) return kExitCouldNotStart;

    Started started = {};
    int exitCode = StartIntake(setUp.socket, started);
    if (exitCode == kExitQuit) {
        static LineAssembly assembly;
        assembly.assemblyLength = 0;
        assembly.keepSendersApart = logSettings.showSender;
        if (logSettings.compress && !StartCompressor())
            printf("WARNING, could not start the compressing thread; log files stay as written\n");
        PlatKeyboardStart();
        RunMainLoop(assembly, writer);
        PlatKeyboardRestore();
        ShutDown(assembly, writer);
    }
    TakeDown(started);
    return exitCode;
}
