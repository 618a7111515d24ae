// The one-line prompt at the bottom of a terminal console (the live filter's "filter: "): records
// and messages are written above it, and it is drawn again after each. Nothing is drawn off a
// terminal. Main thread only.
#pragma once

#include <cstddef>

/// Shows `label` followed by `text` at the bottom, replacing the prompt shown before, if any.
void ShowPromptLine(const char* label, const char* text, size_t length);

/// Removes the prompt from the screen and forgets it.
void HidePromptLine();

/// Erases the prompt before console output (true when one is shown) and draws it again after.
bool ErasePromptLine();
void RedrawPromptLine();
