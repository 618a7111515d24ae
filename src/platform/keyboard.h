// Keyboard service: single key presses read without waiting, from a terminal or a pipe.
#pragma once

/// Prepares standard input for key reading (a terminal goes to non-canonical, no-echo mode until
/// PlatKeyboardRestore or the process's exit).
void PlatKeyboardStart();

/// True when a key press is waiting. At end of input it answers false for good.
bool PlatKeyWaiting();

/// Reads one waiting key press; -1 if none could be read.
int PlatReadKey();

/// Puts the terminal back into the mode it had before PlatKeyboardStart. Safe to call twice.
void PlatKeyboardRestore();
