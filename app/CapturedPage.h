#pragma once

#include <string>
#include <vector>

// A page that the browser extension handed over: the document as the
// browser showed it (after its scripts ran), its address, charset and
// title, and the cookies of the page and of its resources' hosts as
// cookies.txt lines. The native host writes it into a private folder
// (mode 0700, files 0600) and the desktop program, started on its own,
// reads it from there and removes it.
struct CapturedPage {
    std::string url;
    std::string title;
    std::string charset;
    std::string html;
    std::vector<std::string> cookieLines;
};

// Makes the private folder in the temporary directory and writes the page
// into it. False with the reason in words.
bool writeCapturedPage(const CapturedPage& page, std::string& folder, std::string& problem);

// Reads a page that writeCapturedPage wrote. False with the reason in
// words.
bool readCapturedPage(const std::string& folder, CapturedPage& page, std::string& problem);

// Removes the files that writeCapturedPage writes, then the folder if
// nothing else is in it: whatever folder the caller names, nothing else
// of it is touched.
void removeCapturedPage(const std::string& folder);
