// The line editing of the live filter's prompt, as a state machine fed one key at a time.
#pragma once

#include <cstddef>

constexpr size_t kFilterPromptRoom = 200;

struct FilterPrompt {
    bool open = false;
    size_t length = 0;
    char text[kFilterPromptRoom + 1] = {};  // NUL-terminated
};

enum class PromptStep {
    Edited,     // the text may have changed; the prompt stays open
    Applied,    // Enter: the prompt closed, `text` is the new filter (empty: none)
    Cancelled,  // Esc: the prompt closed, the filter stays as it was
};

/// Opens the prompt with an empty text.
void OpenFilterPrompt(FilterPrompt& prompt);

/// Takes one key of an open prompt: Enter (CR or LF) applies, Esc cancels, Backspace (DEL or BS)
/// removes the last character (a whole UTF-8 sequence), Ctrl+U empties the line; other control
/// keys are ignored and every other byte is typed, as long as there is room.
PromptStep FilterPromptKey(FilterPrompt& prompt, int key);
