// Fuzz target: the line assembler over arbitrary chunk sequences (NUL bytes, no line feeds,
// 1024-byte chunks, chunks the receiver ended with a forced line feed), drained at points the
// input chooses. Its own sink records what it is handed, and the records must be exactly those
// of a plain model of the stream: every byte comes out in a record or stays held, in order, never
// duplicated, never past a buffer; no line shorter than the buffer is split, wherever the chunks
// were cut; a line's text is cut at its NUL runs; a continuation keeps its line's marker. Each
// line carries the sender of the chunk that ends it; with keepSendersApart (--sender) every
// sender's stream is cut on its own, up to 16 unfinished lines are put aside, and one more writes
// out the oldest put aside, whose sender's next bytes continue it.
//
// Input: records of [control][length byte][chunk]. The chunk length is the length byte, plus 769
// when control bit 1 is set (so 1..255 or 769..1024 bytes); an empty chunk is skipped. Control
// bit 2 drains the queue after the push; bits 4..8 are the chunk's sender (one of 32). Bit 3 of
// the first record's control keeps senders apart; in later records it marks the chunk as ended
// by the receiver's forced line feed (its line feeds become 'x', its last byte one).
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "output/line_assembler.h"

namespace {

struct Line {
    uint16_t attribute;
    std::string text;
    std::string sender;
    bool operator==(const Line& other) const {
        return attribute == other.attribute && text == other.text && sender == other.sender;
    }
};

PlatAddress SenderAddress(int id) {
    PlatAddress address{};
    address.family = 4;
    address.port = 5000;
    address.bytes[0] = 10;
    address.bytes[3] = static_cast<uint8_t>(id);
    return address;
}

std::string SenderText(int id) { return "10.0.0." + std::to_string(id) + ":5000"; }

std::vector<Line> logged;  // what the writer was handed, in order

// The model: records of the stream as the sink must see them.
struct Model {
    struct Aside {
        uint64_t stamp;
        std::string bytes;
        bool continuing;
    };
    bool apart = false;
    int sender = -1;  // of the last chunk
    std::string held;
    bool continuing = false;  // held[0] is a continuation's marker
    char lastMarker = 0;
    std::map<int, Aside> aside;         // sender -> its unfinished line put aside
    std::map<int, char> continued;      // sender -> the marker its next bytes continue with
    uint64_t stamp = 0;
    std::vector<Line> lines;

    // A line (marker, text, line feed) as its records: the text cut at NUL runs, empty pieces
    // dropped, one empty record for a line without text.
    void Emit(const std::string& line, int from = -2) {
        if (from == -2) from = sender;
        lastMarker = line[0];
        const auto marker = static_cast<unsigned char>(line[0]);
        const uint16_t attribute = marker >= 0xE0 ? static_cast<uint16_t>(marker - 0xE0) : 7;
        const std::string text = line.substr(1, line.size() - 2);
        const std::string who = from >= 0 ? SenderText(from) : "";
        size_t before = lines.size();
        std::string piece;
        for (char byte : text + '\0') {
            if (byte != '\0') {
                piece += byte;
            } else if (!piece.empty()) {
                lines.push_back({attribute, piece + "\n", who});
                piece.clear();
            }
        }
        if (lines.size() == before) lines.push_back({attribute, "\n", who});
    }

    void FlushAside(int from) {
        const Aside& line = aside[from];
        if (!(line.continuing && line.bytes.size() == 1)) Emit(line.bytes + "\n", from);
        aside.erase(from);
    }

    void TakeSender(int next) {
        if (next == sender) return;
        if (apart && !held.empty()) {
            if (aside.size() == kHeldSenderCount) {
                auto oldest = std::min_element(aside.begin(), aside.end(), [](const auto& a, const auto& b) {
                    return a.second.stamp < b.second.stamp;
                });
                const int evicted = oldest->first;
                continued[evicted] = oldest->second.bytes[0];
                FlushAside(evicted);
            }
            aside[sender] = {++stamp, held, continuing};
            held.clear();
            continuing = false;
        }
        if (apart && aside.count(next) != 0) {
            held = aside[next].bytes;
            continuing = aside[next].continuing;
            aside.erase(next);
        } else if (apart && continued.count(next) != 0) {
            held = std::string(1, continued[next]);
            continuing = true;
            continued.erase(next);
        }
        sender = next;
    }

    // The stream byte by byte, whatever the chunks: a line of up to 1024 bytes before its line
    // feed is one line, never split; a longer one is cut every 1024 bytes with a forced line
    // feed, and each continuation keeps its marker (it starts with text, in the line's colour); a
    // line feed right behind a bare continuation's marker ends nothing more.
    void Add(const std::string& chunk, bool continues) {
        for (char byte : chunk) {
            if (continuing && held.size() == 1 && byte == '\n') {
                held.clear();
                continuing = false;
                continue;
            }
            if (held.size() == kQueueEntrySize) {
                const char marker = held[0];
                Emit(held + "\n");
                held.clear();
                continuing = false;
                if (byte == '\n') continue;
                held = marker;
                continuing = true;
            }
            held += byte;
            if (byte == '\n') {
                Emit(held);
                held.clear();
                continuing = false;
            }
        }
        if (continues && held.empty()) {
            held = lastMarker;
            continuing = true;
        }
    }

    void FlushHeld() {
        if (!held.empty() && !(continuing && held.size() == 1)) Emit(held + "\n");
        held.clear();
        continuing = false;
    }
};

}  // namespace

// The recording sink (the assembler's diagnostics are not looked at).
void Record(void*, uint16_t attribute, const char* text, size_t length, const LineMeta& meta) {
    Check(strlen(text) == length && length >= 1 && text[length - 1] == '\n', "a record is a line");
    logged.push_back({attribute, std::string(text, length), meta.sender != nullptr ? meta.sender : ""});
}
void Ignore(void*, const char*, size_t) {}
const LineSink sink = {Record, Ignore, nullptr};

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SilenceConsoleAndCreateQueue();  // the assembler reports every carry-over on the console
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    EmptyQueue();
    logged.clear();
    static LineAssembly assembly;
    memset(&assembly, 0, sizeof assembly);
    Model model;
    model.apart = size > 0 && (data[0] & 4) != 0;
    assembly.keepSendersApart = model.apart;

    auto drain = [&] {
        while (DrainQueue(assembly, sink)) {
        }  // a drain may hand control back after its time slice
        Check(NextPacketLength() < 0, "a drain empties the queue");
        Check(logged == model.lines, "the lines handed over are the stream's lines, in order");
        Check(assembly.assemblyLength == static_cast<int32_t>(model.held.size()), "held length");
        Check(std::string(assembly.assemblyBuffer, model.held.size()) == model.held, "held bytes");
        for (size_t i = model.held.size(); i < sizeof assembly.assemblyBuffer; ++i) {
            Check(assembly.assemblyBuffer[i] == 0, "the buffer behind the held line is zero");
        }
    };

    size_t at = 0;
    while (at + 2 <= size) {
        const uint8_t control = data[at];
        size_t length = data[at + 1] + ((control & 1) ? 769u : 0u);
        if (length > kQueueEntrySize) length = kQueueEntrySize;
        at += 2;
        if (length > size - at) length = size - at;
        if (length == 0) continue;
        std::string chunk(reinterpret_cast<const char*>(data + at), length);
        at += length;
        const bool continues = at - length > 2 && (control & 4) != 0;
        if (continues) {
            for (char& byte : chunk) byte = byte == '\n' ? 'x' : byte;
            chunk.back() = '\n';
        }

        if (packetQueue.writeIndex == (packetQueue.readIndex + kQueueSlotCount - 1) % kQueueSlotCount) drain();
        const int from = control >> 3;
        const PlatAddress address = SenderAddress(from);
        Check(PushPacket(chunk.data(), static_cast<int>(length), 0, &address, continues),
              "push into a ring with room");
        model.TakeSender(from);
        model.Add(chunk, continues);
        if (control & 2) drain();
    }
    drain();
    FlushHeldLines(assembly, sink);
    std::vector<std::pair<uint64_t, int>> order;
    for (const auto& entry : model.aside) order.push_back({entry.second.stamp, entry.first});
    std::sort(order.begin(), order.end());
    for (const auto& entry : order) model.FlushAside(entry.second);
    model.FlushHeld();
    Check(logged == model.lines, "at the way out every unfinished line is written, the oldest first");
    return 0;
}
