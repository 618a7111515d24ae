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
        writer.HandOnBatch();
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

TEST_F(LineAssemblerTest, CutsLinesDropsTheMarkerAndStopsTextAtNulYetEndsEveryRecord) {
    Push("\xE2" "boot ok\n");
    Push("Aalpha\nBbeta\n");
    Push("\n");                     // only a line feed: the marker is the line feed, no text
    Push("hello\n");                // ordinary first byte is still a marker
    Push(std::string("Xab\0cd\n", 7));  // a NUL cuts the text handed over
    Push("\xE0" "dark\n");
    const std::string console = Drain();

    // Every record ends with a line feed, also a bare line feed's and a NUL-cut one's.
    ExpectLog({"boot ok\n", "alpha\n", "beta\n", "\n", "ello\n", "ab\n", "dark\n"});
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

// --sender: each sender's lines are cut on their own and carry its address; with the unfinished
// lines of 16 senders put aside, one more writes out the one put aside longest ago.
TEST_F(LineAssemblerTest, KeepsEachSendersUnfinishedLineApartAndWritesOutTheOldestWhenFull) {
    settings.showSender = true;
    assembly.keepSendersApart = true;
    auto push = [](int id, const std::string& chunk) {
        PlatAddress from{};
        from.family = 4;
        from.port = 5000;
        from.bytes[0] = 10;
        from.bytes[3] = static_cast<uint8_t>(id);
        ASSERT_TRUE(PushPacket(chunk.data(), static_cast<int>(chunk.size()), 0, &from));
    };
    const int last = kHeldSenderCount + 2;
    for (int id = 1; id <= last; ++id) push(id, "X" + std::to_string(id) + " begins,");
    for (int id = last; id >= 1; --id) push(id, " ends\n");
    Drain();
    std::vector<std::string> expected = {"10.0.0.1:5000 1 begins,\n"};
    for (int id = last; id >= 2; --id) {
        std::string n = std::to_string(id);
        expected.push_back("10.0.0." + n + ":5000 " + n + " begins, ends\n");
    }
    expected.push_back("10.0.0.1:5000 ends\n");
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
    EXPECT_EQ(assembly.assemblyLength, 0);
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
    EXPECT_EQ(assembly.assemblyLength, 0);
}

// A line longer than the buffer holds is split with a forced line feed; its continuation starts
// with text (no byte is taken for a marker). A full buffer followed by its line feed is one line.
TEST_F(LineAssemblerTest, LineLongerThanTheBufferIsSplitAndContinuesWithText) {
    const std::string head = "A" + std::string(599, 'a');
    Push(head);
    Push("B" + std::string(498, 'b') + "\nCc");
    Drain();
    EXPECT_EQ(assembly.assemblyLength, 2);
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
    EXPECT_EQ(assembly.assemblyLength, 0);
}

// A known stream of lines is cut at random places into chunks of up to 1000 bytes, pushed and
// drained in random groups: every line must come out whole, in order and exactly once.
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
            texts.push_back("\n");
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
            const size_t length = 1 + random() % std::min<size_t>(1000, stream.size() - at);
            if (!PushPacket(stream.data() + at, static_cast<int>(length))) break;
            at += length;
        }
        DrainQueue(assembly, writer);
        writer.HandOnBatch();
    }
    quiet.Stop();

    EXPECT_EQ(assembly.assemblyLength, 0);
    ExpectLog(texts);
}

INSTANTIATE_TEST_SUITE_P(LineAssemblerTest, RandomlyCutStream,
                         ::testing::Values(1u, 2u, 3u, 4u), ::testing::PrintToStringParamName());

}  // namespace
