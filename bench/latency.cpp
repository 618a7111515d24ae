// Datagram -> record-on-disk latency: tails every file in a folder (woken by inotify), and for
// each load line that appears takes the time seen minus the send stamp the generator put in it.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common.h"

namespace {

struct TailedFile {
    int fd = -1;
    std::string partial;  // bytes after the last line feed read so far
};

/// Reads what was appended to `file` since the last call and records a latency per load line.
void ReadNew(TailedFile& file, const char* run, std::vector<int64_t>& latencies) {
    char chunk[65536];
    for (;;) {
        ssize_t got = read(file.fd, chunk, sizeof chunk);
        if (got <= 0) return;
        int64_t seenNs = MonotonicNs();
        file.partial.append(chunk, size_t(got));
        size_t start = 0;
        for (;;) {
            size_t lf = file.partial.find('\n', start);
            if (lf == std::string::npos) break;
            LoadRecord r;
            if (ParseLoadLine(file.partial.data() + start, lf - start, run, 0, &r) &&
                r.seq != UINT64_MAX)
                latencies.push_back(seenNs - int64_t(r.stampNs));
            start = lf + 1;
        }
        file.partial.erase(0, start);
    }
}

void OpenNewFiles(const std::string& folder, std::map<std::string, TailedFile>& files) {
    DIR* d = opendir(folder.c_str());
    if (d == nullptr) return;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.' || files.count(e->d_name) != 0) continue;
        std::string path = folder + "/" + e->d_name;
        struct stat st;
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        TailedFile f;
        f.fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (f.fd >= 0) files[e->d_name] = f;
    }
    closedir(d);
}

int64_t Percentile(const std::vector<int64_t>& sorted, double p) {
    if (sorted.empty()) return 0;
    size_t i = size_t(p * double(sorted.size() - 1) + 0.5);
    return sorted[std::min(i, sorted.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
    const char* folder = nullptr;
    const char* run = "r0";
    int64_t expect = 0, quietMs = 3000, limitS = 60;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--dir") == 0 && i + 1 < argc) folder = argv[++i];
        else if (strcmp(argv[i], "--run") == 0 && i + 1 < argc) run = argv[++i];
        else if (strcmp(argv[i], "--expect") == 0 && i + 1 < argc && ParseInt(argv[i + 1], &expect)) ++i;
        else if (strcmp(argv[i], "--quiet-ms") == 0 && i + 1 < argc && ParseInt(argv[i + 1], &quietMs)) ++i;
        else if (strcmp(argv[i], "--limit-s") == 0 && i + 1 < argc && ParseInt(argv[i + 1], &limitS)) ++i;
        else {
            folder = nullptr;
            break;
        }
    }
    if (folder == nullptr || expect < 1 || limitS < 1 || limitS > 600) {
        fprintf(stderr, "usage: bench_latency --dir FOLDER --expect N [--run TAG] [--quiet-ms MS] [--limit-s S]\n"
                        "Ends after N load lines, or MS without new ones once some came, or S seconds.\n");
        return 2;
    }
    int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, folder, IN_CREATE | IN_MODIFY) < 0)
        return perror("inotify"), 1;
    std::map<std::string, TailedFile> files;
    std::vector<int64_t> latencies;
    latencies.reserve(size_t(expect));
    printf("ready\n");
    fflush(stdout);

    const int64_t startNs = MonotonicNs();
    int64_t lastNewNs = startNs;
    while (int64_t(latencies.size()) < expect) {
        pollfd p{watch, POLLIN, 0};
        poll(&p, 1, 100);
        char events[4096];
        while (read(watch, events, sizeof events) > 0) {
        }
        size_t before = latencies.size();
        OpenNewFiles(folder, files);
        for (auto& [name, f] : files) ReadNew(f, run, latencies);
        int64_t now = MonotonicNs();
        if (latencies.size() != before) lastNewNs = now;
        if (!latencies.empty() && now - lastNewNs > quietMs * 1000000) break;
        if (now - startNs > limitS * 1000000000) break;
    }
    std::vector<int64_t> sorted = latencies;
    std::sort(sorted.begin(), sorted.end());
    printf("samples=%zu p50_us=%.1f p90_us=%.1f p99_us=%.1f max_us=%.1f\n", sorted.size(),
           double(Percentile(sorted, 0.50)) / 1e3, double(Percentile(sorted, 0.90)) / 1e3,
           double(Percentile(sorted, 0.99)) / 1e3, sorted.empty() ? 0.0 : double(sorted.back()) / 1e3);
    for (auto& [name, f] : files) close(f.fd);
    close(watch);
    return 0;
}
