// The full help (--help, -h) and the version with its licence (--version), on standard output.
#include "control/help_text.h"

#include <cstdio>

#include "control/log_settings.h"

void PrintHelp() {
    printf("Usage: udptrail [OPTION]... Port [debugFolder [logFileSize [retentionDays]]]\n"
           "Show the trace lines that arrive on a UDP port, each in the colour its first\n"
           "byte selects, behind a time prefix; keep them in rotating log files.\n"
           "\n"
           "Arguments:\n"
           "  Port                    UDP port to listen on (required)\n"
           "  debugFolder             folder for the log files udplog_*.log, at most 229\n"
           "                          characters (default: the current folder)\n"
           "  logFileSize             size limit of one log file in KiB (default: %d)\n"
           "  retentionDays           delete log files older than this many days\n"
           "                          (default: %d; 0 or less: every closed log file)\n"
           "\n"
           "Options:\n"
           "  -h, --help              show this help, then exit\n"
           "      --version           show the version and the licence, then exit\n"
           "      --syslog            one syslog message per datagram, coloured by <PRI>\n"
           "      --rcvbuf=BYTES      receive buffer to ask for (default: 4194304)\n"
           "      --sender            show the sender's address after the time prefix\n"
           "      --ms                time prefix with milliseconds: HHMMSS.mmm\n"
           "      --color=WHEN        auto (default: on a terminal only), always or never\n"
           "      --colour=WHEN       the same as --color\n"
           "      --bind=ADDRESS      listen on this address only; :: for all IPv4 and IPv6\n"
           "      --forward=URL       also send records to URL, udp:// or tcp://HOST:PORT\n"
           "      --forward-facility=NAME\n"
           "                          syslog facility of forwarded records (default: user)\n"
           "      --max-total=SIZE    keep the log files together at most SIZE: the oldest\n"
           "                          closed ones are deleted (K, M, G, T: powers of 1024)\n"
           "      --keep-free=SIZE    keep SIZE free on the log folder's disk the same way\n"
           "Options come before or after the arguments, as --name=value or --name value;\n"
           "-- ends them. --forward may be given more than once; it sends RFC 5424\n"
           "messages. A non-empty NO_COLOR means --color=never unless --color is given.\n"
           "With --syslog a datagram may hold up to 65507 bytes; the console hides <PRI>,\n"
           "the log file keeps it. Facilities: kern user mail daemon auth syslog lpr news\n"
           "uucp cron authpriv ftp local0..local7, or a number 0-23.\n"
           "\n"
           "Keys and signals:\n"
           "  q                       quit, after writing every line already received\n"
           "  space                   pause or resume the console; the log file goes on\n"
           "  SIGINT, SIGTERM, SIGHUP, SIGQUIT\n"
           "                          quit like q\n"
           "  SIGUSR1                 print the statistics line\n"
           "  SIGTSTP, SIGCONT        suspend and resume, the terminal restored\n"
           "\n"
           "Exit status:\n"
           "  0    quit by q or a signal; no Port given (usage text); or the socket could\n"
           "       not be created or bound (message first)\n"
           "  2    a bad option or option value\n"
           "  255  the receive queue could not be allocated, the receiver thread could not\n"
           "       be started, or debugFolder is too long\n"
           "\n"
           "Example: log port 12345 into /var/tmp/traces, 10 MiB a file, for a week:\n"
           "  udptrail 12345 /var/tmp/traces 10240 7\n"
           "  printf '\\xe2boot ok\\n' > /dev/udp/127.0.0.1/12345    # a green line\n",
           kDefaultLogFileSize, kDefaultRetentionDays);
}

void PrintVersion() {
    printf("udptrail %s\n", UDPTRAIL_VERSION);
    printf("Licence: MIT. Copyright 2026 the udptrail developers. There is NO WARRANTY.\n");
}
