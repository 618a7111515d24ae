// The console's pieces behind its keys: the live filter prompt's line editing and the bound of
// what a pause holds.
#include <gtest/gtest.h>

#include <string>

#include "control/filter_prompt.h"
#include "output/pause_buffer.h"

namespace {

struct PromptCase {
    const char* keys;
    const char* text;  // the prompt's text after the keys
    PromptStep last;   // what the last key did
};

TEST(FilterPromptTest, KeysEditApplyAndCancel) {
    const PromptCase cases[] = {
        {"board A", "board A", PromptStep::Edited},
        {"board A\r", "board A", PromptStep::Applied},
        {"board A\n", "board A", PromptStep::Applied},
        {"\r", "", PromptStep::Applied},              // an empty line clears the filter
        {"ab\x7f" "c\x08" "d", "ad", PromptStep::Edited},  // DEL and BS both erase
        {"\x7f\x7fx", "x", PromptStep::Edited},           // nothing to erase: nothing happens
        {"caf\xc3\xa9\x7f", "caf", PromptStep::Edited},   // a whole UTF-8 character goes
        {"old\x15new", "new", PromptStep::Edited},        // Ctrl+U empties the line
        {"a\tb\x01", "ab", PromptStep::Edited},           // other control keys are ignored
        {"board\x1b", "board", PromptStep::Cancelled},
    };
    for (const PromptCase& c : cases) {
        SCOPED_TRACE(c.keys);
        FilterPrompt prompt;
        OpenFilterPrompt(prompt);
        PromptStep step = PromptStep::Edited;
        for (const char* key = c.keys; *key != '\0'; ++key)
            step = FilterPromptKey(prompt, static_cast<unsigned char>(*key));
        EXPECT_EQ(std::string(prompt.text), c.text);
        EXPECT_EQ(step, c.last);
        EXPECT_EQ(prompt.open, step == PromptStep::Edited);
    }
    // The line holds what fits; further keys are dropped.
    FilterPrompt prompt;
    OpenFilterPrompt(prompt);
    for (size_t i = 0; i < kFilterPromptRoom + 5; ++i) FilterPromptKey(prompt, 'x');
    EXPECT_EQ(std::string(prompt.text), std::string(kFilterPromptRoom, 'x'));
}

// Gives back every held record, in order, as "attribute:bytes".
std::string ShowHeld() {
    std::string shown;
    uint16_t attribute;
    const char* bytes;
    size_t length;
    while (PauseBufferPeek(&attribute, &bytes, &length)) {
        shown += std::to_string(attribute) + ":" + std::string(bytes, length);
        PauseBufferPop();
    }
    return shown;
}

TEST(PauseBufferTest, HoldsUpToItsLinesOrBytesAndCountsTheRest) {
    ASSERT_TRUE(PauseBufferReserve());
    ASSERT_TRUE(PauseBufferKeep(2, "a\n", 2));
    ASSERT_TRUE(PauseBufferKeep(12, "b\n", 2));
    EXPECT_EQ(ShowHeld(), "2:a\n12:b\n");

    // At most kPauseHeldLines records.
    for (uint32_t i = 0; i < kPauseHeldLines; ++i) ASSERT_TRUE(PauseBufferKeep(7, "x", 1)) << i;
    EXPECT_FALSE(PauseBufferKeep(7, "y", 1));
    EXPECT_FALSE(PauseBufferKeep(7, "z", 1));
    EXPECT_EQ(PauseBufferOverflow(), 2u);
    std::string all;
    for (uint32_t i = 0; i < kPauseHeldLines; ++i) all += "7:x";
    EXPECT_EQ(ShowHeld(), all);
    PauseBufferForgetOverflow();

    // At most kPauseHeldBytes bytes; emptied, the buffer takes as much again.
    for (int round = 0; round < 2; ++round) {
        std::string half(kPauseHeldBytes / 2, 'h');
        ASSERT_TRUE(PauseBufferKeep(7, half.data(), half.size()));
        ASSERT_TRUE(PauseBufferKeep(7, half.data(), half.size()));
        EXPECT_FALSE(PauseBufferKeep(7, "!", 1));
        EXPECT_EQ(PauseBufferOverflow(), 1u);
        PauseBufferForgetOverflow();
        EXPECT_EQ(ShowHeld().size(), 2 * (half.size() + 2));
    }
}

}  // namespace
