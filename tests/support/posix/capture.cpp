// Console capture built on POSIX descriptors.
#include "support/capture.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace testing_support {

static int MakeCaptureFile() {
    char pattern[] = "/tmp/udptrail_capture_XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) {
        perror("mkstemp");
        abort();
    }
    unlink(pattern);
    return fd;
}

static std::string ReadWhole(int fd) {
    std::string text;
    char block[4096];
    lseek(fd, 0, SEEK_SET);
    for (;;) {
        const ssize_t got = read(fd, block, sizeof block);
        if (got <= 0) break;
        text.append(block, static_cast<size_t>(got));
    }
    return text;
}

OutputCapture::OutputCapture() {
    fflush(stdout);
    fflush(stderr);
    outFd = MakeCaptureFile();
    errFd = MakeCaptureFile();
    savedOut = dup(STDOUT_FILENO);
    savedErr = dup(STDERR_FILENO);
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    running = true;
}

void OutputCapture::Stop() {
    if (!running) return;
    fflush(stdout);
    fflush(stderr);
    dup2(savedOut, STDOUT_FILENO);
    dup2(savedErr, STDERR_FILENO);
    close(savedOut);
    close(savedErr);
    out = ReadWhole(outFd);
    err = ReadWhole(errFd);
    close(outFd);
    close(errFd);
    running = false;
}

OutputCapture::~OutputCapture() { Stop(); }

}  // namespace testing_support
