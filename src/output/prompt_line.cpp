// The prompt line at the bottom of the console, erased and drawn again around console output. It
// is erased by overwriting it with spaces, which every terminal and the Windows console understand.
#include "output/prompt_line.h"

#include <cstring>

#include "platform/console.h"

namespace {

constexpr size_t kPromptRoom = 320;

bool shown = false;
char prompt[kPromptRoom];
size_t promptLength = 0;
char eraser[kPromptRoom + 2];  // CR, spaces over the prompt, CR

void Draw() {
    if (!PlatConsoleTryWriteText(prompt, promptLength)) shown = false;
}

}  // namespace

void ShowPromptLine(const char* label, const char* text, size_t length) {
    if (!PlatConsoleIsTerminal()) return;
    ErasePromptLine();
    size_t labelLength = strlen(label);
    if (labelLength + length > kPromptRoom) length = kPromptRoom - labelLength;
    memcpy(prompt, label, labelLength);
    memcpy(prompt + labelLength, text, length);
    promptLength = labelLength + length;
    shown = true;
    Draw();
}

void HidePromptLine() {
    ErasePromptLine();
    promptLength = 0;
}

bool ErasePromptLine() {
    if (!shown) return false;
    shown = false;
    eraser[0] = '\r';
    memset(eraser + 1, ' ', promptLength);
    eraser[promptLength + 1] = '\r';
    PlatConsoleTryWriteText(eraser, promptLength + 2);
    return true;
}

void RedrawPromptLine() {
    if (promptLength == 0 || shown) return;
    shown = true;
    Draw();
}
