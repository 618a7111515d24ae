// Cutting queued chunks into lines: markers, carry-over of unfinished lines, the held line that
// would not fit beside the next chunk, and a randomised stream read back from the real log file.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "intake/packet_queue.h"
#include "output/debug_ui.h"
#include "output/line_assembler.h"
#include "support/capture.h"
#include "support/expected_text.h"
#include "support/intake.h"
#include "support/writer.h"

using namespace testing_support;

namespace {

class LineAssemblerTest : public WriterTest {
protected:
    void SetUp() override {
        ResetIntake();
        WriterTest::SetUp();
    }
    void TearDown() override { ReleaseIntake(); }

    void Push(const std::string& chunk) {
        ASSERT_TRUE(PushPacket(chunk.data(), static_cast<int>(chunk.size())));
    }

    // Drains with the console captured; returns what the console showed.
    std::string Drain() {
        OutputCapture capture;
        DrainQueue(assembly, writer);
        capture.Stop();
        return capture.Out();
    }

    void ExpectLog(const std::vector<std::string>& texts) {
        EXPECT_TRUE(MatchRecords(LogContent(), texts));
    }

    LineAssembly assembly{};
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

TEST_F(LineAssemblerTest, CutsLinesDropsTheMarkerAndStopsTextAtNul) {
    Push("\xE2" "boot ok\n");
    Push("Aalpha\nBbeta\n");
    Push("\n");                     // only a line feed: the marker is the line feed, no text
    Push("hello\n");                // ordinary first byte is still a marker
    Push(std::string("Xab\0cd\n", 7));  // a NUL cuts the text handed over
    Push("\xE0" "dark\n");
    const std::string console = Drain();

    ExpectLog({"boot ok\n", "alpha\n", "beta\n", "", "ello\n", "ab", "dark\n"});
    EXPECT_EQ(assembly.assemblyLength, 0);
    EXPECT_EQ(console.find("case:"), std::string::npos) << "whole lines need no diagnostic:\n" << console;
    EXPECT_NE(console.find("boot ok\n"), std::string::npos) << "the line is shown on the console too";
}

TEST_F(LineAssemblerTest, CarriesAnUnfinishedLineOverToALaterDrain) {
    Push("Xone\nXtw");
    const std::string first = Drain();
    EXPECT_NE(first.find("case: newhead=5, remainLen=3\n"), std::string::npos) << first;
    EXPECT_EQ(assembly.assemblyLength, 3);
    EXPECT_EQ(std::string(assembly.assemblyBuffer, 3), "Xtw");

    Push("o\n");
    Drain();
    ExpectLog({"one\n", "two\n"});
    EXPECT_EQ(assembly.assemblyLength, 0);
}

TEST_F(LineAssemblerTest, KeepsAChunkWithoutLineFeedAndReportsIt) {
    Push("Xno end yet");
    const std::string first = Drain();
    EXPECT_NE(first.find(" case: could not find \" line feed: Xno end yet\" \n"), std::string::npos) << first;
    EXPECT_EQ(assembly.assemblyLength, 11);

    Push(", now\n");
    Drain();
    ExpectLog({"no end yet, now\n"});
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
    EXPECT_EQ(assembly.assemblyLength, 0);
}

// When the held line and the next chunk do not fit together, the held line is written out first
// as a line of its own with an added line feed; no byte is lost or overwritten.
TEST_F(LineAssemblerTest, HeldLineThatWouldOverflowIsWrittenOutFirst) {
    const std::string head = "A" + std::string(599, 'a');
    const std::string next = "B" + std::string(498, 'b') + "\nCc";
    Push(head);
    Push(next);
    Drain();
    EXPECT_EQ(assembly.assemblyLength, 2);
    Push("\n");
    Drain();
    ExpectLog({std::string(599, 'a') + "\n", std::string(498, 'b') + "\n", "c\n"});
}

TEST_F(LineAssemblerTest, FullBufferWithoutLineFeedIsWrittenOutBeforeTheNextChunk) {
    std::string full(kQueueEntrySize, 'z');
    full[0] = 'Z';
    Push(full);
    Drain();
    EXPECT_EQ(assembly.assemblyLength, kQueueEntrySize);

    Push("\xE4" "after\n");
    Drain();
    ExpectLog({std::string(kQueueEntrySize - 1, 'z') + "\n", "after\n"});
    EXPECT_EQ(assembly.assemblyLength, 0);
}

// A known stream of lines is cut at random places into chunks, pushed and drained in random
// groups. The cuts keep each chunk within the room the assembler has beside the line it holds
// (as the receiver's chunks do), so every line must come out whole, in order and exactly once.
class RandomlyCutStream : public LineAssemblerTest,
                          public ::testing::WithParamInterface<unsigned> {};

TEST_P(RandomlyCutStream, ComesOutLineByLine) {
    std::mt19937 random(GetParam());
    std::string stream;
    std::vector<std::string> texts;
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
            texts.push_back("");
        } else {
            stream += marker + text + '\n';
            texts.push_back(text + '\n');
        }
    }

    size_t at = 0;
    OutputCapture quiet;
    while (at < stream.size()) {
        const int group = 1 + static_cast<int>(random() % 12);
        for (int c = 0; c < group && at < stream.size(); ++c) {
            const size_t lineBegin = stream.rfind('\n', at == 0 ? 0 : at - 1);
            const size_t held = (at == 0 || lineBegin == std::string::npos) ? at : at - (lineBegin + 1);
            const size_t room = std::min<size_t>(kQueueEntrySize - held, stream.size() - at);
            const size_t length = 1 + random() % room;
            if (!PushPacket(stream.data() + at, static_cast<int>(length))) break;
            at += length;
        }
        DrainQueue(assembly, writer);
    }
    quiet.Stop();

    EXPECT_EQ(assembly.assemblyLength, 0);
    ExpectLog(texts);
}

INSTANTIATE_TEST_SUITE_P(LineAssemblerTest, RandomlyCutStream,
                         ::testing::Values(1u, 2u, 3u, 4u), ::testing::PrintToStringParamName());

}  // namespace
