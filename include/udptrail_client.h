/* Sends coloured, printf-formatted lines to a udptrail server over UDP; for C and C++ programs.
 * SPDX-License-Identifier: MIT */
#ifndef UDPTRAIL_CLIENT_H
#define UDPTRAIL_CLIENT_H

/* Use:  int sender = UdpTrailOpen("127.0.0.1", 5000);
 *       UdpTrailSend(sender, UDPTRAIL_GREEN, "boot ok after %d ms", elapsed);
 *       UdpTrailClose(sender);
 * Each line goes out as one datagram: the colour's marker byte, the text, a line feed. UDP does
 * not wait for the server: a line sent while no server listens is lost without an error.
 *
 * C99 or later, or C++11 or later. The socket calls are POSIX; in the strict ISO modes
 * (-std=c99, -std=c11) the system headers declare them only under _POSIX_C_SOURCE, which this
 * header then defines itself. That takes effect when it is included before any system header;
 * otherwise define _POSIX_C_SOURCE as 200112L or later yourself. */

#if defined(__STRICT_ANSI__) && !defined(_POSIX_C_SOURCE) && !defined(_XOPEN_SOURCE) && \
    !defined(_GNU_SOURCE) && !defined(_DEFAULT_SOURCE)
#define _POSIX_C_SOURCE 200112L
#endif

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#if defined(__GLIBC__) && !defined(__USE_XOPEN2K)
#error "udptrail_client.h: include it before any system header, or define _POSIX_C_SOURCE 200112L"
#endif

/* The wire format. A datagram is at most UDPTRAIL_MAX_DATAGRAM bytes, the server's receive room:
 * one marker byte, at most UDPTRAIL_MAX_TEXT bytes of text, one line feed. */
#define UDPTRAIL_MAX_DATAGRAM 1024
#define UDPTRAIL_MAX_TEXT (UDPTRAIL_MAX_DATAGRAM - 2)

/* Colours 0-15 are foreground colours on black; add UDPTRAIL_ON_BLUE for a blue background. */
enum {
    UDPTRAIL_BLACK, UDPTRAIL_BLUE, UDPTRAIL_GREEN, UDPTRAIL_CYAN, UDPTRAIL_RED, UDPTRAIL_MAGENTA,
    UDPTRAIL_BROWN, UDPTRAIL_GREY, UDPTRAIL_DARK_GREY, UDPTRAIL_LIGHT_BLUE, UDPTRAIL_LIGHT_GREEN,
    UDPTRAIL_LIGHT_CYAN, UDPTRAIL_LIGHT_RED, UDPTRAIL_LIGHT_MAGENTA, UDPTRAIL_YELLOW, UDPTRAIL_WHITE,
    UDPTRAIL_ON_BLUE = 16,
    UDPTRAIL_NORMAL = UDPTRAIL_GREY
};

/* The marker byte of `colour` (0-31; higher bits are ignored): 0xE0 plus the colour. */
static inline unsigned char UdpTrailMarker(int colour)
{
    return (unsigned char)(0xE0 | (colour & 0x1F));
}

/* The name of a foreground colour 0-15 ("black" .. "white"), or NULL for any other number. */
static inline const char* UdpTrailColourName(int colour)
{
    static const char* const names[16] = {
        "black",     "blue",          "green",     "cyan",       "red",         "magenta",
        "brown",     "grey",          "dark-grey", "light-blue", "light-green", "light-cyan",
        "light-red", "light-magenta", "yellow",    "white"};
    return colour >= 0 && colour < 16 ? names[colour] : NULL;
}

/* Writes one datagram for `length` bytes of `text` (cut to UDPTRAIL_MAX_TEXT): the marker of
 * `colour`, the text, a line feed. Returns the datagram's length. */
static inline size_t UdpTrailBuildDatagram(int colour, const char* text, size_t length,
                                           char datagram[UDPTRAIL_MAX_DATAGRAM])
{
    if (length > UDPTRAIL_MAX_TEXT) length = UDPTRAIL_MAX_TEXT;
    datagram[0] = (char)UdpTrailMarker(colour);
    memcpy(datagram + 1, text, length);
    datagram[length + 1] = '\n';
    return length + 2;
}

/* Opens a sender for host:port (an IPv4 or IPv6 address, or a host name; a name's IPv4 address
 * first, as the server listens on IPv4 unless told otherwise): a UDP socket connected to it, so
 * that the system reports a refused port. Returns a handle, or -1; then *lookupError is the
 * getaddrinfo() code when the host could not be resolved (0 otherwise) and errno says why a
 * socket could not be made or connected. */
static inline int UdpTrailConnect(const char* host, int port, int* lookupError)
{
    struct addrinfo hints, *found;
    char service[16];
    int sender;
    *lookupError = 0;
    if (port < 1 || port > 65535) {
        errno = EINVAL;
        return -1;
    }
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    snprintf(service, sizeof service, "%d", port);
    *lookupError = getaddrinfo(host, service, &hints, &found);
    if (*lookupError != 0 && *lookupError != EAI_AGAIN) {
        /* An IPv6 address, or a name with IPv6 addresses only; a slow resolver is not asked twice. */
        hints.ai_family = AF_INET6;
        *lookupError = getaddrinfo(host, service, &hints, &found);
    }
    if (*lookupError != 0) return -1;
    sender = socket(found->ai_family, SOCK_DGRAM, 0);
    if (sender >= 0) {
        int error;
        (void)fcntl(sender, F_SETFD, FD_CLOEXEC); /* not handed on to programs this one starts */
        if (connect(sender, found->ai_addr, found->ai_addrlen) != 0) {
            error = errno;
            close(sender);
            sender = -1;
            errno = error;
        }
    }
    freeaddrinfo(found);
    return sender;
}

/* Opens a sender for host:port (an IPv4 or IPv6 address, or a host name). Returns a handle, or
 * -1. */
static inline int UdpTrailOpen(const char* host, int port)
{
    int lookupError;
    return UdpTrailConnect(host, port, &lookupError);
}

/* Sends one datagram. A refusal the system reports belongs to an earlier datagram, one that found
 * no server listening: it sets *refused to 1 and this datagram is sent once more, so a server
 * started since gets it. Returns 0 when the datagram left; -1 when it did not, with errno
 * (ECONNREFUSED: refused again). */
static inline int UdpTrailSendDatagram(int sender, const char* datagram, size_t length,
                                       int* refused)
{
    int attempts = 0;
    while (attempts < 2) {
        if (send(sender, datagram, length, 0) >= 0) return 0;
        if (errno == EINTR) continue;
        if (errno != ECONNREFUSED) return -1;
        *refused = 1;
        ++attempts;
    }
    return -1;
}

/* Sends the formatted text as one line in `colour` (0-31). A line feed inside the text starts a
 * further line in the same colour; a final one is not needed. Text beyond UDPTRAIL_MAX_TEXT bytes
 * is cut. Returns 0, or -1 when a line could not be sent. */
#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
static inline int UdpTrailSend(int sender, int colour, const char* format, ...)
{
    char text[UDPTRAIL_MAX_TEXT + 1], datagram[UDPTRAIL_MAX_DATAGRAM];
    const char* line = text;
    int result = 0, refused = 0;
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    for (;;) {
        size_t length = strcspn(line, "\n");
        size_t size = UdpTrailBuildDatagram(colour, line, length, datagram);
        if (UdpTrailSendDatagram(sender, datagram, size, &refused) != 0) result = -1;
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
