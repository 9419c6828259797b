#include "app/CreateEmail.h"

#include "app/ActionSetting.h"
#include "app/BrowserCookies.h"
#include "app/CapturedPage.h"
#include "app/CreateEmailSteps.h"
#include "app/RenderedConversion.h"
#include "app/TempMessageFile.h"
#include "convert/Mhtml.h"
#include "foundation/FileSys.h"
#include "foundation/StringBuffer.h"

#include <climits>

namespace {

void launchMessage(CreateEmailView& view, const StringBuffer& message) {
    std::string path;
    if (!writeTemporaryMessageFile(kTemporaryMessageName, message, path)) {
        // A failed write is not reported: the mail client is still asked to
        // open the name the message was meant to have.
        StringBuffer free;
        FileSys::getTempFilename(kTemporaryMessageName, free);
        path = free.getString();
    }
    view.openWithMailClient(path.c_str());
    view.showStatus(kStatusDone);
    view.endDialog(1);
}

void saveMessage(CreateEmailView& view, const StringBuffer& message) {
    StringBuffer dataDir;
    readDataDir(dataDir);
    std::string path;
    if (view.askSaveFileName(dataDir.getString(), path)) {
        FileSys::writeFile(path.c_str(), message.getString(), message.getSize(), nullptr);
    }
    view.endDialog(1);
}

// A page picked from the list is fetched as its browser shows it, unless
// the user turned that off. Cookies that cannot be read leave the page to
// be fetched without them.
std::vector<std::string> pickedPageCookies(CreateEmailView& view, const std::string& edit,
                                           bool hasSelection) {
    std::vector<std::string> lines;
    StringBuffer typed(edit.c_str());
    typed.trim();
    SessionSource source{};
    // Text in the edit box wins over the list, as the input itself does.
    if (!hasSelection || typed.getSize() > 0 || !readBrowserCookies() ||
        !view.selectedItemSource(source)) {
        return lines;
    }
    std::string problem;
    if (!readProfileCookies(source, lines, problem)) {
        lines.clear();
    }
    return lines;
}

// The desktop program's three settings: mail-safe output in which a page
// with noscript counts as one without scripts, marked as unsent.
void configureMailSafe(Mhtml& converter, const std::vector<std::string>& cookies) {
    converter.m_cookieLines = cookies;
    converter.m_keepScripts = false;
    converter.m_scriptsOverNoscript = false;
    converter.m_markUnsent = true;
    converter.m_completePage = readCompletePage();
}

} // namespace

bool convertEmailInput(const char* input, StringBuffer& out,
                       const std::vector<std::string>& cookies) {
    Mhtml converter;
    configureMailSafe(converter, cookies);
    if (readRunPageScripts()) {
        std::string problem;
        return convertRenderedPage(converter, input, RenderSettings(), out, problem);
    }
    if (takesUrlPath(input)) {
        return converter.convertUrl(input, out);
    }
    return converter.convertFile(input, kMailHostText, out);
}

void runCreateEmail(CreateEmailView& view) {
    EmailInput input;
    const std::string edit = view.editText();
    std::string item;
    const bool hasSelection = view.selectedItemText(item);
    if (!chooseEmailInput(edit.c_str(), hasSelection ? item.c_str() : nullptr, input)) {
        view.showStatus(emptyInputStatus(input).c_str());
        return;
    }
    view.showStatus(kStatusWorking);
    StringBuffer message;
    if (!convertEmailInput(input.text.getString(), message,
                           pickedPageCookies(view, edit, hasSelection))) {
        view.showStatus(kStatusFailed);
        return;
    }
    if (launchMailClient) {
        launchMessage(view, message);
    } else {
        saveMessage(view, message);
    }
}

bool convertCapturedPage(const CapturedPage& page, StringBuffer& out) {
    Mhtml converter;
    configureMailSafe(converter, page.cookieLines);
    return converter.convertDocument(page.html.data(), static_cast<int>(page.html.size()),
                                     page.url.c_str(), "utf-8", out);
}

void runCapturedPageEmail(CreateEmailView& view, const CapturedPage& page) {
    view.showStatus(kStatusWorking);
    StringBuffer message;
    if (page.html.size() > static_cast<size_t>(INT_MAX) || !convertCapturedPage(page, message)) {
        view.showStatus(kStatusFailed);
        return;
    }
    if (launchMailClient) {
        launchMessage(view, message);
    } else {
        saveMessage(view, message);
    }
}
