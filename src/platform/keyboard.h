// Keyboard service: single key presses read without waiting, from a terminal, a pipe or a file.
#pragma once

/// Prepares standard input for key reading (a terminal goes to non-canonical, no-echo mode until
/// PlatKeyboardRestore or the process's exit, while the process is in its foreground). Standard
/// input of any other kind, a socket or a device, is never read.
void PlatKeyboardStart();

/// True when a key press is waiting. At end of input it answers false for good.
bool PlatKeyWaiting();

/// Reads one waiting key press; -1 if none could be read.
int PlatReadKey();

/// Puts the terminal back into the mode it had before PlatKeyboardStart. Safe to call twice.
void PlatKeyboardRestore();
