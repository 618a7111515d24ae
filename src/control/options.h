// Long options of the command line: `--name`, `--name=value` or `--name value`, anywhere among the
// positional arguments, which are handed back in their order.
#pragma once

#include <cstdint>

#include "output/byte_size.h"
#include "output/line_filter.h"
#include "output/output_settings.h"
#include "output/time_prefix.h"

constexpr int kMaxPositionalArguments = 8;
constexpr int kMaxForwardTargets = 8;
constexpr int kForwardUrlSize = 256;
constexpr int kBindAddressSize = 64;
constexpr int32_t kDefaultReceiveBufferBytes = 4 * 1024 * 1024;

/// The patterns given for one of --grep, --exclude and --highlight, in their order.
struct PatternOptions {
    const char* texts[kMaxPatternsPerRole];
    int count;
};

struct RunOptions {
    bool help;                 // -h or --help
    bool version;              // --version
    bool syslogMode;           // --syslog: one message per datagram
    int32_t receiveBufferBytes;  // --rcvbuf
    bool milliseconds;         // --ms
    TimeForm timeForm;         // --time (--ms: Ms)
    PatternOptions grep;       // --grep, repeatable
    PatternOptions exclude;    // --exclude, repeatable
    PatternOptions highlight;  // --highlight, repeatable
    bool ignoreCase;           // --ignore-case
    char bindAddress[kBindAddressSize];  // --bind; empty: every IPv4 address
    int forwardCount;          // --forward, repeatable
    char forwardUrls[kMaxForwardTargets][kForwardUrlSize];
    int forwardFacility;       // --forward-facility, 0..23; 1 (user) by default
    char maxTotal[kByteSizeTextSize];  // --max-total SIZE as given; empty: no cap
    char keepFree[kByteSizeTextSize];  // --keep-free SIZE as given; empty: none
    bool compress;             // --compress

    const char* positional[kMaxPositionalArguments];  // the other arguments, in order
    int positionalCount;
};

/// Result of ParseOptions: go on, or end with `exitCode` (2 for a bad option, with its message
/// already on standard error).
struct OptionsResult {
    bool proceed;
    int exitCode;
};

/// Fills `options` from the arguments (argv[0] is skipped) and `noColor`, the value of the
/// NO_COLOR environment variable (nullptr when unset); what the writer reads of them (--sender,
/// --color) goes to `output` instead, and is kept there alone. A bad option or value prints one line naming
/// it on standard error and the usage text on standard output, and asks for exit code 2. Positional
/// arguments beyond kMaxPositionalArguments are ignored, as surplus ones always were.
OptionsResult ParseOptions(int argc, char** argv, const char* noColor, RunOptions& options,
                           OutputSettings& output);

/// The number a facility name or number stands for (0..23), or -1.
int ParseFacility(const char* text);
