// The console's keys and the live filter prompt they drive.
#include "control/console_keys.h"

#include "control/filter_prompt.h"
#include "output/debug_ui.h"
#include "output/line_filter.h"
#include "output/prompt_line.h"
#include "output/run_statistics.h"

namespace {

constexpr int kQuitKey = 'q';
constexpr int kPauseKey = ' ';
constexpr int kStatisticsKey = 's';
constexpr int kFilterKey = '/';

const char kPromptLabel[] = "filter: ";

FilterPrompt prompt;

void ShowFilterStatus(CDebugUI& writer) {
    char status[512];
    size_t length = FormatFilterStatus(status, sizeof status);
    writer.ShowMessage(status, length);
}

void PromptKey(int key, CDebugUI& writer) {
    PromptStep step = FilterPromptKey(prompt, key);
    if (step == PromptStep::Edited) {
        ShowPromptLine(kPromptLabel, prompt.text, prompt.length);
        return;
    }
    HidePromptLine();
    if (step == PromptStep::Cancelled) return;
    char reason[200];
    if (SetLiveFilter(prompt.text, reason, sizeof reason)) {
        ShowFilterStatus(writer);
    } else {
        writer.Message("-- filter '%s' not applied: %s --\n", prompt.text, reason);
    }
}

}  // namespace

bool HandleKey(int key, CDebugUI& writer) {
    if (prompt.open) {
        PromptKey(key, writer);
        return false;
    }
    switch (key) {
    case kQuitKey: return true;
    case kPauseKey: writer.TogglePause(); break;
    case kStatisticsKey: ShowStatistics(writer); break;
    case kFilterKey:
        OpenFilterPrompt(prompt);
        ShowPromptLine(kPromptLabel, prompt.text, prompt.length);
        break;
    default: break;
    }
    return false;
}
