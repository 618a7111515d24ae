// The keys of the console: q quits, space pauses, s shows the statistics, / opens the live
// filter's prompt (while it is open, every key edits it). Main thread only.
#pragma once

class CDebugUI;

/// Acts on one key press; true when it asks to quit.
bool HandleKey(int key, CDebugUI& writer);
