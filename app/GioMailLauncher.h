#pragma once

typedef struct _GtkWindow GtkWindow;

// Opens a message file with the user's handler for its type (for an .eml
// file, message/rfc822: the mail client). The result is not reported, as
// the shell's "open" verb reports none.
void openWithMailClient(const char* path, GtkWindow* owner);
