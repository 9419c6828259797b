#pragma once

#include <functional>

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;

// The start of a window of windowSize centred on a desktop that begins at
// desktopStart and is desktopSize long (integer division, as a window that
// is larger than the desktop starts before it).
int centeredOffset(int desktopStart, int desktopSize, int windowSize);

// Moves the window, without resizing it, to the centre of the primary
// monitor's rectangle.
void centerOnDesktop(GtkWindow* window);

// Handles every pending event and waits (at most half a second) until the
// widget's window has painted, so that what was just changed is on the
// screen before a long task begins.
void drawPendingChanges(GtkWidget* widget);

// Runs action from the main loop once the current event is handled. A
// button whose action runs a modal dialog defers it so that whoever
// pressed the button (a screen reader, over the accessibility bus, too)
// gets its answer before the dialog's own loop starts.
void runWhenIdle(std::function<void()> action);
