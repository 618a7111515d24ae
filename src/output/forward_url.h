// The --forward URL, read in one place: the option check takes what this accepts, and forwarding
// starts with what it gives.
#pragma once

/// A forward target as given on the command line.
struct ForwardUrl {
    bool stream;     // tcp:// (octet-counted frames) rather than udp://
    char host[256];  // a name, an IPv4 address, or an IPv6 address without its brackets
    char port[6];    // 1..65535 in plain decimal (leading zeros of the URL left out)
};

/// Reads `udp://HOST:PORT` or `tcp://HOST:PORT` (HOST a name, an IPv4 address or `[IPv6]`, PORT
/// digits for 1..65535). False, with *out unspecified, for anything else.
bool ParseForwardUrl(const char* url, ForwardUrl* out);
