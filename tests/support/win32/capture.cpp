// Console capture built on the C runtime's descriptors of Windows.
#include "support/capture.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

#include "support/win32/temp_name.h"

namespace testing_support {

namespace {

// A file that the system deletes once its last descriptor is closed.
int MakeCaptureFile() {
    std::string name = UniqueTempName("udptrail_capture_");
    int fd = _open(name.c_str(), _O_RDWR | _O_BINARY | _O_CREAT | _O_EXCL | _O_TEMPORARY, 0600);
    if (fd < 0) {
        perror("_open");
        abort();
    }
    return fd;
}

std::string ReadWhole(int fd) {
    std::string text;
    char block[4096];
    _lseek(fd, 0, SEEK_SET);
    for (;;) {
        int got = _read(fd, block, sizeof block);
        if (got <= 0) break;
        text.append(block, static_cast<size_t>(got));
    }
    return text;
}

}  // namespace

// Descriptors 1 and 2 are pointed at binary files, so the capture holds the bytes as written,
// without the CR that text mode would add before each line feed.
OutputCapture::OutputCapture() {
    fflush(stdout);
    fflush(stderr);
    outFd = MakeCaptureFile();
    errFd = MakeCaptureFile();
    savedOut = _dup(1);
    savedErr = _dup(2);
    _dup2(outFd, 1);
    _dup2(errFd, 2);
    running = true;
}

void OutputCapture::Stop() {
    if (!running) return;
    fflush(stdout);
    fflush(stderr);
    _dup2(savedOut, 1);
    _dup2(savedErr, 2);
    _close(savedOut);
    _close(savedErr);
    out = ReadWhole(outFd);
    err = ReadWhole(errFd);
    _close(outFd);
    _close(errFd);
    running = false;
}

OutputCapture::~OutputCapture() { Stop(); }

}  // namespace testing_support
