// The terminal state shared by the keyboard, the signal handlers and the console on POSIX. Every
// function here is async-signal-safe: the signal handlers call them.
#pragma once

/// Puts the terminal back into the mode it had before the keyboard set it up, if the process is
/// in the terminal's foreground (from the background the change would stop it, and the shell owns
/// the mode then).
void TerminalLeaveKeyMode();

/// Sets the terminal up for key reading again (non-canonical, no echo), if the keyboard was
/// started on a terminal, the process is in its foreground and no stop is under way.
void TerminalEnterKeyMode();

/// Marks a stop (Ctrl+Z) as under way, so that nothing sets the key mode until it is over.
void TerminalSuspending(bool underWay);

/// True once a hang-up signal has arrived: the terminal is gone, or going.
bool TerminalHungUp();
