// Start-up: defaults, command-line arguments, usage text and the settings banner.
#include "control/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "control/exit_codes.h"
#include "control/help_text.h"
#include "control/pattern_options.h"
#include "output/byte_size.h"
#include "platform/files.h"

namespace {

void PrintUsage() {
    printf("Usage: udptrail Port <debugFolder: default: current folder> <logFileSize> "
           "<log retention days: default30 day>\r\n");
    printf("       E.g. udptrail 12345 \"c:\\temp\" \r\n");
    printf("       Press \"q\" to quit the progam!\r\n");
}

// The current directory is the default log folder, unless it cannot be read or its log file
// paths would not fit; then the fallback folder is used, with a warning.
void DefaultFolder(LogSettings& settings) {
    bool found = PlatCurrentDirectory(settings.debugFolder, sizeof settings.debugFolder) &&
                 strlen(settings.debugFolder) <= static_cast<size_t>(kMaxDebugFolderLength);
    if (!found) {
        printf("\tWaring: Could not get current running folder!!!\n");
        memset(settings.debugFolder, 0, sizeof settings.debugFolder);
        strncpy(settings.debugFolder, PlatFallbackLogFolder(), sizeof settings.debugFolder - 1);
    }
}

// Takes --max-total, --keep-free and --compress into the settings; false (with one line on
// standard error) for a cap that could not hold even one log file of `logFileSize` KiB.
bool ApplyFolderLimits(LogSettings& settings, int32_t logFileSize) {
    const RunOptions& options = settings.options;
    settings.compress = options.compress;
    if (options.keepFree[0] != '\0' && ParseByteSize(options.keepFree, &settings.keepFreeBytes))
        strcpy(settings.keepFreeText, options.keepFree);
    if (options.maxTotal[0] == '\0' || !ParseByteSize(options.maxTotal, &settings.maxTotalBytes))
        return true;
    strcpy(settings.maxTotalText, options.maxTotal);
    if (logFileSize > 0 && settings.maxTotalBytes < static_cast<uint64_t>(logFileSize) * 1024) {
        fprintf(stderr, "udptrail: --max-total %s is smaller than one log file (%d KiB)\n",
                options.maxTotal, logFileSize);
        return false;
    }
    return true;
}

struct NumberRule {
    const char* name;     // as the usage text names the argument
    const char* meaning;  // what a valid value is, for the refusal
    bool signAllowed;
    int64_t low;
    int64_t high;
};

const NumberRule& RuleOf(NumberArgument which) {
    static const NumberRule kRules[] = {
        {"Port", "a whole number from 1 to 65535", false, 1, 65535},
        {"logFileSize", "a whole number of KiB", true, INT32_MIN, INT32_MAX},
        {"retentionDays", "a whole number of days", true, INT32_MIN, INT32_MAX},
    };
    return kRules[static_cast<int>(which)];
}

// Reads the numeric argument at `index`, if given, into `*value`; false, with the refusal on
// standard error, when it is no valid value.
bool ReadNumberAt(const RunOptions& options, int index, NumberArgument which, int32_t* value) {
    if (index >= options.positionalCount) return true;
    const char* text = options.positional[index];
    if (ReadNumberArgument(which, text, value)) return true;
    const NumberRule& rule = RuleOf(which);
    fprintf(stderr, "udptrail: invalid value '%s' for %s (%s)\n", text, rule.name, rule.meaning);
    return false;
}

}  // namespace

bool ReadNumberArgument(NumberArgument which, const char* text, int32_t* value) {
    const NumberRule& rule = RuleOf(which);
    const char* at = text;
    bool negative = false;
    if (rule.signAllowed && (*at == '+' || *at == '-')) negative = *at++ == '-';
    if (*at == '\0') return false;
    int64_t magnitude = 0;
    for (; *at != '\0'; ++at) {
        if (*at < '0' || *at > '9') return false;
        magnitude = magnitude * 10 + (*at - '0');
        if (magnitude > rule.high + 1) return false;  // out of range, and far from overflowing
    }
    int64_t number = negative ? -magnitude : magnitude;
    if (number < rule.low || number > rule.high) return false;
    *value = static_cast<int32_t>(number);
    return true;
}

StartupResult ReadCommandLine(int argc, char** argv, LogSettings& settings) {
    DefaultFolder(settings);
    settings.logFileSize = kDefaultLogFileSize;
    settings.retentionDays = kDefaultRetentionDays;

    const RunOptions& options = settings.options;
    OptionsResult parsed = ParseOptions(argc, argv, getenv("NO_COLOR"), settings.options, settings);
    if (parsed.proceed && !CompilePatternOptions(options)) parsed = {false, 2};
    if (!parsed.proceed) {
        PrintUsage();
        return {false, parsed.exitCode};
    }
    if (options.help) {
        PrintHelp();
        return {false, kExitQuit};
    }
    if (options.version) {
        PrintVersion();
        return {false, kExitQuit};
    }
    if (options.positionalCount == 0) {
        PrintUsage();
        return {false, kExitQuit};
    }

    // Every number is checked before anything is done: a typo must not become a retention of 0
    // days, which would delete every log file at once.
    if (!ReadNumberAt(options, 0, NumberArgument::Port, &settings.port) ||
        !ReadNumberAt(options, 2, NumberArgument::LogFileSize, &settings.logFileSize) ||
        !ReadNumberAt(options, 3, NumberArgument::RetentionDays, &settings.retentionDays)) {
        PrintUsage();
        return {false, kExitBadArgument};
    }
    // An empty folder argument means the current folder, as a missing one does.
    const char* folder = options.positionalCount > 1 ? options.positional[1] : "";
    if (folder[0] != '\0') {
        // A log path must fit its buffer; a cut folder name would send the logs to a folder
        // nobody named, so such a folder is refused outright.
        if (strlen(folder) > static_cast<size_t>(kMaxDebugFolderLength)) {
            printf("Error: log folder name is longer than %d characters, exit\r\n",
                   kMaxDebugFolderLength);
            return {false, kExitCouldNotStart};
        }
        memset(settings.debugFolder, 0, sizeof settings.debugFolder);
        strncpy(settings.debugFolder, folder, sizeof settings.debugFolder - 1);
    }

    if (!ApplyFolderLimits(settings, settings.logFileSize)) {
        PrintUsage();
        return {false, kExitBadArgument};
    }
    settings.timeForm = options.timeForm;
    return {true, kExitQuit};
}

void PrintBanner(const LogSettings& settings) {
    printf(" =========================================================================\n");
    printf("|                        UDP Trace logging                                |\n");
    printf("|_________________________________________________________________________|\n");
    printf("\tLog file name: udplog_YYYYMMDDHHMMSS.log\n");
    printf("\tLog folder: %s \n", settings.debugFolder);
    printf("\tMax file size: %d\n", settings.logFileSize);
    printf("\tRetention period: %d days\n", settings.retentionDays);
    if (settings.maxTotalBytes > 0) printf("\tMax total: %s\n", settings.maxTotalText);
    if (settings.keepFreeBytes > 0) printf("\tKeep free: %s\n", settings.keepFreeText);
    if (settings.compress) printf("\tCompress: gzip\n");
    const RunOptions& options = settings.options;
    for (int i = 0; i < options.forwardCount; ++i) printf("\tForward to: %s\n", options.forwardUrls[i]);
    printf("\tPress 'q' to quit the program!!!\n");
}

void PrintListeningLine(const LogSettings& settings, int port) {
    if (settings.options.bindAddress[0] != '\0')
        printf("\nStart listening port:%d on %s...\n", port, settings.options.bindAddress);
    else
        printf("\nStart listening port:%d...\n", port);
    if (settings.options.syslogMode) printf("Mode: syslog (one message per datagram)\n");
    printf("\n");
}
