#pragma once

typedef struct _GtkWindow GtkWindow;

// The result of a dialog that was closed from its title bar or window menu.
inline constexpr int kCloseCommandResult = 0xF060;

inline constexpr const char* kOptionsTitle = "Options";
inline constexpr const char* kOptionsLaunchLabel =
    "Lauch Outlook Express after creating the email.";
inline constexpr const char* kOptionsSaveLabel =
    "Do not launch Outlook Express, just save the email to an EML file.";
inline constexpr const char* kOptionsCompleteLabel =
    "Also embed fonts, imported style sheets and responsive images";
inline constexpr const char* kOptionsCookiesLabel =
    "Use the browser's cookies for pages from the list";
inline constexpr const char* kOptionsScriptsLabel = "Run the page's scripts before converting";
inline constexpr const char* kOptionsNotice =
    "An EML file can be imported into other mail clients such as Outlook, Netscape, or Eudora. "
    "For more information, visit the web site of Vantrel Software.";
inline constexpr const char* kOptionsDirectoryCaption =
    "If saving to an EML file, save to this directory:";

// The Options dialog, run modally over owner: 1 after OK (the choice is
// stored), 2 after Cancel or Escape (nothing is stored), kCloseCommandResult
// after the close command, which also posts the quit message.
int runOptionsDialog(GtkWindow* owner);
