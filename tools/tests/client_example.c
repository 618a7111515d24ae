/* The smallest program that logs through udptrail_client.h: client_example HOST PORT TEXT... */
#include "udptrail_client.h" /* first, so that it can ask for the POSIX calls in strict C */

#include <stdlib.h>

int main(int argc, char** argv)
{
    int sender = argc > 2 ? UdpTrailOpen(argv[1], atoi(argv[2])) : -1, failed = sender < 0;
    for (int i = 3; i < argc && !failed; ++i)
        failed = UdpTrailSend(sender, UDPTRAIL_LIGHT_GREEN, "line %d: %s", i - 2, argv[i]) != 0;
    UdpTrailClose(sender);
    return failed;
}
