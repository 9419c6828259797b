#pragma once

#include "app/BrowserSessions.h"

#include <string>
#include <vector>

class StringBuffer;
struct CapturedPage;

// What the Create Email workflow needs from the dialog that runs it.
class CreateEmailView {
public:
    virtual ~CreateEmailView() = default;

    virtual std::string editText() = 0;
    // The text of the selected list item; false when none is selected.
    virtual bool selectedItemText(std::string& text) = 0;
    // The browser and profile that show the selected page; false when that
    // is not known.
    virtual bool selectedItemSource(SessionSource& /*source*/) { return false; }
    // Shows text in the status line and draws it before returning.
    virtual void showStatus(const char* text) = 0;
    // The Save dialog; false when the user cancels.
    virtual bool askSaveFileName(const char* startFolder, std::string& path) = 0;
    virtual void openWithMailClient(const char* path) = 0;
    // Ends the dialog with result and posts the quit message.
    virtual void endDialog(int result) = 0;
};

// The Create Email button: takes the input, converts it, and opens or
// saves the message as launchMailClient says. A failed conversion leaves
// the dialog open with "Failed." in the status line.
void runCreateEmail(CreateEmailView& view);

// Converts one input with the mail-safe options of the dialog (and the
// stored "CompletePage" and "RunPageScripts" settings): a URL when it
// begins with "http" (any case), else a local file with the host
// "localhost". cookies: cookies.txt lines that the conversion sends. True
// when out holds the whole message.
bool convertEmailInput(const char* input, StringBuffer& out,
                       const std::vector<std::string>& cookies = {});

// A page the browser extension handed over: converted as the browser showed
// it, with its cookies, then opened or saved as launchMailClient says.
void runCapturedPageEmail(CreateEmailView& view, const CapturedPage& page);

// The page's document with the mail-safe options and the stored
// "CompletePage" setting; its text is UTF-8, whatever charset the page
// had, since the browser hands it over as JSON text.
bool convertCapturedPage(const CapturedPage& page, StringBuffer& out);
