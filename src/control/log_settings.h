// The run's settings: filled once at start-up from the command line, read-only afterwards.
#pragma once

#include <cstdint>

#include "control/options.h"
#include "output/output_settings.h"

struct LogSettings : OutputSettings {
    int32_t port;        // 1..65535, as checked on the command line
    RunOptions options;  // the long options
};

extern LogSettings logSettings;
