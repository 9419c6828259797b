#pragma once

#include <string>

// The desktop program: a hidden top-level window "PAGEWING" owns the main
// dialog; every way out of the dialog posts the quit message, and the
// program ends when the message loop sees it.

inline constexpr const char* kOwnerWindowTitle = "PAGEWING";

struct CapturedPage;

// Runs the program; initialUrl (may be null) is put into the edit box.
// With a captured page, the dialog converts it at once and then does what
// the Options say. Returns the exit code: the quit message's code (0), or 1
// when there is no display to show the dialog on.
int runDesktopProgram(const char* initialUrl, const CapturedPage* captured = nullptr);

// Reads the page that the native host left in folder, removes the folder,
// and runs the program on the page. 1 when the page cannot be read.
int runDesktopProgramOnCapturedPage(const std::string& folder);

// Asks the message loop to end with code; the first request wins.
void postQuitMessage(int code);
bool quitMessagePosted();
