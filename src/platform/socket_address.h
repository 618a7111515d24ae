// Socket addresses for both backends: numeric address text to a socket address, a sender's socket
// address to PlatAddress and PlatAddress to text. The BSD socket interface is the same on POSIX
// and on Windows but for its headers and the type of an address length, so each backend includes
// its own socket headers before this file, and the length type is a parameter.
#pragma once

#include <cstdio>
#include <cstring>

#include "platform/udp_socket.h"

namespace socket_address {

/// The socket address for `text` and `port`: every IPv4 address when `text` is null or empty.
/// IPv4 takes strict dotted quads only (the resolver would read "127.1" or "5" as addresses too);
/// IPv6 may carry a %scope. False when the text is no numeric address.
template <typename Length>
bool Resolve(const char* text, uint16_t port, sockaddr_storage* out, Length* length) {
    memset(out, 0, sizeof *out);
    if (text == nullptr || *text == '\0' || strchr(text, ':') == nullptr) {
        sockaddr_in* ipv4 = reinterpret_cast<sockaddr_in*>(out);
        ipv4->sin_family = AF_INET;
        ipv4->sin_port = htons(port);
        ipv4->sin_addr.s_addr = htonl(INADDR_ANY);
        *length = sizeof *ipv4;
        return text == nullptr || *text == '\0' || inet_pton(AF_INET, text, &ipv4->sin_addr) == 1;
    }
    if (strpbrk(text, "[]") != nullptr) return false;  // some resolvers take "[::1]" as well
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (getaddrinfo(text, nullptr, &hints, &found) != 0) return false;
    bool fits = found->ai_addrlen <= sizeof *out;
    if (fits) {
        memcpy(out, found->ai_addr, found->ai_addrlen);
        reinterpret_cast<sockaddr_in6*>(out)->sin6_port = htons(port);
        *length = static_cast<Length>(found->ai_addrlen);
    }
    freeaddrinfo(found);
    return fits;
}

/// True when `text` is a numeric IPv4 or IPv6 address.
template <typename Length>
bool IsNumeric(const char* text) {
    sockaddr_storage address;
    Length length;
    return text != nullptr && *text != '\0' && Resolve(text, 0, &address, &length);
}

/// The sender of a received datagram in the platform's neutral form; an IPv4-mapped IPv6 address
/// (an IPv4 sender on a dual-stack socket) becomes the IPv4 address it stands for.
template <typename Length>
void ToPlatAddress(const sockaddr_storage& from, Length length, PlatAddress* out) {
    *out = PlatAddress{};
    if (from.ss_family == AF_INET && length >= static_cast<Length>(sizeof(sockaddr_in))) {
        const sockaddr_in* ipv4 = reinterpret_cast<const sockaddr_in*>(&from);
        out->family = 4;
        out->port = ntohs(ipv4->sin_port);
        memcpy(out->bytes, &ipv4->sin_addr, 4);
    } else if (from.ss_family == AF_INET6 && length >= static_cast<Length>(sizeof(sockaddr_in6))) {
        const sockaddr_in6* ipv6 = reinterpret_cast<const sockaddr_in6*>(&from);
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&ipv6->sin6_addr);
        static const uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
        out->port = ntohs(ipv6->sin6_port);
        bool mapped = memcmp(bytes, kMappedPrefix, sizeof kMappedPrefix) == 0;
        out->family = mapped ? 4 : 6;
        memcpy(out->bytes, mapped ? bytes + 12 : bytes, mapped ? 4 : 16);
    }
}

/// PlatFormatAddress, for both backends.
inline int Format(const PlatAddress& address, char* text) {
    text[0] = '\0';
    if (address.family != 4 && address.family != 6) return 0;
    char host[INET6_ADDRSTRLEN];
    void* bytes = const_cast<uint8_t*>(address.bytes);
    if (inet_ntop(address.family == 4 ? AF_INET : AF_INET6, bytes, host, sizeof host) == nullptr)
        return 0;
    const char* format = address.family == 4 ? "%s:%u" : "[%s]:%u";
    int length = snprintf(text, kPlatAddressTextSize, format, host, static_cast<unsigned>(address.port));
    return length > 0 && length < kPlatAddressTextSize ? length : 0;
}

}  // namespace socket_address
