// udptrail-send: sends lines of text, each in a chosen colour, to a udptrail server over UDP.
// The datagrams, the opening and the retry after a refusal are the client header's.
#include "udptrail_client.h"

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "send_options.h"

namespace {

// The exit codes, as --help, the manual page and docs/ecosystem.md list them.
constexpr int kExitSent = 0;
constexpr int kExitSendFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitUnknownHost = 3;

void PrintUsage(FILE* stream) {
    std::fprintf(
        stream,
        "Usage: udptrail-send [-c COLOUR] HOST:PORT [TEXT...]\n"
        "Sends each TEXT, or each line of standard input when no TEXT is given, as one line to\n"
        "the udptrail server at HOST:PORT (an IPv4 address, a host name, or an IPv6\n"
        "address in brackets: [::1]:PORT).\n"
        "\n"
        "  -c COLOUR      colour of the lines (default grey, the normal colour):\n"
        "                 black blue green cyan red magenta brown grey dark-grey light-blue\n"
        "                 light-green light-cyan light-red light-magenta yellow white,\n"
        "                 each optionally followed by -on-blue; or an attribute 0-31, or a\n"
        "                 marker byte 224-255 (0xe0-0xff)\n"
        "  -h, --help     show this text\n"
        "  -V, --version  show the version\n"
        "\n"
        "Exit status:\n"
        "  0  every line was sent\n"
        "  1  a line could not be sent, the port refused a line (nothing listening there),\n"
        "     or standard input could not be read\n"
        "  2  bad usage: an unknown option or colour, HOST:PORT missing or malformed\n"
        "  3  HOST could not be resolved to an address\n");
}

struct Sender {
    int socketHandle;
    const char* target;  // HOST:PORT as given, for messages
    int refused;         // a line was refused: nothing listened on the port
};

void ReportRefusal(Sender& sender, bool wasRefused) {
    if (!wasRefused && sender.refused)
        std::fprintf(stderr, "udptrail-send: %s refused a line: is udptrail listening there?\n",
                     sender.target);
}

// Sends one datagram. A refusal is reported once and the lines go on, so a server that starts
// later gets the rest; any other failure ends the run.
bool SendDatagram(Sender& sender, const char* datagram, size_t length) {
    bool wasRefused = sender.refused != 0;
    int result = UdpTrailSendDatagram(sender.socketHandle, datagram, length, &sender.refused);
    int error = errno;
    ReportRefusal(sender, wasRefused);
    if (result == 0 || error == ECONNREFUSED) return true;
    std::fprintf(stderr, "udptrail-send: cannot send to %s: %s\n", sender.target,
                 std::strerror(error));
    return false;
}

// A refusal of the last line is known only after it left; from this machine it is known at once,
// so one look without waiting catches a server that is not running here.
void CheckLastLine(Sender& sender) {
    int error = 0;
    socklen_t size = sizeof error;
    bool wasRefused = sender.refused != 0;
    if (getsockopt(sender.socketHandle, SOL_SOCKET, SO_ERROR, &error, &size) == 0 &&
        error == ECONNREFUSED)
        sender.refused = 1;
    ReportRefusal(sender, wasRefused);
}

// Sends every line of `length` bytes of `text`, each as its own datagram.
bool SendText(Sender& sender, int attribute, const char* text, size_t length) {
    char datagram[UDPTRAIL_MAX_DATAGRAM];
    do {
        size_t used = 0;
        size_t lineLength = NextLine(text, length, &used);
        size_t datagramLength = UdpTrailBuildDatagram(attribute, text, lineLength, datagram);
        if (!SendDatagram(sender, datagram, datagramLength)) return false;
        text += used;
        length -= used;
    } while (length > 0);
    return true;
}

bool SendStandardInput(Sender& sender, int attribute) {
    char* line = nullptr;
    size_t room = 0;
    ssize_t length;
    bool ok = true;
    while (ok && (length = getline(&line, &room, stdin)) > 0) {
        ok = SendText(sender, attribute, line, static_cast<size_t>(length));
    }
    if (ok && std::ferror(stdin)) {
        std::fprintf(stderr, "udptrail-send: cannot read standard input: %s\n",
                     std::strerror(errno));
        ok = false;
    }
    std::free(line);
    return ok;
}

int OpenSender(const char* host, int port, const char* target, Sender* sender) {
    int lookupError = 0;
    int socketHandle = UdpTrailConnect(host, port, &lookupError);
    if (socketHandle >= 0) {
        *sender = Sender{socketHandle, target, 0};
        return kExitSent;
    }
    if (lookupError != 0) {
        std::fprintf(stderr, "udptrail-send: cannot resolve '%s' to an address: %s\n", host,
                     lookupError == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(lookupError));
        return kExitUnknownHost;
    }
    std::fprintf(stderr, "udptrail-send: cannot reach %s: %s\n", target, std::strerror(errno));
    return kExitSendFailed;
}

}  // namespace

int main(int argc, char** argv) {
    static const option kLongOptions[] = {
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {"colour", required_argument, nullptr, 'c'},
        {"color", required_argument, nullptr, 'c'},
        {nullptr, 0, nullptr, 0},
    };
    int attribute = UDPTRAIL_NORMAL;
    int choice;
    opterr = 0;
    // "+": options stop at HOST:PORT, so a TEXT may begin with a minus sign.
    while ((choice = getopt_long(argc, argv, "+c:hV", kLongOptions, nullptr)) != -1) {
        switch (choice) {
            case 'c':
                if (!ParseColour(optarg, &attribute)) {
                    std::fprintf(stderr,
                                 "udptrail-send: unknown colour '%s' (try -h for the names)\n",
                                 optarg);
                    return kExitUsage;
                }
                break;
            case 'h':
                PrintUsage(stdout);
                return kExitSent;
            case 'V':
                std::printf("udptrail-send %s\n", UDPTRAIL_VERSION);
                return kExitSent;
            default:
                if (optopt == 'c') {
                    std::fprintf(stderr, "udptrail-send: -c needs a colour\n");
                } else if (optopt != 0) {
                    std::fprintf(stderr, "udptrail-send: unknown option '-%c'\n", optopt);
                } else {
                    std::fprintf(stderr, "udptrail-send: unknown option '%s'\n", argv[optind - 1]);
                }
                PrintUsage(stderr);
                return kExitUsage;
        }
    }
    if (optind >= argc) {
        std::fprintf(stderr, "udptrail-send: HOST:PORT is missing\n");
        PrintUsage(stderr);
        return kExitUsage;
    }

    const char* target = argv[optind++];
    char host[kMaxHostLength + 1];
    int port = 0;
    if (!ParseTarget(target, host, &port)) {
        std::fprintf(stderr,
                     "udptrail-send: bad address '%s': expected HOST:PORT with a port 1-65535\n",
                     target);
        return kExitUsage;
    }

    Sender sender{};
    int opened = OpenSender(host, port, target, &sender);
    if (opened != kExitSent) return opened;

    bool ok = true;
    if (optind == argc) {
        ok = SendStandardInput(sender, attribute);
    } else {
        for (int i = optind; ok && i < argc; ++i) {
            ok = SendText(sender, attribute, argv[i], std::strlen(argv[i]));
        }
    }
    if (ok) CheckLastLine(sender);
    UdpTrailClose(sender.socketHandle);
    if (!ok || sender.refused) return kExitSendFailed;
    return kExitSent;
}
