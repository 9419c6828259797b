#pragma once

typedef struct _GtkWindow GtkWindow;

// Opens a message file with the user's handler for its type (for an .eml
// file, message/rfc822: the mail client). False when no program handles it.
bool openWithMailClient(const char* path, GtkWindow* owner);
