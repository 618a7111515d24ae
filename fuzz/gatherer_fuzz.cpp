// Fuzz target: the receiver's gathering rule fed a sequence of datagrams, with congestion and idle
// pauses chosen by the input. Every received byte must end up handed over, still held, or counted
// as replaced by a forced line feed, in order and never duplicated, and the gathering buffer is
// never written past its end.
//
// Input: records of [control][size low][size high][size bytes of datagram]. Control bits:
// 1 the queue is congested while the datagram is handled, 2 the socket then stays idle for a poll
// interval. The size is taken modulo 2048, so datagrams larger than the whole buffer occur.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "intake/receive_gatherer.h"

namespace {

// Pops every queued chunk, in order, into `out`; the number of chunks popped.
int TakeChunks(std::string& out) {
    int count = 0;
    char chunk[kQueueEntrySize];
    while (NextPacketLength() >= 0) {
        int length = 0;
        Check(PopPacket(chunk, kQueueEntrySize, &length), "a queued chunk is never empty");
        Check(length >= 1 && length <= kQueueEntrySize, "chunk length within 1..1024");
        out.append(chunk, static_cast<size_t>(length));
        ++count;
    }
    return count;
}

bool VisibleLineFeed(const std::string& bytes) {
    return bytes.find('\n') != std::string::npos;  // a NUL before it hides nothing
}

std::string Held(const ReceiveGatherer& gatherer) {
    Check(gatherer.fillCount >= 0 && gatherer.fillCount <= kReceiveBufferSize, "fillCount within 0..1024");
    static const char zeros[kReceiveBufferSize] = {};
    Check(memcmp(gatherer.receiveBuffer + gatherer.fillCount, zeros,
                 static_cast<size_t>(kReceiveBufferSize - gatherer.fillCount)) == 0,
          "bytes past fillCount stay zero");
    return std::string(gatherer.receiveBuffer, static_cast<size_t>(gatherer.fillCount));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SilenceConsoleAndCreateQueue();  // the forced-line-feed message is printed for every cut
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    EmptyQueue();

    ReceiveGatherer gatherer;
    memset(&gatherer, 0x5A, sizeof gatherer);  // ResetGatherer must clear every byte
    ResetGatherer(gatherer);
    std::string received;  // every byte taken from the socket, in order
    std::string handed;    // every byte handed over, forced line feeds included
    size_t forced = 0;     // line feeds the receiver added (each cut chunk ends with one)
    size_t replaced = 0;   // received bytes a forced line feed overwrote (the 1024th of a full buffer)

    size_t at = 0;
    while (at + 3 <= size) {
        const uint8_t control = data[at];
        const size_t datagramSize = (data[at + 1] | (data[at + 2] << 8)) % 2048;
        at += 3;
        const size_t available = size - at < datagramSize ? size - at : datagramSize;
        const char* datagram = reinterpret_cast<const char*>(data + at);
        at += available;

        // What the receiver thread does with one datagram: make room, receive what fits, decide.
        const std::string before = Held(gatherer);
        MakeRoomFor(gatherer, static_cast<int>(available));
        std::string chunks;
        if (TakeChunks(chunks) > 0) {
            Check(chunks == before, "room is made by handing over exactly the held bytes");
            Check(before.size() + available > kReceiveBufferSize, "room is made only when needed");
            Check(gatherer.fillCount == 0, "room made means an empty buffer");
            handed += chunks;
        } else {
            Check(gatherer.fillCount == static_cast<int32_t>(before.size()), "no room made, nothing changed");
        }
        const size_t room = static_cast<size_t>(kReceiveBufferSize - gatherer.fillCount);
        size_t taken = available < room ? available : room;
        // The receiver drops the NUL bytes that end a datagram after its last line feed.
        const size_t kept = static_cast<size_t>(WithoutStringTerminators(datagram, static_cast<int>(taken)));
        const std::string dropped(datagram + kept, taken - kept);
        Check(dropped.find_first_not_of('\0') == std::string::npos, "only NUL bytes are dropped");
        Check(kept == taken || std::string(datagram, kept).find('\n') != std::string::npos,
              "terminators are dropped only behind a line feed");
        Check(kept == taken || kept == 0 || datagram[kept - 1] != '\0', "the whole run of them");
        taken = kept;
        memcpy(gatherer.receiveBuffer + gatherer.fillCount, datagram, taken);
        gatherer.fillCount += static_cast<int32_t>(taken);
        received.append(datagram, taken);
        // The rest of an over-long datagram is cut off by the socket and reported by the receiver.

        const bool congested = (control & 1) != 0;
        intakeState.queueFull = congested ? 1 : 0;
        const std::string gathered = Held(gatherer);
        HandleGatheredBytes(gatherer);
        chunks.clear();
        const int count = TakeChunks(chunks);
        Check(count <= 1, "one datagram gives at most one chunk");
        if (count == 0) {
            Check(Held(gatherer) == gathered, "bytes kept are kept unchanged");
            Check(!VisibleLineFeed(gathered) || (congested && gathered.size() <= kCongestedBatchBytes),
                  "a line is held back only for batching");
            Check(VisibleLineFeed(gathered) || gathered.size() < kForcedLineFeedBytes,
                  "1023 bytes without a line feed are never kept");
        } else if (VisibleLineFeed(gathered)) {
            Check(chunks == gathered, "a chunk with a line feed goes over whole");
            Check(!congested || gathered.size() > kCongestedBatchBytes, "batching holds short lines");
        } else {
            Check(gathered.size() >= kForcedLineFeedBytes, "a forced line feed only at 1023 bytes");
            Check(chunks == gathered.substr(0, kReceiveBufferSize - 1) + "\n", "forced line feed is the last byte");
            ++forced;
            if (gathered.size() == kReceiveBufferSize) ++replaced;
        }
        handed += chunks;
        if (count > 0) Check(gatherer.fillCount == 0 && Held(gatherer).empty(), "a hand-over empties the buffer");

        if (control & 2) {
            const std::string idle = Held(gatherer);
            HandOverIdleChunk(gatherer);
            chunks.clear();
            if (TakeChunks(chunks) > 0) {
                Check(VisibleLineFeed(idle) && chunks == idle, "idle hand-over gives a held line whole");
                handed += chunks;
            } else {
                Check(!VisibleLineFeed(idle) && Held(gatherer) == idle, "idle hand-over keeps bytes without a line");
            }
        }
    }

    // Conservation: every received byte was handed over, is still held, or was overwritten by a
    // forced line feed; the forced line feeds are the only bytes handed over that were not received.
    const std::string held = Held(gatherer);
    Check(handed.size() - forced + held.size() + replaced == received.size(), "no byte lost or duplicated");
    return 0;
}
