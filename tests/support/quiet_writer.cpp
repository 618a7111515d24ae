// A writer logging into a fresh folder with standard output on /dev/null.
#include "support/quiet_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "support/writer.h"

namespace testing_support {

QuietWriter::QuietWriter() : settings(MakeSettings(folder.Path())) {
    savedStdout = dup(STDOUT_FILENO);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
    writer.Init(settings);
}

QuietWriter::~QuietWriter() {
    writer.CloseLogFile();
    dup2(savedStdout, STDOUT_FILENO);
    close(savedStdout);
}

}  // namespace testing_support
