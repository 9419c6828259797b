#pragma once

#include "foundation/StringBuffer.h"

#include <string>

// The decisions of the Create Email workflow, apart from any window so
// that each can be checked on its own.

inline constexpr const char* kStatusWorking = "Working... PLEASE WAIT...";
inline constexpr const char* kStatusFailed = "Failed.";
inline constexpr const char* kStatusDone = "DONE";
inline constexpr const char* kStatusStopped = "Stopped.";
inline constexpr const char* kBrowserListFailed = "Failed to get browser information";
inline constexpr const char* kTemporaryMessageName = "wpx.eml";
inline constexpr const char* kMailHostText = "localhost";

// The input text is read into a block of this many bytes, NUL included.
inline constexpr int kInputBufferSize = 1024;

// The request's input: the text as read (untrimmed, it goes to the
// converter) and its trimmed copy (which says whether there is any).
struct EmailInput {
    StringBuffer text;
    StringBuffer trimmed;
};

// At most bufferSize - 1 bytes of text (what a block of bufferSize bytes
// holds with its NUL), cut back to a whole UTF-8 character so that a long
// text never ends in half a character.
std::string limitToBuffer(const char* text, int bufferSize);
std::string limitToInputBuffer(const char* text);

// The edit box text, or the selected list item (null when none) when the
// edit box holds only blanks. True when the trimmed input is not empty.
bool chooseEmailInput(const char* editText, const char* selectedItem, EmailInput& input);

// The status line for an empty input: the trimmed input in brackets.
std::string emptyInputStatus(const EmailInput& input);

// True when the untrimmed input begins with "http" in any case: the URL
// path (secure-web URLs included); everything else is a file.
bool takesUrlPath(const char* input);

// The list box text for an open page: a "file:///" URL becomes its local
// path (the root "/" kept, escapes decoded), anything else stays as it is.
std::string listEntryForUrl(const char* url);

// "%41" becomes "A"; a "%" without two hex digits stays; decoding stops at
// a decoded NUL, which no text field can hold.
std::string percentDecode(const char* text);

// A name without an extension gets "." + extension ("page" -> "page.eml").
std::string withDefaultExtension(const std::string& path, const char* extension);

// "Failed." and, when known, the reason as a sentence: "Failed. The server
// answered 404 Not Found."
std::string failedStatus(const std::string& reason);

// The name the Save dialog proposes for a message with this title: the
// title without what a file name cannot hold (slashes, control
// characters, leading dots), its blanks collapsed, at most 100 bytes of
// whole characters, and ".eml"; "message.eml" for a title with nothing left.
std::string saveFileNameFor(const std::string& title);
