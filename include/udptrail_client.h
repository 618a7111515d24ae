/* Sends coloured, printf-formatted lines to a udptrail server over UDP; for C and C++ programs. */
#ifndef UDPTRAIL_CLIENT_H
#define UDPTRAIL_CLIENT_H

/* Use:  int sender = UdpTrailOpen("127.0.0.1", 5000);
 *       UdpTrailSend(sender, UDPTRAIL_GREEN, "boot ok after %d ms", elapsed);
 *       UdpTrailClose(sender);
 * Each line goes out as one datagram: the colour's marker byte, the text, a line feed. UDP does
 * not wait for the server: a line sent while no server listens is lost without an error. */

#include <errno.h>
#include <netdb.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

/* Colours 0-15 are foreground colours on black; add UDPTRAIL_ON_BLUE for a blue background. */
enum {
    UDPTRAIL_BLACK, UDPTRAIL_BLUE, UDPTRAIL_GREEN, UDPTRAIL_CYAN, UDPTRAIL_RED, UDPTRAIL_MAGENTA,
    UDPTRAIL_BROWN, UDPTRAIL_GREY, UDPTRAIL_DARK_GREY, UDPTRAIL_LIGHT_BLUE, UDPTRAIL_LIGHT_GREEN,
    UDPTRAIL_LIGHT_CYAN, UDPTRAIL_LIGHT_RED, UDPTRAIL_LIGHT_MAGENTA, UDPTRAIL_YELLOW, UDPTRAIL_WHITE,
    UDPTRAIL_ON_BLUE = 16,
    UDPTRAIL_NORMAL = UDPTRAIL_GREY
};

/* Opens a sender for host:port (an IPv4 address or host name). Returns a handle, or -1. */
static inline int UdpTrailOpen(const char* host, int port)
{
    struct addrinfo hints, *found;
    char service[16];
    int sender;
    if (port < 1 || port > 65535) return -1;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    snprintf(service, sizeof service, "%d", port);
    if (getaddrinfo(host, service, &hints, &found) != 0) return -1;
    sender = socket(AF_INET, SOCK_DGRAM, 0);
    if (sender >= 0 && connect(sender, found->ai_addr, found->ai_addrlen) != 0) {
        close(sender);
        sender = -1;
    }
    freeaddrinfo(found);
    return sender;
}

/* Sends the formatted text as one line in `colour` (0-31). A line feed inside the text starts a
 * further line in the same colour; a final one is not needed. Text beyond 1022 bytes is cut.
 * Returns 0, or -1 when a line could not be sent. */
#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
static inline int UdpTrailSend(int sender, int colour, const char* format, ...)
{
    static const char markers[] = "\xE0\xE1\xE2\xE3\xE4\xE5\xE6\xE7\xE8\xE9\xEA\xEB\xEC\xED\xEE\xEF"
                                  "\xF0\xF1\xF2\xF3\xF4\xF5\xF6\xF7\xF8\xF9\xFA\xFB\xFC\xFD\xFE\xFF";
    char text[1023], datagram[1024];
    const char* line = text;
    int result = 0;
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    for (;;) {
        size_t length = strcspn(line, "\n");
        ssize_t sent;
        datagram[0] = markers[colour & 0x1F];
        memcpy(datagram + 1, line, length);
        datagram[length + 1] = '\n';
        sent = send(sender, datagram, length + 2, 0);
        /* A refusal reported here belongs to an earlier line (no server was listening then). */
        if (sent < 0 && errno == ECONNREFUSED) sent = send(sender, datagram, length + 2, 0);
        if (sent < 0) result = -1;
        if (line[length] == '\0' || line[length + 1] == '\0') return result;
        line += length + 1;
    }
}

/* Closes a sender opened by UdpTrailOpen. */
static inline void UdpTrailClose(int sender)
{
    if (sender >= 0) close(sender);
}

#endif
