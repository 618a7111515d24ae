// Cost of --compress: processor time per MiB and the ratio of GzipFile on 2 MiB log files of
// typical trace lines (a mix of firmware-style records) and of the load generator's lines.
#include <time.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "output/compressor.h"

namespace {

int64_t ThreadCpuNs() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// 2 MiB of records as a board's trace would read: a time prefix and one of a few kinds of lines
// with changing numbers.
std::string TypicalTrace(size_t bytes) {
    std::string text;
    char line[160];
    unsigned seed = 12345;
    for (unsigned i = 0; text.size() < bytes; ++i) {
        seed = seed * 1103515245 + 12345;
        unsigned r = seed >> 8;
        unsigned s = i / 50, hh = 9 + s / 3600, mm = s / 60 % 60, ss = s % 60;
        switch (r % 5) {
        case 0: snprintf(line, sizeof line, "%02u%02u%02u: [net] rx frame id=%u len=%u crc=0x%08x ok\n", hh, mm, ss, i, 64 + r % 1400, r * 2654435761u); break;
        case 1: snprintf(line, sizeof line, "%02u%02u%02u: [adc] ch%u=%u mV vref=%u mV\n", hh, mm, ss, r % 8, r % 3300, 3300 - r % 7); break;
        case 2: snprintf(line, sizeof line, "%02u%02u%02u: [sched] task %u idle %u%% stack %u/4096\n", hh, mm, ss, r % 12, r % 100, 512 + r % 3000); break;
        case 3: snprintf(line, sizeof line, "%02u%02u%02u: [motor] axis %c pos=%d speed=%u err=%d\n", hh, mm, ss, 'X' + int(r % 3), int(r % 20000) - 10000, r % 3000, int(r % 9) - 4); break;
        default: snprintf(line, sizeof line, "%02u%02u%02u: [app] state=%s seq=%u\n", hh, mm, ss, (r & 1) ? "RUNNING" : "WAIT_ACK", i); break;
        }
        text += line;
    }
    return text;
}

// Lines as the load generator sends them and udptrail stores them: a prefix, run tag, sequence,
// send stamp and padding to 80 bytes.
std::string LoadLines(size_t bytes) {
    std::string text;
    char line[128];
    for (unsigned long i = 0; text.size() < bytes; ++i) {
        int n = snprintf(line, sizeof line, "120000: lat50000 %lu %lu ", i, 1700000000000000000ul + i * 20000);
        std::string padded(line, size_t(n));
        padded.resize(8 + 78, 'x');
        text += padded + "\n";
    }
    return text;
}

void Measure(const char* what, const std::string& text, int files) {
    int64_t cpu = 0;
    long long compressed = 0;
    for (int i = 0; i < files; ++i) {
        const char* path = "/tmp/bench_gzip_cost_udplog_20200101000000.log";
        FILE* out = fopen(path, "wb");
        fwrite(text.data(), 1, text.size(), out);
        fclose(out);
        int64_t start = ThreadCpuNs();
        if (!GzipFile(path)) {
            fprintf(stderr, "GzipFile failed\n");
            return;
        }
        cpu += ThreadCpuNs() - start;
        std::string gz = std::string(path) + ".gz";
        struct stat info;
        if (stat(gz.c_str(), &info) == 0) compressed += info.st_size;
        remove(gz.c_str());
    }
    double mib = double(text.size()) * files / (1 << 20);
    printf("%s: files=%d mib=%.1f cpu_ms_per_mib=%.2f ratio=%.1f compressed_kib_per_file=%.0f\n",
           what, files, mib, cpu / 1e6 / mib, double(text.size()) * files / double(compressed),
           double(compressed) / files / 1024);
}

}  // namespace

int main(int argc, char** argv) {
    int files = argc > 1 ? atoi(argv[1]) : 8;
    Measure("typical trace", TypicalTrace(2 << 20), files);
    Measure("load lines", LoadLines(2 << 20), files);
    return 0;
}
