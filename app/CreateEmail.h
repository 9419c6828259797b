#pragma once

#include "app/BrowserSessions.h"
#include "convert/MailProgram.h"
#include "foundation/StringBuffer.h"

#include <string>
#include <vector>

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
    // The Save dialog, proposing proposedName in startFolder; false when the
    // user cancels.
    virtual bool askSaveFileName(const char* startFolder, const char* proposedName,
                                 std::string& path) = 0;
    // False when no program opens the file (no mail program is set up).
    virtual bool openWithMailClient(const char* path) = 0;
    // The program that openWithMailClient starts, so that the message is
    // made for it.
    virtual MailProgram openingMailProgram() { return MailProgram::Other; }
    // Tells the user that no mail program opened the message written to
    // path; true when they want to save it somewhere instead.
    virtual bool offerSaveInstead(const char* /*path*/) { return false; }
    // Ends the dialog with result and posts the quit message.
    virtual void endDialog(int result) = 0;
};

// One Create Email run, in three steps so that the conversion can run away
// from the window: prepared from the dialog, converted on any thread,
// finished in the dialog again.
struct CreateEmailJob {
    std::string input; // what the converter takes, as typed or picked
    std::vector<std::string> cookies;
    const CapturedPage* captured = nullptr; // a page the browser handed over
    // Who opens the message: the mail program when it is launched.
    MailProgram mailProgram = MailProgram::Other;

    bool converted = false;
    StringBuffer message;
    std::string problem; // why the conversion failed, in words
    std::string title;   // the message's title
};

// Reads the input; false (the status line then says why) when there is
// nothing to convert. Shows "Working... PLEASE WAIT...".
bool prepareCreateEmail(CreateEmailView& view, CreateEmailJob& job);
// Converts; touches no window.
void convertCreateEmail(CreateEmailJob& job);
// Opens or saves the message as launchMailClient says; after a failure the
// dialog stays open with "Failed." and the reason, after the user's Stop
// with "Stopped.".
void finishCreateEmail(CreateEmailView& view, CreateEmailJob& job, bool stopped);

// The three steps in a row: the Create Email button as one call.
void runCreateEmail(CreateEmailView& view);

// Converts one input with the mail-safe options of the dialog (and the
// stored "CompletePage" and "RunPageScripts" settings): a URL when it
// begins with "http" (any case), else a local file with the host
// "localhost". cookies: cookies.txt lines that the conversion sends. True
// when out holds the whole message; otherwise problem (when given) says
// why, and title (when given) gets the message's title. mailProgram: the
// program the message is made for.
bool convertEmailInput(const char* input, StringBuffer& out,
                       const std::vector<std::string>& cookies = {}, std::string* problem = nullptr,
                       std::string* title = nullptr, MailProgram mailProgram = MailProgram::Other);

// A page the browser extension handed over: converted as the browser showed
// it, with its cookies, then opened or saved as launchMailClient says.
void runCapturedPageEmail(CreateEmailView& view, const CapturedPage& page);

// The page's document with the mail-safe options and the stored
// "CompletePage" setting; its text is UTF-8, whatever charset the page
// had, since the browser hands it over as JSON text.
bool convertCapturedPage(const CapturedPage& page, StringBuffer& out,
                         std::string* problem = nullptr, std::string* title = nullptr,
                         MailProgram mailProgram = MailProgram::Other);
