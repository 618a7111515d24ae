// Capture of what a test's own process writes to its standard output and standard error.
#pragma once

#include <string>

namespace testing_support {

/// Sends everything written to file descriptors 1 and 2 (printf, fprintf(stderr), raw writes) into
/// temporary files until Stop; the captured bytes are then in Out() and Err(). Keep assertions
/// outside the captured span: a failure message printed inside it would be captured too.
class OutputCapture {
public:
    OutputCapture();
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    void Stop();
    const std::string& Out() const { return out; }
    const std::string& Err() const { return err; }

private:
    int savedOut = -1;
    int savedErr = -1;
    int outFd = -1;
    int errFd = -1;
    bool running = false;
    std::string out;
    std::string err;
};

}  // namespace testing_support
