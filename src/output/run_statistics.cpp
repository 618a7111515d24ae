// Statistics and loss reports.
#include "output/run_statistics.h"

#include <cinttypes>
#include <cstdio>

#include "intake/intake_counters.h"
#include "intake/intake_messages.h"
#include "output/debug_ui.h"
#include "output/forwarder.h"
#include "output/line_filter.h"
#include "platform/clock.h"
#include "platform/console.h"

RunStatistics runStatistics;

namespace {

// While the system goes on dropping, its warning is repeated at most this often.
constexpr int64_t kDropWarningIntervalMs = 1000;

uint64_t Read(const std::atomic<uint64_t>& counter) {
    return counter.load(std::memory_order_relaxed);
}

// Appends " name=value" to the line being built; false when it no longer fits.
bool AppendField(char* text, size_t size, size_t* length, const char* name, uint64_t value) {
    if (*length >= size) return false;
    int added = snprintf(text + *length, size - *length, " %s=%" PRIu64, name, value);
    if (added < 0 || static_cast<size_t>(added) >= size - *length) return false;
    *length += static_cast<size_t>(added);
    return true;
}

}  // namespace

void StartRunStatistics() {
    runStatistics = RunStatistics();
    runStatistics.lastDropWarningMs = -1;
    runStatistics.startMs = PlatMonotonicMilliseconds();
}

size_t FormatStatisticsLine(char* text, size_t size) {
    int64_t uptimeMs = PlatMonotonicMilliseconds() - runStatistics.startMs;
    int started = snprintf(text, size, "udptrail stats:");
    if (started < 0 || static_cast<size_t>(started) >= size) return 0;
    size_t length = static_cast<size_t>(started);
    const struct {
        const char* name;
        uint64_t value;
    } fields[] = {
        {"received", Read(intakeCounters.datagrams)},
        {"bytes", Read(intakeCounters.bytes)},
        {"logged", runStatistics.logged},
        {"dropped_system", Read(intakeCounters.droppedSystem)},
        {"dropped_queue", Read(intakeCounters.droppedQueue)},
        {"truncated", Read(intakeCounters.truncated)},
        {"not_stored", runStatistics.notStored},
        {"not_shown", runStatistics.notShown},
        {"rotated", runStatistics.rotated},
        {"deleted", runStatistics.deleted},
        {"uptime_s", static_cast<uint64_t>(uptimeMs > 0 ? uptimeMs / 1000 : 0)},
    };
    bool fits = true;
    for (const auto& field : fields) {
        fits = fits && AppendField(text, size, &length, field.name, field.value);
    }
    // Fields of optional features follow, each only when its option is given.
    if (fits && ForwardTargetCount() > 0)
        fits = AppendField(text, size, &length, "forward_dropped", ForwardDroppedCount());
    if (fits && LineFilterEverUsed())
        AppendField(text, size, &length, "filtered", FilteredLineCount());
    if (length + 1 < size) text[length++] = '\n';
    text[length] = '\0';
    return length;
}

void ReportLosses(CDebugUI& writer, bool final) {
    IntakeMessage message;
    char text[256];
    while (TakeIntakeMessage(&message)) {
        size_t length = FormatIntakeMessage(message, text, sizeof text);
        writer.ShowMessage(text, length);
    }

    uint64_t dropped = Read(intakeCounters.droppedSystem);
    if (dropped <= runStatistics.systemDropsShown) return;
    int64_t now = PlatMonotonicMilliseconds();
    if (!final && runStatistics.lastDropWarningMs >= 0 &&
        now - runStatistics.lastDropWarningMs < kDropWarningIntervalMs) {
        return;
    }
    snprintf(text, sizeof text,
             "WARNING, %" PRIu64 " datagrams dropped by the system before they could be read "
             "(receive buffer full)\n",
             dropped - runStatistics.systemDropsShown);
    writer.LogNotice(kNormalAttribute, text);
    runStatistics.systemDropsShown = dropped;
    runStatistics.lastDropWarningMs = now;
}

void ShowStatistics(CDebugUI& writer) {
    char line[512];
    size_t length = FormatStatisticsLine(line, sizeof line);
    writer.ShowMessage(line, length);
}

void WriteFinalStatistics(int timeoutMs) {
    // For scripts and service managers, which keep standard error; on a terminal the closing lines
    // stay the last thing the user sees, and SIGUSR1 shows the line there on demand.
    if (PlatErrorIsTerminal()) return;
    char line[512];
    size_t length = FormatStatisticsLine(line, sizeof line);
    PlatErrorWriteWithin(line, length, timeoutMs);
}
