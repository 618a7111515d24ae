// The per-line path allocates nothing and locks nothing. The counting allocator below replaces
// malloc and pthread_mutex_lock for the whole process, so this test runs in an executable of its
// own and no other test runs under it.
#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "intake/packet_queue.h"
#include "output/line_assembler.h"
#include "output/writer_sink.h"
#include "support/intake.h"
#include "support/quiet_writer.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define UDPTRAIL_COUNTING_ALLOCATOR 0  // the sanitizers bring their own allocator
#else
#define UDPTRAIL_COUNTING_ALLOCATOR 1
#endif

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
std::atomic<long> mutexLocks{0};
}  // namespace

#if UDPTRAIL_COUNTING_ALLOCATOR
// Every allocation of the process (operator new included, which comes here) and every mutex lock
// is counted while `counting` is on, then handed to the C library's own functions.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);

void* malloc(size_t size) {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
    return __libc_calloc(count, size);
}
void* realloc(void* old, size_t size) {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
    return __libc_realloc(old, size);
}
void free(void* block) { __libc_free(block); }
int pthread_mutex_lock(pthread_mutex_t* mutex) {
    using LockFunction = int (*)(pthread_mutex_t*);
    static LockFunction real = reinterpret_cast<LockFunction>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    if (counting.load(std::memory_order_relaxed)) mutexLocks.fetch_add(1);
    return real(mutex);
}
}
#endif

namespace {

using testing_support::QuietWriter;

class HotPath : public testing_support::RingTest {};

// Once the log file is open, pushing, popping, cutting and writing lines allocates nothing and
// takes no mutex, whatever the chunking (one line, many lines, lines split across chunks).
TEST_F(HotPath, WritingLinesAllocatesNothingAndLocksNothing) {
#if !UDPTRAIL_COUNTING_ALLOCATOR
    GTEST_SKIP() << "sanitizer builds replace the allocator";
#else
    QuietWriter quiet;
    static LineAssembly assembly;
    memset(&assembly, 0, sizeof assembly);
    char first[] = "\xe7opens the log file\n";
    PushPacket(first, sizeof first - 1);
    DrainQueue(assembly, WriterSink(quiet.writer));  // fopen allocates, once
    quiet.writer.HandOnBatch();
    ASSERT_NE(quiet.Logged().find(": opens the log file\n"), std::string::npos);

    char many[kQueueEntrySize];
    int manyLength = 0;
    for (int l = 0; l < 12; ++l) {
        manyLength += snprintf(many + manyLength, sizeof many - size_t(manyLength),
                               "\xe2line %02d xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n", l);
    }
    // The counters see what they must see.
    counting.store(true);
    void* volatile probe = malloc(16);
    free(probe);
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_mutex_lock(&mutex);
    pthread_mutex_unlock(&mutex);
    counting.store(false);
    ASSERT_EQ(allocations.load(), 1);
    ASSERT_EQ(mutexLocks.load(), 1);

    allocations.store(0);
    mutexLocks.store(0);
    counting.store(true);
    for (int round = 0; round < 500; ++round) {
        PushPacket("\xe7one line\n", 10);
        PushPacket(many, manyLength);
        PushPacket("\xf4split ", 7);  // a line cut in two chunks: carried over, then finished
        PushPacket("here\n", 5);
        DrainQueue(assembly, WriterSink(quiet.writer));
        quiet.writer.HandOnBatch();
    }
    counting.store(false);
    EXPECT_EQ(allocations.load(), 0);
    EXPECT_EQ(mutexLocks.load(), 0);
#endif
}

}  // namespace
