// The entry routine after start-up: socket and intake set-up, the main loop, and shutdown.
#include "control/main_loop.h"

#include <cstdio>
#include <cstring>

#include "control/command_line.h"
#include "control/log_settings.h"
#include "intake/packet_queue.h"
#include "intake/receiver.h"
#include "output/debug_ui.h"
#include "output/forwarder.h"
#include "output/line_assembler.h"
#include "output/writer_sink.h"
#include "output/run_statistics.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/keyboard.h"
#include "platform/signals.h"
#include "platform/thread.h"
#include "platform/udp_socket.h"

namespace {

constexpr int kQuitKey = 'q';
constexpr int kPauseKey = ' ';

// The exit status of a set-up failure after the banner (-1 as the shell sees it).
constexpr int kExitSetUpFailed = 255;

// How long the way out gives the forwarding threads to send what is queued.
constexpr int kForwardFinishMs = 1000;

// Starts forwarding to the targets of --forward, if any.
bool StartForwardTargets(const RunOptions& options) {
    if (options.forwardCount == 0) return true;
    const char* urls[kMaxForwardTargets];
    for (int i = 0; i < options.forwardCount; ++i) urls[i] = options.forwardUrls[i];
    return StartForwarding(urls, options.forwardCount, options.forwardFacility);
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
    if (!PlatUdpBind(setUp.socket, static_cast<uint16_t>(settings.port & 0xFFFF), address)) {
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

// Prints what the set-up has to say; false when it failed.
bool ReportSocketSetUp(const SocketSetUp& setUp) {
    if (!setUp.opened) {
        printf("Local Error, can not initialize socket , error code=0x%x\r\n",
               static_cast<unsigned>(setUp.errorCode));
        return false;
    }
    if (!setUp.nonBlocking) {
        printf("Local Error, can not make the socket non-blocking, error code = 0x%x \r\n",
               static_cast<unsigned>(setUp.errorCode));
        return false;
    }
    if (setUp.socket == kPlatNoSocket) {
        printf("Local Error, can not bind socket error code = 0x%x \r\n",
               static_cast<unsigned>(setUp.errorCode));
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

// Looks at the keys (space pauses or resumes the console); true when the user asked to quit.
bool QuitRequested(CDebugUI& writer) {
    if (PlatStopSignalled()) return true;
    if (!PlatKeyWaiting()) return false;
    int key = PlatReadKey();
    if (key == kPauseKey) writer.TogglePause();
    return key == kQuitKey;
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
// file in it may have come of age), or at a quiet pass when it last did so a minute ago: a file's
// time stamp can be set back without the folder changing. A listing of a large folder holds the
// loop for a while, which a steady stream should not pay for nothing.
constexpr int64_t kCleanUpIntervalMs = 1000;
constexpr int64_t kCleanUpListingAnywayMs = 60 * 1000;

struct CleanUpTimes {
    int64_t looked;  // the clean-up was last considered
    int64_t listed;  // the folder was last listed
};

void LookAfterLogFiles(CDebugUI& writer, int64_t now, CleanUpTimes& times, bool quiet) {
    writer.RotateIfTooLarge();
    if (now - times.looked < kCleanUpIntervalMs) return;
    times.looked = now;
    bool listAnyway = quiet && now - times.listed >= kCleanUpListingAnywayMs;
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
        if (PlatStatisticsRequested()) ShowStatistics(writer);
        int timeoutMs = intakeState.pollIntervalMs.load(std::memory_order_relaxed);
        if (quietPasses >= kQuietPassesBeforeLongWait && timeoutMs == kNormalPollIntervalMs) {
            timeoutMs = kLongWaitMs;
        }
        ChunkWait result = WaitForChunks(timeoutMs);
        if (result == ChunkWait::Ready) {
            quietPasses = 0;
            bool moreQueued = DrainQueue(assembly, WriterSink(writer));
            int64_t now = PlatMonotonicMilliseconds();
            if (now - lastMaintenance >= kBusyMaintenanceMs) {
                LookAfterLogFiles(writer, now, cleanUp, false);
                lastMaintenance = now;
            }
            // More gathers meanwhile, so that a stream is written in batches (a single line is
            // written at once all the same).
            if (!moreQueued) PlatSleepUs(kGatherMoreUs);
        } else if (result == ChunkWait::TimedOut) {
            if (quietPasses < kQuietPassesBeforeLongWait) ++quietPasses;
            lastMaintenance = PlatMonotonicMilliseconds();
            LookAfterLogFiles(writer, lastMaintenance, cleanUp, true);
            writer.ShowLinesNotShown();  // a pause is the console's chance to catch up
            ShowForwardDrops();
        } else {
            // The wait cannot work (no event): the loop goes on watching the keyboard, slowly
            // enough not to burn the processor.
            PlatSleepMs(timeoutMs > 0 ? timeoutMs : kNormalPollIntervalMs);
        }
    }
}

// Ends the run: the receiver takes in what is already waiting and stops while the ring is drained
// here (so that a backlog larger than the ring is written in full), then every line it handed
// over is written, an unfinished one last, before the queue is released.
void ShutDown(LineAssembly& assembly, CDebugUI& writer) {
    writer.CatchUpConsole(kNormalPollIntervalMs * 100);
    writer.ShowMessageWithin(
        "================================================================================\r\n",
        kClosingLineWaitMs);
    writer.ShowMessageWithin(" The program terminate!!! \r\n", kClosingLineWaitMs);
    RequestReceiverStop();
    for (;;) {
        bool ended = ReceiverEnded();  // read first: what it pushed before ending is drained next
        while (NextPacketLength() >= 0) DrainQueue(assembly, WriterSink(writer));
        if (ended) break;
        WaitForChunks(kNormalPollIntervalMs);
    }
    StopReceiver();
    FlushHeldLines(assembly, WriterSink(writer));
    StopForwarding(kForwardFinishMs);
    ReportLosses(writer, true);
    FreePacketQueue();
    WriteFinalStatistics(kFinalStatisticsWaitMs);
}

}  // namespace

int RunUdpTrail(int argc, char** argv) {
    PlatEnsureStandardDescriptors();
    CDebugUI writer;
    StartRunStatistics();
    PlatInstallStopSignals();  // a stop asked for during set-up ends the run at the first pass
    StartupResult startup = ReadCommandLine(argc, argv, logSettings, writer);
    if (!startup.proceed) return startup.exitCode;

    // The first clean-up runs before the port is bound: a large folder then holds up no line.
    writer.DeleteExpiredLogFiles();
    SocketSetUp setUp = OpenSocket(logSettings);
    PrintListeningLine(logSettings);
    if (!ReportSocketSetUp(setUp)) return 0;
    PlatSocket socket = setUp.socket;

    if (!CreatePacketQueue()) {
        printf("Error: could not create UDP receive packet queue, exit\r\n");
        return kExitSetUpFailed;
    }
    intakeState.dataEvent = PlatEventCreate();
    if (!StartReceiver(socket, logSettings.options.syslogMode, logSettings.options.showSender)) {
        printf("Error: Could not start UDP receiver thread, exit\r\n");
        FreePacketQueue();
        return kExitSetUpFailed;
    }
    if (intakeState.receiverThread == nullptr) {
        printf("Local Error, failed to create udp receive thread = 0x%x \r\n",
               static_cast<unsigned>(PlatSocketLastError()));
        FreePacketQueue();
        return kExitSetUpFailed;
    }

    if (!StartForwardTargets(logSettings.options)) {
        printf("Error: could not start forwarding, exit\r\n");
        StopReceiver();
        FreePacketQueue();
        return kExitSetUpFailed;
    }

    static LineAssembly assembly;
    assembly.assemblyLength = 0;
    assembly.keepSendersApart = logSettings.options.showSender;
    PlatKeyboardStart();
    RunMainLoop(assembly, writer);
    PlatKeyboardRestore();
    ShutDown(assembly, writer);
    return 0;
}
