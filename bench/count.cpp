// Counts the load lines a receiver wrote: delivered, lost, duplicated, out of order and damaged.
// Reads files, or every regular file of a folder in name order (udptrail's udplog_*.log sort by
// the time they were opened).
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common.h"

namespace {

struct Tally {
    uint64_t records = 0;      // load lines of this run found
    uint64_t delivered = 0;    // distinct sequence numbers among them
    uint64_t duplicated = 0;   // records whose number was seen before
    uint64_t outOfOrder = 0;   // records whose number is below the highest seen before them
    uint64_t damaged = 0;      // records whose text was cut or altered
    uint64_t foreign = 0;      // lines that are no load line of this run
    uint64_t beyond = 0;       // numbers at or past the expected count
    uint64_t highest = 0;
    bool any = false;
};

void CountLine(const char* line, size_t length, const char* run, int lineLength,
               std::vector<uint8_t>& seen, Tally& t) {
    LoadRecord r;
    if (!ParseLoadLine(line, length, run, lineLength, &r)) {
        ++t.foreign;
        return;
    }
    ++t.records;
    if (r.seq == UINT64_MAX) {
        ++t.damaged;
        return;
    }
    if (!r.intact) ++t.damaged;
    if (t.any && r.seq < t.highest) ++t.outOfOrder;
    if (!t.any || r.seq > t.highest) t.highest = r.seq;
    t.any = true;
    if (r.seq >= seen.size()) {
        ++t.beyond;
        return;
    }
    if (seen[r.seq]) {
        ++t.duplicated;
    } else {
        seen[r.seq] = 1;
        ++t.delivered;
    }
}

bool CountFile(const std::string& path, const char* run, int lineLength, std::vector<uint8_t>& seen,
               Tally& t) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    char* line = nullptr;
    size_t room = 0;
    ssize_t got;
    while ((got = getline(&line, &room, f)) > 0) {
        size_t length = size_t(got);
        if (line[length - 1] == '\n') --length;  // a last line without its end still counts
        CountLine(line, length, run, lineLength, seen, t);
    }
    free(line);
    fclose(f);
    return true;
}

bool ListFolder(const std::string& folder, std::vector<std::string>& paths) {
    DIR* d = opendir(folder.c_str());
    if (d == nullptr) return false;
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
        std::string path = folder + "/" + e->d_name;
        struct stat st;
        if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(e->d_name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) paths.push_back(folder + "/" + n);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const char* run = "r0";
    int64_t expect = -1, lineLength = 0;
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--run") == 0 && i + 1 < argc) run = argv[++i];
        else if (strcmp(argv[i], "--expect") == 0 && i + 1 < argc && ParseInt(argv[i + 1], &expect)) ++i;
        else if (strcmp(argv[i], "--length") == 0 && i + 1 < argc && ParseInt(argv[i + 1], &lineLength)) ++i;
        else if (argv[i][0] != '-') inputs.push_back(argv[i]);
        else {
            fprintf(stderr, "unknown option %s\n", argv[i]);
            inputs.clear();
            break;
        }
    }
    if (inputs.empty() || expect < 0 || expect > 100'000'000) {
        fprintf(stderr,
                "usage: bench_count --expect N [--run TAG] [--length BYTES] FILE_OR_FOLDER...\n"
                "Counts load lines 0..N-1 of run TAG; --length also checks every line's length.\n");
        return 2;
    }
    std::vector<std::string> paths;
    for (const std::string& in : inputs) {
        struct stat st;
        if (stat(in.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            if (!ListFolder(in, paths)) return perror(in.c_str()), 1;
        } else {
            paths.push_back(in);
        }
    }
    std::vector<uint8_t> seen(size_t(expect), 0);
    Tally t;
    for (const std::string& p : paths)
        if (!CountFile(p, run, int(lineLength), seen, t)) return perror(p.c_str()), 1;
    uint64_t lost = uint64_t(expect) - t.delivered;
    printf("expected=%lld records=%llu delivered=%llu lost=%llu duplicated=%llu out_of_order=%llu "
           "damaged=%llu beyond=%llu foreign=%llu files=%zu\n",
           (long long)expect, (unsigned long long)t.records, (unsigned long long)t.delivered,
           (unsigned long long)lost, (unsigned long long)t.duplicated,
           (unsigned long long)t.outOfOrder, (unsigned long long)t.damaged,
           (unsigned long long)t.beyond, (unsigned long long)t.foreign, paths.size());
    return 0;
}
