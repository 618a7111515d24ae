// The live filter prompt's line editing.
#include "control/filter_prompt.h"

namespace {

constexpr int kEscape = 0x1B;
constexpr int kBackspace = 0x08;
constexpr int kDelete = 0x7F;
constexpr int kCtrlU = 0x15;

bool IsUtf8Continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

}  // namespace

void OpenFilterPrompt(FilterPrompt& prompt) {
    prompt.open = true;
    prompt.length = 0;
    prompt.text[0] = '\0';
}

PromptStep FilterPromptKey(FilterPrompt& prompt, int key) {
    if (key == '\r' || key == '\n' || key == kEscape) {
        prompt.open = false;
        return key == kEscape ? PromptStep::Cancelled : PromptStep::Applied;
    }
    if (key == kBackspace || key == kDelete) {
        while (prompt.length > 0 && IsUtf8Continuation(prompt.text[prompt.length - 1]))
            --prompt.length;
        if (prompt.length > 0) --prompt.length;
    } else if (key == kCtrlU) {
        prompt.length = 0;
    } else if (key >= 0x20 && key <= 0xFF && prompt.length < kFilterPromptRoom) {
        prompt.text[prompt.length++] = static_cast<char>(key);
    }
    prompt.text[prompt.length] = '\0';
    return PromptStep::Edited;
}
