// Long options of the command line.
#include "control/options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "output/forward_url.h"
#include "platform/udp_socket.h"

namespace {

enum class OptionId {
    Help, Version, Syslog, Rcvbuf, Sender, Ms, Color, Bind, Forward, ForwardFacility,
    MaxTotal, KeepFree, Compress, Time, Grep, Exclude, Highlight, IgnoreCase,
};

struct OptionEntry {
    const char* name;
    OptionId id;
    bool takesValue;
};

constexpr OptionEntry kOptions[] = {
    {"help", OptionId::Help, false},         {"version", OptionId::Version, false},
    {"syslog", OptionId::Syslog, false},     {"rcvbuf", OptionId::Rcvbuf, true},
    {"sender", OptionId::Sender, false},     {"ms", OptionId::Ms, false},
    {"color", OptionId::Color, true},        {"colour", OptionId::Color, true},
    {"bind", OptionId::Bind, true},          {"forward", OptionId::Forward, true},
    {"forward-facility", OptionId::ForwardFacility, true},
    {"max-total", OptionId::MaxTotal, true}, {"keep-free", OptionId::KeepFree, true},
    {"compress", OptionId::Compress, false},
    {"time", OptionId::Time, true},          {"grep", OptionId::Grep, true},
    {"exclude", OptionId::Exclude, true},    {"highlight", OptionId::Highlight, true},
    {"ignore-case", OptionId::IgnoreCase, false},
};

const char* const kFacilityNames[] = {
    "kern",   "user",   "mail",   "daemon", "auth",   "syslog", "lpr",    "news",
    "uucp",   "cron",   "authpriv", "ftp",  "ntp",    "security", "console", "solaris-cron",
    "local0", "local1", "local2", "local3", "local4", "local5", "local6", "local7",
};

const OptionEntry* FindOption(const char* name, size_t nameLength) {
    for (const OptionEntry& option : kOptions) {
        if (strlen(option.name) == nameLength && strncmp(option.name, name, nameLength) == 0)
            return &option;
    }
    return nullptr;
}

// A whole decimal number from 1 to INT32_MAX, nothing else.
bool ParsePositive(const char* text, int32_t* out) {
    if (*text < '0' || *text > '9') return false;
    int64_t value = 0;
    for (const char* at = text; *at != '\0'; ++at) {
        if (*at < '0' || *at > '9') return false;
        value = value * 10 + (*at - '0');
        if (value > INT32_MAX) return false;
    }
    if (value < 1) return false;
    *out = static_cast<int32_t>(value);
    return true;
}

// Adds a pattern's text; it is compiled once every option is read (--ignore-case may come later).
bool AddPatternText(PatternOptions& patterns, const char* value) {
    if (patterns.count == kMaxPatternsPerRole) return false;
    patterns.texts[patterns.count++] = value;
    return true;
}

bool ApplyValue(OptionId id, const char* value, RunOptions& options, OutputSettings& output) {
    ForwardUrl url;
    switch (id) {
    case OptionId::Rcvbuf:
        return ParsePositive(value, &options.receiveBufferBytes);
    case OptionId::Color:
        if (strcmp(value, "auto") == 0) output.colors = ConsoleColors::Auto;
        else if (strcmp(value, "always") == 0) output.colors = ConsoleColors::Always;
        else if (strcmp(value, "never") == 0) output.colors = ConsoleColors::Never;
        else return false;
        return true;
    case OptionId::Bind:
        if (strlen(value) >= sizeof options.bindAddress || !PlatIsNumericAddress(value)) return false;
        strcpy(options.bindAddress, value);
        return true;
    case OptionId::Forward:
        if (options.forwardCount >= kMaxForwardTargets || strlen(value) >= kForwardUrlSize ||
            !ParseForwardUrl(value, &url))
            return false;
        strcpy(options.forwardUrls[options.forwardCount++], value);
        return true;
    case OptionId::ForwardFacility:
        options.forwardFacility = ParseFacility(value);
        return options.forwardFacility >= 0;
    case OptionId::MaxTotal:
    case OptionId::KeepFree: {
        char* text = id == OptionId::MaxTotal ? options.maxTotal : options.keepFree;
        uint64_t bytes = 0;
        if (strlen(value) >= kByteSizeTextSize || !ParseByteSize(value, &bytes)) return false;
        strcpy(text, value);
        return true;
    }
    case OptionId::Time:
        options.milliseconds = false;
        return ParseTimeForm(value, &options.timeForm);
    case OptionId::Grep: return AddPatternText(options.grep, value);
    case OptionId::Exclude: return AddPatternText(options.exclude, value);
    case OptionId::Highlight: return AddPatternText(options.highlight, value);
    default:
        return false;
    }
}

void ApplyFlag(OptionId id, RunOptions& options, OutputSettings& output) {
    switch (id) {
    case OptionId::Help: options.help = true; break;
    case OptionId::Version: options.version = true; break;
    case OptionId::Syslog: options.syslogMode = true; break;
    case OptionId::Sender: output.showSender = true; break;
    case OptionId::Ms:
        options.milliseconds = true;
        options.timeForm = TimeForm::Ms;
        break;
    case OptionId::IgnoreCase: options.ignoreCase = true; break;
    case OptionId::Compress: options.compress = true; break;
    default: break;
    }
}

void ResetOptions(RunOptions& options) {
    memset(&options, 0, sizeof options);
    options.receiveBufferBytes = kDefaultReceiveBufferBytes;
    options.forwardFacility = 1;
    options.timeForm = TimeForm::Hms;
}

OptionsResult Refuse() { return {false, 2}; }

}  // namespace

int ParseFacility(const char* text) {
    int32_t number = -1;
    if (strcmp(text, "0") == 0) return 0;
    if (ParsePositive(text, &number)) return number <= 23 ? number : -1;
    for (int i = 0; i < 24; ++i) {
        if (strcmp(text, kFacilityNames[i]) == 0) return i;
    }
    return -1;
}

OptionsResult ParseOptions(int argc, char** argv, const char* noColor, RunOptions& options,
                           OutputSettings& output) {
    ResetOptions(options);
    output.showSender = false;
    output.colors = ConsoleColors::Auto;
    bool colorGiven = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        bool isOption = !optionsEnded && argument[0] == '-' &&
                        (argument[1] == '-' || strcmp(argument, "-h") == 0);
        if (!isOption) {
            if (options.positionalCount < kMaxPositionalArguments)
                options.positional[options.positionalCount++] = argument;
            continue;
        }
        if (strcmp(argument, "--") == 0) {
            optionsEnded = true;
            continue;
        }
        if (strcmp(argument, "-h") == 0) {
            options.help = true;
            continue;
        }
        const char* name = argument + 2;
        const char* equals = strchr(name, '=');
        size_t nameLength = equals != nullptr ? static_cast<size_t>(equals - name) : strlen(name);
        const OptionEntry* option = FindOption(name, nameLength);
        if (option == nullptr) {
            fprintf(stderr, "udptrail: unrecognized option '%s'\n", argument);
            return Refuse();
        }
        if (!option->takesValue) {
            if (equals != nullptr) {
                fprintf(stderr, "udptrail: option '--%s' doesn't allow an argument\n", option->name);
                return Refuse();
            }
            ApplyFlag(option->id, options, output);
            continue;
        }
        const char* value = equals != nullptr ? equals + 1 : nullptr;
        if (value == nullptr && i + 1 < argc) value = argv[++i];
        if (value == nullptr) {
            fprintf(stderr, "udptrail: option '--%s' requires an argument\n", option->name);
            return Refuse();
        }
        if (!ApplyValue(option->id, value, options, output)) {
            fprintf(stderr, "udptrail: invalid value '%s' for option '--%s'\n", value, option->name);
            return Refuse();
        }
        if (option->id == OptionId::Color) colorGiven = true;
    }
    if (!colorGiven && noColor != nullptr && noColor[0] != '\0') output.colors = ConsoleColors::Never;
    return {true, 0};
}
