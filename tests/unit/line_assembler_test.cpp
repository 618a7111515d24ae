// Cutting queued chunks into lines and records: markers, NUL runs, carry-over of unfinished lines,
// the held line that would not fit beside the next chunk, continuations, and a randomised stream.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "intake/packet_queue.h"
#include "output/line_assembler.h"
#include "support/intake.h"

using namespace testing_support;

namespace {

// The assembler hands its records to a sink that keeps them: each as "sender text" (or the text
// alone when no sender is known), with its colour, and its diagnostics as one string.
class LineAssemblerTest : public IntakeTest {
protected:
    void Push(const std::string& chunk, bool continues = false) {
        ASSERT_TRUE(PushPacket(chunk.data(), static_cast<int>(chunk.size()), 0, nullptr, continues));
    }

    // Drains; returns the diagnostics shown meanwhile.
    std::string Drain() {
        messages.clear();
        DrainQueue(assembly, sink);
        return messages;
    }

    // What the sink got once every unfinished line is written out as at the way out.
    void ExpectLog(const std::vector<std::string>& expected) {
        FlushHeldLines(assembly, sink);
        EXPECT_EQ(texts, expected);
    }

    static void Record(void* context, uint16_t attribute, const char* text, size_t length,
                       const LineMeta& meta) {
        auto* test = static_cast<LineAssemblerTest*>(context);
        EXPECT_EQ(strlen(text), length) << "a record is a string of its length";
        test->texts.push_back((meta.sender != nullptr ? std::string(meta.sender) + " " : "") +
                              std::string(text, length));
        test->attributes.push_back(attribute);
    }
    static void Message(void* context, const char* text, size_t length) {
        static_cast<LineAssemblerTest*>(context)->messages.append(text, length);
    }

    LineAssembly assembly{};
    LineSink sink{Record, Message, this};
    std::vector<std::string> texts;
    std::vector<uint16_t> attributes;
    std::string messages;
};

TEST(MarkerTest, HighMarkersSelectTheirAttributeAndAllOthersTheNormalOne) {
    EXPECT_EQ(MarkerToAttribute(0xE0), 0x00) << "black on black";
    EXPECT_EQ(MarkerToAttribute(0xE2), 0x02) << "green";
    EXPECT_EQ(MarkerToAttribute(0xE7), 0x07);
    EXPECT_EQ(MarkerToAttribute(0xEF), 0x0F) << "bright white";
    EXPECT_EQ(MarkerToAttribute(0xF0), 0x10) << "black on blue";
    EXPECT_EQ(MarkerToAttribute(0xFF), 0x1F);
    for (int marker = 0x00; marker <= 0xDF; ++marker) {
        ASSERT_EQ(MarkerToAttribute(static_cast<unsigned char>(marker)), 7) << "marker " << marker;
    }
}

TEST_F(LineAssemblerTest, CutsLinesDropsTheMarkerAndCutsRecordsAtNulRuns) {
    Push("\xE2" "boot ok\n");
    Push("Aalpha\nBbeta\n");
    Push("\n");                     // only a line feed: the marker is the line feed, no text
    Push("hello\n");                // ordinary first byte is still a marker
    Push(std::string("Xab\0cd\n", 7));  // a NUL ends a record; the rest is one of its own
    Push(std::string("\xE2\0\0lead\0\0\0mid\0\n\xE4\0\n", 18));  // a run counts as one
    Push("\xE0" "dark\n");
    const std::string console = Drain();

    // Every record ends with a line feed, also a bare line feed's.
    ExpectLog({"boot ok\n", "alpha\n", "beta\n", "\n", "ello\n", "ab\n", "cd\n", "lead\n", "mid\n",
               "\n", "dark\n"});
    EXPECT_EQ(attributes, (std::vector<uint16_t>{2, 7, 7, 7, 7, 7, 7, 2, 2, 4, 0}));
    EXPECT_EQ(console.find("case:"), std::string::npos) << "whole lines need no diagnostic:\n" << console;
}

TEST_F(LineAssemblerTest, CarriesAnUnfinishedLineOverToALaterDrain) {
    Push("Xone\nXtw");
    const std::string first = Drain();
    EXPECT_NE(first.find("case: newhead=5, remainLen=3\n"), std::string::npos) << first;
    EXPECT_EQ(texts, std::vector<std::string>{"one\n"});

    Push("o\n");
    Drain();
    ExpectLog({"one\n", "two\n"});
}

TEST_F(LineAssemblerTest, KeepsAChunkWithoutLineFeedAndReportsIt) {
    Push("Xno end yet");
    const std::string first = Drain();
    EXPECT_NE(first.find(" case: could not find \" line feed: Xno end yet\" \n"), std::string::npos) << first;
    EXPECT_TRUE(texts.empty());

    Push(", now\n");
    Drain();
    ExpectLog({"no end yet, now\n"});
}

// --sender: each sender's lines are cut on their own and carry its address; with the unfinished
// lines of 16 senders put aside, each one more writes out the one put aside longest ago, whose
// continuation then keeps the line's marker (its first byte is text).
TEST_F(LineAssemblerTest, KeepsEachSendersUnfinishedLineApartAndWritesOutTheOldestWhenFull) {
    assembly.keepSendersApart = true;
    auto push = [](int id, const std::string& chunk) {
        PlatAddress from{};
        from.family = 4;
        from.port = 5000;
        from.bytes[0] = 10;
        from.bytes[3] = static_cast<uint8_t>(id);
        ASSERT_TRUE(PushPacket(chunk.data(), static_cast<int>(chunk.size()), 0, &from));
    };
    const int last = kHeldSenderCount + 3;
    for (int id = 1; id <= last; ++id) push(id, "X" + std::to_string(id) + " begins,");
    for (int id = last; id >= 1; --id) push(id, " ends\n");
    Drain();
    std::vector<std::string> expected = {"10.0.0.1:5000 1 begins,\n", "10.0.0.2:5000 2 begins,\n"};
    for (int id = last; id >= 3; --id) {
        std::string n = std::to_string(id);
        expected.push_back("10.0.0." + n + ":5000 " + n + " begins, ends\n");
    }
    expected.push_back("10.0.0.2:5000  ends\n");
    expected.push_back("10.0.0.1:5000  ends\n");
    ExpectLog(expected);
}

// A held line and the next chunk that fit exactly together make one line of 1024 bytes, which
// keeps its full text.
TEST_F(LineAssemblerTest, HeldLineAndChunkFillingTheBufferExactlyMakeOneLine) {
    const std::string head = "A" + std::string(599, 'a');
    const std::string tail = std::string(423, 'b') + "\n";
    Push(head);
    Push(tail);
    Drain();
    ExpectLog({head.substr(1) + tail});
}

// A chunk that does not fit behind the held line is taken in as far as it fits: a line is never
// torn because of where a chunk happened to be cut, and no byte of it is taken for a marker.
TEST_F(LineAssemblerTest, ChunkThatDoesNotFitBehindTheHeldLineDoesNotTearIt) {
    Push("Xpart");
    Push("ial" + std::string(1016, 'c') + "\n");  // 1024 bytes before the line feed: still whole
    Push(" A\n Bfirst-half");
    Push("-second-half\n C" + std::string(1000, 'c') + "\n");
    Drain();
    ExpectLog({"partial" + std::string(1016, 'c') + "\n", "A\n", "Bfirst-half-second-half\n",
               "C" + std::string(1000, 'c') + "\n"});
}

// A line longer than the buffer holds is split with a forced line feed; its continuation starts
// with text (no byte is taken for a marker). A full buffer followed by its line feed is one line.
TEST_F(LineAssemblerTest, LineLongerThanTheBufferIsSplitAndContinuesWithText) {
    const std::string head = "A" + std::string(599, 'a');
    Push(head);
    Push("B" + std::string(498, 'b') + "\nCc");
    Drain();
    Push("\n");

    std::string full(kQueueEntrySize, 'z');
    full[0] = 'Z';
    Push(full);
    Push("\xE4" "after\n");
    Push(full);
    Push("\n");
    Drain();
    ExpectLog({std::string(599, 'a') + "B" + std::string(423, 'b') + "\n", std::string(75, 'b') + "\n",
               "c\n", std::string(kQueueEntrySize - 1, 'z') + "\n", "\xE4" "after\n",
               std::string(kQueueEntrySize - 1, 'z') + "\n"});
}

// A chunk the receiver ended with a forced line feed: the line's continuation keeps its marker
// and colour, a line feed right at the cut ends the line there, and a continuation without text
// writes nothing at the way out.
TEST_F(LineAssemblerTest, ForcedLineFeedOfTheReceiverKeepsTheMarkerForTheContinuation) {
    const std::string zeros(1022, '0');
    Push("\xEC" + zeros + "\n", true);
    Push("REST-OF-LINE\n");
    Push("\xE2" + zeros + "\n", true);
    Push("\n");
    Push("\xE3" + zeros + "\n", true);
    Drain();
    ExpectLog({zeros + "\n", "REST-OF-LINE\n", zeros + "\n", zeros + "\n"});
    EXPECT_EQ(attributes, (std::vector<uint16_t>{0x0C, 0x0C, 2, 3}));
}

// A known stream of lines is cut at random places into chunks of up to 1000 bytes, pushed and
// drained in random groups: every line must come out whole, in order and exactly once.
class RandomlyCutStream : public LineAssemblerTest,
                          public ::testing::WithParamInterface<unsigned> {};

TEST_P(RandomlyCutStream, ComesOutLineByLine) {
    std::mt19937 random(GetParam());
    std::string stream;
    std::vector<std::string> expected;
    for (int line = 0; line < 1500; ++line) {
        const int length = static_cast<int>(random() % 300);
        std::string text;
        for (int i = 0; i < length; ++i) {
            char byte = static_cast<char>(0x20 + random() % 0xE0);
            if (random() % 40 == 0) byte = '\t';
            if (random() % 60 == 0) byte = '\r';
            text += byte;
        }
        const char marker = (random() % 8 == 0) ? '\n' : static_cast<char>(0xE0 + random() % 32);
        if (marker == '\n') {
            stream += '\n';
            expected.push_back("\n");
        } else {
            stream += marker + text + '\n';
            expected.push_back(text + '\n');
        }
    }

    size_t at = 0;
    while (at < stream.size()) {
        const int group = 1 + static_cast<int>(random() % 12);
        for (int c = 0; c < group && at < stream.size(); ++c) {
            const size_t length = 1 + random() % std::min<size_t>(1000, stream.size() - at);
            if (!PushPacket(stream.data() + at, static_cast<int>(length))) break;
            at += length;
        }
        Drain();
    }
    ExpectLog(expected);
}

INSTANTIATE_TEST_SUITE_P(LineAssemblerTest, RandomlyCutStream,
                         ::testing::Values(1u, 2u, 3u, 4u), ::testing::PrintToStringParamName());

}  // namespace
