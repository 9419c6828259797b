#pragma once

#include <string>

class StringBuffer;
typedef struct _GtkWindow GtkWindow;

// The folder browser of the Options dialog.
class FolderChooser {
public:
    FolderChooser() = default;
    virtual ~FolderChooser() = default;

    // Shows the folder browser with the given title; true when the user
    // chose a folder that has a file-system path, which is then in outPath.
    bool chooseFolder(GtkWindow* owner, const char* title, StringBuffer& outPath);
};

inline constexpr const char* kFolderChooserTitle = "Please select a folder.";
inline constexpr const char* kSaveDialogTitle = "Save As";
inline constexpr const char* kEmlFilterName = "EML Files (*.eml)";
inline constexpr const char* kEmlFilterPattern = "*.eml";

// The Save dialog for the message: the one filter "EML Files (*.eml)",
// the proposed name (may be empty), the start folder when it is not empty,
// a question before an existing file is replaced, and ".eml" added to a
// name without an extension. True when the user confirmed a name; path
// then holds it.
bool askSaveFileName(GtkWindow* owner, const char* startFolder, const char* proposedName,
                     std::string& path);
