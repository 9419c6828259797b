#pragma once

// The desktop program: a hidden top-level window "PAGEWING" owns the main
// dialog; every way out of the dialog posts the quit message, and the
// program ends when the message loop sees it.

inline constexpr const char* kOwnerWindowTitle = "PAGEWING";

// Runs the program; initialUrl (may be null) is put into the edit box.
// Returns the exit code: the quit message's code (0), or 1 when there is
// no display to show the dialog on.
int runDesktopProgram(const char* initialUrl);

// Asks the message loop to end with code; the first request wins.
void postQuitMessage(int code);
bool quitMessagePosted();
