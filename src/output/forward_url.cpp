// The --forward URL parser.
#include "output/forward_url.h"

#include <cstdio>
#include <cstring>

bool ParseForwardUrl(const char* url, ForwardUrl* out) {
    if (strncmp(url, "udp://", 6) != 0 && strncmp(url, "tcp://", 6) != 0) return false;
    out->stream = url[0] == 't';
    const char* host = url + 6;
    const char* hostEnd;
    const char* portText;
    if (*host == '[') {
        const char* close = strchr(host, ']');
        if (close == nullptr || close == host + 1 || close[1] != ':') return false;
        ++host;
        hostEnd = close;
        portText = close + 2;
    } else {
        const char* colon = strrchr(host, ':');
        if (colon == nullptr || colon == host || memchr(host, ':', static_cast<size_t>(colon - host)) != nullptr)
            return false;
        for (const char* at = host; at < colon; ++at) {
            if (*at == '/' || *at == '@' || *at == ' ') return false;
        }
        hostEnd = colon;
        portText = colon + 1;
    }
    size_t hostLength = static_cast<size_t>(hostEnd - host);
    if (hostLength >= sizeof out->host || *portText == '\0') return false;
    long port = 0;
    for (const char* at = portText; *at != '\0'; ++at) {
        if (*at < '0' || *at > '9') return false;
        port = port * 10 + (*at - '0');
        if (port > 65535) return false;
    }
    if (port < 1) return false;
    memcpy(out->host, host, hostLength);
    out->host[hostLength] = '\0';
    snprintf(out->port, sizeof out->port, "%ld", port);
    return true;
}
