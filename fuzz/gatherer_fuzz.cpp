// Fuzz target: the receiver's gathering rule fed a sequence of datagrams from a few senders, with
// congestion and idle pauses chosen by the input. Every received byte must end up handed over or
// still held, in order and never duplicated (a datagram's trailing NUL run becoming its line
// end); the only bytes added are forced line feeds, each ending a chunk marked as continued; with
// --sender no chunk joins two senders; and the gathering buffer is never written past its end.
//
// Input: records of [control][size low][size high][size bytes of datagram]. Control bits:
// 1 the queue is congested while the datagram is handled, 2 the socket then stays idle for a poll
// interval, 4 and 8 the sender (one of four); bit 16 of the first record keeps senders apart.
// The size is taken modulo 2048, so datagrams larger than the whole buffer occur (the socket
// would have cut them to 1024 bytes).
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "intake/receive_gatherer.h"

namespace {

// A byte of the stream and the sender it came from.
struct Stream {
    std::string bytes;
    std::string senders;  // one sender id per byte
};

PlatAddress SenderAddress(int id) {
    PlatAddress address{};
    address.family = 4;
    address.port = static_cast<uint16_t>(5000 + id);
    address.bytes[0] = 127;
    address.bytes[3] = 1;
    return address;
}

// Pops every queued chunk, in order, onto `out` (forced line feeds taken off again); the number
// of chunks popped.
int TakeChunks(Stream& out) {
    int count = 0;
    char chunk[kQueueEntrySize];
    while (NextPacketLength() >= 0) {
        int length = 0;
        PlatAddress sender;
        bool continues = false;
        Check(PopPacket(chunk, kQueueEntrySize, &length, nullptr, &sender, &continues),
              "a queued chunk is never empty");
        Check(length >= 1 && length <= kQueueEntrySize, "chunk length within 1..1024");
        if (continues) {
            Check(length == kQueueEntrySize && chunk[length - 1] == '\n' &&
                      memchr(chunk, '\n', static_cast<size_t>(length - 1)) == nullptr,
                  "a forced line feed ends 1023 bytes without one");
            --length;
        }
        out.bytes.append(chunk, static_cast<size_t>(length));
        const int id = sender.port - 5000;
        Check(id >= 0 && id < 4, "a chunk carries a sender");
        for (int i = 0; i < length; ++i) out.senders += static_cast<char>(id);
        ++count;
    }
    return count;
}

bool VisibleLineFeed(const std::string& bytes) { return bytes.find('\n') != std::string::npos; }

std::string Held(const ReceiveGatherer& gatherer) {
    Check(gatherer.fillCount >= 0 && gatherer.fillCount <= kReceiveBufferSize, "fillCount within 0..1024");
    static const char zeros[kReceiveBufferSize] = {};
    Check(memcmp(gatherer.receiveBuffer + gatherer.fillCount, zeros,
                 static_cast<size_t>(kReceiveBufferSize - gatherer.fillCount)) == 0,
          "bytes past fillCount stay zero");
    return std::string(gatherer.receiveBuffer, static_cast<size_t>(gatherer.fillCount));
}

// The datagram as the stream must get it: its trailing NUL run ends its line.
std::string EndedAtNuls(std::string datagram) {
    const size_t end = datagram.find_last_not_of('\0') + 1;  // npos + 1 == 0
    if (end == datagram.size()) return datagram;
    datagram.resize(end);
    if (datagram.empty() || datagram.back() != '\n') datagram += '\n';
    return datagram;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SilenceConsoleAndCreateQueue();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    EmptyQueue();

    ReceiveGatherer gatherer;
    memset(&gatherer, 0x5A, sizeof gatherer);  // ResetGatherer must clear every byte
    ResetGatherer(gatherer);
    const bool apart = size > 0 && (data[0] & 16) != 0;
    Stream received;  // every byte taken from the socket, in order, as the stream must get it
    Stream handed;    // every byte handed over, forced line feeds taken off

    size_t at = 0;
    while (at + 3 <= size) {
        const uint8_t control = data[at];
        size_t datagramSize = (data[at + 1] | (data[at + 2] << 8)) % 2048;
        at += 3;
        if (datagramSize > size - at) datagramSize = size - at;
        std::string datagram(reinterpret_cast<const char*>(data + at), datagramSize);
        at += datagramSize;
        if (datagram.size() > kReceiveBufferSize) datagram.resize(kReceiveBufferSize);  // the socket's cut
        const int from = (control >> 2) & 3;

        const bool congested = (control & 1) != 0;
        intakeState.queueFull = congested ? 1 : 0;
        const std::string before = Held(gatherer);
        const PlatAddress heldSender = gatherer.sender;
        GatherDatagram(gatherer, datagram.data(), static_cast<int>(datagram.size()), SenderAddress(from), apart);
        const std::string added = EndedAtNuls(datagram);
        received.bytes += added;
        received.senders += std::string(added.size(), static_cast<char>(from));
        const int count = TakeChunks(handed);
        Check(count <= 3, "one datagram gives at most three chunks");
        const std::string held = Held(gatherer);
        if (count == 0) {
            Check(held == before + added, "bytes kept are kept unchanged, the new ones behind them");
            Check(before.empty() || !apart || PlatSameAddress(heldSender, SenderAddress(from)),
                  "--sender: no datagram joins another sender's bytes");
        }
        Check(!VisibleLineFeed(held) || (congested && held.size() <= kCongestedBatchBytes),
              "a line is held back only for batching");
        Check(VisibleLineFeed(held) || held.size() < kForcedLineFeedBytes,
              "1023 bytes without a line feed are never kept");

        if (control & 2) {
            HandOverIdleChunk(gatherer);
            const int idle = TakeChunks(handed);
            Check(idle == 0 || (VisibleLineFeed(held) && Held(gatherer).empty()),
                  "idle hand-over gives a held line whole");
            Check(idle > 0 || !VisibleLineFeed(held), "idle hand-over leaves no line waiting");
        }
        // Conservation, in order: the stream handed over and then the bytes held.
        const std::string now = Held(gatherer);
        Check(handed.bytes.size() + now.size() == received.bytes.size() &&
                  received.bytes.compare(0, handed.bytes.size(), handed.bytes) == 0 &&
                  received.bytes.compare(handed.bytes.size(), now.size(), now) == 0,
              "no byte lost, duplicated or moved");
        if (apart) {
            Check(handed.senders == received.senders.substr(0, handed.senders.size()),
                  "--sender: every chunk carries the sender of each of its bytes");
        }
    }
    return 0;
}
