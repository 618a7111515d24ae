// The compressing thread of --compress and the crash-safe gzip of one log file.
#include "output/compressor.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/thread.h"

namespace {

constexpr size_t kChunkSize = 64 * 1024;

struct Queued {
    std::string path;
    int64_t queuedMs;  // monotonic time of the hand-over
};

struct Compressor {
    std::mutex lock;
    std::condition_variable changed;  // a file was queued or finished, or the stop was asked
    std::deque<Queued> queue;
    bool working = false;   // a file is being compressed
    bool stopping = false;  // no file is taken any more once the queue is empty
    std::atomic<bool> abandon{false};  // the file being compressed is given up at once
    std::atomic<bool> closing{false};  // the writer opens no more files: none need wait
    PlatThread thread = nullptr;
};

Compressor compressor;

// Deflates `in` into `out` as gzip; false on a read, write or zlib error, or when stopped.
bool Deflate(FILE* in, FILE* out, const std::atomic<bool>* stop) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        return false;
    std::vector<unsigned char> input(kChunkSize), output(kChunkSize);
    bool ok = true;
    int flush = Z_NO_FLUSH;
    while (ok && flush != Z_FINISH) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed)) {
            ok = false;
            break;
        }
        size_t read = fread(input.data(), 1, input.size(), in);
        if (ferror(in)) ok = false;
        flush = feof(in) ? Z_FINISH : Z_NO_FLUSH;
        stream.next_in = input.data();
        stream.avail_in = static_cast<uInt>(read);
        do {
            stream.next_out = output.data();
            stream.avail_out = static_cast<uInt>(output.size());
            if (deflate(&stream, flush) == Z_STREAM_ERROR) ok = false;
            size_t produced = output.size() - stream.avail_out;
            if (produced > 0 && fwrite(output.data(), 1, produced, out) != produced) ok = false;
        } while (ok && stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return ok;
}

// Copies the whole file `from` to the start of `to`; false on any error.
bool CopyInto(const char* from, FILE* to) {
    FILE* in = fopen(from, "rb");
    if (in == nullptr) return false;
    std::vector<char> chunk(kChunkSize);
    bool ok = true;
    while (ok) {
        size_t read = fread(chunk.data(), 1, chunk.size(), in);
        if (read > 0 && fwrite(chunk.data(), 1, read, to) != read) ok = false;
        if (read < chunk.size()) break;
    }
    ok = !ferror(in) && ok;
    fclose(in);
    return ok;
}

// The writer opens a log file named after the current second, appending when the name exists: a
// file closed in the very second its name tells may be opened again within that second. So a file
// waits until a second has passed since it was queued (not at the way out). The clock's
// local time is the main thread's alone; the monotonic clock is anyone's.
constexpr int64_t kSettleMs = 1100;

void WaitUntilSettled(int64_t queuedMs) {
    while (PlatMonotonicMilliseconds() < queuedMs + kSettleMs &&
           !compressor.closing.load(std::memory_order_relaxed)) {
        PlatSleepMs(20);
    }
}

bool FileExists(const char* path) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) return false;
    fclose(file);
    return true;
}

void CompressorBody(intptr_t) {
    PlatLowerThreadPriority();
    std::unique_lock<std::mutex> hold(compressor.lock);
    for (;;) {
        compressor.changed.wait(hold, [] { return compressor.stopping || !compressor.queue.empty(); });
        if (compressor.queue.empty() || compressor.abandon.load(std::memory_order_relaxed)) break;
        Queued next = std::move(compressor.queue.front());
        compressor.queue.pop_front();
        compressor.working = true;
        hold.unlock();
        WaitUntilSettled(next.queuedMs);
        GzipFile(next.path.c_str(), &compressor.abandon);
        hold.lock();
        compressor.working = false;
        compressor.changed.notify_all();
    }
}

struct FolderScan {
    const char* folder;
    std::vector<std::string>* plain;
};

void RemovePartial(const PlatLogFileEntry& entry, void* context) {
    const FolderScan& scan = *static_cast<FolderScan*>(context);
    PlatDeleteFile((std::string(scan.folder) + "/" + entry.name).c_str());
}

void CollectPlain(const PlatLogFileEntry& entry, void* context) {
    const FolderScan& scan = *static_cast<FolderScan*>(context);
    scan.plain->push_back(std::string(scan.folder) + "/" + entry.name);
}

}  // namespace

bool GzipFile(const char* path, const std::atomic<bool>* stop) {
    std::string temporary = std::string(path) + ".gz.tmp";
    std::string final = std::string(path) + ".gz";
    FILE* in = fopen(path, "rb");
    if (in == nullptr) return false;
    FILE* out = fopen(temporary.c_str(), "wb");
    if (out == nullptr) {
        fclose(in);
        return false;
    }
    // A name met again (the clock set back, or a crash between the rename and the deletion) adds
    // a member to the compressed file: gzip readers read the members one after the other.
    bool ok = !FileExists(final.c_str()) || CopyInto(final.c_str(), out);
    ok = ok && Deflate(in, out, stop);
    fclose(in);
    ok = PlatFlushToDisk(out) && ok;
    ok = fclose(out) == 0 && ok;
    // An original deleted meanwhile (by the age clean-up or --max-total) must not come back.
    ok = ok && FileExists(path) && PlatCopyModificationTime(path, temporary.c_str()) &&
         PlatRenameFile(temporary.c_str(), final.c_str());
    if (!ok) {
        PlatDeleteFile(temporary.c_str());
        return false;
    }
    PlatDeleteFile(path);
    return true;
}

void QueueLeftoverLogFiles(const char* folder) {
    std::vector<std::string> plain;
    FolderScan scan = {folder, &plain};
    PlatListLogFiles(folder, RemovePartial, &scan, kPlatLogPartial);
    PlatListLogFiles(folder, CollectPlain, &scan, kPlatLogPlain);
    std::sort(plain.begin(), plain.end());
    int64_t now = PlatMonotonicMilliseconds();
    std::lock_guard<std::mutex> hold(compressor.lock);
    for (std::string& path : plain) compressor.queue.push_back({std::move(path), now});
}

bool StartCompressor() {
    compressor.stopping = false;
    compressor.abandon = false;
    compressor.closing = false;
    compressor.thread = PlatThreadStart(CompressorBody, 0);
    return compressor.thread != nullptr;
}

void CompressLater(const char* path) {
    std::lock_guard<std::mutex> hold(compressor.lock);
    compressor.queue.push_back({path, PlatMonotonicMilliseconds()});
    compressor.changed.notify_all();
}

void StopCompressor(int timeoutMs) {
    if (compressor.thread == nullptr) return;
    {
        std::unique_lock<std::mutex> hold(compressor.lock);
        compressor.closing = true;
        compressor.stopping = true;
        compressor.changed.notify_all();
        compressor.changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), [] {
            return compressor.queue.empty() && !compressor.working;
        });
        compressor.abandon = true;
        compressor.queue.clear();
        compressor.changed.notify_all();
    }
    PlatThreadJoin(compressor.thread);
    compressor.thread = nullptr;
}
