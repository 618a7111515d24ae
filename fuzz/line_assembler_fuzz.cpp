// Fuzz target: the line assembler over arbitrary chunk sequences (NUL bytes, no line feeds,
// 1024-byte chunks), drained at points the input chooses. The writer is replaced by a recorder,
// and the lines it receives must be exactly those of a plain model of the stream: every byte
// comes out in a line or stays held, in order, never duplicated, never past a buffer, and no line
// shorter than the buffer is split, wherever the chunks were cut. Each line carries the sender
// of the chunk that ends it; with keepSendersApart (--sender) every sender's stream is cut on its
// own, up to 16 unfinished lines are put aside, and one more writes out the oldest put aside.
//
// Input: records of [control][length byte][chunk]. The chunk length is the length byte, plus 769
// when control bit 1 is set (so 1..255 or 769..1024 bytes); an empty chunk is skipped. Control
// bit 2 drains the queue after the push; bits 4..8 are the chunk's sender (one of 32). Bit 3 of
// the first record's control keeps senders apart.
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "output/debug_ui.h"
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

// The model: lines of the stream as the writer must see them.
struct Model {
    bool apart = false;
    int sender = -1;  // of the last chunk
    std::string held;
    std::map<int, std::pair<uint64_t, std::string>> aside;  // sender -> (when put aside, bytes)
    uint64_t stamp = 0;
    std::vector<Line> lines;

    void Emit(const std::string& line, int from = -2) {
        if (from == -2) from = sender;
        const auto marker = static_cast<unsigned char>(line[0]);
        const uint16_t attribute = marker >= 0xE0 ? static_cast<uint16_t>(marker - 0xE0) : 7;
        const std::string rest = line.substr(1);
        std::string text = rest.substr(0, rest.find('\0'));  // a NUL ends the text
        if (text.empty() || text.back() != '\n') text += '\n';  // every record ends with one
        lines.push_back({attribute, text, from >= 0 ? SenderText(from) : ""});
    }

    void FlushAside(int from) {
        Emit(aside[from].second + "\n", from);
        aside.erase(from);
    }

    void TakeSender(int next) {
        if (next == sender) return;
        if (apart && !held.empty()) {
            if (aside.size() == kHeldSenderCount) {
                auto oldest = std::min_element(aside.begin(), aside.end(), [](const auto& a, const auto& b) {
                    return a.second.first < b.second.first;
                });
                FlushAside(oldest->first);
            }
            aside[sender] = {++stamp, held};
            held.clear();
        }
        if (apart && aside.count(next) != 0) {
            held = aside[next].second;
            aside.erase(next);
        }
        sender = next;
    }

    // The stream byte by byte, whatever the chunks: a line of up to 1024 bytes before its line
    // feed is one line, never split; a longer one is cut every 1024 bytes with a forced line
    // feed, and each continuation keeps its marker (it starts with text, in the line's colour).
    void Add(const std::string& chunk) {
        for (char byte : chunk) {
            if (held.size() == kQueueEntrySize) {
                const char marker = held[0];
                Emit(held + "\n");
                held.clear();
                if (byte == '\n') continue;
                held = marker;
            }
            held += byte;
            if (byte == '\n') {
                Emit(held);
                held.clear();
            }
        }
    }
};

}  // namespace

// The recording writer: the line assembler uses CDebugUI's LogLine and Message (its diagnostics,
// which the invariant does not look at).
CDebugUI::CDebugUI() {}
CDebugUI::~CDebugUI() {}
void CDebugUI::LogLine(uint16_t attribute, const char* text, const LineMeta& meta) {
    logged.push_back({attribute, text, meta.sender != nullptr ? meta.sender : ""});
}
void CDebugUI::Message(const char*, ...) {}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SilenceConsoleAndCreateQueue();  // the assembler reports every carry-over on the console
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    EmptyQueue();
    logged.clear();
    static LineAssembly assembly;
    memset(&assembly, 0, sizeof assembly);
    static CDebugUI writer;
    Model model;
    model.apart = size > 0 && (data[0] & 4) != 0;
    assembly.keepSendersApart = model.apart;

    auto drain = [&] {
        DrainQueue(assembly, writer);
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
        const std::string chunk(reinterpret_cast<const char*>(data + at), length);
        at += length;

        if (packetQueue.writeIndex == (packetQueue.readIndex + kQueueSlotCount - 1) % kQueueSlotCount) drain();
        const int from = control >> 3;
        const PlatAddress address = SenderAddress(from);
        Check(PushPacket(chunk.data(), static_cast<int>(length), 0, &address), "push into a ring with room");
        model.TakeSender(from);
        model.Add(chunk);
        if (control & 2) drain();
    }
    drain();
    FlushHeldLines(assembly, writer);
    std::vector<std::pair<uint64_t, int>> order;
    for (const auto& entry : model.aside) order.push_back({entry.second.first, entry.first});
    std::sort(order.begin(), order.end());
    for (const auto& entry : order) model.FlushAside(entry.second);
    if (!model.held.empty()) model.Emit(model.held + "\n");
    Check(logged == model.lines, "at the way out every unfinished line is written, the oldest first");
    return 0;
}
