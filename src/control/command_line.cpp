// Start-up: defaults, command-line arguments, usage text and the settings banner.
#include "control/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "control/help_text.h"
#include "control/pattern_options.h"
#include "output/byte_size.h"
#include "output/debug_ui.h"
#include "platform/files.h"

namespace {

void PrintUsage() {
    printf("Usage: udptrail Port <debugFolder: default: current folder> <logFileSize> "
           "<log retention days: default30 day>\r\n");
    printf("       E.g. udptrail 12345 \"c:\\temp\" \r\n");
    printf("       Press \"q\" to quit the progam!\r\n");
}

void PrintBanner(const LogSettings& settings) {
    printf(" =========================================================================\n");
    printf("|                        UDP Trace logging                                |\n");
    printf("|_________________________________________________________________________|\n");
    printf("\tLog file name: udplog_YYYYMMDDHHMMSS.log\n");
    printf("\tLog folder: %s \n", settings.debugFolder);
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

}  // namespace

int32_t ConvertNumber(const char* text) {
    const char* at = text;
    while (*at == ' ' || (*at >= '\t' && *at <= '\r')) ++at;
    bool negative = false;
    if (*at == '+' || *at == '-') negative = *at++ == '-';
    int64_t value = 0;
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    for (; *at >= '0' && *at <= '9'; ++at) {
        value = value * 10 + (*at - '0');
        if (value > limit) {
            value = limit;  // saturated; the remaining digits change nothing
            while (*at >= '0' && *at <= '9') ++at;
            break;
        }
    }
    return static_cast<int32_t>(negative ? -value : value);
}

StartupResult ReadCommandLine(int argc, char** argv, LogSettings& settings, CDebugUI& writer) {
    DefaultFolder(settings);
    settings.logFileSize = kDefaultLogFileSize;
    settings.retentionDays = kDefaultRetentionDays;

    const RunOptions& options = settings.options;
    OptionsResult parsed = ParseOptions(argc, argv, getenv("NO_COLOR"), settings.options);
    if (parsed.proceed && !CompilePatternOptions(options)) parsed = {false, 2};
    if (!parsed.proceed) {
        PrintUsage();
        return {false, parsed.exitCode};
    }
    if (options.help) {
        PrintHelp();
        return {false, 0};
    }
    if (options.version) {
        PrintVersion();
        return {false, 0};
    }
    if (options.positionalCount == 0) {
        PrintUsage();
        return {false, 0};
    }

    const char* const* arguments = options.positional;
    int count = options.positionalCount;
    settings.port = ConvertNumber(arguments[0]);
    // An empty folder argument means the current folder, as a missing one does.
    if (count > 1 && arguments[1][0] != '\0') {
        // A log path must fit its 256-byte buffer; a cut folder name would send the logs to a
        // folder nobody named, so such a folder is refused outright.
        if (strlen(arguments[1]) > static_cast<size_t>(kMaxDebugFolderLength)) {
            printf("Error: log folder name is longer than %d characters, exit\r\n",
                   kMaxDebugFolderLength);
            return {false, 255};
        }
        memset(settings.debugFolder, 0, sizeof settings.debugFolder);
        strncpy(settings.debugFolder, arguments[1], sizeof settings.debugFolder - 1);
    }

    if (!ApplyFolderLimits(settings, count > 2 ? ConvertNumber(arguments[2]) : settings.logFileSize)) {
        PrintUsage();
        return {false, 2};
    }
    settings.timeForm = options.timeForm;
    settings.showSender = options.showSender;
    settings.colors = options.color == ColorMode::Always  ? ConsoleColors::Always
                      : options.color == ColorMode::Never ? ConsoleColors::Never
                                                          : ConsoleColors::Auto;
    writer.Init(settings);
    PrintBanner(settings);
    if (count > 2) settings.logFileSize = ConvertNumber(arguments[2]);
    printf("\tMax file size: %d\n", settings.logFileSize);
    if (count > 3) settings.retentionDays = ConvertNumber(arguments[3]);
    printf("\tRetention period: %d days\n", settings.retentionDays);
    if (settings.maxTotalBytes > 0) printf("\tMax total: %s\n", settings.maxTotalText);
    if (settings.keepFreeBytes > 0) printf("\tKeep free: %s\n", settings.keepFreeText);
    if (settings.compress) printf("\tCompress: gzip\n");
    for (int i = 0; i < options.forwardCount; ++i) printf("\tForward to: %s\n", options.forwardUrls[i]);
    printf("\tPress 'q' to quit the program!!!\n");
    return {true, 0};
}

void PrintListeningLine(const LogSettings& settings) {
    if (settings.options.bindAddress[0] != '\0')
        printf("\nStart listening port:%d on %s...\n", settings.port, settings.options.bindAddress);
    else
        printf("\nStart listening port:%d...\n", settings.port);
    if (settings.options.syslogMode) printf("Mode: syslog (one message per datagram)\n");
    printf("\n");
}
